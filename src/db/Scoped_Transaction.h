// Runs a stage's many single-row statements inside one transaction, so the
// rows are written once at the end rather than one by one. The values stored
// are the same; a BEGIN that fails leaves every statement to commit by itself.
#pragma once

#include "db/CppSQLite3.h"

class Scoped_Transaction {
public:
    explicit Scoped_Transaction(CppSQLite3DB& db)
        : connection_(db.Connection()),
          open_(connection_ != nullptr && sqlite3_exec(connection_, "BEGIN;", nullptr, nullptr, nullptr) == SQLITE_OK) {}
    ~Scoped_Transaction() {
        if (open_) sqlite3_exec(connection_, "COMMIT;", nullptr, nullptr, nullptr);
    }
    Scoped_Transaction(const Scoped_Transaction&) = delete;
    Scoped_Transaction& operator=(const Scoped_Transaction&) = delete;

private:
    sqlite3* connection_;
    bool open_;
};
