// The small rules the analysis is built from: short-name tests, the
// attribute words, the statements that change earlier rows, and the open
// transactions with their look-up of the removed directory entry.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ntfs/logfile/analysis/Analysis_Harness.h"
#include "ntfs/logfile/analysis/LogFile_Analysis.h"
#include "ntfs/logfile/analysis/LogFile_Analysis_Cases.h"
#include "ntfs/logfile/analysis/LogFile_Analysis_Update.h"
#include "ntfs/logfile/analysis/Transaction_Log_Group.h"
#include "platform/text.h"

namespace {

TEST(LogFile_Analysis_Names, ShortNameTail) {
    const struct {
        std::u16string name;
        bool expected;
    } cases[] = {
        {u"NEWTEX~1.TXT", true},  {u"DIR~2", true},          {u"~1.txt", true},     {u"a~9", true},
        {u"a~0.txt", false},      {u"a~1x.txt", false},      {u".x", false},        {u"x", false},
        {u"", false},             {u"file~1.txt.bak", false}, {u"NEWTEX~1", true},  {u"NEWTEX1~", false},
        {u"report~1.txt", true},  // a long name can carry the tail too
    };
    for (const auto& c : cases)
        EXPECT_EQ(Has_Short_Name_Tail(c.name), c.expected) << platform::Utf16_To_Utf8(c.name);
}

TEST(LogFile_Analysis_Names, DosShortName) {
    const struct {
        std::u16string name;
        bool expected;
    } cases[] = {
        {u"PROGRA~1", true},
        {u"NEWTEX~1.TXT", true},
        {u"ABC~1", true},
        {u"ABC~1.D", true},
        {u"A.B~1", true},          // a "." before the tilde is no extension
        {u"AB~1", false},          // tilde after 2 characters
        {u"ABCDEFG~1", false},     // tilde after 7
        {u"PROGRA~0", false},
        {u"PROGRA~X", false},
        {u"PROGRA~1X", false},     // goes on without a "." after the digit
        {u"PROGRA~1.TXT.BAK", false},
        {u"PROGRA~", false},
        {u"my~file.txt", false},   // a long name with a tilde elsewhere
        {u"Program Files", false},
        {u"", false},
        {u"\u65E5\u672C\u8A9E~1", true},   // three wide characters count as six
        {u"\u65E5\u672C~1.TXT", false},    // two count as four
        {u"\u00E9T\u00C9~1", true},        // Latin-1 characters count once
    };
    for (const auto& c : cases)
        EXPECT_EQ(Is_Short_File_Name(c.name), c.expected) << platform::Utf16_To_Utf8(c.name);
}

TEST(LogFile_Analysis_Names, AttributeWordOnlyForSingleKnownFlags) {
    EXPECT_EQ(File_Attribute_Word(0x1), u"ReadOnly");
    EXPECT_EQ(File_Attribute_Word(0x20), u"Archive");
    EXPECT_EQ(File_Attribute_Word(0x2000), u"NotIndexedContent");
    EXPECT_EQ(File_Attribute_Word(0x10000000), u"Directory");
    EXPECT_EQ(File_Attribute_Word(0x20000000), u"IndexView");
    EXPECT_EQ(File_Attribute_Word(0x10), u"");          // the $STANDARD_INFORMATION directory bit
    EXPECT_EQ(File_Attribute_Word(0x22), u"");          // a combination
    EXPECT_EQ(File_Attribute_Word(0x10000020), u"");
    EXPECT_EQ(File_Attribute_Word(0), u"");
}

// The path of a name in a directory is never longer than Windows can open
// (32,767 units); a directory whose own path is already past it counts as
// one without a path, so its names hang directly under the root.
TEST(LogFile_Analysis_Names, ParentPathRuleStopsAtTheLongestPath) {
    using namespace log_record_test;
    Global_Parsing_Context context;
    const std::u16string long_name(255, u'd');
    std::vector<Mft_Directory> chain;  // entry 40 + i at depth i + 1, path (i + 1) x 256 units
    for (std::uint64_t i = 0; i < 128; ++i)
        chain.push_back({40 + i, 1, i == 0 ? Root_Reference : Reference(40 + i - 1, 1), long_name});
    Index_Directories(context, chain);
    const std::uint64_t at_127 = Reference(40 + 126, 1);

    std::u16string path = u"untouched";
    Apply_Parent_Path_Rule(context, at_127, std::u16string(254, u'f'), path);
    EXPECT_EQ(path.size(), 32767u);
    Apply_Parent_Path_Rule(context, at_127, std::u16string(255, u'f'), path);
    EXPECT_EQ(path, u"");
    Apply_Parent_Path_Rule(context, Reference(40 + 127, 1), u"a.txt", path);
    EXPECT_EQ(path, u"\\a.txt");
    Apply_Parent_Path_Rule(context, Root_Reference, std::u16string(32767, u'r'), path);
    EXPECT_EQ(path, u"");
}

TEST(LogFile_Analysis_Update, StatementsCarryEscapedValuesAndLeaveTheRowAlone) {
    _log_info row;
    row.LSN = u"67132714";
    row.Event = u"Move(Before)";
    row.EventTime = u"2020-07-25 12:33:11";
    row.Detail = u"it's a, b";
    const _log_info before = row;
    EXPECT_EQ(Row_Update_Statement(Row_Update::Event, row), u"update LogFile set Event='Move(Before)' where LSN=67132714");
    EXPECT_EQ(Row_Update_Statement(Row_Update::EventTime, row),
              u"update LogFile set EventTime='2020-07-25 12:33:11' where LSN=67132714");
    row.Event = u"File Creation(File System Tunneling)";
    EXPECT_EQ(Row_Update_Statement(Row_Update::EventTime_Event_Detail, row),
              u"update LogFile set EventTime='2020-07-25 12:33:11', Event='File Creation(File System Tunneling)', "
              u"Detail='it''s a/ b' where LSN=67132714");
    EXPECT_EQ(before.Detail, u"it's a, b");
}

// The removal a deallocation is named by, as a plain scan over the group
// finds it: the first removal with a name that no later addition undoes.
const _log_info* First_Removal_By_Scan(const std::vector<_log_info>& records) {
    const auto is_removal = [](const _log_info& r) {
        return r.RedoInfo == u"Delete Index Entry Allocation" || r.RedoInfo == u"Delete Index Entry Root";
    };
    const auto is_addition = [](const _log_info& r) {
        return r.RedoInfo == u"Add Index Entry Allocation" || r.RedoInfo == u"Add Index Entry Root";
    };
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (!is_removal(records[i]) || records[i].FileName.empty()) continue;
        bool undone = false;
        for (std::size_t j = i + 1; j < records.size() && !undone; ++j)
            undone = is_addition(records[j]) && records[j].FileName == records[i].FileName;
        if (!undone) return &records[i];
    }
    return nullptr;
}

