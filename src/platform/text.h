// Text helpers: conversion between UTF-16 and UTF-8, cutting, finding,
// replacing, splitting, reading numbers and formatting. A position out of
// range is clamped, never an exception. Text inside the program is UTF-16
// (std::u16string); UTF-8 exists only at the edges (console, CSV files,
// SQLite result tables).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform {

// UTF-8 <-> UTF-16. Malformed input and unpaired surrogates become U+FFFD.
std::u16string Utf8_To_Utf16(std::string_view text);
std::string Utf16_To_Utf8(std::u16string_view text);

// ASCII literal to UTF-16 (for the many fixed texts of the program).
std::u16string Ascii(std::string_view text);

// The text up to its first NUL unit, as a C-string formatter would take it.
std::u16string_view Cut_At_Nul(std::u16string_view text);

// Clamping substring helpers: a start past the end gives an empty text, a
// negative start counts from 0 (the count is kept) and a negative count gives
// an empty text; they never throw.
std::u16string Left(std::u16string_view text, long long count);
std::u16string Mid(std::u16string_view text, long long first);
std::u16string Mid(std::u16string_view text, long long first, long long count);
// Position of the first occurrence at or after `start`, or -1.
long long Find(std::u16string_view text, std::u16string_view what, long long start = 0);
// Position of the last occurrence of `what`, or -1.
long long ReverseFind(std::u16string_view text, char16_t what);
// Replaces every non-overlapping occurrence, left to right; returns the count.
int Replace(std::u16string& text, std::u16string_view from, std::u16string_view to);
// Inserts `what` before position `index`: a negative index inserts at the
// start, an index past the end appends. Returns the new length.
std::size_t Insert(std::u16string& text, long long index, std::u16string_view what);

// A lower-cased copy that maps A-Z only; every other unit (accented and other
// non-ASCII letters included) stays as it is.
std::u16string MakeLower(std::u16string_view text);

// The pieces between delimiters (`delimiters` is a set of units), as the class
// library's tokenizer hands them out: a run of delimiters separates like one,
// and no empty piece comes from the start, the end or two delimiters in a
// row. A piece keeps its blanks ("a, b" gives "a" and " b").
std::vector<std::u16string> Tokenize(std::u16string_view text, std::u16string_view delimiters);

// Runtime-style number reading: leading blanks, an optional sign, digits up to
// the first non-digit; no digits gives 0. Clamps instead of overflowing.
long long Read_Decimal(std::u16string_view text);
long long Read_Decimal(std::string_view text);
std::uint64_t Read_Unsigned_Decimal(std::u16string_view text);
// Base 16 as strtoull reads it: blanks, an optional sign, an optional "0x" or
// "0X", hexadecimal digits; a minus sign negates in unsigned arithmetic.
std::uint64_t Read_Hexadecimal(std::u16string_view text);

// One argument of Format.
class Format_Arg {
public:
    Format_Arg(std::u16string_view v) : value_(v) {}
    Format_Arg(const std::u16string& v) : value_(std::u16string_view(v)) {}
    Format_Arg(const char16_t* v) : value_(v == nullptr ? std::u16string_view() : std::u16string_view(v)) {}
    Format_Arg(int v) : value_(static_cast<long long>(v)) {}
    Format_Arg(long v) : value_(static_cast<long long>(v)) {}
    Format_Arg(long long v) : value_(v) {}
    Format_Arg(unsigned v) : value_(static_cast<unsigned long long>(v)) {}
    Format_Arg(unsigned long v) : value_(static_cast<unsigned long long>(v)) {}
    Format_Arg(unsigned long long v) : value_(v) {}
    Format_Arg(unsigned short v) : value_(static_cast<unsigned long long>(v)) {}
    Format_Arg(unsigned char v) : value_(static_cast<unsigned long long>(v)) {}

    const std::variant<std::u16string_view, long long, unsigned long long>& Value() const { return value_; }

private:
    std::variant<std::u16string_view, long long, unsigned long long> value_;
};

// printf-like formatting over UTF-16 for the program's own fixed formats:
// %s (cut at its first NUL), %d, %i, %u, %x, %X with the flags '0' and '-',
// a width, a precision, the length prefixes l, ll, h, I64, and %%. The format
// is always a literal of the program; data never becomes a format.
std::u16string Format(std::u16string_view format, std::initializer_list<Format_Arg> args);

// Format(u"%I64u", {value}) and Format(u"0x%X", {value}), written out
// directly for the paths that make several per log record.
std::u16string Unsigned_Decimal_Text(std::uint64_t value);
std::u16string Hex_Text(std::uint32_t value);

// The same over an ASCII format, giving UTF-8 (console lines).
std::string Format8(std::string_view format, std::initializer_list<Format_Arg> args);

}  // namespace platform
