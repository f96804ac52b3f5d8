#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detection/Detection_Test_Support.h"
#include "support/Detection_Builders.h"
#include "support/Log_Record_Builder.h"

using namespace test_support;

namespace {

using Strings = std::vector<std::string>;

std::string Indices_Text(const std::vector<Record_Index>& records) {
    std::string out;
    for (const Record_Index r : records) out += (out.empty() ? "" : ",") + std::to_string(r);
    return out;
}

// Each candidate group as "<key>|<record indices>".
Strings Groups_Of(const Detection_Context& context) {
    Strings out;
    for (const auto& group : context.Program_Operation_Candidate_Group_Array)
        out.push_back(platform::Utf16_To_Utf8(group->ProgramKey) + "|" + Indices_Text(group->Records));
    return out;
}

// The periods of every group, each "<record indices>", groups apart by " / ".
std::string Periods_Of(const Detection_Context& context) {
    std::string out;
    for (const auto& group : context.Program_Update_Period_Group_Array) {
        if (!out.empty()) out += " / ";
        std::string periods;
        for (const auto& period : group->Periods) periods += (periods.empty() ? "" : "|") + Indices_Text(period->Records);
        out += periods;
    }
    return out;
}

constexpr std::uint64_t Root = Mft_Root_Reference;

}  // namespace

// The program key: the path up to its depth-th "\" after the leading one; a
// directory one level short is the program folder itself.
TEST(Program_Update_Periods, GroupingKeys) {
    struct Record {
        const char16_t* path;
        const char16_t* attr;
    };
    struct Case {
        const char* what;
        std::vector<std::u16string_view> signatures;
        std::vector<Record> records;
        Strings groups;
    };
    const std::u16string_view program_files = u"ProgramUpdatePath|\\Program Files\\|Same|2";
    const std::vector<Case> cases = {
        {"files and the folder itself",
         {program_files},
         {{u"\\Program Files\\Vendor\\app.exe", u"Archive"},
          {u"\\Program Files\\Vendor", u"Directory"},
          {u"\\Program Files\\readme.txt", u"Archive"},
          {u"\\Program Files\\Vendor\\bin\\deep\\x.dll", u"Archive"}},
         {"\\Program Files\\Vendor\\|0,1,3"}},
        {"a directory attribute among others", {program_files},
         {{u"\\Program Files\\Vendor", u"Directory , Hidden"}}, {"\\Program Files\\Vendor\\|0"}},
        {"folders apart, in the order first met",
         {program_files},
         {{u"\\Program Files\\B\\1", u"Archive"},
          {u"\\Program Files\\A\\1", u"Archive"},
          {u"\\Program Files\\B\\2", u"Archive"},
          {u"\\Users\\Me\\x", u"Archive"},
          {u"\\Program Files\\A\\2", u"Archive"}},
         {"\\Program Files\\B\\|0,2", "\\Program Files\\A\\|1,4"}},
        {"a Temp component joins nothing, case-sensitive",
         {u"ProgramUpdatePath|\\Users\\|Same|3"},
         {{u"\\Users\\Me\\Temp\\x.tmp", u"Archive"}, {u"\\Users\\Me\\temp\\x.tmp", u"Archive"}},
         {"\\Users\\Me\\temp\\|1"}},
        {"Temp as the folder itself", {u"ProgramUpdatePath|\\Users\\|Same|3"}, {{u"\\Users\\Me\\Temp", u"Directory"}}, {}},
        {"Same is a start, case-sensitive", {program_files},
         {{u"\\program files\\Vendor\\a", u"Archive"}, {u"\\X\\Program Files\\Vendor\\a", u"Archive"}}, {}},
        {"any other word holds",
         {u"ProgramUpdatePath|\\SoftwareDistribution\\|Include|4"},
         {{u"\\Windows\\SoftwareDistribution\\Download\\abc\\f.cab", u"Archive"}},
         {"\\Windows\\SoftwareDistribution\\Download\\abc\\|0"}},
        {"only the first matching row", {u"ProgramUpdatePath|\\Program|Include|1", program_files},
         {{u"\\Program Files\\Vendor\\a", u"Archive"}}, {"\\Program Files\\|0"}},
        {"depth 1", {u"ProgramUpdatePath|\\|Same|1"}, {{u"\\Temp\\a", u"Archive"}, {u"\\Data\\a", u"Archive"}},
         {"\\Data\\|1"}},
        {"depth 0 is the first character", {u"ProgramUpdatePath|\\|Same|0"},
         {{u"\\a", u"Archive"}, {u"\\Program Files\\b", u"Archive"}}, {"\\|0,1"}},
        {"a depth that is not a number is 0", {u"ProgramUpdatePath|\\|Same|x"}, {{u"\\a", u"Archive"}}, {"\\|0"}},
        {"a depth beyond every path", {u"ProgramUpdatePath|\\|Same|18446744073709551615"},
         {{u"\\a\\b", u"Archive"}, {u"\\a\\b", u"Directory"}}, {"\\a\\b\\|1"}},
        {"no path", {u"ProgramUpdatePath|\\|Include|0"}, {{u"", u"Directory"}}, {}},
    };
    for (const Case& c : cases) {
        Program_State s;
        for (const auto text : c.signatures) ASSERT_TRUE(Add_Signatures(s, {text})) << c.what;
        for (std::size_t k = 0; k < c.records.size(); ++k)
            s.g_UsnJrnl_Info_Array.push_back(
                Usn_Event(8 * k).Name(u"x").Path(c.records[k].path).Attributes(c.records[k].attr));
        Detection_Context context(s);
        Detect_UsnJrnl_Record_Rules(context);
        EXPECT_EQ(Groups_Of(context), c.groups) << c.what;
    }
}

