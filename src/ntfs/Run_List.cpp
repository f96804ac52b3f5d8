#include "ntfs/Run_List.h"

#include "platform/text.h"

namespace {

// `size` bytes from `at`, little-endian; bytes past the eighth are skipped.
std::uint64_t Read_Unsigned(std::span<const std::uint8_t> bytes, std::size_t at, unsigned size) {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < size && i < 8; ++i) value |= std::uint64_t{bytes[at + i]} << (8 * i);
    return value;
}

}  // namespace

std::vector<Data_Run> Decode_Run_List(std::span<const std::uint8_t> pairs) {
    std::vector<Data_Run> runs;
    std::uint64_t cluster = 0;
    std::size_t at = 0;
    while (at < pairs.size()) {
        const std::uint8_t header = pairs[at];
        const unsigned length_size = header & 0x0Fu;
        const unsigned offset_size = header >> 4;
        if (length_size == 0 || offset_size == 0) break;
        // The header byte is at `at`, so at least one byte is left.
        if (pairs.size() - at - 1 < std::size_t{length_size} + offset_size) break;
        const std::uint64_t length = Read_Unsigned(pairs, at + 1, length_size);
        std::uint64_t offset = 0;
        if (offset_size <= 8) {
            offset = Read_Unsigned(pairs, at + 1 + length_size, offset_size);
            const bool negative = offset_size < 8 && ((offset >> (8 * offset_size - 1)) & 1) != 0;
            if (negative) offset |= ~std::uint64_t{0} << (8 * offset_size);
        }
        cluster += offset;
        runs.push_back(Data_Run{cluster, length});
        at += 1 + length_size + offset_size;
    }
    return runs;
}

std::u16string Run_List_Text(std::span<const Data_Run> runs) {
    std::u16string text;
    for (const Data_Run& run : runs)
        text += platform::Format(text.empty() ? u"%I64u(%I64u)" : u",%I64u(%I64u)",
                                 {static_cast<unsigned long long>(run.Cluster),
                                  static_cast<unsigned long long>(run.Length)});
    return text;
}
