// Loading the suspicious-behaviour signatures from <folder>/Signature.db into
// the signature arrays of the program state.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "detection/Program_State.h"

inline constexpr char Signature_Db_Name[] = "Signature.db";

// A row's Value column gives the plain length of its signature:
// n = ((Value - 11) / 13) - 7, truncating toward zero. Computed in 64 bits so
// that no 32-bit Value overflows.
constexpr std::int64_t Signature_Plain_Length(std::int64_t value) { return (value - 11) / 13 - 7; }
// The Value that gives the plain length n.
constexpr std::int64_t Signature_Value(std::int64_t n) { return (n + 7) * 13 + 11; }

// How much of SignatureTable a run reads at most: a hostile file must not
// hold the run forever.
struct Signature_Read_Bounds {
    std::uint64_t Max_Rows = 1000000;
    std::chrono::milliseconds Max_Time{10000};
};

// Reads every row of SignatureTable in No order; a row that does not de-scramble
// into a complete signature is skipped. The file is opened for reading only
// and never changed; SignatureTable must be a table. Prints the progress line
// and, on a failure, its message. Returns false when the database is missing,
// cannot be opened or its table cannot be read within the bounds (rows loaded
// before a failure stay loaded).
bool Load_Signatures(Program_State& state, const std::string& folder, const Signature_Read_Bounds& bounds = {});

// Files one plain signature text ("<category>|<field>|...") in the array of
// its category. Returns false, changing nothing, when the category is unknown
// or a required field is empty.
bool Add_Signature_Text(Program_State& state, std::u16string_view text);
