#include "db/Scoped_Transaction.h"

#include "platform/console.h"

namespace {

bool Run(CppSQLite3DB& db, const char* statement) {
    return db.Is_Open() && sqlite3_exec(db.Connection(), statement, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool In_Transaction(const CppSQLite3DB& db) { return db.Is_Open() && !sqlite3_get_autocommit(db.Connection()); }

void Report_Failed_Commit(CppSQLite3DB& db) {
    db.Note_Transaction_Failure();
    platform::Message_Box(u"commit Error");
}

}  // namespace

Scoped_Transaction::Scoped_Transaction(CppSQLite3DB& db) : db_(db), open_(true) {
    if (!Run(db_, "BEGIN;")) {
        failed_ = true;
        db_.Note_Transaction_Failure();
        platform::Message_Box(u"BEGIN Error");
    }
}

Scoped_Transaction::~Scoped_Transaction() { Commit(); }

bool Scoped_Transaction::Commit() {
    if (!open_) return !failed_;
    open_ = false;
    for (int attempt = 0; attempt < Commit_Attempts; ++attempt) {
        if (Run(db_, "COMMIT;")) return !failed_;
        // With no transaction open (BEGIN failed), another try changes nothing.
        if (!In_Transaction(db_)) break;
    }
    failed_ = true;
    Report_Failed_Commit(db_);
    return false;
}

bool Commit_Left_Open(CppSQLite3DB& db) {
    if (!In_Transaction(db) || Run(db, "COMMIT;")) return true;
    Report_Failed_Commit(db);
    return false;
}