// Periods end at pauses of 40 s, or of 120 s for the next record of the same
// file; a record earlier than the period's end opens a new one.
TEST(Program_Update_Periods, PeriodsEndAtPauses) {
    struct Record {
        const char16_t* time;
        std::uint64_t file;
        const char16_t* attr = u"Archive";
        const char16_t* path = u"\\Program Files\\Vendor\\f.dll";
    };
    struct Case {
        const char* what;
        std::vector<Record> records;
        std::string periods;
    };
    const char16_t* dir = u"\\Program Files\\Vendor\\sub";
    const std::vector<Case> cases = {
        {"39 s", {{u"2020-08-02 10:00:00", 1}, {u"2020-08-02 10:00:39", 2}}, "0,1"},
        {"40 s, the same file", {{u"2020-08-02 10:00:00", 1}, {u"2020-08-02 10:00:40", 1}}, "0,1"},
        {"40 s, another file", {{u"2020-08-02 10:00:00", 1}, {u"2020-08-02 10:00:40", 2}}, "0|1"},
        {"119 s, the same file", {{u"2020-08-02 10:00:00", 1}, {u"2020-08-02 10:01:59", 1}}, "0,1"},
        {"119 s, the same directory",
         {{u"2020-08-02 10:00:00", 1, u"Directory", dir}, {u"2020-08-02 10:01:59", 1, u"Directory", dir}}, "0|1"},
        {"120 s, the same file", {{u"2020-08-02 10:00:00", 1}, {u"2020-08-02 10:02:00", 1}}, "0|1"},
        {"one second earlier", {{u"2020-08-02 10:00:01", 1}, {u"2020-08-02 10:00:00", 1}}, "0|1"},
        {"measured from the period's last record",
         {{u"2020-08-02 10:00:00", 1}, {u"2020-08-02 10:00:30", 2}, {u"2020-08-02 10:01:00", 3},
          {u"2020-08-02 10:01:30", 4}, {u"2020-08-02 10:02:30", 4}, {u"2020-08-02 10:03:10", 5}},
         "0,1,2,3,4|5"},
        // The file before is the group's record before, not the journal's.
        {"another folder's record between",
         {{u"2020-08-02 10:00:00", 1}, {u"2020-08-02 10:00:10", 9, u"Archive", u"\\Users\\x"},
          {u"2020-08-02 10:01:30", 1}},
         "0,2"},
        {"a time that does not parse", {{u"2020-08-02 10:00:00", 1}, {u"garbage", 1}, {u"2020-08-02 10:00:01", 1}},
         "0|1|2"},
    };
    for (const Case& c : cases) {
        Program_State s;
        ASSERT_TRUE(Add_Signatures(s, {u"ProgramUpdatePath|\\Program Files\\|Same|2"}));
        for (std::size_t k = 0; k < c.records.size(); ++k) {
            const Record& r = c.records[k];
            s.g_UsnJrnl_Info_Array.push_back(
                Usn_Event(8 * k).Time(r.time).Name(u"f").Path(r.path).Attributes(r.attr).File_Reference(r.file));
        }
        Detection_Context context(s);
        Run_UsnJrnl_Periods(context);
        EXPECT_EQ(Periods_Of(context), c.periods) << c.what;
    }
}

