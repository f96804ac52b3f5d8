#include "db/Scoped_Transaction.h"

#include "platform/console.h"

namespace {

bool Run(CppSQLite3DB& db, const char* statement) {
    return db.Is_Open() && sqlite3_exec(db.Connection(), statement, nullptr, nullptr, nullptr) == SQLITE_OK;
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
    if (Run(db_, "COMMIT;")) return !failed_;
    failed_ = true;
    db_.Note_Transaction_Failure();
    platform::Message_Box(u"commit Error");
    if (db_.Is_Open() && !sqlite3_get_autocommit(db_.Connection()))
        sqlite3_exec(db_.Connection(), "ROLLBACK;", nullptr, nullptr, nullptr);
    return false;
}
