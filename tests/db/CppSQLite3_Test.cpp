#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sstream>
#include <string>

#include "db/CppSQLite3.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/text.h"
#include "support/Temp_Dir.h"

namespace {

// The exception a call raises, or none.
std::optional<CppSQLite3Exception> Raised(const std::function<void()>& call) {
    try {
        call();
    } catch (const CppSQLite3Exception& e) {
        return e;
    }
    return std::nullopt;
}

std::string Message_Of(const std::optional<CppSQLite3Exception>& e) {
    return e ? platform::Utf16_To_Utf8(e->Message()) : std::string("<nothing raised>");
}

class Wrapper : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(db.Open_With_Pragmas(dir.File("events.db")), 1);
        db.Run_Query(u"create table t (a INT PRIMARY KEY, b TEXT)");
        db.Run_Query(u"insert into t (a, b) values(1, 'one')");
        db.Run_Query(u"insert into t (a, b) values(2, NULL)");
    }

    Temp_Dir dir;
    CppSQLite3DB db;
};

}  // namespace

TEST(Sqlite_Result_Code_Name, NamesAndUnknown) {
    EXPECT_STREQ(Sqlite_Result_Code_Name(0), "SQLITE_OK");
    EXPECT_STREQ(Sqlite_Result_Code_Name(19), "SQLITE_CONSTRAINT");
    EXPECT_STREQ(Sqlite_Result_Code_Name(25), "SQLITE_RANGE");
    EXPECT_STREQ(Sqlite_Result_Code_Name(100), "SQLITE_ROW");
    EXPECT_STREQ(Sqlite_Result_Code_Name(101), "SQLITE_DONE");
    EXPECT_STREQ(Sqlite_Result_Code_Name(1000), "CPPSQLITE_ERROR");
    EXPECT_STREQ(Sqlite_Result_Code_Name(26), "UNKNOWN_ERROR");
    EXPECT_STREQ(Sqlite_Result_Code_Name(-1), "UNKNOWN_ERROR");

    const CppSQLite3Exception original(19, u"why");
    const CppSQLite3Exception copy(original);
    EXPECT_EQ(copy.Code(), 19);
    EXPECT_EQ(copy.Message(), u"SQLITE_CONSTRAINT[19]: why");
}

TEST_F(Wrapper, OpenAppliesTheTuning) {
    const auto value = [&](const char* pragma) {
        CppSQLite3Table table = db.Fetch_Table(pragma);
        table.Select_Row(0);
        return std::string(table.Text_At(0));
    };
    EXPECT_EQ(value("PRAGMA synchronous"), "0");
    EXPECT_EQ(value("PRAGMA temp_store"), "2");
    EXPECT_EQ(value("PRAGMA journal_mode"), "off");
    EXPECT_EQ(value("PRAGMA busy_timeout"), "200");
}

TEST_F(Wrapper, PrimaryKeyViolationRaisesTheConstraintCode) {
    const auto e = Raised([&] { db.Run_Query(u"insert into t (a, b) values(1, 'again')"); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Code(), SQLITE_CONSTRAINT);
    EXPECT_EQ(Message_Of(e).rfind("SQLITE_CONSTRAINT[19]: ", 0), 0u) << Message_Of(e);
    // The first row stays; nothing was left unfinalized.
    CppSQLite3Table table = db.Fetch_Table("select b from t where a = 1");
    ASSERT_EQ(table.Row_Count(), 1);
    EXPECT_STREQ(table.Text_At(0), "one");

    const auto bad = Raised([&] { db.Run_Query(u"select * from missing_table"); });
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->Code(), SQLITE_ERROR);
    EXPECT_EQ(Message_Of(bad), "SQLITE_ERROR[1]: no such table: missing_table");
    EXPECT_NO_THROW(db.Close_Database());
}