// Close counts are taken before the split: the record that opens a new period
// counts in the one it closes; the period's first record never counts.
TEST(Program_Update_Periods, CloseCountsAndOnePeriodPerPause) {
    Program_State s;
    ASSERT_TRUE(Add_Signatures(s, {u"ProgramUpdatePath|\\Program Files\\|Same|2"}));
    const auto record = [](std::uint64_t usn, const char16_t* time, std::vector<std::u16string_view> reasons) {
        return Usn_Event(usn).Time(time).Name(u"f").Path(u"\\Program Files\\V\\f").Reasons(reasons).File_Reference(1);
    };
    for (const Usn_Event& e : {record(0, u"2020-08-02 10:00:00", {u"File_Closed"}),
                               record(8, u"2020-08-02 10:00:01", {u"Basic_Info_Changed", u"File_Closed"}),
                               record(16, u"2020-08-02 10:00:02", {u"Data_Extend"}),
                               record(24, u"2020-08-02 10:10:00", {u"Data_Extend", u"File_Closed"}),
                               record(32, u"2020-08-02 10:10:01", {u"Data_Extend"})})
        s.g_UsnJrnl_Info_Array.push_back(e);
    // A folder with a single record gets a period group without periods.
    s.g_UsnJrnl_Info_Array.push_back(record(40, u"2020-08-02 10:10:02", {}).Path(u"\\Program Files\\W\\f"));
    Detection_Context context(s);
    Run_UsnJrnl_Periods(context);
    ASSERT_EQ(context.Program_Update_Period_Group_Array.size(), 2u);
    const auto& periods = context.Program_Update_Period_Group_Array[0]->Periods;
    ASSERT_EQ(periods.size(), 2u);
    EXPECT_EQ(periods[0]->ProgramKey, u"\\Program Files\\V\\");
    EXPECT_EQ(periods[0]->StartTime, u"2020-08-02 10:00:00");
    EXPECT_EQ(periods[0]->EndTime, u"2020-08-02 10:00:02");
    EXPECT_EQ(periods[0]->CloseCount, 2u);
    EXPECT_EQ(periods[0]->BasicInfoCloseCount, 1u);
    EXPECT_EQ(periods[0]->OtherCloseCount, 1u);
    EXPECT_EQ(periods[0]->Span, 2u);
    EXPECT_EQ(periods[1]->StartTime, u"2020-08-02 10:10:00");
    EXPECT_EQ(periods[1]->EndTime, u"2020-08-02 10:10:01");
    EXPECT_EQ(periods[1]->CloseCount, 0u);
    EXPECT_EQ(periods[1]->Span, 1u);
    EXPECT_EQ(context.Program_Update_Period_Group_Array[1]->ProgramKey, u"\\Program Files\\W\\");
    EXPECT_TRUE(context.Program_Update_Period_Group_Array[1]->Periods.empty());
}

