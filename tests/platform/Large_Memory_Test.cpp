#include "platform/large_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

// Small and large arrays start zeroed, keep what is written, and move.
TEST(Large_Memory, ArraysStartZeroedAndMove) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{10}, platform::Large_Memory_Bytes / 8 + 3}) {
        platform::Large_Array<std::uint64_t> a(size);
        ASSERT_EQ(a.size(), size);
        for (const std::uint64_t v : a) ASSERT_EQ(v, 0u);
        if (size == 0) continue;
        a[size - 1] = 7;
        platform::Large_Array<std::uint64_t> b = std::move(a);
        EXPECT_TRUE(a.empty());
        EXPECT_EQ(b[size - 1], 7u);
        a = std::move(b);
        EXPECT_EQ(a[size - 1], 7u);
    }
}

// A vector grows from the heap into mapped memory and back, keeping its
// elements.
TEST(Large_Memory, VectorsGrowAcrossTheThreshold) {
    platform::Large_Vector<std::uint32_t> v;
    const std::size_t count = platform::Large_Memory_Bytes / sizeof(std::uint32_t) * 3;
    for (std::size_t i = 0; i < count; ++i) v.push_back(static_cast<std::uint32_t>(i));
    for (std::size_t i = 0; i < count; i += 4099) ASSERT_EQ(v[i], i);
    v.resize(5);
    v.shrink_to_fit();
    EXPECT_EQ(v.back(), 4u);
    platform::Large_Vector<std::uint32_t>().swap(v);
    EXPECT_TRUE(v.empty());
}