TEST_F(Wrapper, QueryStepsAndChecksItsColumns) {
    CppSQLite3Query none = db.Run_Query(u"select a, b from t where a > 99");
    EXPECT_TRUE(none.At_End());
    EXPECT_EQ(none.Column_Count(), 2);

    CppSQLite3Query query = db.Run_Query(u"select a, b from t order by a");
    ASSERT_FALSE(query.At_End());
    EXPECT_EQ(query.Type_At(0), SQLITE_INTEGER);
    EXPECT_EQ(sqlite3_column_int(query.Statement(), 0), 1);
    int length = 0;
    const auto* bytes = static_cast<const char*>(query.Blob_At(1, &length));
    EXPECT_EQ(std::string(bytes, length), "one");
    query.Advance();
    ASSERT_FALSE(query.At_End());
    EXPECT_EQ(query.Type_At(1), SQLITE_NULL);
    query.Advance();
    EXPECT_TRUE(query.At_End());

    for (const int column : {-1, 2}) {
        EXPECT_EQ(Message_Of(Raised([&] { query.Type_At(column); })),
                  "CPPSQLITE_ERROR[1000]: Invalid field index requested");
        EXPECT_EQ(Message_Of(Raised([&] { query.Blob_At(column); })),
                  "CPPSQLITE_ERROR[1000]: Invalid field index requested");
    }

    query.Release_Statement();
    EXPECT_EQ(query.Statement(), nullptr);
    EXPECT_EQ(Message_Of(Raised([&] { query.Advance(); })), "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer");
    EXPECT_EQ(Message_Of(Raised([&] { query.Type_At(0); })), "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer");
    EXPECT_NO_THROW(query.Release_Statement());
}

TEST_F(Wrapper, FailingStepFinalizesAndRaises) {
    db.Run_Query(u"insert into t (a, b) values(-9223372036854775808, 'min')");
    CppSQLite3Query query = db.Run_Query(u"select abs(a) from t order by a desc");
    ASSERT_FALSE(query.At_End());
    query.Advance();
    const auto e = Raised([&] { query.Advance(); });  // abs() of the minimum overflows
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Code(), SQLITE_ERROR);
    EXPECT_EQ(Message_Of(e), "SQLITE_ERROR[1]: integer overflow");
    EXPECT_EQ(query.Statement(), nullptr);
    EXPECT_NO_THROW(db.Close_Database());  // no statement left behind
}

TEST_F(Wrapper, TableRowsFieldsAndNulls) {
    db.Run_Query(u"insert into t (a, b) values(3, 'caf\u00E9 \xD83D\xDE00')");
    CppSQLite3Table table = db.Fetch_Table("select a, b from t order by a");
    EXPECT_EQ(table.Column_Count(), 2);
    ASSERT_EQ(table.Row_Count(), 3);
    EXPECT_STREQ(table.Text_At(1), "one");  // row 0 before any selection
    table.Select_Row(1);
    EXPECT_EQ(table.Text_At(1), nullptr);
    EXPECT_EQ(table.Wide_Text_At(1), u"");
    EXPECT_EQ(table.Wide_Text_At(0), u"2");
    table.Select_Row(2);
    EXPECT_EQ(table.Wide_Text_At(1), u"caf\u00E9 \xD83D\xDE00");

    for (const std::int64_t row : {std::int64_t{-1}, table.Row_Count()})
        EXPECT_EQ(Message_Of(Raised([&] { table.Select_Row(row); })),
                  "CPPSQLITE_ERROR[1000]: Invalid row index requested");
    for (const int column : {-1, 2})
        EXPECT_EQ(Message_Of(Raised([&] { table.Wide_Text_At(column); })),
                  "CPPSQLITE_ERROR[1000]: Invalid field index requested");

    CppSQLite3Table empty = db.Fetch_Table("select a, b from t where a > 99");
    EXPECT_EQ(empty.Row_Count(), 0);
    EXPECT_EQ(Message_Of(Raised([&] { empty.Select_Row(0); })), "CPPSQLITE_ERROR[1000]: Invalid row index requested");
}