// The files and directories below the program folder, found in the $MFT by
// climbing from the parent of one of the group's records.
TEST(Program_Update_Periods, FolderCounts) {
    // \Program Files (40) \Vendor (41): a.dll, b.dll, sub (44): c.dll, empty (46).
    Mft_Entries mft;
    mft.Root()
        .Directory(40, 1, Root, u"Program Files")
        .Directory(41, 1, Mft_Reference(40, 1), u"Vendor")
        .File(42, 1, Mft_Reference(41, 1), u"a.dll")
        .File(43, 1, Mft_Reference(41, 1), u"b.dll")
        .Directory(44, 1, Mft_Reference(41, 1), u"sub")
        .File(45, 1, Mft_Reference(44, 1), u"c.dll")
        .Directory(46, 1, Mft_Reference(41, 1), u"empty")
        .File(47, 1, Root, u"boot.ini");
    mft.Last().IsDeleted = 1;  // deleted entries count like the others

    const auto in_vendor = [](std::uint64_t usn) {
        return Usn_Event(usn).Name(u"a.dll").Path(u"\\Program Files\\Vendor\\a.dll").Parent_Reference(Mft_Reference(41, 1));
    };
    const auto in_sub = [](std::uint64_t usn) {
        return Usn_Event(usn).Name(u"c.dll").Path(u"\\Program Files\\Vendor\\sub\\c.dll")
            .Parent_Reference(Mft_Reference(44, 1));
    };
    const auto unknown = [](std::uint64_t usn) {
        return Usn_Event(usn).Name(u"x.dll").Path(u"\\Program Files\\Vendor\\x.dll").Parent_Reference(Mft_Reference(90, 1));
    };
    struct Case {
        const char* what;
        const char16_t* signature;
        std::vector<Usn_Event> records;
        std::uint64_t files, directories;
    };
    const std::u16string_view vendor = u"ProgramUpdatePath|\\Program Files\\|Same|2";
    const std::vector<Case> cases = {
        {"climbing from a folder below", vendor.data(), {in_vendor(0), in_sub(8)}, 3, 2},
        {"from the folder itself", vendor.data(), {in_sub(0), in_vendor(8)}, 3, 2},
        {"the first record is not used", vendor.data(), {in_vendor(0), unknown(8)}, 0, 0},
        {"an unknown parent: the next record", vendor.data(), {in_vendor(0), unknown(8), in_sub(16)}, 3, 2},
        // The sequence number is part of the reference.
        {"another sequence number", vendor.data(),
         {in_vendor(0), in_vendor(8).Parent_Reference(Mft_Reference(41, 2))}, 0, 0},
        // Depth 0: the program folder is the root, which lists itself; each
        // listing counts once and the root is expanded once.
        {"depth 0 reaches the root", u"ProgramUpdatePath|\\|Same|0", {in_vendor(0), in_vendor(8)}, 4, 5},
        {"a depth that is not a number", u"ProgramUpdatePath|\\|Same|x", {in_vendor(0), in_sub(8)}, 4, 5},
    };
    for (const Case& c : cases) {
        Program_State s;
        mft.Install(s.g_Parsing_Context);
        ASSERT_TRUE(Add_Signatures(s, {c.signature})) << c.what;
        for (const Usn_Event& e : c.records) s.g_UsnJrnl_Info_Array.push_back(e);
        Detection_Context context(s);
        Run_UsnJrnl_Periods(context);
        ASSERT_EQ(context.Program_Update_Period_Group_Array.size(), 1u) << c.what;
        ASSERT_EQ(context.Program_Update_Period_Group_Array[0]->Periods.size(), 1u) << c.what;
        const Program_Update_Period& period = *context.Program_Update_Period_Group_Array[0]->Periods[0];
        EXPECT_EQ(period.FolderFileCount, c.files) << c.what;
        EXPECT_EQ(period.FolderDirectoryCount, c.directories) << c.what;
    }

    // A record without a path ends the search; one is never grouped, so the
    // group is made here.
    Program_State s;
    mft.Install(s.g_Parsing_Context);
    for (const Usn_Event& e : {in_vendor(0), Usn_Event(8).Name(u"x"), in_sub(16)}) s.g_UsnJrnl_Info_Array.push_back(e);
    for (const std::vector<Record_Index>& records : {std::vector<Record_Index>{0, 1, 2}, std::vector<Record_Index>{0, 2}}) {
        Detection_Context context(s);
        auto group = std::make_unique<Program_Operation_Candidate_Group>();
        group->ProgramKey = u"\\Program Files\\Vendor\\";
        group->Records = records;
        context.Program_Operation_Candidate_Group_Array.push_back(std::move(group));
        Build_Program_Periods(context);
        const Program_Update_Period& period = *context.Program_Update_Period_Group_Array[0]->Periods[0];
        EXPECT_EQ(period.FolderFileCount, records.size() == 3 ? 0u : 3u);
    }
}

