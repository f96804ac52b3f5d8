// The $UsnJrnl:$J reader and the record carver over built journals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ntfs/Parsing_Context.h"
#include "ntfs/mft/Parse_MFT.h"
#include "ntfs/usnjrnl/Parse_UsnJrnl.h"
#include "ntfs/usnjrnl/Usn_Test_Support.h"
#include "platform/text.h"
#include "support/Mft_Record_Builder.h"
#include "support/Temp_Dir.h"
#include "support/Usn_Record_Builder.h"

using test_support::Usn_Journal_Builder;
using test_support::Usn_Record_Builder;
using usn_test::Captured_Output;
using usn_test::Output_Db;

namespace {

constexpr std::size_t Chunk = 0x90000;

class Parse_UsnJrnl_Test : public ::testing::Test {
protected:
    std::string Write(const Usn_Journal_Builder& journal, const std::string& name = "J") {
        const std::string path = dir_.File(name);
        journal.Write_File(path);
        return path;
    }

    Temp_Dir dir_;
    Global_Parsing_Context context_;
};

TEST_F(Parse_UsnJrnl_Test, One_Row_Per_Record_With_Every_Text) {
    Usn_Journal_Builder journal;
    journal.Zeros(4096)
        .Append(Usn_Record_Builder()
                    .Usn(4096)
                    .Name(u"it's, here.txt")
                    .Parent(0x0003000000000005ull)  // the root under another sequence number
                    .File_Reference(0x0001000000000040ull)
                    .Reason(0x80000102)
                    .Attributes(0x26))
        .Append(Usn_Record_Builder()
                    .Usn(4184)
                    .Name(u"b")
                    .Parent(0x0002000000000123ull)
                    .File_Reference(0xFFFF0000000ABCDEull)
                    .Reason(0x00000008)  // no bit of the reason table
                    .Attributes(0x00080000)  // no bit of the attribute table
                    .Source_Info(4));
    Output_Db out(dir_);
    Captured_Output captured;
    EXPECT_EQ(Parse_UsnJrnl(context_, Write(journal), out.Db(), 9), 0);
    EXPECT_EQ(context_.Hour_Offset, 9);
    EXPECT_EQ(out.Rows(), (std::vector<std::string>{
                              "4096|2020-07-31 21:34:56|it's/ here.txt|\\it's/ here.txt|File_Created / Data_Added / "
                              "File_Closed|Normal|Archive / Hidden / System||0x0001000000000040|0x0003000000000005",
                              "4184|2020-07-31 21:34:56|b|||Normal|||0xFFFF0000000ABCDE|0x0002000000000123",
                          }));
    EXPECT_EQ(captured.Messages(), "");
}

TEST(Usn_Row_Texts, Numbers_Read_As_The_Design_Formats_Print_Them) {
    for (const std::uint64_t v : {0ull, 7ull, 10ull, 4096ull, 1170953448ull, 0x0001000000000040ull,
                                  0xFFFF0000000ABCDEull, 0x7FFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull}) {
        std::u16string decimal = u"stale text", reference = u"stale";
        Put_Usn_Decimal_Text(v, decimal);
        Put_Usn_Reference_Text(v, reference);
        EXPECT_EQ(decimal, platform::Format(u"%I64u", {static_cast<unsigned long long>(v)})) << v;
        EXPECT_EQ(reference, platform::Format(u"0x%.16llX", {static_cast<unsigned long long>(v)})) << v;
    }
}

TEST_F(Parse_UsnJrnl_Test, Time_Text_Is_Shifted_By_The_Hour_Offset) {
    const struct {
        int hours;
        const char* text;
    } cases[] = {{0, "2020-07-31 12:34:56"}, {-5, "2020-07-31 07:34:56"}, {12, "2020-08-01 00:34:56"}};
    const std::string path = Write(Usn_Journal_Builder().Append(Usn_Record_Builder()));
    for (const auto& c : cases) {
        Output_Db out(dir_, "out" + std::to_string(c.hours) + ".db");
        Parse_UsnJrnl(context_, path, out.Db(), c.hours);
        EXPECT_EQ(out.Column("TimeStamp"), std::vector<std::string>{c.text}) << c.hours;
    }
}

// Where a record lies decides whether the reader (every 8th byte) or the
// carver at a given alignment (a grid restarting at every chunk start) sees it.
TEST_F(Parse_UsnJrnl_Test, Tested_Positions) {
    struct Case {
        std::size_t offset;
        int alignment;  // 0: the reader
        bool found;
    };
    const Case cases[] = {
        {4096, 0, true},
        {4100, 0, false},
        {4097, 0, false},
        {4096, 8, true},
        {4100, 4, true},
        {4097, 4, false},
        {4097, 1, true},
        // Records that cross the first chunk's end are read whole.
        {Chunk - 24, 0, true},
        {Chunk - 8, 0, true},
        {Chunk - 1, 1, true},
        {Chunk - 8, 8, true},
        // Alignment 5: 0x90000 is no multiple of 5, the grid starts again there.
        {Chunk - 9, 5, true},   // 5 * 117963, the chunk's last tested position
        {Chunk - 4, 5, false},  // 5 * 117964, beyond it
        {Chunk + 5, 5, true},   // 5 past the second chunk's start, no multiple of 5 in the file
        {Chunk + 3 * Chunk + 10, 5, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string name = "case" + std::to_string(n++);
        const std::string path = Write(Usn_Journal_Builder().Put(c.offset, Usn_Record_Builder().Usn(77)), name);
        Output_Db out(dir_, name + ".db");
        if (c.alignment == 0)
            Parse_UsnJrnl(context_, path, out.Db(), 0);
        else
            Carve_UsnJrnl_Records(context_, path, out.Db(), 0, c.alignment);
        const std::vector<std::string> expected =
            c.found ? std::vector<std::string>{c.alignment == 0 ? "77|" : "77|Y"} : std::vector<std::string>{};
        EXPECT_EQ(out.Rows("select USN, CarvingFlag from UsnJrnl"), expected)
            << "offset " << c.offset << " alignment " << c.alignment;
    }
}

TEST_F(Parse_UsnJrnl_Test, A_Record_Cut_By_The_End_Of_The_File_Gives_No_Row) {
    Usn_Journal_Builder journal;
    journal.Append(Usn_Record_Builder().Usn(8)).Append(Usn_Record_Builder().Usn(88));
    auto cut = Usn_Record_Builder().Usn(168).Build();
    cut.pop_back();
    journal.Append_Bytes(cut);
    const std::string path = Write(journal);
    Output_Db reader(dir_, "reader.db");
    Parse_UsnJrnl(context_, path, reader.Db(), 0);
    EXPECT_EQ(reader.Column("USN"), (std::vector<std::string>{"8", "88"}));
    Output_Db carver(dir_, "carver.db");
    Carve_UsnJrnl_Records(context_, path, carver.Db(), 0, 1);
    EXPECT_EQ(carver.Column("USN"), (std::vector<std::string>{"8", "88"}));
}

TEST_F(Parse_UsnJrnl_Test, Empty_And_Missing_Files_Give_No_Rows_And_No_Message) {
    Output_Db out(dir_);
    Captured_Output captured;
    const std::string empty = Write(Usn_Journal_Builder());
    EXPECT_EQ(Parse_UsnJrnl(context_, empty, out.Db(), 3), 0);
    EXPECT_EQ(Carve_UsnJrnl_Records(context_, empty, out.Db(), 3, 1), 0);
    EXPECT_EQ(Parse_UsnJrnl(context_, dir_.File("missing"), out.Db(), -4), 0);
    EXPECT_EQ(context_.Hour_Offset, -4);  // set also when the file cannot be opened
    EXPECT_EQ(Carve_UsnJrnl_Records(context_, dir_.Path(), out.Db(), 2, 8), 0);  // a directory
    EXPECT_EQ(context_.Hour_Offset, 2);
    EXPECT_EQ(out.Rows().size(), 0u);
    EXPECT_EQ(captured.Messages(), "");
}

TEST_F(Parse_UsnJrnl_Test, Zero_Head_Chunk_Multiple_Length_And_A_Record_Inside_A_Record) {
    // The sparse head of an extracted $J is zeros; the file ends exactly at a
    // chunk's end with a record.
    auto inner = Usn_Record_Builder().Usn(3).Name(u"inner");
    std::vector<std::uint8_t> outer_name = {'x', 0, 'y', 0};  // the inner record starts at byte 64 of the outer
    const auto inner_bytes = inner.Build();
    outer_name.insert(outer_name.end(), inner_bytes.begin(), inner_bytes.end());
    Usn_Journal_Builder journal;
    journal.Zeros(2 * Chunk + 4096)
        .Append(Usn_Record_Builder().Usn(1))
        .Append(Usn_Record_Builder().Usn(2).Name_Bytes(outer_name));
    const std::size_t last_size = Usn_Record_Builder().Build().size();
    journal.Put(3 * Chunk - last_size, Usn_Record_Builder().Usn(4));
    ASSERT_EQ(journal.Size(), 3 * Chunk);
    Output_Db out(dir_);
    Parse_UsnJrnl(context_, Write(journal), out.Db(), 0);
    EXPECT_EQ(out.Rows("select USN, FileName from UsnJrnl order by USN"),
              (std::vector<std::string>{"1|a.txt", "2|xyH", "3|inner", "4|a.txt"}));
}

TEST_F(Parse_UsnJrnl_Test, A_Duplicate_Usn_Gives_One_Row) {
    Usn_Journal_Builder journal;
    journal.Append(Usn_Record_Builder().Usn(500).Name(u"first")).Append(Usn_Record_Builder().Usn(500).Name(u"second"));
    const std::string path = Write(journal);
    Output_Db out(dir_);
    Parse_UsnJrnl(context_, path, out.Db(), 0);
    // The same records carved from another file are refused too.
    Carve_UsnJrnl_Records(context_, path, out.Db(), 0, 8);
    EXPECT_EQ(out.Rows("select USN, FileName, CarvingFlag from UsnJrnl"), std::vector<std::string>{"500|first|"});
}

TEST_F(Parse_UsnJrnl_Test, Transaction_Failures_Show_Their_Boxes) {
    const std::string path = Write(Usn_Journal_Builder().Append(Usn_Record_Builder().Usn(64)));
    {
        // A transaction already open: "BEGIN;" fails, the rows still go in and
        // the stage's "COMMIT;" ends the open one.
        Output_Db out(dir_, "open.db");
        out.Db().Run_Query(u"BEGIN;");
        Captured_Output captured;
        Parse_UsnJrnl(context_, path, out.Db(), 0);
        EXPECT_EQ(captured.Messages(), "BEGIN Error\n");
        EXPECT_EQ(out.Column("USN"), std::vector<std::string>{"64"});
    }
    {
        CppSQLite3DB closed;
        Captured_Output captured;
        EXPECT_EQ(Carve_UsnJrnl_Records(context_, path, closed, 0, 8), 0);
        EXPECT_EQ(captured.Messages(), "BEGIN Error\ncommit Error\n");
    }
}

// Full paths through the $MFT index.
class UsnJrnl_Full_Path_Test : public Parse_UsnJrnl_Test {
protected:
    static constexpr std::uint64_t Docs = 0x0002000000000028ull;  // entry 40, sequence 2
    static constexpr std::uint64_t Sub = 0x0001000000000029ull;   // entry 41, sequence 1

    std::string Write_Mft() {
        using namespace test_support;
        Mft_Image_Builder image;
        Put_Volume_Skeleton(image);
        image.Put(40, Mft_Record_Builder()
                          .Flags(Record_Flags::Directory)
                          .Sequence(2)
                          .Standard_Information(Usn_Test_Time)
                          .File_Name(Mft_Reference(5, 5), u"docs"));
        image.Put(41, Mft_Record_Builder()
                          .Flags(Record_Flags::Directory)
                          .Sequence(1)
                          .Standard_Information(Usn_Test_Time)
                          .File_Name(Docs, u"sub"));
        const std::string path = dir_.File("MFT");
        image.Write_File(path, 64);
        return path;
    }

    // FullPath of a record under each parent: the root, docs, docs\sub, docs
    // under a re-used sequence number, an entry never indexed.
    std::vector<std::string> Paths() {
        Usn_Journal_Builder journal;
        journal.Append(Usn_Record_Builder().Usn(1).Parent(0x0005000000000005ull).Name(u"top.txt"))
            .Append(Usn_Record_Builder().Usn(2).Parent(Docs).Name(u"x.txt"))
            .Append(Usn_Record_Builder().Usn(3).Parent(Sub).Name(u"y.txt"))
            .Append(Usn_Record_Builder().Usn(4).Parent(0x0003000000000028ull).Name(u"reused.txt"))
            .Append(Usn_Record_Builder().Usn(5).Parent(0x0001000000000063ull).Name(u"unknown.txt"));
        Output_Db out(dir_, "paths" + std::to_string(++runs_) + ".db");
        Parse_UsnJrnl(context_, Write(journal), out.Db(), 0);
        return out.Column("FullPath");
    }

    int runs_ = 0;
};

TEST_F(UsnJrnl_Full_Path_Test, Without_An_Mft_Only_Children_Of_The_Root_Have_A_Path) {
    EXPECT_EQ(Paths(), (std::vector<std::string>{"\\top.txt", "", "", "", ""}));
}

TEST_F(UsnJrnl_Full_Path_Test, An_Mft_That_Failed_To_Open_Leaves_Every_Path_Empty) {
    Parse_MFT(context_, dir_.File("no such MFT"));
    ASSERT_EQ(context_.MFT_Unavailable, 1);
    EXPECT_EQ(Paths(), (std::vector<std::string>{"", "", "", "", ""}));
}

TEST_F(UsnJrnl_Full_Path_Test, Parents_Resolve_Through_The_Index_By_Their_Whole_Reference) {
    ASSERT_EQ(Parse_MFT(context_, Write_Mft()), 0);
    ASSERT_FALSE(context_.Mft.Empty());
    EXPECT_EQ(Paths(), (std::vector<std::string>{"\\top.txt", "\\docs\\x.txt", "\\docs\\sub\\y.txt", "", ""}));
    // The cache of parent paths is per file: a second run gives the same.
    EXPECT_EQ(Paths(), (std::vector<std::string>{"\\top.txt", "\\docs\\x.txt", "\\docs\\sub\\y.txt", "", ""}));
}

// A path never passes 32,767 units: the longest one that fits is kept, one
// unit more gives "".
TEST_F(UsnJrnl_Full_Path_Test, A_Path_Past_The_Longest_Windows_Opens_Is_Empty) {
    using namespace test_support;
    Mft_Image_Builder image;
    Put_Volume_Skeleton(image);
    // Directories 40 to 166, each a level deeper: the last one's path is 127 x 256 units.
    const std::u16string long_name(255, u'd');
    for (std::uint64_t i = 0; i < 127; ++i)
        image.Put(40 + i, Mft_Record_Builder()
                              .Flags(Record_Flags::Directory)
                              .Sequence(1)
                              .Standard_Information(Usn_Test_Time)
                              .File_Name(i == 0 ? Mft_Reference(5, 5) : Mft_Reference(40 + i - 1, 1), long_name));
    const std::string mft = dir_.File("deep MFT");
    image.Write_File(mft, 200);
    ASSERT_EQ(Parse_MFT(context_, mft), 0);
    const std::uint64_t deepest = Mft_Reference(166, 1);
    Usn_Journal_Builder journal;
    journal.Append(Usn_Record_Builder().Usn(1).Parent(deepest).Name(std::u16string(254, u'f')))
        .Append(Usn_Record_Builder().Usn(2).Parent(deepest).Name(std::u16string(255, u'f')));
    Output_Db out(dir_, "long.db");
    Parse_UsnJrnl(context_, Write(journal), out.Db(), 0);
    const std::vector<std::string> paths = out.Column("FullPath");
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[0].size(), 32767u);
    EXPECT_EQ(paths[1], "");
}

}  // namespace