TEST_F(Wrapper, LongFieldIsCutAt4096UnitsNeverInsideAPair) {
    // 4095 'x' then a pair: the cut at 4096 would split it.
    db.Run_Query(platform::Format(u"insert into t (a, b) values(7, '%s')",
                                  {std::u16string(4095, u'x') + u"\xD83D\xDE00" + u"tail"}));
    db.Run_Query(platform::Format(u"insert into t (a, b) values(8, '%s')", {std::u16string(5000, u'y')}));
    CppSQLite3Table table = db.Fetch_Table("select b from t where a >= 7 order by a");
    ASSERT_EQ(table.Row_Count(), 2);
    table.Select_Row(0);
    EXPECT_EQ(table.Wide_Text_At(0), std::u16string(4095, u'x'));
    table.Select_Row(1);
    EXPECT_EQ(table.Wide_Text_At(0), std::u16string(4096, u'y'));
}

TEST_F(Wrapper, FetchTableOfAFailingStatementIsEmpty) {
    CppSQLite3Table table = db.Fetch_Table("select * from missing_table");
    EXPECT_FALSE(table.Has_Results());
    EXPECT_EQ(table.Row_Count(), 0);
    EXPECT_EQ(table.Column_Count(), 0);
    EXPECT_EQ(Message_Of(Raised([&] { table.Select_Row(0); })), "CPPSQLITE_ERROR[1000]: Null Results pointer");
    EXPECT_EQ(Message_Of(Raised([&] { table.Text_At(0); })), "CPPSQLITE_ERROR[1000]: Null Results pointer");
    EXPECT_EQ(Message_Of(Raised([&] { table.Wide_Text_At(0); })), "CPPSQLITE_ERROR[1000]: Null Results pointer");
}

TEST_F(Wrapper, MovingHandsOverTheHandle) {
    CppSQLite3Query first = db.Run_Query(u"select a from t order by a");
    sqlite3_stmt* const statement = first.Statement();
    CppSQLite3Query second(std::move(first));
    EXPECT_EQ(first.Statement(), nullptr);
    EXPECT_EQ(second.Statement(), statement);

    CppSQLite3Query third = db.Run_Query(u"select b from t");
    third = std::move(second);  // finalizes third's own statement
    EXPECT_EQ(second.Statement(), nullptr);
    EXPECT_EQ(third.Statement(), statement);
    EXPECT_EQ(third.Column_Count(), 1);
    EXPECT_FALSE(third.At_End());
    third.Advance();
    EXPECT_FALSE(third.At_End());

    CppSQLite3Table table = db.Fetch_Table("select a from t");
    CppSQLite3Table other(std::move(table));
    EXPECT_FALSE(table.Has_Results());
    EXPECT_EQ(Message_Of(Raised([&] { table.Select_Row(0); })), "CPPSQLITE_ERROR[1000]: Null Results pointer");
    CppSQLite3Table last = db.Fetch_Table("select b from t");
    last = std::move(other);
    EXPECT_FALSE(other.Has_Results());
    ASSERT_EQ(last.Row_Count(), 2);
    last.Select_Row(1);
    EXPECT_STREQ(last.Text_At(0), "2");

    // Exactly one owner of each statement is left: closing would fail with one
    // still open, and the sanitizers catch a second finalize.
    first = CppSQLite3Query();
    third = CppSQLite3Query();
    EXPECT_NO_THROW(db.Close_Database());
}

TEST(Wrapper_Open, GarbageFileOpensButIsNotTuned) {
    Temp_Dir dir;
    std::string garbage(4096, '\0');
    for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 37 + 11);
    const std::string path = dir.Write("garbage.db", garbage);

    std::ostringstream console, messages;
    platform::Scoped_Output capture(console, messages);
    CppSQLite3DB db;
    EXPECT_EQ(db.Open_With_Pragmas(path), 0);
    EXPECT_EQ(messages.str(), "SQLITE ERROR\n");
    EXPECT_EQ(console.str(), "");
    // The connection stays open; every statement on it then fails.
    EXPECT_TRUE(db.Is_Open());
    const auto e = Raised([&] { db.Run_Query(u"create table t (a INT)"); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Code(), SQLITE_NOTADB);
    EXPECT_EQ(Read_File(path), garbage);
    EXPECT_NO_THROW(db.Close_Database());
    EXPECT_FALSE(db.Is_Open());
}

