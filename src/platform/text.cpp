#include "platform/text.h"

#include <algorithm>
#include <array>
#include <limits>

namespace platform {

namespace {

constexpr char32_t Replacement_Character = 0xFFFD;

void Append_Utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void Append_Utf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 | (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 | (cp & 0x3FF)));
    }
}

bool Is_Blank(char32_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

template <typename Char>
long long Read_Decimal_Impl(std::basic_string_view<Char> text) {
    std::size_t i = 0;
    while (i < text.size() && Is_Blank(static_cast<char32_t>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate as a negative number so that the minimum is reachable.
    constexpr long long min = std::numeric_limits<long long>::min();
    long long value = 0;
    bool clamped = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = static_cast<int>(text[i] - '0');
        if (clamped) continue;
        if (value < (min + digit) / 10) {
            value = min;
            clamped = true;
            continue;
        }
        value = value * 10 - digit;
    }
    if (negative) return value;
    if (value == min) return std::numeric_limits<long long>::max();
    return -value;
}

}  // namespace

std::u16string Utf8_To_Utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    while (i < text.size()) {
        const unsigned char b0 = byte(i);
        if (b0 < 0x80) {
            out.push_back(b0);
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if ((b0 & 0xE0) == 0xC0) { length = 2; cp = b0 & 0x1F; min = 0x80; }
        else if ((b0 & 0xF0) == 0xE0) { length = 3; cp = b0 & 0x0F; min = 0x800; }
        else if ((b0 & 0xF8) == 0xF0) { length = 4; cp = b0 & 0x07; min = 0x10000; }
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const unsigned char b = byte(i + k);
            if ((b & 0xC0) != 0x80) valid = false;
            else cp = (cp << 6) | (b & 0x3F);
        }
        if (valid && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) valid = false;
        if (!valid) {
            out.push_back(static_cast<char16_t>(Replacement_Character));
            ++i;
            continue;
        }
        Append_Utf16(out, cp);
        i += length;
    }
    return out;
}

std::string Utf16_To_Utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = Replacement_Character;
        }
        Append_Utf8(out, cp);
    }
    return out;
}

std::u16string Ascii(std::string_view text) {
    return std::u16string(text.begin(), text.end());
}

std::u16string_view Cut_At_Nul(std::u16string_view text) {
    const auto nul = text.find(u'\0');
    return nul == std::u16string_view::npos ? text : text.substr(0, nul);
}

std::u16string Left(std::u16string_view text, long long count) {
    if (count <= 0) return {};
    return std::u16string(text.substr(0, std::min(static_cast<std::size_t>(count), text.size())));
}

std::u16string Mid(std::u16string_view text, long long first) {
    if (first < 0) first = 0;
    if (first >= static_cast<long long>(text.size())) return {};
    return std::u16string(text.substr(static_cast<std::size_t>(first)));
}

std::u16string Mid(std::u16string_view text, long long first, long long count) {
    // A negative start reads from 0 and still takes the full count (not the
    // count less the part before 0).
    if (first < 0) first = 0;
    if (count <= 0 || first >= static_cast<long long>(text.size())) return {};
    return std::u16string(text.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(count)));
}

long long Find(std::u16string_view text, std::u16string_view what, long long start) {
    if (start < 0 || start > static_cast<long long>(text.size())) return -1;
    const auto pos = text.find(what, static_cast<std::size_t>(start));
    return pos == std::u16string_view::npos ? -1 : static_cast<long long>(pos);
}

int Replace(std::u16string& text, std::u16string_view from, std::u16string_view to) {
    if (from.empty()) return 0;
    std::size_t pos = text.find(from);
    if (pos == std::u16string::npos) return 0;
    std::u16string out;
    out.reserve(text.size());
    std::size_t last = 0;
    int count = 0;
    while (pos != std::u16string::npos) {
        out.append(text, last, pos - last);
        out.append(to);
        last = pos + from.size();
        ++count;
        pos = text.find(from, last);
    }
    out.append(text, last, std::u16string::npos);
    text = std::move(out);
    return count;
}

long long ReverseFind(std::u16string_view text, char16_t what) {
    const auto pos = text.rfind(what);
    return pos == std::u16string_view::npos ? -1 : static_cast<long long>(pos);
}

