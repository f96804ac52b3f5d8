#include <gtest/gtest.h>

#include <string>

#include "db/CppSQLite3.h"
#include "db/Stored_Text.h"
#include "platform/text.h"
#include "support/Temp_Dir.h"

namespace {

struct Stored_Case {
    const char* name;
    std::u16string value;
    std::u16string stored;
};

std::string Hex(std::string_view bytes) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string hex;
    for (const char c : bytes) {
        hex.push_back(Digits[static_cast<unsigned char>(c) >> 4]);
        hex.push_back(Digits[static_cast<unsigned char>(c) & 0xF]);
    }
    return hex;
}

}  // namespace

TEST(Stored_Text, BothSinksGiveTheOneStoredForm) {
    const Stored_Case cases[] = {
        {"plain", u"report.docx", u"report.docx"},
        {"empty", u"", u""},
        {"quotes stay single", u"it's ''x''", u"it's ''x''"},
        {"commas become slashes", u"a,b,,c/", u"a/b//c/"},
        {"cut at the first NUL", std::u16string(u"cut\0off, 'x'", 12), u"cut"},
        {"NUL first", std::u16string(u"\0abc", 4), u""},
        {"two and three bytes", u"\u00E9t\u00E9 \u65E5\u672C \u07FF\u0800\uFFFF", u"\u00E9t\u00E9 \u65E5\u672C \u07FF\u0800\uFFFF"},
        {"a pair is kept", u"pair \xD83D\xDE00 \xDBFF\xDFFF", u"pair \xD83D\xDE00 \xDBFF\xDFFF"},
        {"lone high", u"lone \xD800x", u"lone \uFFFDx"},
        {"lone high at the end", u"end \xDBFF", u"end \uFFFD"},
        {"lone low", u"\xDC00low", u"\uFFFDlow"},
        {"pair reversed", u"\xDE00\xD83D", u"\uFFFD\uFFFD"},
        {"two highs then a low", u"\xD800\xD800\xDC00", u"\uFFFD\xD800\xDC00"},
    };
    Temp_Dir dir;
    CppSQLite3DB db;
    ASSERT_EQ(db.Open_With_Pragmas(dir.File("stored.db")), 1);
    CppSQLite3Statement echo(db, u"select ?");
    for (const Stored_Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Stored_Sql_Value(c.value), c.stored);
        std::string utf8 = "kept:";
        Append_Stored_Value(c.value, utf8);
        EXPECT_EQ(utf8, "kept:" + platform::Utf16_To_Utf8(c.stored));
        // What SQLite keeps of the UTF-16 form is the UTF-8 form, byte for byte.
        const std::u16string wide = Stored_Sql_Value(c.value);
        echo.Bind_Text16(1, wide);
        ASSERT_TRUE(echo.Step());
        EXPECT_EQ(Hex(echo.Column_Text(0)), Hex(std::string_view(utf8).substr(5)));
        echo.Reset();
    }
}
