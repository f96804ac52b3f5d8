#include <gtest/gtest.h>

#include <vector>

#include "platform/Byte_View.h"

TEST(Byte_View, ReadsLittleEndianAndRefusesWhatIsNotThere) {
    const std::vector<std::uint8_t> bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x41, 0x00};
    const Byte_View view(bytes);
    EXPECT_EQ(view.Read_U16(0), 0x0201);
    EXPECT_EQ(view.Read_U32(1), 0x05040302u);
    EXPECT_EQ(view.Read_U64(0), 0x0807060504030201ull);
    EXPECT_EQ(view.Read_Utf16(8, 1), u"A");
    EXPECT_FALSE(view.Read_U16(9));
    EXPECT_FALSE(view.Read_U64(3));
    EXPECT_FALSE(view.Read_U8(10));
    EXPECT_FALSE(view.Read_U32(SIZE_MAX - 1));  // offset + length would wrap
    EXPECT_FALSE(view.Sub(4, 7));
    EXPECT_EQ(view.Sub(4, 6)->Read_U16(4), 0x0041);
    EXPECT_FALSE(view.Read_Utf16(8, SIZE_MAX / 2 + 1));
}
