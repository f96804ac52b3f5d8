// The stored form of a text value: what every row writer puts into the
// database for a field, whether it binds the value or spells it as a literal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Hands the stored form of `value` to `sink`, unit by unit: the value is cut
// at its first NUL, an unpaired surrogate (NTFS names may hold one) becomes
// U+FFFD and every "," becomes "/" (the stored texts hold no comma; the export
// turns "/" back into ","). sink.Ascii(char) takes each character below 0x80,
// sink.Code_Point(char32_t) every other one, a surrogate pair as the one
// character it stands for. (Left in a statement's text, an unpaired surrogate
// would swallow the closing quote when SQLite converts the text, and the row
// would be lost.)
template <typename Sink>
void Put_Stored_Text(std::u16string_view value, Sink& sink) {
    for (std::size_t i = 0; i < value.size(); ++i) {
        char32_t c = value[i];
        if (c < 0x80) {
            if (c == 0) return;
            sink.Ascii(c == u',' ? '/' : static_cast<char>(c));
            continue;
        }
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        const bool low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && i + 1 < value.size() && value[i + 1] >= 0xDC00 && value[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (value[i + 1] - 0xDC00);
            ++i;
        } else if (high || low) {
            c = 0xFFFD;
        }
        sink.Code_Point(c);
    }
}

// The stored form in UTF-16, as a value bound with sqlite3_bind_text16 or
// written into a statement's text.
std::u16string Stored_Sql_Value(std::u16string_view value);

// The stored form in UTF-8 appended to `out`: the bytes that SQLite keeps
// for Stored_Sql_Value(value), made without SQLite's conversion.
void Append_Stored_Value(std::u16string_view value, std::string& out);