std::size_t Insert(std::u16string& text, long long index, std::u16string_view what) {
    const auto at = static_cast<std::size_t>(std::clamp<long long>(index, 0, static_cast<long long>(text.size())));
    text.insert(at, what);
    return text.size();
}

std::u16string MakeLower(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    return out;
}

std::vector<std::u16string> Tokenize(std::u16string_view text, std::u16string_view delimiters) {
    std::vector<std::u16string> pieces;
    if (delimiters.empty()) {
        if (!text.empty()) pieces.emplace_back(text);
        return pieces;
    }
    std::size_t start = text.find_first_not_of(delimiters);
    while (start != std::u16string_view::npos) {
        const std::size_t end = text.find_first_of(delimiters, start);
        pieces.emplace_back(text.substr(start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start));
        if (end == std::u16string_view::npos) break;
        start = text.find_first_not_of(delimiters, end);
    }
    return pieces;
}

long long Read_Decimal(std::u16string_view text) { return Read_Decimal_Impl(text); }
long long Read_Decimal(std::string_view text) { return Read_Decimal_Impl(text); }

std::uint64_t Read_Unsigned_Decimal(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && Is_Blank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::uint64_t value = 0;
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const unsigned digit = text[i] - u'0';
        if (value > (max - digit) / 10) return max;
        value = value * 10 + digit;
    }
    // Like strtoull, a minus sign negates in unsigned arithmetic.
    return negative ? 0 - value : value;
}

std::uint64_t Read_Hexadecimal(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && Is_Blank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9') digit = c - u'0';
        else if (c >= 'a' && c <= 'f') digit = c - u'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - u'A' + 10;
        else break;
        if (value >> 60) return std::numeric_limits<std::uint64_t>::max();
        value = (value << 4) | digit;
    }
    return negative ? 0 - value : value;
}

namespace {

struct Spec {
    bool left = false;
    bool zero = false;
    int width = 0;
    int precision = -1;
    char conversion = 0;
};

// Enough for 64 bits in any base from 2 up.
using Digit_Buffer = std::array<char16_t, 64>;

// The digits of `value`, written at the end of `buffer` (no allocation: the
// time texts and header fields format many numbers per record).
std::u16string_view Digits(unsigned long long value, unsigned base, bool upper, Digit_Buffer& buffer) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::size_t at = buffer.size();
    do {
        buffer[--at] = static_cast<char16_t>(digits[value % base]);
        value /= base;
    } while (value != 0);
    return std::u16string_view(buffer.data() + at, buffer.size() - at);
}

void Append_Padded(std::u16string& out, const Spec& spec, std::u16string_view sign, std::u16string_view body,
                   bool numeric) {
    // A precision on a number is its least count of digits, made up with zeros.
    std::size_t zeros = 0;
    if (numeric && spec.precision >= 0) {
        if (spec.precision == 0 && body == u"0") body = {};
        if (body.size() < static_cast<std::size_t>(spec.precision))
            zeros = static_cast<std::size_t>(spec.precision) - body.size();
    }
    const std::size_t length = sign.size() + zeros + body.size();
    const std::size_t width = spec.width > 0 ? static_cast<std::size_t>(spec.width) : 0;
    const std::size_t pad = width > length ? width - length : 0;
    if (spec.left) {
        out.append(sign).append(zeros, u'0').append(body).append(pad, u' ');
    } else if (numeric && spec.zero && spec.precision < 0) {
        out.append(sign).append(pad, u'0').append(body);
    } else {
        out.append(pad, u' ').append(sign).append(zeros, u'0').append(body);
    }
}

