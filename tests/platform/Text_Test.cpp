#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "platform/text.h"

using platform::Format;

TEST(Format, DesignFormats) {
    EXPECT_EQ(Format(u"%0.4d-%0.2d", {5, 7}), u"0005-07");
    EXPECT_EQ(Format(u"0x%X", {0xABCu}), u"0xABC");
    EXPECT_EQ(Format(u"%I64u", {18446744073709551615ull}), u"18446744073709551615");
    EXPECT_EQ(Format(u"0x%.16llX", {0x1234ull}), u"0x0000000000001234");
    EXPECT_EQ(Format(u"[%s]", {std::u16string(u"ab\0cd", 5)}), u"[ab]");
}

TEST(Format, EachFormatOverItsValues) {
    struct Case {
        const char16_t* format;
        platform::Format_Arg arg;
        const char16_t* expected;
    };
    const std::vector<Case> cases{
        {u"%s", u"Zone.Identifier", u"Zone.Identifier"},
        {u"%s", u"", u""},
        {u"%s", static_cast<const char16_t*>(nullptr), u""},
        {u"%d", 0, u"0"},
        {u"%d", -1, u"-1"},
        {u"%d", INT_MIN, u"-2147483648"},
        {u"%d", 2147483648LL, u"-2147483648"},      // an int argument sees the low 32 bits
        {u"%d", 0x100000005LL, u"5"},
        {u"%u", -1, u"4294967295"},
        {u"%u", 0x1FFFFFFFFull, u"4294967295"},
        {u"%I64u", -1LL, u"18446744073709551615"},
        {u"%I64u", 4294967296ull, u"4294967296"},
        {u"0x%X", 0xDEADBEEFu, u"0xDEADBEEF"},
        {u"0x%X", 0x1DEADBEEFull, u"0xDEADBEEF"},    // no "ll": 32 bits
        {u"0x%X", -1, u"0xFFFFFFFF"},
        {u"0x%x", 0xABCDEFu, u"0xabcdef"},
        {u"0x%x", 0u, u"0x0"},
        {u"0x%.16llX", 0xFEDCBA9876543210ull, u"0xFEDCBA9876543210"},
        {u"0x%.16llX", -2LL, u"0xFFFFFFFFFFFFFFFE"},
        {u"0x%.16llX", 0u, u"0x0000000000000000"},
        {u"%0.4d", 1601, u"1601"},
        {u"%0.4d", 60056, u"60056"},
        {u"%0.4d", 7, u"0007"},
        {u"%0.4d", -7, u"-0007"},
        {u"%0.2d", 0, u"00"},
        {u"%0.2d", 9, u"09"},
        {u"%0.2d", -5, u"-05"},
        {u"%0.2d", 123, u"123"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Format(c.format, {c.arg}), c.expected) << platform::Utf16_To_Utf8(c.format);
    }
}

TEST(Format, LiteralsPercentsAndMissingArguments) {
    EXPECT_EQ(Format(u"%s[%d]: %s", {u"SQLITE_CONSTRAINT", 19, u"failed"}), u"SQLITE_CONSTRAINT[19]: failed");
    EXPECT_EQ(Format(u"100%% of %s", {u"x"}), u"100% of x");
    // A value that looks like a format stays data.
    EXPECT_EQ(Format(u"'%s'", {u"%d%s%n"}), u"'%d%s%n'");
    EXPECT_EQ(Format(u"%d and %d", {1}), u"1 and ");
    EXPECT_EQ(Format(u"%d", {1, 2}), u"1");
    EXPECT_EQ(Format(u"trailing %", {}), u"trailing ");
    EXPECT_EQ(platform::Format8("[+] UTC%s%d\r\n", {u"+", 9}), "[+] UTC+9\r\n");
}

// Width, left alignment, zero padding and precision together, as the
// runtime's printf lays them out.
TEST(Format, WidthsPrecisionsAndPadding) {
    EXPECT_EQ(Format(u"[%5d]", {42}), u"[   42]");
    EXPECT_EQ(Format(u"[%-5d]", {42}), u"[42   ]");
    EXPECT_EQ(Format(u"[%05d]", {-42}), u"[-0042]");
    EXPECT_EQ(Format(u"[%-05d]", {7}), u"[7    ]");
    EXPECT_EQ(Format(u"[%6.3d]", {7}), u"[   007]");
    EXPECT_EQ(Format(u"[%-6.3d]", {-7}), u"[-007  ]");
    EXPECT_EQ(Format(u"[%06.3d]", {7}), u"[   007]");  // a precision turns zero padding off
    EXPECT_EQ(Format(u"[%.0d]", {0}), u"[]");
    EXPECT_EQ(Format(u"[%3.0d]", {0}), u"[   ]");
    EXPECT_EQ(Format(u"[%8.4X]", {0xABu}), u"[    00AB]");
    EXPECT_EQ(Format(u"[%5s]", {u"ab"}), u"[   ab]");
    EXPECT_EQ(Format(u"[%-5s]", {u"ab"}), u"[ab   ]");
    EXPECT_EQ(Format(u"[%.2s|%3s]", {u"abcd", u"abcd"}), u"[ab|abcd]");
}

