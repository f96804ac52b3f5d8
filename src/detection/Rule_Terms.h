// The words and tests that the $LogFile and $UsnJrnl rule sets share: what
// "holds" means, a prefetch name, the names of documents whose deletion is
// reported, and the trace rows by operation.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"
#include "records/Records.h"

// Case-sensitive substring test: what the rules mean by "holds".
inline bool Holds(std::u16string_view text, std::u16string_view what) {
    return text.find(what) != std::u16string_view::npos;
}

inline bool Begins_With(std::u16string_view text, std::u16string_view what) {
    return text.substr(0, what.size()) == what;
}

template <std::size_t N>
bool Holds_Any(std::u16string_view text, const std::array<std::u16string_view, N>& parts) {
    for (const std::u16string_view part : parts)
        if (Holds(text, part)) return true;
    return false;
}

// A prefetch file's name ends with ".pf" and holds it nowhere earlier.
inline bool Is_Prefetch_Name(std::u16string_view name) {
    const std::size_t pf = name.find(u".pf");
    return pf != std::u16string_view::npos && pf + 3 == name.size();
}

// Folders where programs keep their own files.
inline constexpr std::array<std::u16string_view, 6> Program_Owned_Folders = {
    u"\\AppData\\Local\\",       u"\\AppData\\LocalLow\\", u"\\AppData\\Roaming\\",
    u"\\Program Files (x86)\\", u"\\Program Files\\",     u"\\ProgramData\\"};

// Whether the deletion of a file of this name and path is reported as the
// deletion of a user's document: a document extension, outside the folders
// where programs keep their own, and not a temporary, recovered or generated
// name.
bool Is_Reported_Document(std::u16string_view file_name, std::u16string_view full_path);

// The trace rows by the operation they stand for, each list in load order,
// so that an event is compared only with the rows of its kind. Any other
// operation word stands for nothing: its rows match nothing.
struct Trace_Rows_By_Operation {
    explicit Trace_Rows_By_Operation(const std::vector<_anti_forensic_program_trace_info>& rows);
    std::vector<const _anti_forensic_program_trace_info*> Creation;  // "Creation"
    std::vector<const _anti_forensic_program_trace_info*> Rename;    // "Rename"
};