void Append_Argument(std::u16string& out, const Spec& spec, const Format_Arg* arg) {
    if (arg == nullptr) return;  // more conversions than arguments: print nothing
    const auto& v = arg->Value();
    if (spec.conversion == 's') {
        std::u16string_view text;
        if (const auto* s = std::get_if<std::u16string_view>(&v)) text = Cut_At_Nul(*s);
        if (spec.precision >= 0 && text.size() > static_cast<std::size_t>(spec.precision))
            text = text.substr(0, static_cast<std::size_t>(spec.precision));
        Append_Padded(out, spec, u"", text, false);
        return;
    }
    long long as_signed = 0;
    unsigned long long as_unsigned = 0;
    if (const auto* i = std::get_if<long long>(&v)) {
        as_signed = *i;
        as_unsigned = static_cast<unsigned long long>(*i);
    } else if (const auto* u = std::get_if<unsigned long long>(&v)) {
        as_signed = static_cast<long long>(*u);
        as_unsigned = *u;
    }
    Digit_Buffer buffer;
    switch (spec.conversion) {
    case 'd':
    case 'i': {
        const bool negative = as_signed < 0;
        const unsigned long long magnitude = negative ? 0ULL - as_unsigned : as_unsigned;
        Append_Padded(out, spec, negative ? u"-" : u"", Digits(magnitude, 10, false, buffer), true);
        break;
    }
    case 'u': Append_Padded(out, spec, u"", Digits(as_unsigned, 10, false, buffer), true); break;
    case 'x': Append_Padded(out, spec, u"", Digits(as_unsigned, 16, false, buffer), true); break;
    case 'X': Append_Padded(out, spec, u"", Digits(as_unsigned, 16, true, buffer), true); break;
    default: break;
    }
}

// Width of a value under its length prefix: %d and %x without "ll"/"I64" see
// 32 bits, as the runtime does with an int argument.
void Narrow_To_Length(Format_Arg& arg, bool wide, char conversion) {
    if (wide || conversion == 's') return;
    const auto& v = arg.Value();
    unsigned long long bits = 0;
    if (const auto* i = std::get_if<long long>(&v)) bits = static_cast<unsigned long long>(*i);
    else if (const auto* u = std::get_if<unsigned long long>(&v)) bits = *u;
    else return;
    const auto low = static_cast<std::uint32_t>(bits);
    if (conversion == 'd' || conversion == 'i') arg = Format_Arg(static_cast<long long>(static_cast<std::int32_t>(low)));
    else arg = Format_Arg(static_cast<unsigned long long>(low));
}

}  // namespace

std::u16string Format(std::u16string_view format, std::initializer_list<Format_Arg> args) {
    std::u16string out;
    out.reserve(format.size() + 16 * args.size());
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != u'%') {
            // The text up to the next conversion, at once.
            const std::size_t end = std::min(format.find(u'%', i), format.size());
            out.append(format.substr(i, end - i));
            i = end - 1;
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == u'%') {
            out.push_back(u'%');
            ++i;
            continue;
        }
        Spec spec;
        std::size_t k = i + 1;
        for (; k < format.size() && (format[k] == u'0' || format[k] == u'-'); ++k) {
            if (format[k] == u'0') spec.zero = true;
            else spec.left = true;
        }
        for (; k < format.size() && format[k] >= u'0' && format[k] <= u'9'; ++k) spec.width = spec.width * 10 + (format[k] - u'0');
        if (k < format.size() && format[k] == u'.') {
            spec.precision = 0;
            for (++k; k < format.size() && format[k] >= u'0' && format[k] <= u'9'; ++k)
                spec.precision = spec.precision * 10 + (format[k] - u'0');
        }
        bool wide = false;
        if (format.substr(k, 3) == u"I64") {
            wide = true;
            k += 3;
        } else {
            while (k < format.size() && (format[k] == u'l' || format[k] == u'h')) {
                if (format[k] == u'l') wide = true;
                ++k;
            }
        }
        if (k >= format.size()) break;
        spec.conversion = static_cast<char>(format[k]);
        if (next != args.end()) {
            Format_Arg arg = *next++;
            Narrow_To_Length(arg, wide, spec.conversion);
            Append_Argument(out, spec, &arg);
        }
        i = k;
    }
    return out;
}

std::u16string Unsigned_Decimal_Text(std::uint64_t value) {
    Digit_Buffer buffer;
    return std::u16string(Digits(value, 10, false, buffer));
}

std::u16string Hex_Text(std::uint32_t value) {
    Digit_Buffer buffer;
    const std::u16string_view digits = Digits(value, 16, true, buffer);
    std::u16string text;
    text.reserve(2 + digits.size());
    return text.append(u"0x").append(digits);
}

std::string Format8(std::string_view format, std::initializer_list<Format_Arg> args) {
    return Utf16_To_Utf8(Format(Utf8_To_Utf16(format), args));
}

}  // namespace platform