// A damaged $MFT in which directories list each other: the count ends, each
// listing counted once.
TEST(Program_Update_Periods, CountEndsOnADirectoryCycle) {
    Mft_Entries mft;
    mft.Root()
        .Directory(40, 1, Mft_Reference(41, 1), u"A")
        .Directory(41, 1, Mft_Reference(40, 1), u"B")
        .File(42, 1, Mft_Reference(41, 1), u"f")
        .Directory(43, 1, Mft_Reference(43, 1), u"self");
    Program_State s;
    mft.Install(s.g_Parsing_Context);
    Detection_Context context(s);
    EXPECT_EQ(Count_Entries_Under_Directory(context, Mft_Reference(40, 1)), 1);
    EXPECT_EQ(context.g_Directory_Count, 2u);  // B under A, A under B
    EXPECT_EQ(context.g_File_Count, 1u);
    context.g_Directory_Count = context.g_File_Count = 0;
    EXPECT_EQ(Count_Entries_Under_Directory(context, Mft_Reference(43, 1)), 1);
    EXPECT_EQ(context.g_Directory_Count, 1u);
    EXPECT_EQ(Count_Entries_Under_Directory(context, Mft_Reference(99, 1)), 1);
    EXPECT_EQ(context.g_Directory_Count, 1u);
}

