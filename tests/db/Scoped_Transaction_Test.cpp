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

// A COMMIT the database refuses is reported and rolled back, so the next
// stage writes on a connection of its own again; the run learns of it.
TEST(Scoped_Transaction, RefusedCommitIsReportedAndRolledBack) {
    Transaction_Fixture f;
    platform::Scoped_Output output(f.console, f.messages);
    {
        Scoped_Transaction transaction(f.db);
        f.Exec("insert into Rows values('lost')");
        f.Exec("insert into Child values(7)");
        EXPECT_FALSE(transaction.Commit());
    }
    EXPECT_EQ(f.messages.str(), "commit Error\n");
    EXPECT_EQ(f.console.str(), "");
    EXPECT_TRUE(f.db.Transaction_Failed());
    EXPECT_TRUE(sqlite3_get_autocommit(f.db.Connection()));
    f.Exec("insert into Rows values('later')");
    EXPECT_EQ(Query_Rows(f.path, "select Value from Rows"), std::vector<std::string>{"later"});
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