TEST(Wrapper_Open, UnopenableFileRaisesAndStaysClosed) {
    Temp_Dir dir;
    for (const std::string& path : {dir.File("missing/folder/out.db"), dir.Path()}) {
        CppSQLite3DB db;
        const auto e = Raised([&] { db.Open_With_Pragmas(path); });
        ASSERT_TRUE(e) << path;
        EXPECT_EQ(e->Code(), SQLITE_CANTOPEN);
        EXPECT_EQ(Message_Of(e), "SQLITE_CANTOPEN[14]: unable to open database file");
        EXPECT_FALSE(db.Is_Open());
    }
}

TEST(Wrapper_Open, ClosedDatabaseRefusesStatements) {
    Temp_Dir dir;
    CppSQLite3DB db;
    EXPECT_NO_THROW(db.Close_Database());
    EXPECT_EQ(Message_Of(Raised([&] { db.Run_Query(u"select 1"); })), "CPPSQLITE_ERROR[1000]: Database not open");
    EXPECT_EQ(Message_Of(Raised([&] { db.Fetch_Table("select 1"); })), "CPPSQLITE_ERROR[1000]: Database not open");
    ASSERT_EQ(db.Open_With_Pragmas(dir.File("x.db")), 1);
    db.Close_Database();
    EXPECT_FALSE(db.Is_Open());
    EXPECT_EQ(Message_Of(Raised([&] { db.Run_Query(u"select 1"); })), "CPPSQLITE_ERROR[1000]: Database not open");
    EXPECT_TRUE(platform::Path_Exists(dir.File("x.db")));
}

TEST_F(Wrapper, KeptStatementsArePreparedOnceAndFinalizedOnClose) {
    CppSQLite3Statement* insert = db.Kept_Statement(u"insert into t (a, b) values(?, ?)");
    ASSERT_NE(insert, nullptr);
    EXPECT_EQ(db.Kept_Statement(std::u16string(u"insert into t (a, b) values(?, ?)")), insert);
    EXPECT_NE(db.Kept_Statement(u"update t set b = ? where a = ?"), insert);

    // Used and left reset, it is no obstacle to a transaction's end.
    sqlite3_exec(db.Connection(), "BEGIN;", nullptr, nullptr, nullptr);
    insert->Bind_Int64(1, 3);
    insert->Bind_Text(2, "three");
    EXPECT_EQ(insert->Step_Code(), SQLITE_DONE);
    insert->Reset();
    EXPECT_EQ(sqlite3_exec(db.Connection(), "COMMIT;", nullptr, nullptr, nullptr), SQLITE_OK);

    // A statement over a missing table is not kept, and is tried again later.
    EXPECT_EQ(db.Kept_Statement(u"insert into later (a) values(?)"), nullptr);
    db.Run_Query(u"create table later (a INT)");
    EXPECT_NE(db.Kept_Statement(u"insert into later (a) values(?)"), nullptr);

    // Closing finalizes them (a close with live statements would fail).
    EXPECT_NO_THROW(db.Close_Database());
    EXPECT_FALSE(db.Is_Open());
    EXPECT_EQ(db.Kept_Statement(u"insert into t (a, b) values(?, ?)"), nullptr);
    EXPECT_EQ(db.Open_With_Pragmas(dir.File("events.db")), 1);
    EXPECT_NE(db.Kept_Statement(u"insert into t (a, b) values(?, ?)"), nullptr);
    CppSQLite3Table table = db.Fetch_Table("select b from t where a = 3");
    ASSERT_EQ(table.Row_Count(), 1);
    EXPECT_STREQ(table.Text_At(0), "three");
}
