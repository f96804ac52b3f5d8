// Unsigned arithmetic on sizes and offsets that come from disk, where a sum
// must not wrap.
#pragma once

#include <cstdint>

// a + b, or the largest value when the sum does not fit in 64 bits.
constexpr std::uint64_t Saturating_Add(std::uint64_t a, std::uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}
