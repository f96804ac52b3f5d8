// Reading the project's signature list (tools/signatures.txt): one plain
// signature per line, "#" lines and blank lines skipped. Shared by
// make_signature_db and its test.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "app/Signature_Loading.h"
#include "detection/Program_State.h"
#include "detection/Signature_Descramble.h"
#include "platform/text.h"

struct Signature_List_Row {
    int Line = 0;      // 1-based line of the list
    std::string Text;  // the plain signature, UTF-8
};

struct Signature_List {
    std::vector<Signature_List_Row> Rows;
    std::vector<std::string> Errors;  // "line <n>: <what is wrong>"
};

// The rows of a list, in order. A line end may be "\n" or "\r\n". A row that
// Trevalon_CMD would drop or read differently from what is written is an
// error naming its line, so a mistake in the list stops the build instead of
// quietly losing a signature: an unknown category or an empty required field,
// a blank at either end (it would become part of a field), a zero byte (the
// loader ends the text there), bytes that are not UTF-8, and a text too long
// for the stored window.
inline Signature_List Read_Signature_List(std::string_view content) {
    Signature_List list;
    int line_number = 0;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string_view::npos) end = content.size();
        std::string_view line = content.substr(start, end - start);
        start = end + 1;
        ++line_number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos || line.front() == '#') continue;

        const auto error = [&](const char* what) {
            list.Errors.push_back("line " + std::to_string(line_number) + ": " + what);
        };
        const std::u16string text = platform::Utf8_To_Utf16(line);
        Program_State probe;
        if (line.find('\0') != std::string_view::npos) error("holds a zero byte");
        else if (platform::Utf16_To_Utf8(text) != line) error("is not UTF-8");
        else if (line.front() == ' ' || line.front() == '\t' || line.back() == ' ' || line.back() == '\t')
            error("begins or ends with a blank");
        else if (Signature_Window_Length(static_cast<int>(std::min<std::size_t>(line.size(), 1 << 20))) >
                 Max_Signature_Window)
            error("is too long for a stored signature");
        else if (!Add_Signature_Text(probe, text))
            error("names no category or misses a field that its category needs");
        else list.Rows.push_back({line_number, std::string(line)});
    }
    return list;
}
