#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "db/CppSQLite3.h"
#include "platform/text.h"
#include "support/Temp_Dir.h"

namespace {

class Statement : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(db.Open_With_Pragmas(dir.File("statement.db")), 1);
        db.Run_Query(u"create table t (a INT PRIMARY KEY, b TEXT)");
    }

    // Rows of "select a, b from t order by a", each "a|b" with NULL as "NULL".
    std::vector<std::string> Rows() {
        std::vector<std::string> rows;
        CppSQLite3Statement select(db, "select a, b from t order by a");
        while (select.Step()) {
            const std::string_view b = select.Column_Text(1);
            rows.push_back(std::to_string(select.Column_Int64(0)) + "|" +
                           (b.data() == nullptr ? std::string("NULL") : std::string(b)));
        }
        return rows;
    }

    template <typename Call>
    std::string Raised_Message(Call&& call) {
        try {
            call();
        } catch (const CppSQLite3Exception& e) {
            return platform::Utf16_To_Utf8(e.Message());
        }
        return "<nothing raised>";
    }

    Temp_Dir dir;
    CppSQLite3DB db;
};

}  // namespace

TEST_F(Statement, OnePreparedInsertIsBoundSteppedAndResetRowAfterRow) {
    CppSQLite3Statement insert(db, u"insert into t (a, b) values(?, ?)");
    ASSERT_TRUE(insert.Is_Prepared());
    const std::string texts[] = {"one", "", "three"};
    for (int i = 0; i < 3; ++i) {
        insert.Bind_Int64(1, i + 1);
        insert.Bind_Text(2, texts[i]);
        EXPECT_FALSE(insert.Step());
        insert.Reset();
    }
    // A reset keeps the bindings: the same row again is a refused key.
    EXPECT_EQ(insert.Step_Code(), SQLITE_CONSTRAINT);
    insert.Reset();
    insert.Bind_Int64(1, 4);
    insert.Bind_Null(2);
    EXPECT_EQ(insert.Step_Code(), SQLITE_DONE);
    insert.Reset();
    // Cleared bindings are NULL.
    insert.Clear_Bindings();
    insert.Bind_Int64(1, 5);
    EXPECT_FALSE(insert.Step());
    // An empty text is stored as '' and not as NULL.
    EXPECT_EQ(Rows(), (std::vector<std::string>{"1|one", "2|", "3|three", "4|NULL", "5|NULL"}));
}

TEST_F(Statement, GoesWithItsStatementFinalizedAndMovesItsStatementAlong) {
    std::optional<CppSQLite3Statement> select;
    select.emplace(db, u"select a from t");
    // A connection with a live statement cannot close.
    EXPECT_EQ(Raised_Message([&] { db.Close_Database(); }).rfind("SQLITE_BUSY[5]: ", 0), 0u);
    CppSQLite3Statement moved(std::move(*select));
    EXPECT_FALSE(select->Is_Prepared());
    EXPECT_TRUE(moved.Is_Prepared());
    select.reset();
    EXPECT_NE(Raised_Message([&] { db.Close_Database(); }), "<nothing raised>");
    moved = CppSQLite3Statement();
    EXPECT_EQ(Raised_Message([&] { db.Close_Database(); }), "<nothing raised>");
    EXPECT_FALSE(db.Is_Open());
}

TEST_F(Statement, FailuresRaiseTheLibrarysCodeAndMessage) {
    EXPECT_EQ(Raised_Message([&] { CppSQLite3Statement(db, u"selec a from t"); }),
              "SQLITE_ERROR[1]: near \"selec\": syntax error");
    EXPECT_EQ(Raised_Message([&] { CppSQLite3Statement(db, "select a from missing"); }),
              "SQLITE_ERROR[1]: no such table: missing");
    EXPECT_FALSE(CppSQLite3Statement::Try_Prepare(db, u"select a from missing").Is_Prepared());
    EXPECT_FALSE(CppSQLite3Statement::Try_Prepare(db, "").Is_Prepared());

    CppSQLite3Statement insert(db, u"insert into t (a, b) values(?, ?)");
    EXPECT_EQ(Raised_Message([&] { insert.Bind_Int64(3, 1); }), "SQLITE_RANGE[25]: column index out of range");
    insert.Bind_Int64(1, 1);
    EXPECT_FALSE(insert.Step());
    insert.Reset();
    EXPECT_EQ(Raised_Message([&] { insert.Step(); }), "SQLITE_CONSTRAINT[19]: UNIQUE constraint failed: t.a");
    insert.Reset();

    CppSQLite3Statement none;
    EXPECT_EQ(Raised_Message([&] { none.Step(); }), "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer");
    CppSQLite3DB closed;
    EXPECT_EQ(Raised_Message([&] { CppSQLite3Statement(closed, u"select 1"); }),
              "CPPSQLITE_ERROR[1000]: Database not open");
    EXPECT_FALSE(CppSQLite3Statement::Try_Prepare(closed, u"select 1").Is_Prepared());
}

TEST_F(Statement, TextsRoundTripInUtf16AndUtf8AndAValueKeepsItsType) {
    const std::u16string wide = u"\u00E9t\u00E9 \u65E5\u672C \xD83D\xDE00";
    CppSQLite3Statement insert(db, u"insert into t (a, b) values(?, ?)");
    insert.Bind_Int64(1, 1);
    insert.Bind_Text16(2, wide);
    EXPECT_FALSE(insert.Step());
    insert.Reset();

    CppSQLite3Statement select(db, u"select b, a, a + 0.5 from t");
    ASSERT_TRUE(select.Step());
    EXPECT_EQ(select.Column_Type(0), SQLITE_TEXT);
    EXPECT_EQ(select.Column_Text(0), platform::Utf16_To_Utf8(wide));
    const CppSQLite3Value integer = select.Column_Value(1);
    const CppSQLite3Value real = select.Column_Value(2);
    EXPECT_FALSE(select.Step());
    select = CppSQLite3Statement();

    // The copies outlive their statement and bind as what they were.
    CppSQLite3Statement types(db, u"select typeof(?1), ?1, typeof(?2), ?2");
    types.Bind_Value(1, integer);
    types.Bind_Value(2, real);
    ASSERT_TRUE(types.Step());
    EXPECT_EQ(types.Column_Text(0), "integer");
    EXPECT_EQ(types.Column_Text(1), "1");
    EXPECT_EQ(types.Column_Text(2), "real");
    EXPECT_EQ(types.Column_Text(3), "1.5");
    EXPECT_TRUE(CppSQLite3Value().Empty());
}
