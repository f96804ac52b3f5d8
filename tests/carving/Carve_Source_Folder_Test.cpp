// The folder walk: which entries are carved, in which order, with what state,
// and what damaged or special files do to it.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <sstream>

#include "carving/Carve_Source_Folder.h"
#include "carving/Carving_Test_Support.h"
#include "ntfs/mft/Parse_MFT.h"
#include "ntfs/usnjrnl/Parse_UsnJrnl.h"
#include "platform/console.h"
#include "support/Mft_Record_Builder.h"
#include "support/Sqlite_Query.h"

namespace {

using namespace carving_test;
namespace fs = std::filesystem;

TEST(Carve_Source_Order, Names_Compared_Bytewise_With_Ascii_Letters_Upper_Cased) {
    struct Case {
        const char* a;
        const char* b;
        bool less;
    };
    const Case cases[] = {
        {"a", "B", true},     {"B", "a", false},   {"ab", "AB", false},  // equal folded: raw bytes, "AB" first
        {"AB", "ab", true},   {"Z", "_", true},    {"z", "_", true},     // '_' (0x5F) after the letters
        {"a", "ab", true},    {"10", "9", true},   {"\xC3\xA9", "f", false},  // bytes above 0x7F stay as they are
        {"a.bin", "a", false}, {"", "a", true},
    };
    for (const Case& c : cases) EXPECT_EQ(Source_Name_Less(c.a, c.b), c.less) << c.a << " < " << c.b;
}

TEST(Carve_Source_Order, Only_Regular_Files_Are_Listed) {
    Temp_Dir dir;
    const std::string folder = dir.Make_Dir("source");
    for (const char* name : {"b.bin", "A.bin", "a.bin", "_x", "C", ".hidden", "empty"})
        dir.Write(std::string("source/") + name, name[0] == 'e' ? "" : "data");
    dir.Make_Dir("source/sub");
    dir.Write("source/sub/inside.bin", "data");
    dir.Write("outside.bin", "data");
    fs::create_symlink(dir.File("outside.bin"), folder + "/link_to_file");
    fs::create_directory_symlink(dir.File("source/sub"), folder + "/link_to_dir");
    fs::create_symlink(dir.File("missing"), folder + "/dangling");
    ASSERT_EQ(::mkfifo((folder + "/pipe").c_str(), 0644), 0);

    std::vector<std::string> names;
    ASSERT_TRUE(List_Source_Files(folder, names));
    EXPECT_EQ(names, (std::vector<std::string>{".hidden", "A.bin", "a.bin", "b.bin", "C", "empty", "link_to_file", "_x"}));
    EXPECT_FALSE(List_Source_Files(dir.File("missing"), names));
    EXPECT_TRUE(names.empty());
}

class Carve_Source_Folder_Test : public ::testing::Test {
protected:
    void SetUp() override {
        db.Open_With_Pragmas(dir.File("out.db"));
        db.Run_Query(Event_Table_Sql::Create_LogFile);
        db.Run_Query(Event_Table_Sql::Create_UsnJrnl);
        folder = dir.Make_Dir("source");
    }

    int Run(const Run_Options& options, int hours = 0) {
        platform::Scoped_Output capture(console, messages);
        return Carve_Source_Folder(context, options, folder, db, hours);
    }

    std::vector<std::string> Rows(const std::string& sql) { return Query_Rows(dir.File("out.db"), sql); }

