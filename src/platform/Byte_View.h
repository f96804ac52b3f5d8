// A non-owning, bounds-checked little-endian view over bytes. Every on-disk
// structure is read through it: a field that is not all there reads as
// absent, never past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

class Byte_View {
public:
    Byte_View() = default;
    explicit Byte_View(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    Byte_View(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}

    std::size_t Size() const { return bytes_.size(); }
    const std::uint8_t* Data() const { return bytes_.data(); }
    std::span<const std::uint8_t> Bytes() const { return bytes_; }

    // True when [offset, offset + length) lies inside the view.
    bool Has(std::size_t offset, std::size_t length) const {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }

    std::optional<std::uint8_t> Read_U8(std::size_t offset) const {
        if (!Has(offset, 1)) return std::nullopt;
        return bytes_[offset];
    }
    std::optional<std::uint16_t> Read_U16(std::size_t offset) const { return Read<std::uint16_t>(offset); }
    std::optional<std::uint32_t> Read_U32(std::size_t offset) const { return Read<std::uint32_t>(offset); }
    std::optional<std::uint64_t> Read_U64(std::size_t offset) const { return Read<std::uint64_t>(offset); }

    std::optional<Byte_View> Sub(std::size_t offset, std::size_t length) const {
        if (!Has(offset, length)) return std::nullopt;
        return Byte_View(bytes_.subspan(offset, length));
    }

    // `units` UTF-16LE code units at `offset`, or absent when not all there.
    std::optional<std::u16string> Read_Utf16(std::size_t offset, std::size_t units) const {
        if (units > bytes_.size() / 2 || !Has(offset, units * 2)) return std::nullopt;
        std::u16string text(units, u'\0');
        for (std::size_t i = 0; i < units; ++i)
            text[i] = static_cast<char16_t>(bytes_[offset + 2 * i] | (bytes_[offset + 2 * i + 1] << 8));
        return text;
    }

private:
    template <typename T>
    std::optional<T> Read(std::size_t offset) const {
        if (!Has(offset, sizeof(T))) return std::nullopt;
        T value = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(static_cast<T>(bytes_[offset + i]) << (8 * i));
        return value;
    }

    std::span<const std::uint8_t> bytes_;
};
