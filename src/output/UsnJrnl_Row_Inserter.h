// A faster way to the rows of Insert_UsnJrnl_Row: prepared statements, their
// values bound as text. SQLite's column affinity stores exactly what the
// inline literals of Insert_UsnJrnl_Row store (the USN as an integer, or as a
// real when it is too large for one), so the table holds the same rows either
// way.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/CppSQLite3.h"
#include "output/Event_Tables.h"
#include "records/Records.h"

// Rows in the form the database stores them: each value as
// Append_Stored_Value gives it, in UTF-8 (an unpaired surrogate has become
// U+FFFD). Making this form is the costly part of an insert that needs no
// connection, so the thread that decodes can do it and leave the thread that
// inserts nothing but binding.
class Stored_UsnJrnl_Rows {
public:
    static constexpr std::size_t Values_Per_Row = 10;

    void Add(const _USNJRNLINFO& row);
    std::size_t Size() const { return rows_; }
    bool Empty() const { return rows_ == 0; }
    void Clear();
    void Reserve(std::size_t rows);

    // Value `column` (in the statement's order) of row `row`.
    std::string_view Value(std::size_t row, std::size_t column) const;
    // A row whose USN is no plain run of digits is kept as given: only the
    // inline statement stores what it stores (see Insert_UsnJrnl_Row).
    const _USNJRNLINFO* Inline_Row(std::size_t row) const;

private:
    std::size_t rows_ = 0;
    std::string bytes_;
    // Where each value ends in bytes_, Values_Per_Row to a row.
    std::vector<std::size_t> value_ends_;
    // Rows kept as given, by their position, in ascending order.
    std::vector<std::pair<std::size_t, _USNJRNLINFO>> inline_rows_;
};

class UsnJrnl_Row_Inserter {
public:
    // Prepares the inserts on `db`; when that fails (no table, no connection)
    // every row goes through Insert_UsnJrnl_Row instead.
    explicit UsnJrnl_Row_Inserter(CppSQLite3DB& db);
    UsnJrnl_Row_Inserter(const UsnJrnl_Row_Inserter&) = delete;
    UsnJrnl_Row_Inserter& operator=(const UsnJrnl_Row_Inserter&) = delete;

    // Whether the prepared single-row statement exists. The multi-row one is
    // prepared when first needed (a file of few records never needs it).
    bool Prepared() const { return statement_.Is_Prepared(); }

    // 0 when the row was inserted, 1 when the database refused it (a USN
    // already stored). The row is not changed. Never raises.
    int Insert(const _USNJRNLINFO& row);

    // The rows in their order, as one Insert per row would store them: a
    // refused row is left out and the rows after it still go in.
    void Insert(const Stored_UsnJrnl_Rows& rows);

    // Rows that one statement inserts when Insert is given that many in a row.
    static constexpr std::size_t Group_Rows = 64;

private:
    int Insert_One(const Stored_UsnJrnl_Rows& rows, std::size_t row);
    bool Prepare_Group();
    void Insert_Group(const Stored_UsnJrnl_Rows& rows, std::size_t first);

    CppSQLite3DB& db_;
    CppSQLite3Statement statement_;
    CppSQLite3Statement group_statement_;
    bool group_prepare_failed_ = false;
    // The single-row Insert's value in its stored form.
    Stored_UsnJrnl_Rows one_;
};