TEST(Format, DirectNumberTextsEqualTheirFormats) {
    for (const std::uint64_t v : {0ull, 7ull, 10ull, 0xABCull, 4294967295ull, 4294967296ull, 18446744073709551615ull})
        EXPECT_EQ(platform::Unsigned_Decimal_Text(v), Format(u"%I64u", {v}));
    for (const std::uint32_t v : {0u, 9u, 0xAu, 0x1A2Bu, 0xDEADBEEFu, 0xFFFFFFFFu})
        EXPECT_EQ(platform::Hex_Text(v), Format(u"0x%X", {v}));
}

TEST(Utf, RoundTripsIncludingSurrogatePairs) {
    const std::vector<std::pair<std::string, std::u16string>> pairs{
        {"", u""},
        {"$MFT", u"$MFT"},
        {"caf\xC3\xA9", u"caf\u00E9"},
        {"\xE4\xB8\xAD\xE6\x96\x87.txt", u"\u4E2D\u6587.txt"},
        {"\xEF\xBF\xBF", u"\uFFFF"},
        {"a\xF0\x9F\x98\x80z", u"a\xD83D\xDE00z"},  // U+1F600
        {"\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},      // U+10FFFF, the last code point
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    };
    for (const auto& [utf8, utf16] : pairs) {
        EXPECT_EQ(platform::Utf8_To_Utf16(utf8), utf16) << utf8;
        EXPECT_EQ(platform::Utf16_To_Utf8(utf16), utf8) << utf8;
    }
}

TEST(Utf, UnpairedSurrogateBecomesReplacementCharacter) {
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(platform::Utf16_To_Utf8(u"a\xD800z"), "a" + fffd + "z");
    EXPECT_EQ(platform::Utf16_To_Utf8(u"a\xDC00z"), "a" + fffd + "z");
    EXPECT_EQ(platform::Utf16_To_Utf8(u"a\xD83D"), "a" + fffd);
    EXPECT_EQ(platform::Utf16_To_Utf8(u"\xDE00\xD83D"), fffd + fffd);  // reversed pair
    EXPECT_EQ(platform::Utf16_To_Utf8(u"\xD83D\xD83D\xDE00"), fffd + "\xF0\x9F\x98\x80");
}

TEST(Utf, InvalidUtf8BecomesReplacementCharacters) {
    const std::vector<std::pair<std::string, std::u16string>> cases{
        {"\x80", u"\uFFFD"},                                  // lone continuation byte
        {"a\xFFz", u"a\uFFFDz"},                              // never a UTF-8 byte
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                        // overlong '/'
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},              // overlong '/'
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},              // an encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},    // above U+10FFFF
    };
    for (const auto& [utf8, utf16] : cases) EXPECT_EQ(platform::Utf8_To_Utf16(utf8), utf16);
    // A sequence cut short (also at the end of the text) never swallows what
    // follows and never reads past the end.
    for (const std::string cut : {"\xE2\x82", "\xF0\x9F\x98", "\xC3"}) {
        std::u16string out = platform::Utf8_To_Utf16(cut + "A");
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(out.back(), u'A');
        EXPECT_EQ(out.find_first_not_of(u'\uFFFD'), out.size() - 1);
        out = platform::Utf8_To_Utf16(cut);
        EXPECT_EQ(out.find_first_not_of(u'\uFFFD'), std::u16string::npos);
        EXPECT_FALSE(out.empty());
    }
}

