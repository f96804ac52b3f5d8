// The LogFile rows and row changes made through statements kept on the
// connection, with their values bound as text, against those made through
// the statement texts with the values inline: the table must hold the same
// bytes, storage classes and keys either way.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "db/CppSQLite3.h"
#include "db/Scoped_Transaction.h"
#include "ntfs/logfile/analysis/LogFile_Analysis_Update.h"
#include "output/Event_Tables.h"
#include "platform/text.h"
#include "support/Sqlite_Query.h"
#include "support/Temp_Dir.h"

namespace {

// Values a log can carry into a row: the escaping's own characters, a NUL
// that cuts the text, text beyond ASCII (a surrogate pair, unpaired halves),
// and texts that look like SQL or like a format.
const std::vector<std::u16string>& Hostile_Values() {
    static const std::vector<std::u16string> values = {
        u"",
        u"O'Brien.txt",
        u"'",
        u"''",
        u"a''b",
        u"it's a, b",
        u",",
        u",,a,,",
        u"x/y",
        u"a/b,c",
        u"say \"hi\"",
        std::u16string(u"ab\0cd", 5),
        std::u16string(u"\0after", 6),
        std::u16string(u"\u00E9,\0'x", 5),
        u"\uD55C\uAE00.txt",
        u"\u041F\u0440\u0438\u0432\u0435\u0442, '\u043C\u0438\u0440'",
        u"caf\u00E9 cr\u00E8me",
        u"\xD83D\xDE00 smile, 'quoted'",
        u"ab\xD800",
        u"\xDC00" u"cd",
        u"\xDBFF\xDBFF',x",
        u"x'); DROP TABLE LogFile;--",
        u"%s%d%I64u",
        u"\\dir\\a,b.txt",
        u"tab\there\r\nline",
        u"\u007F\u0080\u00FF",
        std::u16string(3000, u',') + u"'" + std::u16string(3000, u'\u00E4'),
    };
    return values;
}

// Each column as its storage class and bytes; the key also as SQLite quotes it.
std::vector<std::string> Dump(const std::string& db_path) {
    std::string sql = "select quote(LSN), typeof(LSN)";
    for (const char* column : {"EventTime", "Event", "Detail", "FileName", "FullPath", "CreateTime", "ModifiedTIme",
                               "MFT_ModifiedTime", "AccessTime", "RedoInfo", "TargetVCN", "MFT_ClusterIndex"})
        sql += std::string(", typeof(") + column + ") || ':' || hex(" + column + ")";
    return Query_Rows(db_path, sql + " from LogFile order by rowid");
}

_log_info Row(const std::u16string& lsn, const std::u16string& value, std::uint64_t cluster_index) {
    _log_info r;
    r.LSN = lsn;
    r.EventTime = r.Event = r.Detail = r.FileName = r.FullPath = value;
    r.CreateTime = r.ModifiedTime = r.MFT_ModifiedTime = r.AccessTime = value;
    r.RedoInfo = u"Update Resident Value" + value;
    r.TargetVCN = value + u"0x1A";
    r.MFT_ClusterIndex = cluster_index;
    return r;
}

// Two databases with the LogFile table: one written the bound way, one the
// statement-text way.
struct Two_Databases {
    Temp_Dir dir;
    std::string bound_path = dir.File("bound.db");
    std::string text_path = dir.File("text.db");
    CppSQLite3DB bound;
    CppSQLite3DB text;

    Two_Databases() {
        bound.Open_With_Pragmas(bound_path);
        text.Open_With_Pragmas(text_path);
        bound.Run_Query(Event_Table_Sql::Create_LogFile);
        text.Run_Query(Event_Table_Sql::Create_LogFile);
    }
};

// Keys: ordinary, the largest 64-bit ones (stored as reals above 2^63, where
// 2^63 and 2^63 + 1 are the same real, so the second is a key already
// stored), leading zeros (the same integer as "7"), and texts that are no
// plain number, which both ways hand to the statement text.
const std::vector<std::u16string> Keys = {
    u"7",      u"0",   u"4096", u"9223372036854775807", u"9223372036854775808", u"9223372036854775809",
    u"18446744073709551615", u"007", u"",   u"12a",  u"-5",                  u" 9",                   u"1e3",
};

}  // namespace

