// The carvers over real Windows-made files: extracted logs carved as they are
// give what the $LogFile reader gives, a whole volume image gives the records
// its log holds, and a volume slice gives its change journal.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <set>

#include "carving/Carve_LogFile_Records.h"
#include "db/CppSQLite3.h"
#include "ntfs/logfile/Parse_LogFile.h"
#include "output/Event_Tables.h"
#include "support/Run_Harness.h"
#include "support/Sqlite_Query.h"
#include "support/Temp_Dir.h"

namespace {

namespace fs = std::filesystem;
const std::string Real = TREVALON_REAL_DATA_DIR;

bool Present(const std::vector<std::string>& paths) {
    for (const std::string& path : paths)
        if (!fs::exists(Real + "/" + path)) return false;
    return true;
}

std::string Db_Of(const std::string& out) { return out + "/QVM_" + Pinned_Stamp + ".db"; }

// The LSNs of every record the walk finishes, in walk order.
const auto No_Analysis = [](const Log_Record_Header&, _log_info&, const _log_info&, const Client_Data_View&) {};

std::vector<std::uint64_t> Reader_Walk(const std::string& log, const std::string& db_path) {
    CppSQLite3DB db;
    db.Open_With_Pragmas(db_path);
    db.Run_Query(Event_Table_Sql::Create_LogFile);
    Global_Parsing_Context context;
    std::vector<std::uint64_t> lsns;
    Parse_LogFile_With(context, log, db, 0, No_Analysis, [&](const _log_info& r, bool) { lsns.push_back(r.ThisLSN); });
    return lsns;
}

std::vector<std::uint64_t> Carver_Walk(const std::string& file, const std::string& db_path, bool quick = false) {
    CppSQLite3DB db;
    db.Open_With_Pragmas(db_path);
    db.Run_Query(Event_Table_Sql::Create_LogFile);
    Global_Parsing_Context context;
    std::vector<std::uint64_t> lsns;
    Carve_LogFile_Records_With(context, file, db, 0, quick, No_Analysis,
                               [&](const _log_info& r, bool) { lsns.push_back(r.ThisLSN); });
    return lsns;
}

std::set<std::uint64_t> Oracle_Lsns(const std::string& listing) {
    std::set<std::uint64_t> lsns;
    std::ifstream in(listing);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line))
        if (!line.empty()) lsns.insert(std::stoull(line.substr(0, line.find('\t'))));
    return lsns;
}

// ---- Differential: a folder holding only an extracted $LogFile ----

struct Real_Log {
    const char* log;
    const char* mft;  // or nullptr
    // Records the reader completes from the buffer page that the carver
    // leaves unfinished: their rest lies in the log's first page never
    // written (its pages after the last written one are 0xFF).
    std::vector<std::uint64_t> unfinished_when_carved = {};
};

// The walk of the reader without the records the carver leaves unfinished.
std::vector<std::uint64_t> Without(std::vector<std::uint64_t> lsns, const std::vector<std::uint64_t>& left_out) {
    std::erase_if(lsns, [&](std::uint64_t lsn) { return std::find(left_out.begin(), left_out.end(), lsn) != left_out.end(); });
    return lsns;
}

class Carving_Real_Log : public ::testing::TestWithParam<Real_Log> {};

TEST_P(Carving_Real_Log, Carving_The_Log_File_Gives_The_Rows_Of_The_Reader) {
    const Real_Log& c = GetParam();
    if (!Present({c.log})) GTEST_SKIP() << "real sample not present: " << Real << "/" << c.log;
    Temp_Dir dir;
    // Pages, replay order and walk: the same records in the same order.
    const auto read = Reader_Walk(Real + "/" + c.log, dir.File("read.db"));
    EXPECT_EQ(Carver_Walk(Real + "/" + c.log, dir.File("carved.db")), Without(read, c.unfinished_when_carved));
    ASSERT_GT(read.size(), 100u);

    // The whole program with the analysis: -l on the file and -s -g on a
    // folder that holds it give the same LogFile table.
    const std::string source = dir.Make_Dir("source");
    fs::create_symlink(Real + "/" + c.log, source + "/LogFile");
    std::vector<std::string> extra;
    if (c.mft != nullptr && Present({c.mft})) extra = {"-m", Real + "/" + c.mft};
    auto run = [&](std::vector<std::string> args, const std::string& out) {
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), {"-o", dir.Make_Dir(out), "-t", "0"});
        EXPECT_EQ(Run_Program(args).Exit_Code, 0);
        return Query_Rows(Db_Of(dir.File(out)), "select * from LogFile order by LSN");
    };
    const auto reader_rows = run({"-l", Real + "/" + c.log}, "read");
    const auto carved_rows = run({"-s", source, "-g"}, "carved");
    EXPECT_EQ(carved_rows, reader_rows);
    EXPECT_FALSE(reader_rows.empty());
}

