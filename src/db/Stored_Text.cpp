#include "db/Stored_Text.h"

namespace {

class Utf16_Sink {
public:
    explicit Utf16_Sink(std::u16string& out) : out_(out) {}
    void Ascii(char c) { out_.push_back(static_cast<char16_t>(c)); }
    void Code_Point(char32_t c) {
        if (c < 0x10000) {
            out_.push_back(static_cast<char16_t>(c));
        } else {
            out_.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out_.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        }
    }

private:
    std::u16string& out_;
};

// Writes into room made beforehand: no unit takes more than three bytes (a
// surrogate pair takes four for two).
class Utf8_Sink {
public:
    explicit Utf8_Sink(char* out) : out_(out) {}
    void Ascii(char c) { *out_++ = c; }
    void Code_Point(char32_t c) {
        if (c < 0x800) {
            *out_++ = static_cast<char>(0xC0 | (c >> 6));
            *out_++ = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *out_++ = static_cast<char>(0xE0 | (c >> 12));
            *out_++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *out_++ = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *out_++ = static_cast<char>(0xF0 | (c >> 18));
            *out_++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *out_++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *out_++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    char* End() const { return out_; }

private:
    char* out_;
};

}  // namespace

std::u16string Stored_Sql_Value(std::u16string_view value) {
    std::u16string stored;
    stored.reserve(value.size());
    Utf16_Sink sink(stored);
    Put_Stored_Text(value, sink);
    return stored;
}

void Append_Stored_Value(std::u16string_view value, std::string& out) {
    const std::size_t start = out.size();
    out.resize(start + 3 * value.size());
    Utf8_Sink sink(out.data() + start);
    Put_Stored_Text(value, sink);
    out.resize(static_cast<std::size_t>(sink.End() - out.data()));
}
