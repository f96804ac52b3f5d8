// Loading the suspicious-behaviour signatures from <folder>/Signature.db into
// the signature arrays of the program state.
#pragma once

#include <string>
#include <string_view>

#include "records/Parsing_State.h"

inline constexpr char Signature_Db_Name[] = "Signature.db";

// Reads every row of SignatureTable in No order; a row that does not de-scramble
// into a complete signature is skipped. Prints the progress line and, on a
// failure, its message. Returns false when the database is missing, cannot be
// opened or cannot be queried (rows loaded before a failure stay loaded).
bool Load_Signatures(Program_State& state, const std::string& folder);

// Files one plain signature text ("<category>|<field>|...") in the array of
// its category. Returns false, changing nothing, when the category is unknown
// or a required field is empty.
bool Add_Signature_Text(Program_State& state, std::u16string_view text);
