// How a signature's pattern is compared with a key taken from an event, by
// the signature's MatchType word. Every comparison is case-sensitive.
#pragma once

#include <string_view>

#include "records/Records.h"

inline constexpr char16_t Match_Same[] = u"Same";
inline constexpr char16_t Match_Include[] = u"Include";

// "Same": the key equals the pattern; "Include": the key holds it; any other
// word matches nothing.
bool Signature_Matches(const _anti_forensic_program_execution_info& signature, std::u16string_view key);
bool Signature_Matches(const _anti_forensic_program_trace_info& signature, std::u16string_view key);
// "Same": the key starts with the path pattern; any other word: the key holds it.
bool Signature_Matches(const _program_update_path_info& signature, std::u16string_view key);
// "Same": the key equals the path; any other word: the key holds it.
bool Signature_Matches(const _key_temp_path_info& signature, std::u16string_view key);