TEST(Clamping, LeftMidFindReplace) {
    const std::u16string text = u"abcdef";
    EXPECT_EQ(platform::Left(text, 3), u"abc");
    EXPECT_EQ(platform::Left(text, 0), u"");
    EXPECT_EQ(platform::Left(text, -1), u"");
    EXPECT_EQ(platform::Left(text, 99), text);

    EXPECT_EQ(platform::Mid(text, 2), u"cdef");
    EXPECT_EQ(platform::Mid(text, 6), u"");
    EXPECT_EQ(platform::Mid(text, 99), u"");
    EXPECT_EQ(platform::Mid(text, -3), text);
    EXPECT_EQ(platform::Mid(text, 2, 2), u"cd");
    EXPECT_EQ(platform::Mid(text, 4, 99), u"ef");
    EXPECT_EQ(platform::Mid(text, 6, 1), u"");
    EXPECT_EQ(platform::Mid(text, 99, 1), u"");
    EXPECT_EQ(platform::Mid(text, 1, 0), u"");
    EXPECT_EQ(platform::Mid(text, 1, -1), u"");
    EXPECT_EQ(platform::Mid(text, -2, 3), u"abc");  // a negative start reads from 0, count kept
    EXPECT_EQ(platform::Mid(text, LLONG_MAX, LLONG_MAX), u"");
    EXPECT_EQ(platform::Mid(text, 1, LLONG_MAX), u"bcdef");

    EXPECT_EQ(platform::Find(u"a\\b\\c", u"\\"), 1);
    EXPECT_EQ(platform::Find(u"a\\b\\c", u"\\", 2), 3);
    EXPECT_EQ(platform::Find(u"a\\b\\c", u"\\", 4), -1);
    EXPECT_EQ(platform::Find(u"abc", u"c", 3), -1);
    EXPECT_EQ(platform::Find(u"abc", u"c", 99), -1);
    EXPECT_EQ(platform::Find(u"abc", u"a", -1), -1);
    EXPECT_EQ(platform::Find(u"abc", u"", 3), 3);
    EXPECT_EQ(platform::Find(u"", u"a"), -1);

    struct Case {
        std::u16string text, from, to, expected;
        int count;
    };
    const std::vector<Case> cases{
        {u"O'Brien's", u"'", u"''", u"O''Brien''s", 2},
        {u"a, b,c", u",", u"/", u"a/ b/c", 2},
        {u"aaa", u"aa", u"b", u"ba", 1},  // left to right, no overlap
        {u"abc", u"", u"x", u"abc", 0},
        {u"abc", u"x", u"y", u"abc", 0},
        {u"abc", u"abc", u"", u"", 1},
        {u"''", u"'", u"''", u"''''", 2},  // the replacement is not scanned again
    };
    for (Case c : cases) {
        EXPECT_EQ(platform::Replace(c.text, c.from, c.to), c.count);
        EXPECT_EQ(c.text, c.expected);
    }
}

TEST(Number_Reading, DecimalLikeTheRuntime) {
    const std::vector<std::pair<std::u16string, long long>> cases{
        {u"", 0},
        {u"abc", 0},
        {u"-", 0},
        {u"+", 0},
        {u"42", 42},
        {u"  \t 42", 42},
        {u"+42", 42},
        {u"-42", -42},
        {u"- 42", 0},
        {u"--42", 0},
        {u"12ab34", 12},
        {u"2015-03-01", 2015},
        {u"007", 7},
        {u"0x1F", 0},
        {u"9223372036854775807", LLONG_MAX},
        {u"9223372036854775808", LLONG_MAX},
        {u"99999999999999999999999", LLONG_MAX},
        {u"-9223372036854775808", LLONG_MIN},
        {u"-9223372036854775809", LLONG_MIN},
        {u"-99999999999999999999999", LLONG_MIN},
        {u"\x0663", 0},  // a non-ASCII digit is no digit
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(platform::Read_Decimal(text), value) << platform::Utf16_To_Utf8(text);
        EXPECT_EQ(platform::Read_Decimal(std::string_view(platform::Utf16_To_Utf8(text))), value);
    }
    EXPECT_EQ(platform::Read_Unsigned_Decimal(u" 18446744073709551615"), UINT64_MAX);
    EXPECT_EQ(platform::Read_Unsigned_Decimal(u"18446744073709551616"), UINT64_MAX);
    EXPECT_EQ(platform::Read_Unsigned_Decimal(u"4294967296x"), 4294967296ull);
    EXPECT_EQ(platform::Read_Unsigned_Decimal(u"x1"), 0u);
}

