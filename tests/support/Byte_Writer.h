// Little-endian writes into a byte buffer, for the fixture builders. Written
// independently of the readers' byte view, so a wrong reader is caught.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace test_support {

using Bytes = std::vector<std::uint8_t>;

template <typename T>
inline void Put_Le(Bytes& b, std::size_t at, T v) {
    for (std::size_t i = 0; i < sizeof(T); ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void Put_U8(Bytes& b, std::size_t at, std::uint8_t v) { b.at(at) = v; }
inline void Put_U16(Bytes& b, std::size_t at, std::uint16_t v) { Put_Le(b, at, v); }
inline void Put_U32(Bytes& b, std::size_t at, std::uint32_t v) { Put_Le(b, at, v); }
inline void Put_U64(Bytes& b, std::size_t at, std::uint64_t v) { Put_Le(b, at, v); }
inline void Put_Utf16(Bytes& b, std::size_t at, const std::u16string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) Put_U16(b, at + 2 * i, static_cast<std::uint16_t>(text[i]));
}
inline std::uint64_t Get_U64(const Bytes& b, std::size_t at) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(b.at(at + i)) << (8 * i);
    return v;
}
inline std::size_t Align8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

}  // namespace test_support
