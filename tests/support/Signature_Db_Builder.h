// Writes a Signature.db whose rows hold scrambled signature texts: the
// loader's tests use it with texts chosen in the test, make_signature_db with
// the project's signature list.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/Signature_Loading.h"
#include "detection/Signature_Descramble.h"

class Signature_Db_Builder {
public:
    struct Row {
        std::int64_t No;
        std::optional<std::int64_t> Value;  // NULL when absent
        std::optional<std::string> Blob;    // NULL when absent
    };

    // A well-formed row for the plain text.
    Signature_Db_Builder& Add(const std::string& plain) {
        rows_.push_back({static_cast<std::int64_t>(rows_.size()) + 1,
                         Signature_Value(static_cast<std::int64_t>(plain.size())), Scramble_Signature(plain)});
        return *this;
    }
    Signature_Db_Builder& Add_Raw(Row row) {
        rows_.push_back(std::move(row));
        return *this;
    }

    // Writes <folder>/Signature.db; false when it cannot.
    bool Write(const std::string& folder) const { return Write_File(folder + "/Signature.db"); }

    // Writes the database at `path`, which must not hold a table of that name.
    bool Write_File(const std::string& path) const {
        sqlite3* db = nullptr;
        bool ok = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK &&
                  sqlite3_exec(db, "CREATE TABLE SignatureTable (No INTEGER, Value INTEGER, Signature BLOB); BEGIN",
                               nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_stmt* insert = nullptr;
        ok = ok && sqlite3_prepare_v2(db, "INSERT INTO SignatureTable VALUES (?, ?, ?)", -1, &insert, nullptr) ==
                       SQLITE_OK;
        for (const Row& row : rows_) {
            if (!ok) break;
            sqlite3_bind_int64(insert, 1, row.No);
            if (row.Value) sqlite3_bind_int64(insert, 2, *row.Value);
            else sqlite3_bind_null(insert, 2);
            if (row.Blob) sqlite3_bind_blob(insert, 3, row.Blob->data(), static_cast<int>(row.Blob->size()),
                                            SQLITE_TRANSIENT);
            else sqlite3_bind_null(insert, 3);
            ok = sqlite3_step(insert) == SQLITE_DONE;
            sqlite3_reset(insert);
            sqlite3_clear_bindings(insert);
        }
        sqlite3_finalize(insert);
        ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_close(db);
        return ok;
    }

private:
    std::vector<Row> rows_;
};
