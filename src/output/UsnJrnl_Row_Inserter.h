// A faster way to the rows of Insert_UsnJrnl_Row: one prepared statement per
// scanned file, its values bound as text. SQLite's column affinity stores
// exactly what the inline literals of Insert_UsnJrnl_Row store (the USN as
// an integer, or as a real when it is too large for one), so the table
// holds the same rows either way.
#pragma once

#include <sqlite3.h>

#include <array>
#include <string>
#include <string_view>

#include "db/CppSQLite3.h"
#include "records/Records.h"

// The text that the literal '<Escape_Sql_Value(value)>' stores: cut at its
// first NUL and every "," turned into "/" (the doubled quotes are only the
// literal's spelling of one quote).
std::u16string Stored_Sql_Value(std::u16string_view value);

class UsnJrnl_Row_Inserter {
public:
    // Prepares the insert on `db`; when that fails (no table, no connection)
    // every row goes through Insert_UsnJrnl_Row instead.
    explicit UsnJrnl_Row_Inserter(CppSQLite3DB& db);
    ~UsnJrnl_Row_Inserter();
    UsnJrnl_Row_Inserter(const UsnJrnl_Row_Inserter&) = delete;
    UsnJrnl_Row_Inserter& operator=(const UsnJrnl_Row_Inserter&) = delete;

    // 0 when the row was inserted, 1 when the database refused it (a USN
    // already stored). The row is not changed. Never raises.
    int Insert(const _USNJRNLINFO& row);

private:
    CppSQLite3DB& db_;
    sqlite3_stmt* statement_ = nullptr;
    // Values that escaping changes live here until the statement has run.
    std::array<std::u16string, 10> escaped_;
    // ASCII values in UTF-8, likewise.
    std::array<std::string, 10> narrow_;
};
