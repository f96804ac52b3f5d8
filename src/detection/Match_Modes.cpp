#include "detection/Match_Modes.h"

#include "detection/Rule_Terms.h"

namespace {

// Views of known length: the mode word is compared for every row and event.
constexpr std::u16string_view Same_Word = Match_Same;
constexpr std::u16string_view Include_Word = Match_Include;

bool Program_Match(std::u16string_view mode, std::u16string_view pattern, std::u16string_view key) {
    if (mode == Same_Word) return key == pattern;
    if (mode == Include_Word) return Holds(key, pattern);
    return false;
}

}  // namespace

bool Signature_Matches(const _anti_forensic_program_execution_info& signature, std::u16string_view key) {
    return Program_Match(signature.MatchType, signature.Pattern, key);
}

bool Signature_Matches(const _anti_forensic_program_trace_info& signature, std::u16string_view key) {
    return Program_Match(signature.MatchType, signature.Pattern, key);
}

bool Signature_Matches(const _program_update_path_info& signature, std::u16string_view key) {
    if (signature.MatchType == Same_Word) return key.substr(0, signature.PathPattern.size()) == signature.PathPattern;
    return Holds(key, signature.PathPattern);
}

bool Signature_Matches(const _key_temp_path_info& signature, std::u16string_view key) {
    if (signature.MatchType == Same_Word) return key == signature.Path;
    return Holds(key, signature.Path);
}