    Temp_Dir dir;
    CppSQLite3DB db;
    Global_Parsing_Context context;
    std::string folder;
    std::ostringstream console;
    std::ostringstream messages;
};

Run_Options Options(bool logfile, bool usnjrnl, bool quick = false, int alignment = 8) {
    Run_Options options;
    options.g_LogFile_Carving = logfile ? 1 : 0;
    options.g_UsnJrnl_Carving = usnjrnl ? 1 : 0;
    options.g_Quick_Mode = quick ? 1 : 0;
    options.g_Carving_Alignment = alignment;
    return options;
}

TEST_F(Carve_Source_Folder_Test, A_Folder_That_Cannot_Be_Listed) {
    folder = dir.File("missing");
    EXPECT_EQ(Run(Options(true, true)), -1);
    EXPECT_EQ(messages.str(), "Source File Folder Handle is invalid.\n");
    EXPECT_EQ(console.str(), "");
}

TEST_F(Carve_Source_Folder_Test, Each_File_Starts_From_An_Empty_State_The_Mft_Index_Stays) {
    // Two files, each a log; one record of each is the last change of a
    // FILE record of the $MFT, so it becomes a row with that entry's name.
    const Written_Log first(4, 3, 1);
    const Written_Log second(4, 2, 7);
    test_support::Mft_Image_Builder mft;
    test_support::Put_Volume_Skeleton(mft);
    mft.Put(64, test_support::Mft_Record_Builder()
                    .Flags(test_support::Record_Flags::File)
                    .Lsn(first.lsns[10])
                    .Standard_Information(0x01D66736FF1D1800ull)
                    .File_Name(test_support::Mft_Reference(5, 5), u"first.txt"));
    mft.Put(65, test_support::Mft_Record_Builder()
                    .Flags(test_support::Record_Flags::File)
                    .Lsn(second.lsns[20])
                    .Standard_Information(0x01D66736FF1D1800ull)
                    .File_Name(test_support::Mft_Reference(5, 5), u"second.txt"));
    mft.Write_File(dir.File("MFT"));
    Parse_MFT(context, dir.File("MFT"));
    ASSERT_FALSE(context.Mft.Empty());
    ASSERT_FALSE(context.MFT_Creation_Time.empty());

    Carving_Image one(0x20000, 1), two(0x20000, 2);
    one.Put(0x4000, first.Layout(Log_Version::V11, 10));
    one.Put_Usn(0x1A008, test_support::Usn_Record_Builder().Usn(0x5000).Name(u"journal.txt"));
    two.Put(0x8000, second.Layout(Log_Version::V11, 10));
    one.Write(folder + "/1.bin");
    two.Write(folder + "/2.bin");

    EXPECT_EQ(Run(Options(true, true), 9), 0);
    EXPECT_EQ(Rows("select LSN, FileName, FullPath from LogFile order by LSN"),
              (std::vector<std::string>{std::to_string(first.lsns[10]) + "|first.txt|\\first.txt",
                                        std::to_string(second.lsns[20]) + "|second.txt|\\second.txt"}));
    EXPECT_EQ(Rows("select USN, FileName, CarvingFlag from UsnJrnl"), (std::vector<std::string>{"20480|journal.txt|Y"}));
    // What stays of the last file: its pages and rows only.
    ASSERT_EQ(context.LogFile_Row_Array.size(), 1u);
    EXPECT_EQ(context.LogFile_Row_Array[0].FileName, u"second.txt");
    ASSERT_FALSE(context.Scanned_Page_Array.empty());
    EXPECT_EQ(context.Scanned_Page_Array[0].FileOffset, 0x8000u + 2 * 4096);
    EXPECT_FALSE(context.Mft.Empty());
    EXPECT_TRUE(context.MFT_Creation_Time.empty());
    EXPECT_EQ(context.Hour_Offset, 9);
    EXPECT_EQ(messages.str(), "");
}

TEST_F(Carve_Source_Folder_Test, Options_Choose_The_Carvers) {
    const Written_Log log(4, 2, 1);
    test_support::Mft_Image_Builder mft;
    test_support::Put_Volume_Skeleton(mft);
    mft.Put(64, test_support::Mft_Record_Builder()
                    .Flags(test_support::Record_Flags::File)
                    .Lsn(log.lsns[3])
                    .Standard_Information(0x01D66736FF1D1800ull)
                    .File_Name(test_support::Mft_Reference(5, 5), u"named.txt"));
    mft.Write_File(dir.File("MFT"));
    Parse_MFT(context, dir.File("MFT"));
    Carving_Image image(0x20000);
    // The log 8 KiB into the file, a journal record at an odd offset.
    image.Put(0x2000, log.Layout(Log_Version::V11, 8)).Put_Usn(0x1A001, test_support::Usn_Record_Builder().Usn(8));
    image.Write(folder + "/image.bin");
    struct Case {
        const char* what;
        Run_Options options;
        std::size_t logfile_rows, usnjrnl_rows;
    };
    const Case cases[] = {
        {"-g", Options(true, false), 1, 0},
        {"-n", Options(false, true), 0, 0},
        {"-n -a 1", Options(false, true, false, 1), 0, 1},
        {"-g -q -n -a 1", Options(true, true, true, 1), 1, 1},
        {"neither", Options(false, false), 0, 0},
    };
    for (const Case& c : cases) {
        db.Run_Query(u"delete from LogFile");
        db.Run_Query(u"delete from UsnJrnl");
        EXPECT_EQ(Run(c.options), 0) << c.what;
        EXPECT_EQ(Rows("select LSN from LogFile").size(), c.logfile_rows) << c.what;
        EXPECT_EQ(Rows("select USN from UsnJrnl").size(), c.usnjrnl_rows) << c.what;
    }
}

TEST_F(Carve_Source_Folder_Test, Special_Empty_And_Random_Files_Are_Passed_Over) {
    dir.Write("source/empty", "");
    Carving_Image(0x123457, 3).Write(folder + "/random.bin");
    // Record and restart page headers with random bytes behind them.
    Carving_Image magics(0x40000, 4);
    const Bytes record_magic = {'R', 'C', 'R', 'D', 0x28, 0, 9, 0};
    const Bytes restart = logfile_test::Restart_Page();
    const Bytes restart_header(restart.begin(), restart.begin() + 0x18);
    for (std::uint64_t p = 0; p < 0x40000; p += 4096) magics.Put(p, p % (5 * 4096) == 0 ? restart_header : record_magic);
    magics.Write(folder + "/magics.bin");
    ASSERT_EQ(::mkfifo((folder + "/pipe").c_str(), 0644), 0);
    fs::create_directory_symlink(dir.Path(), folder + "/loop");  // a link back to the folder's parent
    dir.Make_Dir("source/sub");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(Options(true, true, false, 1)), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));  // the FIFO was never opened
    EXPECT_TRUE(Rows("select USN from UsnJrnl").empty());
    EXPECT_EQ(context.Scanned_Page_Array.size(), 0u);  // the last file carved was "random.bin"
}

TEST_F(Carve_Source_Folder_Test, A_Huge_Sparse_File_With_A_Damaged_Restart_Page) {
    // 256 MiB, nearly all a hole: a restart page that claims a log of 2^62
    // bytes, a record page at the very end. The normal area stops at the end
    // of the file and the file is read in bounded pieces.
    constexpr std::uint64_t Size = std::uint64_t{1} << 28;
    const std::string path = folder + "/sparse.img";
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(Size)), 0);
    const Bytes restart = logfile_test::Restart_Page({.log_size = std::uint64_t{1} << 62});
    const Bytes record = Record_Page_At(1, 4);
    ASSERT_EQ(::pwrite(fd, restart.data(), restart.size(), 0), 4096);
    ASSERT_EQ(::pwrite(fd, record.data(), record.size(), static_cast<off_t>(Size - 4096)), 4096);
    ::close(fd);

    EXPECT_EQ(Run(Options(true, true)), 0);
    EXPECT_LE(context.Record_Page_Array.size(), Size / 4096);
    ASSERT_FALSE(context.Record_Page_Array.empty());
    EXPECT_EQ(context.Record_Page_Array.back().FileOffset, Size - 4096);
}

}  // namespace
