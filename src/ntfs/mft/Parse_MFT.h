#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "ntfs/Parsing_Context.h"

// Reads an extracted $MFT into the index of the parsing state. Returns 0 when
// the file was read, 1 when it could not be opened (MFT_Unavailable is set).
int Parse_MFT(Global_Parsing_Context& context, const std::string& path);

// Leaves the backslash path of `reference` (whose own name is `name`) in
// context.Full_Path; "" when the reference is not indexed.
void Build_Full_Path(Global_Parsing_Context& context, std::uint64_t reference, std::u16string name);

// 1 with the entry's name and full path when the key is indexed (the first
// entry inserted under it), 0 with both outputs untouched otherwise.
int Lookup_MFT_Entry_By_LSN(Global_Parsing_Context& context, std::uint64_t lsn, std::u16string* name,
                            std::u16string* path);
int Lookup_MFT_Entry_By_Number(Global_Parsing_Context& context, std::uint64_t entry_number, std::u16string* name,
                               std::u16string* path);

// The same reading as Parse_MFT over an $MFT already in memory (tests, fuzzing):
// replaces context.Mft and sets MFT_Creation_Time when record 0 is "$MFT".
void Index_MFT_Bytes(Global_Parsing_Context& context, std::span<const std::uint8_t> bytes);
