#include "detection/Rule_Terms.h"

namespace {

constexpr std::array<std::u16string_view, 9> Document_Extensions = {u"doc", u"docx", u"xls",  u"xlsx", u"ppt",
                                                                    u"pptx", u"hwp",  u"hwpx", u"pdf"};

// Office and editors begin their temporary and owner files so.
constexpr std::array<std::u16string_view, 3> Temporary_Name_Starts = {u"~", u"&_", u"(neme"};
// Names of unsaved, recovered or downloaded copies.
constexpr std::array<std::u16string_view, 3> Temporary_Name_Parts = {u"%20", u"(unsaved-", u"(autorecovered-"};

// A base name of hexadecimal digits only (or none at all) is a program's
// generated temporary file, not a user's document.
bool Is_Generated_Base_Name(std::u16string_view lowered_base) {
    for (const char16_t c : lowered_base)
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) return false;
    return true;
}

}  // namespace

bool Is_Reported_Document(std::u16string_view file_name, std::u16string_view full_path) {
    const std::u16string lowered = platform::MakeLower(file_name);
    const std::size_t dot = lowered.rfind(u'.');
    if (dot == std::u16string::npos || dot + 1 == lowered.size()) return false;
    const std::u16string_view extension = std::u16string_view(lowered).substr(dot + 1);
    bool document = false;
    for (const std::u16string_view e : Document_Extensions) document = document || extension == e;
    if (!document) return false;

    if (Holds_Any(full_path, Program_Owned_Folders)) return false;
    for (const std::u16string_view start : Temporary_Name_Starts)
        if (Begins_With(file_name, start)) return false;
    if (Holds_Any(std::u16string_view(lowered), Temporary_Name_Parts)) return false;
    const std::u16string_view base = std::u16string_view(lowered).substr(0, dot);
    return !Is_Generated_Base_Name(base) && base != u"empty";
}

Trace_Rows_By_Operation::Trace_Rows_By_Operation(const std::vector<_anti_forensic_program_trace_info>& rows) {
    for (const _anti_forensic_program_trace_info& row : rows) {
        if (row.Operation == u"Creation") Creation.push_back(&row);
        else if (row.Operation == u"Rename") Rename.push_back(&row);
    }
}
