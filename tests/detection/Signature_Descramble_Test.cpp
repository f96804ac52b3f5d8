#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detection/Signature_Descramble.h"
#include "support/Signature_Db_Builder.h"

namespace {

// A blob of 11 unused bytes (0xEE) followed by the given window, padded to m.
std::vector<std::uint8_t> Blob(std::vector<std::uint8_t> window, int n) {
    std::vector<std::uint8_t> blob(11, 0xEE);
    window.resize(Signature_Window_Length(n), 0xCC);
    blob.insert(blob.end(), window.begin(), window.end());
    return blob;
}

std::string Descramble(const std::vector<std::uint8_t>& blob, int n) {
    std::vector<std::uint8_t> out(1024, 0);
    const int written = Descramble_Signature_Blob(blob, out, n);
    return std::string(out.begin(), out.begin() + written);
}

}  // namespace

// Worked by hand: K2^K3 = 0x75 and K1^K3 = 0xB8.
TEST(Signature_Descramble, HandWorkedVectors) {
    // n = 2: window byte 0 under K2,K3 then window byte 1 under K1,K3.
    EXPECT_EQ(Descramble(Blob({0x3D, 0xD1}, 2), 2), "Hi");
    // n = 1: only window byte 1 is used.
    EXPECT_EQ(Descramble(Blob({0xFF, 0xD1}, 1), 1), "i");
    // n = 3: window byte 3 first, then bytes 0 and 1 as for n = 2; byte 2 unused.
    EXPECT_EQ(Descramble(Blob({0x3D, 0xD1, 0x77, 0xF9}, 3), 3), "AHi");
    EXPECT_EQ(Signature_Window_Length(2), 22);
    EXPECT_EQ(Signature_Window_Length(1), 22);
    EXPECT_EQ(Signature_Window_Length(3), 24);
}

TEST(Signature_Descramble, RoundTripThroughTheBuilder) {
    for (const std::string& plain :
         {std::string("E"), std::string("Execution|Wiper|Same|SDELETE.EXE|SDelete"), std::string(1003, 'x'),
          std::string("Trace|Tool|Include|a\0b|Name", 27), std::string("\xC3\xA9t\xC3\xA9")}) {
        const std::string stored = Scramble_Signature(plain);
        const std::vector<std::uint8_t> blob(stored.begin(), stored.end());
        // The routine writes n bytes and no terminator; a zero inside is kept.
        EXPECT_EQ(Descramble(blob, static_cast<int>(plain.size())), plain) << plain.size();
    }
}

TEST(Signature_Descramble, GuardsWriteNothing) {
    const std::string stored = Scramble_Signature("abcd");
    const std::vector<std::uint8_t> blob(stored.begin(), stored.end());
    std::vector<std::uint8_t> out(8, 0x11);
    EXPECT_EQ(Descramble_Signature_Blob(blob, out, 0), 0);
    EXPECT_EQ(Descramble_Signature_Blob(blob, out, -7), 0);
    // n = 1005 needs a window of 1026 bytes, more than the 1024 allowed.
    const std::vector<std::uint8_t> big(2048, 0x42);
    std::vector<std::uint8_t> wide(2048, 0x11);
    EXPECT_EQ(Descramble_Signature_Blob(big, wide, 1005), 0);
    EXPECT_EQ(wide, std::vector<std::uint8_t>(2048, 0x11));
    EXPECT_EQ(Descramble_Signature_Blob(big, wide, 1004), 1004);
    // A blob one byte short of its window.
    EXPECT_EQ(Descramble_Signature_Blob(std::span(blob).first(blob.size() - 1), out, 4), 0);
    // An output shorter than n.
    EXPECT_EQ(Descramble_Signature_Blob(blob, std::span(out).first(3), 4), 0);
    EXPECT_EQ(out, std::vector<std::uint8_t>(8, 0x11));
    EXPECT_EQ(Descramble_Signature_Blob(blob, out, 4), 4);
}
