// The prepared insert of the change-journal stage stores exactly the rows that
// the per-row statements of Insert_UsnJrnl_Row store.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ntfs/usnjrnl/Usn_Test_Support.h"
#include "output/Event_Tables.h"
#include "output/UsnJrnl_Row_Inserter.h"
#include "platform/text.h"

using usn_test::Output_Db;

namespace {

_USNJRNLINFO Row(std::u16string usn, std::u16string name, std::u16string path = u"\\dir\\x") {
    _USNJRNLINFO r;
    r.TimeStamp = u"2020-07-31 12:34:56";
    r.USN = std::move(usn);
    r.FileName = std::move(name);
    r.FullPath = std::move(path);
    r.Event = u"File_Created / File_Closed";
    r.SourceInfo = u"Normal";
    r.FileAttr = u"Archive";
    r.CarvingFlag = u"";
    r.FileReferenceNumber = u"0x0001000000000040";
    r.ParentFileReferenceNumber = u"0x0005000000000005";
    return r;
}

// Every column with its storage class, the exact bytes of the texts.
constexpr char Exact_Rows[] =
    "select typeof(USN), quote(USN), typeof(TimeStamp), hex(TimeStamp), hex(FileName), hex(FullPath), "
    "hex(Event), hex(SourceInfo), hex(FileAttr), typeof(CarvingFlag), hex(CarvingFlag), hex(FileReferenceNumber), "
    "hex(ParentFileReferenceNumber) from UsnJrnl order by rowid";

TEST(UsnJrnl_Row_Inserter, Stores_The_Rows_Of_The_Per_Row_Statements) {
    const std::vector<_USNJRNLINFO> rows = {
        Row(u"0", u"plain.txt"),
        Row(u"8", u"it's", u""),
        Row(u"16", u"a,b''c", u"\\a,b\\it's"),
        Row(u"24", std::u16string(u"cut\0here", 8)),
        Row(u"32", u"\u00E9t\u00E9 \u65E5\u672C"),
        Row(u"40", u"lone \xD800 surrogate"),
        Row(u"44", u"trailing \xDC00"),
        Row(u"52", u"pair \xD83D\xDE00 kept"),
        Row(u"48", u"slash/already"),
        Row(u"8", u"same USN again"),
        Row(u"9223372036854775807", u"largest integer"),
        Row(u"9223372036854775808", u"too large for an integer"),
        Row(u"18446744073709551615", u"largest u64"),
        Row(u"18446744073709551614", u"same real as the largest"),
        Row(u"0056", u"leading zeros"),
        Row(u"", u"empty USN"),
        Row(u"12a", u"not a number"),
        Row(u"64", u""),
    };
    Temp_Dir dir;
    Output_Db inline_rows(dir, "inline.db");
    Output_Db bound_rows(dir, "bound.db");
    std::vector<int> inline_results, bound_results;
    {
        UsnJrnl_Row_Inserter inserter(bound_rows.Db());
        for (const auto& r : rows) {
            inline_results.push_back(Insert_UsnJrnl_Row(inline_rows.Db(), r));
            bound_results.push_back(inserter.Insert(r));
        }
    }
    EXPECT_EQ(bound_results, inline_results);
    const auto expected = inline_rows.Rows(Exact_Rows);
    EXPECT_EQ(expected.size(), 14u);  // the repeated USNs, the empty and the invalid one are refused
    EXPECT_EQ(bound_rows.Rows(Exact_Rows), expected);
    EXPECT_EQ(bound_rows.Rows("select FileName from UsnJrnl where USN = 16"), std::vector<std::string>{"a/b''c"});
}

// Rows of every kind the single-row test has, repeated with USNs that recur
// inside one multi-row statement and across statements, and with USNs that
// only the inline statement can store among them.
std::vector<_USNJRNLINFO> Mixed_Rows(std::size_t count) {
    const std::u16string names[] = {u"plain.txt", u"it's", u"a,b''c", std::u16string(u"cut\0here", 8),
                                    u"\u00E9t\u00E9 \u65E5\u672C", u"lone \xD800 surrogate", u"pair \xD83D\xDE00 kept",
                                    u"", u"slash/already"};
    std::vector<_USNJRNLINFO> rows;
    for (std::size_t i = 0; i < count; ++i) {
        std::u16string usn = std::u16string(platform::Ascii(std::to_string(i % 97 * 8)));
        if (i % 41 == 40) usn = u"";
        if (i % 53 == 52) usn = u"1e3";
        const std::u16string& name = names[i % std::size(names)];
        rows.push_back(Row(usn, name, i % 3 == 0 ? u"" : u"\\dir\\" + name));
    }
    return rows;
}

TEST(UsnJrnl_Row_Inserter, Batches_Store_The_Rows_Of_The_Per_Row_Statements) {
    // 200 rows: three whole multi-row statements and single-row ones for the
    // rest; the rows that go in inline break the statements up in between.
    const auto rows = Mixed_Rows(200);
    Temp_Dir dir;
    Output_Db inline_rows(dir, "inline.db");
    for (const auto& r : rows) Insert_UsnJrnl_Row(inline_rows.Db(), r);
    const auto expected = inline_rows.Rows(Exact_Rows);
    // Every USN of 0..768 in steps of 8 once, and "1e3" once (the real 1000.0).
    ASSERT_EQ(expected.size(), 98u);

    for (const std::size_t batch_rows : {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{65}, rows.size()}) {
        Output_Db bound_rows(dir, "bound" + std::to_string(batch_rows) + ".db");
        {
            UsnJrnl_Row_Inserter inserter(bound_rows.Db());
            ASSERT_TRUE(inserter.Prepared());
            Stored_UsnJrnl_Rows batch;
            for (const auto& r : rows) {
                batch.Add(r);
                if (batch.Size() == batch_rows) {
                    inserter.Insert(batch);
                    batch.Clear();
                }
            }
            inserter.Insert(batch);
        }
        EXPECT_EQ(bound_rows.Rows(Exact_Rows), expected) << batch_rows << " rows a batch";
    }
}

TEST(UsnJrnl_Row_Inserter, Unprepared_Batches_Go_In_Through_The_Inline_Statement) {
    // The table appears only after the inserter failed to prepare: its stored
    // values are read back and go in one statement text at a time.
    const auto rows = Mixed_Rows(30);
    Temp_Dir dir;
    Output_Db inline_rows(dir, "inline.db");
    for (const auto& r : rows) Insert_UsnJrnl_Row(inline_rows.Db(), r);
    CppSQLite3DB db;
    db.Open_With_Pragmas(dir.File("late.db"));
    UsnJrnl_Row_Inserter inserter(db);
    ASSERT_FALSE(inserter.Prepared());
    db.Run_Query(Event_Table_Sql::Create_UsnJrnl);
    Stored_UsnJrnl_Rows batch;
    for (const auto& r : rows) batch.Add(r);
    inserter.Insert(batch);
    EXPECT_EQ(Query_Rows(dir.File("late.db"), Exact_Rows), inline_rows.Rows(Exact_Rows));
}

TEST(UsnJrnl_Row_Inserter, Without_A_Table_Every_Row_Is_Refused) {
    Temp_Dir dir;
    CppSQLite3DB db;
    db.Open_With_Pragmas(dir.File("empty.db"));
    UsnJrnl_Row_Inserter inserter(db);
    EXPECT_EQ(inserter.Insert(Row(u"1", u"x")), 1);
    CppSQLite3DB closed;
    UsnJrnl_Row_Inserter on_closed(closed);
    EXPECT_EQ(on_closed.Insert(Row(u"1", u"x")), 1);
}

TEST(UsnJrnl_Row_Inserter, Stored_Value_Is_What_The_Literal_Stores) {
    EXPECT_EQ(Stored_Sql_Value(u"it's, ''here''"), u"it's/ ''here''");
    EXPECT_EQ(Stored_Sql_Value(std::u16string(u"a\0b", 3)), u"a");
}

}  // namespace
