#include "db/Scoped_Transaction.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/console.h"
#include "support/Sqlite_Query.h"
#include "support/Temp_Dir.h"

namespace {

struct Transaction_Fixture {
    Temp_Dir dir;
    std::string path = dir.File("t.db");
    CppSQLite3DB db;
    std::ostringstream console, messages;

    Transaction_Fixture() {
        db.Open_With_Pragmas(path);
        // Rows that break a deferred rule make COMMIT itself fail.
        Exec("PRAGMA foreign_keys = ON");
        Exec("create table Parent (Id INTEGER PRIMARY KEY)");
        Exec("create table Child (Id INTEGER REFERENCES Parent(Id) DEFERRABLE INITIALLY DEFERRED)");
        Exec("create table Rows (Value TEXT)");
    }
    int Exec(const char* sql) { return sqlite3_exec(db.Connection(), sql, nullptr, nullptr, nullptr); }
};

}  // namespace

TEST(Scoped_Transaction, CommitsWhatTheStageInsertedAlsoWhenItEndsEarly) {
    Transaction_Fixture f;
    platform::Scoped_Output output(f.console, f.messages);
    {
        Scoped_Transaction transaction(f.db);
        f.Exec("insert into Rows values('a')");
        EXPECT_FALSE(sqlite3_get_autocommit(f.db.Connection()));
    }  // the stage ended without its own Commit()
    EXPECT_EQ(Query_Rows(f.path, "select Value from Rows"), std::vector<std::string>{"a"});
    EXPECT_EQ(f.messages.str(), "");
    EXPECT_FALSE(f.db.Transaction_Failed());
}

// A COMMIT the database refuses is reported; the transaction stays open, so
// its rows are kept once a later COMMIT succeeds.
TEST(Scoped_Transaction, RefusedCommitIsReportedAndItsRowsKeptOpen) {
    Transaction_Fixture f;
    platform::Scoped_Output output(f.console, f.messages);
    {
        Scoped_Transaction transaction(f.db);
        f.Exec("insert into Rows values('kept')");
        f.Exec("insert into Child values(7)");
        EXPECT_FALSE(transaction.Commit());
    }
    EXPECT_EQ(f.messages.str(), "commit Error\n");
    EXPECT_EQ(f.console.str(), "");
    EXPECT_TRUE(f.db.Transaction_Failed());
    EXPECT_FALSE(sqlite3_get_autocommit(f.db.Connection()));
    EXPECT_FALSE(Commit_Left_Open(f.db));  // still refused
    EXPECT_EQ(f.messages.str(), "commit Error\ncommit Error\n");
    f.Exec("delete from Child");
    EXPECT_TRUE(Commit_Left_Open(f.db));
    EXPECT_EQ(Query_Rows(f.path, "select Value from Rows"), std::vector<std::string>{"kept"});
}

// A reader that holds the file past the busy timeout makes COMMIT fail; the
// rows wait in the open transaction and are kept once the reader is gone.
TEST(Scoped_Transaction, CommitBlockedByAReaderKeepsItsRows) {
    Transaction_Fixture f;
    sqlite3_busy_timeout(f.db.Connection(), 20);
    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open_v2(f.path.c_str(), &reader, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_exec(reader, "BEGIN; select count(*) from Rows;", nullptr, nullptr, nullptr);
    platform::Scoped_Output output(f.console, f.messages);
    {
        Scoped_Transaction transaction(f.db);
        f.Exec("insert into Rows values('waited')");
    }
    EXPECT_EQ(f.messages.str(), "commit Error\n");
    sqlite3_exec(reader, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(reader);
    EXPECT_TRUE(Commit_Left_Open(f.db));
    EXPECT_EQ(Query_Rows(f.path, "select Value from Rows"), std::vector<std::string>{"waited"});
}

TEST(Scoped_Transaction, FailedBeginIsReportedAndTheCommitStillIssued) {
    Transaction_Fixture f;
    platform::Scoped_Output output(f.console, f.messages);
    f.Exec("BEGIN");
    {
        Scoped_Transaction transaction(f.db);
        f.Exec("insert into Rows values('kept')");
    }
    EXPECT_EQ(f.messages.str(), "BEGIN Error\n");
    EXPECT_TRUE(f.db.Transaction_Failed());
    EXPECT_EQ(Query_Rows(f.path, "select Value from Rows"), std::vector<std::string>{"kept"});
}