TEST(LogFile_Bound_Rows, InsertedRowsEqualThoseOfTheStatementText) {
    Two_Databases d;
    const std::uint64_t cluster_indexes[] = {0, 6, 4294967296ull, 18446744073709551615ull};
    std::vector<int> bound_results;
    std::vector<int> text_results;
    {
        // As the stage runs them: inside one transaction.
        Scoped_Transaction bound_transaction(d.bound);
        Scoped_Transaction text_transaction(d.text);
        const auto insert_both = [&](const _log_info& row) {
            bound_results.push_back(Insert_LogFile_Row(d.bound, row));
            text_results.push_back(Insert_LogFile_Row_As_Text(d.text, row));
        };
        const std::vector<std::u16string>& values = Hostile_Values();
        for (std::size_t i = 0; i < values.size(); ++i)
            insert_both(Row(platform::Format(u"%I64u", {100 + i}), values[i], cluster_indexes[i % 4]));
        for (std::size_t k = 0; k < Keys.size(); ++k) insert_both(Row(Keys[k], values[k % values.size()], k));
        // A key already stored is refused, and the rows after it still go in.
        insert_both(Row(u"100", u"second row of 100", 0));
        insert_both(Row(u"18446744073709551615", u"again", 0));
        insert_both(Row(u"5000", u"after the refused rows", 0));
    }
    // The prepared insert was really used, and kept on the connection.
    EXPECT_NE(sqlite3_next_stmt(d.bound.Connection(), nullptr), nullptr);

    EXPECT_EQ(bound_results, text_results);
    // Spot checks that the comparison covers what matters: a refused second
    // 2^63, a refused empty key, and the first two rows.
    EXPECT_EQ(text_results[Hostile_Values().size() + 5], 1);
    EXPECT_EQ(text_results[Hostile_Values().size() + 8], 1);
    const std::vector<std::string> bound_rows = Dump(d.bound_path);
    const std::vector<std::string> text_rows = Dump(d.text_path);
    ASSERT_FALSE(text_rows.empty());
    EXPECT_EQ(text_rows[0].substr(0, 12), "100|integer|");
    EXPECT_NE(text_rows[1].find("text:4F27427269656E2E747874"), std::string::npos);  // O'Brien.txt, one quote
    ASSERT_EQ(bound_rows.size(), text_rows.size());
    for (std::size_t i = 0; i < text_rows.size(); ++i) EXPECT_EQ(bound_rows[i], text_rows[i]) << "row " << i;
}

TEST(LogFile_Bound_Rows, UpdatedRowsEqualThoseOfTheStatementText) {
    Two_Databases d;
    const std::vector<std::u16string> lsns = {u"7", u"9223372036854775808", u"18446744073709551615", u"4096"};
    for (const std::u16string& lsn : lsns) {
        Insert_LogFile_Row_As_Text(d.bound, Row(lsn, u"before", 0));
        Insert_LogFile_Row_As_Text(d.text, Row(lsn, u"before", 0));
    }
    const std::vector<std::string> unchanged = Dump(d.text_path);
    // Stored rows, a key with no row, and keys that are no plain number.
    std::vector<std::u16string> targets = lsns;
    targets.insert(targets.end(), {u"8", u"007", u"", u"12a", u"-5"});
    std::vector<bool> bound_results;
    std::vector<bool> text_results;
    const std::vector<std::u16string>& values = Hostile_Values();
    std::size_t v = 0;
    for (const Row_Update update : {Row_Update::Event, Row_Update::EventTime, Row_Update::EventTime_Event_Detail}) {
        for (const std::u16string& lsn : targets) {
            const std::u16string& a = values[v++ % values.size()];
            const std::u16string& b = values[v++ % values.size()];
            const std::u16string& c = values[v++ % values.size()];
            const Row_Update_Values change{.LSN = lsn, .EventTime = a, .Event = b, .Detail = c};
            bound_results.push_back(Update_Earlier_Row(d.bound, update, change));
            text_results.push_back(Update_Earlier_Row_As_Text(d.text, update, change));
        }
    }
    EXPECT_EQ(bound_results, text_results);
    EXPECT_FALSE(text_results[6]);  // an empty key makes the statement text invalid
    EXPECT_EQ(Dump(d.bound_path), Dump(d.text_path));
    EXPECT_NE(Dump(d.text_path), unchanged);
}

TEST(LogFile_Bound_Rows, RefusedChangesAreReportedAsBefore) {
    Two_Databases d;
    EXPECT_EQ(Insert_LogFile_Row(d.bound, Row(u"7", u"a", 0)), 0);
    const Row_Update_Values change{.LSN = u"7", .EventTime = u"2024-01-01 10:00:00"};
    EXPECT_TRUE(Update_Earlier_Row(d.bound, Row_Update::EventTime, change));
    // A trigger made after the statements were prepared still applies to them.
    d.bound.Run_Query(u"create trigger refuse before update on LogFile begin select raise(abort, 'no'); end");
    d.bound.Run_Query(u"create trigger refuse_insert before insert on LogFile begin select raise(abort, 'no'); end");
    EXPECT_FALSE(Update_Earlier_Row(d.bound, Row_Update::EventTime, change));
    EXPECT_EQ(Insert_LogFile_Row(d.bound, Row(u"8", u"b", 0)), 1);
    EXPECT_EQ(Query_Rows(d.bound_path, "select LSN, EventTime from LogFile"),
              (std::vector<std::string>{"7|2024-01-01 10:00:00"}));

    // Without the table nothing can be prepared: the statement text is run,
    // and refused as before.
    CppSQLite3DB empty;
    empty.Open_With_Pragmas(d.dir.File("empty.db"));
    EXPECT_EQ(Insert_LogFile_Row(empty, Row(u"7", u"a", 0)), 1);
    EXPECT_FALSE(Update_Earlier_Row(empty, Row_Update::Event, change));
}