TEST(Transaction_Log_Group, RemovedEntryLookupAgreesWithAScanOverTheGroup) {
    const Log_Operation operations[] = {Log_Operation::Delete_Index_Entry_Allocation,
                                        Log_Operation::Delete_Index_Entry_Root,
                                        Log_Operation::Add_Index_Entry_Allocation, Log_Operation::Add_Index_Entry_Root,
                                        Log_Operation::Initialize_File_Record_Segment};
    const std::u16string names[] = {u"", u"a.txt", u"b.txt", u"c.txt"};
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        Transaction_Log_Group group(u"0x18");
        const int length = 1 + static_cast<int>(random() % 24);
        for (int i = 0; i < length; ++i) {
            _log_info r;
            r.LSN = platform::Format(u"%d", {i});
            const Log_Operation operation = operations[random() % 5];
            r.RedoInfo = LogFile_Operation_Name(operation);
            r.Redo_Operation = static_cast<std::uint16_t>(operation);
            r.FileName = names[random() % 4];
            group.Append(r);
            const _log_info* expected = First_Removal_By_Scan(group.Records());
            const _log_info* found = group.First_Removed_Entry();
            ASSERT_EQ(found == nullptr, expected == nullptr) << "round " << round << " record " << i;
            if (expected != nullptr) {
                ASSERT_EQ(found->LSN, expected->LSN) << "round " << round << " record " << i;
            }
        }
    }
}

TEST(Transaction_Log_Group, ListKeepsCreationOrderAndEndsGroupsByCommit) {
    Transaction_Log_Group_List list;
    const auto record = [](const char16_t* id, const char16_t* lsn) {
        _log_info r;
        r.TransactionID = id;
        r.LSN = lsn;
        return r;
    };
    list.Append(record(u"0x1", u"10"));
    list.Append(record(u"0x2", u"20"));
    list.Append(record(u"0x1", u"30"));
    list.Append(record(u"0x3", u"40"));
    ASSERT_EQ(list.Size(), 3u);
    ASSERT_NE(list.Find(u"0x1"), nullptr);
    EXPECT_EQ(list.Find(u"0x1")->Records().size(), 2u);

    list.Commit(u"0x2");
    list.Commit(u"0x9");  // no such group
    EXPECT_EQ(list.Find(u"0x2"), nullptr);
    std::vector<std::u16string> order;
    for (const Transaction_Log_Group& g : list) order.push_back(g.TransactionID);
    EXPECT_EQ(order, (std::vector<std::u16string>{u"0x1", u"0x3"}));

    // A later record of a committed transaction starts a new group at the end.
    list.Append(record(u"0x2", u"50"));
    order.clear();
    for (const Transaction_Log_Group& g : list) order.push_back(g.TransactionID);
    EXPECT_EQ(order, (std::vector<std::u16string>{u"0x1", u"0x3", u"0x2"}));
    EXPECT_EQ(list.Find(u"0x2")->Records().size(), 1u);
}

}  // namespace
