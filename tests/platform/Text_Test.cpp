#include <gtest/gtest.h>

#include "platform/text.h"

using platform::Format;

TEST(Format, DesignFormats) {
    EXPECT_EQ(Format(u"%0.4d-%0.2d", {5, 7}), u"0005-07");
    EXPECT_EQ(Format(u"0x%X", {0xABCu}), u"0xABC");
    EXPECT_EQ(Format(u"%I64u", {18446744073709551615ull}), u"18446744073709551615");
    EXPECT_EQ(Format(u"0x%.16llX", {0x1234ull}), u"0x0000000000001234");
    EXPECT_EQ(Format(u"[%s]", {std::u16string(u"ab\0cd", 5)}), u"[ab]");
}
