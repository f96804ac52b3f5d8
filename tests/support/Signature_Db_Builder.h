// Writes a Signature.db whose rows hold scrambled signature texts, so that the
// loader can be tested against texts chosen in the test.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The stored form of a plain text of n bytes: 11 unused bytes, then a window
// of n + 20 (even n) or n + 21 (odd n) bytes. Plain byte j is the pair-keyed
// window byte at q = n - 1 - j: stored at window position q + 1 under 0x5E
// when q is even, at window position q - 1 under 0x93 when q is odd, both
// also under 0xE6. Every other byte is filler.
inline std::string Scramble_Signature(const std::string& plain, std::uint8_t filler = 0xA5) {
    const int n = static_cast<int>(plain.size());
    const int window = n + 20 + (n & 1);
    std::string blob(11 + window, static_cast<char>(filler));
    for (int j = 0; j < n; ++j) {
        const int q = n - 1 - j;
        const auto byte = static_cast<std::uint8_t>(plain[j]);
        if (q % 2 == 0) blob[11 + q + 1] = static_cast<char>(byte ^ 0x5E ^ 0xE6);
        else blob[11 + q - 1] = static_cast<char>(byte ^ 0x93 ^ 0xE6);
    }
    return blob;
}

// The Value column that gives a plain length n: n = ((Value - 11) / 13) - 7.
inline std::int64_t Signature_Value(std::size_t n) { return (static_cast<std::int64_t>(n) + 7) * 13 + 11; }

class Signature_Db_Builder {
public:
    struct Row {
        std::int64_t No;
        std::optional<std::int64_t> Value;  // NULL when absent
        std::optional<std::string> Blob;    // NULL when absent
    };

    // A well-formed row for the plain text.
    Signature_Db_Builder& Add(const std::string& plain) {
        rows_.push_back({static_cast<std::int64_t>(rows_.size()) + 1, Signature_Value(plain.size()),
                         Scramble_Signature(plain)});
        return *this;
    }
    Signature_Db_Builder& Add_Raw(Row row) {
        rows_.push_back(std::move(row));
        return *this;
    }

    // Writes <folder>/Signature.db; false when it cannot.
    bool Write(const std::string& folder) const {
        sqlite3* db = nullptr;
        bool ok = sqlite3_open_v2((folder + "/Signature.db").c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                  nullptr) == SQLITE_OK &&
                  sqlite3_exec(db, "CREATE TABLE SignatureTable (No INTEGER, Value INTEGER, Signature BLOB)", nullptr,
                               nullptr, nullptr) == SQLITE_OK;
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
        sqlite3_close(db);
        return ok;
    }

private:
    std::vector<Row> rows_;
};