TEST(Number_Reading, Hexadecimal) {
    const std::vector<std::pair<std::u16string, std::uint64_t>> cases{
        {u"", 0},
        {u"0x", 0},
        {u"zz", 0},
        {u"1F", 0x1F},
        {u"0x1f", 0x1F},
        {u"0X1F", 0x1F},
        {u"  0x10", 0x10},
        {u"00010000000001A2", 0x00010000000001A2},
        {u"ffffffffffffffff", UINT64_MAX},
        {u"10000000000000000", UINT64_MAX},  // clamps
        {u"12g4", 0x12},
        {u"0xg", 0},
        {u"\t+0x1F", 0x1F},
        {u"-1", UINT64_MAX},  // a minus sign negates, as strtoull does
        {u"-0x10", 0xFFFFFFFFFFFFFFF0},
        {u"-10000000000000000", UINT64_MAX},  // clamps before the sign applies
        {u"x10", 0},
        {u"0x-1", 0},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(platform::Read_Hexadecimal(text), value) << platform::Utf16_To_Utf8(text);
}

TEST(Clamping, InsertReverseFindAndMakeLower) {
    struct Insert_Case {
        long long index;
        const char16_t* expected;
    };
    const Insert_Case inserts[] = {
        {0, u"[x]abc"},  {2, u"ab[x]c"},        {3, u"abc[x]"},
        {99, u"abc[x]"},  // past the end appends
        {-5, u"[x]abc"},  // a negative index inserts at the start
        {LLONG_MAX, u"abc[x]"}, {LLONG_MIN, u"[x]abc"},
    };
    for (const Insert_Case& c : inserts) {
        std::u16string text = u"abc";
        EXPECT_EQ(platform::Insert(text, c.index, u"[x]"), 6u);
        EXPECT_EQ(text, c.expected) << c.index;
    }
    std::u16string empty;
    EXPECT_EQ(platform::Insert(empty, 4, u"x"), 1u);
    EXPECT_EQ(empty, u"x");

    EXPECT_EQ(platform::ReverseFind(u"\\a\\b.c.d", u'.'), 6);
    EXPECT_EQ(platform::ReverseFind(u"\\a\\b.c.d", u'\\'), 2);
    EXPECT_EQ(platform::ReverseFind(u"abc", u'.'), -1);
    EXPECT_EQ(platform::ReverseFind(u"", u'.'), -1);

    const std::vector<std::pair<std::u16string, std::u16string>> lowered{
        {u"Report.DOCX", u"report.docx"},
        {u"AZ@[`az{", u"az@[`az{"},                      // only A-Z move
        {u"\u00C9T\u00C9.PDF", u"\u00C9t\u00C9.pdf"},  // non-ASCII capitals stay
        {u"\u0130I", u"\u0130i"},
        {u"", u""},
    };
    for (const auto& [text, lower] : lowered) EXPECT_EQ(platform::MakeLower(text), lower);
}

TEST(Tokenize, CommaPiecesLikeTheClassLibrary) {
    using Pieces = std::vector<std::u16string>;
    const std::vector<std::pair<std::u16string, Pieces>> cases{
        {u"a.txt, b.txt", {u"a.txt", u" b.txt"}},  // blanks stay with their piece
        {u"a,b,c", {u"a", u"b", u"c"}},
        {u",a,,b,", {u"a", u"b"}},  // no empty piece at either end or between two commas
        {u",,,", {}},
        {u"", {}},
        {u"a", {u"a"}},
        {u"a, ,b", {u"a", u" ", u"b"}},  // a lone blank is a piece
        {u" ", {u" "}},
    };
    for (const auto& [text, pieces] : cases)
        EXPECT_EQ(platform::Tokenize(text, u","), pieces) << platform::Utf16_To_Utf8(text);
    // The delimiters are a set of units.
    EXPECT_EQ(platform::Tokenize(u"a;b,c", u",;"), (Pieces{u"a", u"b", u"c"}));
    EXPECT_EQ(platform::Tokenize(u"a,b", u""), (Pieces{u"a,b"}));
}

TEST(Format, RuleMessagesKeepValuesAsData) {
    struct Case {
        const char16_t* format;
        std::vector<std::u16string> values;
        std::u16string expected;
    };
    const std::vector<Case> cases{
        {u"%s (%s) has been executed.", {u"SDelete", u"Data Wiping"}, u"SDelete (Data Wiping) has been executed."},
        {u"\"%s\" has been deleted.", {u"100%s %d.docx"}, u"\"100%s %d.docx\" has been deleted."},
        {u"\"%s\" has been deleted.", {std::u16string(u"a.doc\0x.pdf", 11)}, u"\"a.doc\" has been deleted."},
        {u"The system time reversal has occurred. (%s -> %s)",
         {std::u16string(u"\0late", 5), u"2024-01-01 10:00:00"},
         u"The system time reversal has occurred. ( -> 2024-01-01 10:00:00)"},
        {u"[Malicious] After execution of %s,", {u"%s%s%s%n"}, u"[Malicious] After execution of %s%s%s%n,"},
    };
    for (const Case& c : cases) {
        std::u16string out;
        if (c.values.size() == 1) out = Format(c.format, {c.values[0]});
        else out = Format(c.format, {c.values[0], c.values[1]});
        EXPECT_EQ(out, c.expected);
    }
}
