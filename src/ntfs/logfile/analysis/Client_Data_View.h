// The client data of one log record as the analysis reads it: positions are
// counted from the start of the redo data, so the redo data starts at 0 and
// the undo data at (undo offset - redo offset), which may be negative. Every
// byte that is not part of the record's client data reads as zero, so a read
// at any offset, however far outside, is safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

class Client_Data_View {
public:
    Client_Data_View() = default;
    // `client` is the whole client data that was assembled (from its first
    // byte, the redo operation field); `redo_offset` is where the redo data
    // starts in it.
    Client_Data_View(std::span<const std::uint8_t> client, std::size_t redo_offset)
        : client_(client), origin_(static_cast<std::int64_t>(redo_offset)) {}

    // The count of client bytes in hand and where position 0 lies among them.
    std::size_t Client_Size() const { return client_.size(); }
    std::int64_t Redo_Offset() const { return origin_; }

    std::uint8_t Read_U8(std::int64_t position) const {
        // Positions far outside any record are folded into "outside" before
        // the addition can overflow.
        if (position < -origin_ || position >= static_cast<std::int64_t>(client_.size()) - origin_) return 0;
        return client_[static_cast<std::size_t>(position + origin_)];
    }
    std::uint16_t Read_U16(std::int64_t position) const { return static_cast<std::uint16_t>(Read_Le(position, 2)); }
    std::uint32_t Read_U32(std::int64_t position) const { return static_cast<std::uint32_t>(Read_Le(position, 4)); }
    std::uint64_t Read_U64(std::int64_t position) const { return Read_Le(position, 8); }

    // out.size() bytes from `position`, zeros where the client data has none.
    void Copy(std::int64_t position, std::span<std::uint8_t> out) const {
        for (std::size_t i = 0; i < out.size(); ++i) out[i] = Read_U8(Add(position, i));
    }

    // `units` UTF-16LE code units.
    std::u16string Read_Utf16(std::int64_t position, std::size_t units) const {
        std::u16string text(units, u'\0');
        for (std::size_t i = 0; i < units; ++i) {
            const std::int64_t at = Add(position, 2 * i);
            text[i] = static_cast<char16_t>(Read_U8(at) | (Read_U8(Add(at, 1)) << 8));
        }
        return text;
    }

private:
    static std::int64_t Add(std::int64_t position, std::size_t delta) {
        // Saturate instead of overflowing; any saturated position is outside.
        const auto d = static_cast<std::int64_t>(delta > static_cast<std::size_t>(INT64_MAX) ? INT64_MAX : delta);
        return position > INT64_MAX - d ? INT64_MAX : position + d;
    }
    std::uint64_t Read_Le(std::int64_t position, int width) const {
        std::uint64_t value = 0;
        for (int i = 0; i < width; ++i)
            value |= static_cast<std::uint64_t>(Read_U8(Add(position, static_cast<std::size_t>(i)))) << (8 * i);
        return value;
    }

    std::span<const std::uint8_t> client_;
    std::int64_t origin_ = 0;
};
