// Writes a Signature.db whose rows hold scrambled signature texts: the
// loader's tests use it with texts chosen in the test, make_signature_db with
// the project's signature list.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/Signature_Loading.h"
#include "db/CppSQLite3.h"
#include "db/Scoped_Transaction.h"
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
        try {
            CppSQLite3DB db;
            if (!Open_Database(db, path)) return false;
            db.Run_Query(u"CREATE TABLE SignatureTable (No INTEGER, Value INTEGER, Signature BLOB)");
            Scoped_Transaction transaction(db);
            CppSQLite3Statement insert(db, u"INSERT INTO SignatureTable VALUES (?, ?, ?)");
            for (const Row& row : rows_) {
                insert.Bind_Int64(1, row.No);
                if (row.Value) insert.Bind_Int64(2, *row.Value);
                else insert.Bind_Null(2);
                if (row.Blob)
                    insert.Bind_Blob(3, std::span(reinterpret_cast<const std::uint8_t*>(row.Blob->data()),
                                                  row.Blob->size()));
                else insert.Bind_Null(3);
                if (insert.Step()) return false;
                insert.Reset();
                insert.Clear_Bindings();
            }
            return transaction.Commit();
        } catch (const CppSQLite3Exception&) {
            return false;
        }
    }

private:
    std::vector<Row> rows_;
};
