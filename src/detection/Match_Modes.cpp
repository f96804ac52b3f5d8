#include "detection/Match_Modes.h"

namespace {

bool Holds(std::u16string_view key, std::u16string_view pattern) {
    return key.find(pattern) != std::u16string_view::npos;
}

bool Program_Match(std::u16string_view mode, std::u16string_view pattern, std::u16string_view key) {
    if (mode == Match_Same) return key == pattern;
    if (mode == Match_Include) return Holds(key, pattern);
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
    if (signature.MatchType == Match_Same) return key.substr(0, signature.PathPattern.size()) == signature.PathPattern;
    return Holds(key, signature.PathPattern);
}

bool Signature_Matches(const _key_temp_path_info& signature, std::u16string_view key) {
    if (signature.MatchType == Match_Same) return key == signature.Path;
    return Holds(key, signature.Path);
}
