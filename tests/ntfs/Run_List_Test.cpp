// The one run-list decoder, over the byte ranges its callers hand it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ntfs/Run_List.h"

namespace {

std::u16string Text_Of(const std::vector<std::uint8_t>& pairs) { return Run_List_Text(Decode_Run_List(pairs)); }

TEST(Run_List, Runs_Until_The_List_Ends) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> pairs;
        std::u16string text;
    };
    const Case cases[] = {
        {"one run", {0x21, 0x10, 0x00, 0x01}, u"256(16)"},
        {"a negative offset moves back",
         {0x21, 0x10, 0x00, 0x01, 0x11, 0x08, 0xF0, 0x00},
         u"256(16),240(8)"},
        {"a zero header byte ends the list", {0x11, 0x01, 0x05, 0x00, 0x11, 0x01, 0x05}, u"5(1)"},
        {"a sparse run (no offset) ends the list", {0x11, 0x01, 0x05, 0x01, 0x02}, u"5(1)"},
        {"a run without length ends the list", {0x11, 0x01, 0x05, 0x10, 0x02}, u"5(1)"},
        {"a pair cut by the range's end ends the list", {0x11, 0x01, 0x05, 0x21, 0x01, 0x02}, u"5(1)"},
        {"a pair that fills the range exactly is kept", {0x11, 0x01, 0x05, 0x21, 0x01, 0x02, 0x00}, u"5(1),7(1)"},
        {"an offset wider than 8 bytes counts 0",
         {0x11, 0x01, 0x05, 0x91, 0x03, 1, 2, 3, 4, 5, 6, 7, 8, 9},
         u"5(1),5(3)"},
        {"only the low 8 bytes of a longer length count",
         {0x19, 1, 0, 0, 0, 0, 0, 0, 0, 7, 0x05},
         u"5(1)"},
        {"the running cluster wraps", {0x81, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x11, 0x01, 0x02},
         u"18446744073709551615(1),1(1)"},
        {"empty", {}, u""},
    };
    for (const Case& c : cases) EXPECT_EQ(Text_Of(c.pairs), c.text) << c.what;
}

TEST(Run_List, Zeros_Of_A_Zero_Filled_Buffer_End_The_List_But_Fill_A_Cut_Pair) {
    // The creation case decodes a 4096-byte buffer zero-filled past the
    // attribute: a pair whose offset runs into the zeros keeps them.
    std::vector<std::uint8_t> buffer(4096, 0);
    const std::uint8_t attribute_bytes[] = {0x11, 0x01, 0x05, 0x21, 0x02, 0x01};
    std::copy(std::begin(attribute_bytes), std::end(attribute_bytes), buffer.begin());
    EXPECT_EQ(Text_Of(buffer), u"5(1),6(2)");
    // The content write passes only the bytes it has: the same pair is cut.
    EXPECT_EQ(Text_Of({attribute_bytes, attribute_bytes + sizeof attribute_bytes}), u"5(1)");
}

}  // namespace