INSTANTIATE_TEST_SUITE_P(Windows, Carving_Real_Log,
                         ::testing::Values(Real_Log{"win10-20h1-volume/LogFile", "win10-20h1-volume/MFT"},
                                           // A dirty page table dump (no row) runs from the last
                                           // written page 46 into page 47.
                                           Real_Log{"tiny-volume-2013/LogFile", "tiny-volume-2013/MFT", {1072576}},
                                           Real_Log{"dfir-ntfs-logfile/LogFile_7.bin", nullptr},
                                           Real_Log{"dfir-ntfs-logfile/LogFile_10.bin", nullptr},
                                           Real_Log{"dfir-ntfs-logfile/LogFile_10_downgraded.bin", nullptr},
                                           Real_Log{"dfir-ntfs-logfile/LogFile_10_large.bin", nullptr}),
                         [](const ::testing::TestParamInfo<Real_Log>& info) {
                             std::string name = info.param.log;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

// ---- A whole volume image ----

TEST(Carving_Real_Volume, Tiny_Volume_Image) {
    const std::string folder = "tiny-volume-2013";
    if (!Present({folder + "/partition.dd", folder + "/LogFile", folder + "/MFT",
                  folder + "/oracle/dfir_ntfs_logfile.tsv"}))
        GTEST_SKIP() << "real sample not present: " << Real << "/" << folder;
    Temp_Dir dir;
    const std::string source = dir.Make_Dir("source");
    fs::create_symlink(Real + "/" + folder + "/partition.dd", source + "/partition.dd");

    // The volume has 512-byte clusters: its $LogFile starts at 2462720, 1024
    // bytes past a multiple of 4096. The carver walks the very records the
    // reader walks in the extracted log, but the one whose rest lies in the
    // first page never written.
    const auto read = Reader_Walk(Real + "/" + folder + "/LogFile", dir.File("read.db"));
    const auto expected = Without(read, {1072576});
    EXPECT_EQ(Carver_Walk(source + "/partition.dd", dir.File("image.db")), expected);
    EXPECT_EQ(Carver_Walk(source + "/partition.dd", dir.File("quick.db"), true), expected);

    // Rows (with the $MFT for names): those of -l, with or without -q, and
    // every LSN known to the peer listing except those the reader adds too.
    auto rows = [&](std::vector<std::string> args, const std::string& out) {
        args.insert(args.end(), {"-m", Real + "/" + folder + "/MFT", "-o", dir.Make_Dir(out), "-t", "0"});
        EXPECT_EQ(Run_Program(args).Exit_Code, 0);
        return Query_Rows(Db_Of(dir.File(out)), "select * from LogFile order by LSN");
    };
    const auto lsn_set = [](const std::vector<std::string>& table) {
        std::set<std::uint64_t> lsns;
        for (const std::string& row : table) lsns.insert(std::stoull(row.substr(0, row.find('|'))));
        return lsns;
    };
    const auto carved = rows({"-s", source, "-g"}, "carved");
    const auto reader = rows({"-l", Real + "/" + folder + "/LogFile"}, "reader");
    EXPECT_EQ(lsn_set(carved), lsn_set(reader));
    EXPECT_EQ(carved, reader);
    EXPECT_EQ(rows({"-s", source, "-g", "-q"}, "quick"), carved);
    ASSERT_GT(carved.size(), 50u);
    const std::set<std::uint64_t> listed = Oracle_Lsns(Real + "/" + folder + "/oracle/dfir_ntfs_logfile.tsv");
    std::size_t known = 0;
    for (const std::uint64_t lsn : lsn_set(carved)) known += listed.count(lsn);
    EXPECT_GE(known, carved.size() - 1);  // the reader's walk has one record the listing lacks
}

// ---- Change-journal records in a volume slice ----

TEST(Carving_Real_Volume, Journal_Records_In_A_Volume_Slice) {
    const std::string slice = "win10-20h1-volume/volume_slice_clusters_6144-6655.bin";
    const std::string journal = "win10-20h1-volume/UsnJrnl_J";
    if (!Present({slice, journal})) GTEST_SKIP() << "real sample not present: " << Real << "/" << slice;
    Temp_Dir dir;
    const std::string source = dir.Make_Dir("source");
    fs::create_symlink(Real + "/" + slice, source + "/slice.bin");
    const std::string columns =
        "TimeStamp, USN, FileName, FullPath, Event, SourceInfo, FileAttr, FileReferenceNumber, ParentFileReferenceNumber";
    auto rows = [&](const std::vector<std::string>& args, const std::string& out, const std::string& what) {
        std::vector<std::string> all = args;
        all.insert(all.end(), {"-o", dir.Make_Dir(out), "-t", "0"});
        EXPECT_EQ(Run_Program(all).Exit_Code, 0);
        return Query_Rows(Db_Of(dir.File(out)), "select " + what + " from UsnJrnl order by USN");
    };
    // The slice holds the journal's 188 records: the rows of -u, carved.
    const auto parsed = rows({"-u", Real + "/" + journal}, "parsed", columns);
    EXPECT_EQ(parsed.size(), 188u);
    EXPECT_EQ(rows({"-s", source, "-n"}, "carved", columns), parsed);
    EXPECT_EQ(rows({"-s", source, "-n"}, "carved-flags", "distinct CarvingFlag"), (std::vector<std::string>{"Y"}));

    // Moved to odd offsets: found with -a 1 only.
    const std::string odd = dir.Make_Dir("odd");
    {
        std::ifstream in(Real + "/" + slice, std::ios::binary);
        std::ofstream out(odd + "/slice-plus-3.bin", std::ios::binary);
        out << "abc" << in.rdbuf();
    }
    EXPECT_TRUE(rows({"-s", odd, "-n"}, "odd-8", "USN").empty());
    EXPECT_EQ(rows({"-s", odd, "-n", "-a", "1"}, "odd-1", columns), parsed);
}

// ---- A folder with a volume's files and a volume image ----

TEST(Carving_Real_Volume, Both_Tables_And_Both_Csv_Files) {
    const std::vector<std::string> files = {"win10-20h1-volume/LogFile", "win10-20h1-volume/MFT",
                                            "win10-20h1-volume/UsnJrnl_J", "win10-20h1-volume/UsnJrnl_Max",
                                            "win10-20h1-volume/volume_slice_clusters_6144-6655.bin",
                                            "tiny-volume-2013/partition.dd"};
    if (!Present(files)) GTEST_SKIP() << "real samples not present under " << Real;
    Temp_Dir dir;
    const std::string source = dir.Make_Dir("source");
    for (const std::string& file : files)
        fs::create_symlink(Real + "/" + file, source + "/" + fs::path(file).filename().string());
    const std::string out = dir.Make_Dir("out");
    const Run_Result r = Run_Program({"-s", source, "-g", "-q", "-n", "-o", out, "-c", "-t", "0"});
    EXPECT_EQ(r.Exit_Code, 0);
    EXPECT_NE(r.Console.find("\r\nCarving $logFile Record and $UsnJrnl Record...[Done]"), std::string::npos);
    // The slice holds the journal's records again: none of them is stored a
    // second time, and the examiner is told so, file by file.
    EXPECT_NE(r.Messages.find(source + "/volume_slice_clusters_6144-6655.bin: 188 $UsnJrnl records and "),
              std::string::npos)
        << r.Messages;
    std::istringstream lines(r.Messages);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(line.rfind(source + "/", 0), 0u) << line;
        EXPECT_TRUE(line.ends_with(" $LogFile records not stored: their USN/LSN is already in the database.")) << line;
    }
    const auto count = [&](const char* table) {
        return std::stoull(Query_Rows(Db_Of(out), std::string("select count(*) from ") + table).at(0));
    };
    EXPECT_GT(count("LogFile"), 100u);
    // The journal and the slice hold the same 188 records; the $LogFile holds
    // copies of journal pages too, one of them cut by a page header into a
    // record of its own.
    EXPECT_GE(count("UsnJrnl"), 188u);
    for (const char* csv : {"/QVM_LogFile_", "/QVM_UsnJrnl_"}) {
        const std::string path = out + csv + Pinned_Stamp + ".csv";
        ASSERT_TRUE(fs::exists(path)) << path;
        EXPECT_GT(fs::file_size(path), 1000u) << path;
    }
}

}  // namespace