// What a period creates, deletes and changes, each file and directory once.
TEST(Program_Update_Periods, PeriodCounts) {
    using log_record_test::Filetime;
    Program_State s;
    s.g_Parsing_Context.Hour_Offset = 9;
    // Directory creation times as the $MFT holds them (UTC); 01:00:00 UTC is
    // the journal's 10:00:00.
    Mft_Entries mft;
    mft.Root().Directory(41, 1, Root, u"Vendor");
    const auto directory = [&](std::uint64_t number, std::uint64_t created, bool deleted) {
        mft.Directory(number, 1, Mft_Reference(41, 1), u"d");
        mft.Last().CreateTime = created;
        mft.Last().IsDeleted = deleted ? 1 : 0;
    };
    directory(46, Filetime(2019, 1, 1), false);               // time set back
    directory(47, Filetime(2019, 1, 1), true);                // set back, but deleted
    directory(50, Filetime(2020, 8, 2, 1, 0, 0, 1234), false);  // as created
    directory(49, Filetime(2019, 1, 1), false);               // changed before its creation record
    mft.Install(s.g_Parsing_Context);
    ASSERT_TRUE(Add_Signatures(s, {u"ProgramUpdatePath|\\Program Files\\|Same|2"}));

    std::uint64_t usn = 0;
    const auto add = [&](const char16_t* path, const char16_t* attr, std::vector<std::u16string_view> reasons,
                         std::uint64_t file, std::uint64_t parent, const char16_t* time = u"2020-08-02 10:00:00") {
        s.g_UsnJrnl_Info_Array.push_back(Usn_Event(usn).Time(time).Name(u"n").Path(path).Attributes(attr)
                                             .Reasons(reasons).File_Reference(file).Parent_Reference(parent));
        usn += 8;
    };
    const char16_t* folder = u"\\Program Files\\Vendor";
    // Created elsewhere before it is renamed into the folder.
    add(u"\\Users\\Me\\b.dll", u"Archive", {u"File_Created"}, Mft_Reference(43, 1), 0x99);
    add(folder, u"Directory", {u"File_Created"}, Mft_Reference(41, 1), Root);
    add(u"\\Program Files\\Vendor\\a.dll", u"Archive", {u"File_Created"}, Mft_Reference(42, 1), Mft_Reference(41, 1));
    add(u"\\Program Files\\Vendor\\a.dll", u"Archive", {u"Data_Extend"}, Mft_Reference(42, 1), Mft_Reference(41, 1));
    add(u"\\Program Files\\Vendor\\a.dll", u"Archive", {u"Basic_Info_Changed"}, Mft_Reference(42, 1),
        Mft_Reference(41, 1));
    add(u"\\Program Files\\Vendor\\b.dll", u"Archive", {u"File_Renamed_New"}, Mft_Reference(43, 1), Mft_Reference(41, 1));
    add(u"\\Program Files\\Vendor\\c.dll", u"Archive", {u"File_Renamed_New"}, Mft_Reference(44, 1), Mft_Reference(41, 1));
    add(u"\\Program Files\\Vendor\\d\\e.dll", u"Archive", {u"File_Deleted"}, Mft_Reference(45, 1), Mft_Reference(46, 1));
    for (const std::uint64_t d : {46, 47, 50}) {
        add(u"\\Program Files\\Vendor\\d", u"Directory", {u"File_Created"}, Mft_Reference(d, 1), Mft_Reference(41, 1));
        add(u"\\Program Files\\Vendor\\d", u"Directory", {u"Basic_Info_Changed", u"File_Closed"}, Mft_Reference(d, 1),
            Mft_Reference(41, 1));
    }
    add(u"\\Program Files\\Vendor\\d", u"Directory", {u"File_Deleted"}, Mft_Reference(48, 1), Mft_Reference(41, 1));
    add(u"\\Program Files\\Vendor\\d", u"Directory", {u"Basic_Info_Changed"}, Mft_Reference(49, 1), Mft_Reference(41, 1));
    add(u"\\Program Files\\Vendor\\d", u"Directory", {u"File_Created"}, Mft_Reference(49, 1), Mft_Reference(41, 1));
    // The folder's own records add nothing to the directory counts.
    add(folder, u"Directory", {u"Basic_Info_Changed"}, Mft_Reference(41, 1), Root, u"2020-08-02 10:00:30");

    Detection_Context context(s);
    Run_UsnJrnl_Periods(context);
    ASSERT_EQ(context.Program_Update_Period_Group_Array.size(), 1u);
    ASSERT_EQ(context.Program_Update_Period_Group_Array[0]->Periods.size(), 1u);
    const Program_Update_Period& p = *context.Program_Update_Period_Group_Array[0]->Periods[0];
    EXPECT_EQ(p.Records.size(), s.g_UsnJrnl_Info_Array.size() - 1);
    EXPECT_EQ(p.FolderCreated, 1u);
    EXPECT_EQ(p.FilesSeen, 4u);  // a, b, c, e
    EXPECT_EQ(p.FilesWithBasicInfo, 1u);
    EXPECT_EQ(p.FilesWithoutBasicInfo, 3u);
    EXPECT_EQ(p.FilesCreated, 2u);  // a; b was created elsewhere; c never
    EXPECT_EQ(p.FilesDeleted, 1u);
    EXPECT_EQ(p.ParentFolders, 2u);
    EXPECT_EQ(p.DirectoriesSeen, 5u);  // 46, 47, 50, 48, 49
    EXPECT_EQ(p.DirectoriesWithBasicInfo, 4u);
    EXPECT_EQ(p.DirectoriesWithoutBasicInfo, 1u);
    EXPECT_EQ(p.DirectoriesTimeChanged, 1u);  // 46 only
    EXPECT_EQ(p.DirectoriesCreated, 4u);
    EXPECT_EQ(p.DirectoriesDeleted, 1u);
    EXPECT_EQ(p.Span, 30u);

    // A folder that is not created in the period.
    Program_State t;
    ASSERT_TRUE(Add_Signatures(t, {u"ProgramUpdatePath|\\Program Files\\|Same|2"}));
    t.g_UsnJrnl_Info_Array.push_back(Usn_Event(0).Path(folder).Attributes(u"Directory").Reasons({u"Basic_Info_Changed"}));
    t.g_UsnJrnl_Info_Array.push_back(Usn_Event(8).Path(u"\\Program Files\\Vendor\\Sub").Attributes(u"Directory")
                                         .Reasons({u"File_Created"}));
    Detection_Context other(t);
    Run_UsnJrnl_Periods(other);
    EXPECT_EQ(other.Program_Update_Period_Group_Array[0]->Periods[0]->FolderCreated, 0u);
}
