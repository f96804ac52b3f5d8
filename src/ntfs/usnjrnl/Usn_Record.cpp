#include "ntfs/usnjrnl/Usn_Record.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "ntfs/File_Attribute_Words.h"
#include "ntfs/usnjrnl/Usn_Reason_Words.h"

namespace L = Usn_Record_V2_Layout;

namespace {

struct Bit_Word {
    std::uint32_t Bit;
    std::u16string_view Word;
};

// The reason and attribute words in the order they are appended.
constexpr auto Reason_Words = [] {
    std::array<Bit_Word, Usn_Reason_Words.size()> words{};
    for (std::size_t i = 0; i < words.size(); ++i) words[i] = {Usn_Reason_Words[i].Bit, Usn_Reason_Words[i].Word};
    return words;
}();
constexpr auto Attribute_Words = [] {
    std::array<Bit_Word, Journal_File_Attribute_Order.size()> words{};
    for (std::size_t i = 0; i < words.size(); ++i) {
        const File_Attribute bit = Journal_File_Attribute_Order[i];
        words[i] = {static_cast<std::uint32_t>(bit), Journal_File_Attribute_Word(bit)};
    }
    return words;
}();

template <std::size_t N>
std::u16string Words_Of(std::uint32_t value, const std::array<Bit_Word, N>& table) {
    std::u16string text;
    for (const Bit_Word& entry : table) {
        if ((value & entry.Bit) == 0) continue;
        if (!text.empty()) text += Usn_Word_Separator;
        text += entry.Word;
    }
    return text;
}

bool Is_Known_Source_Info(std::uint32_t source_info) {
    // 0, or one of USN_SOURCE_DATA_MANAGEMENT (1), _AUXILIARY_DATA (2),
    // _REPLICATION_MANAGEMENT (4) alone.
    return source_info == 0 || source_info == 1 || source_info == 2 || source_info == 4;
}

}  // namespace

std::optional<Usn_Record_V2> Decode_Usn_Record_V2(const Byte_View& bytes) {
    // The name test below fails any record shorter than its fixed part; the
    // gate fails it first, which keeps every field read inside the record.
    if (!Passes_Usn_Record_V2_Gate(bytes, 0)) return std::nullopt;
    const auto record_length = bytes.Read_U32(L::Record_Length);
    if (!record_length) return std::nullopt;
    // The record must be all there: a candidate cut by the end of the data is
    // not decoded from what happens to follow it.
    const auto record = bytes.Sub(0, *record_length);
    if (!record) return std::nullopt;

    const auto time_stamp_high = record->Read_U8(L::Time_Stamp_High_Byte);
    if (!time_stamp_high || *time_stamp_high != L::Time_Stamp_High_Byte_Value) return std::nullopt;
    const auto source_info = record->Read_U32(L::Source_Info);
    if (!source_info || !Is_Known_Source_Info(*source_info)) return std::nullopt;
    const auto name_offset = record->Read_U16(L::File_Name_Offset);
    if (!name_offset || *name_offset != L::Fixed_Size) return std::nullopt;
    const auto name_length = record->Read_U16(L::File_Name_Length);
    if (!name_length) return std::nullopt;
    // Summed as 32-bit: a u16 offset and length cannot wrap it.
    if (static_cast<std::uint32_t>(*name_offset) + *name_length > *record_length) return std::nullopt;

    Usn_Record_V2 r;
    r.Record_Length = *record_length;
    r.File_Reference_Number = *record->Read_U64(L::File_Reference_Number);
    r.Parent_File_Reference_Number = *record->Read_U64(L::Parent_File_Reference_Number);
    r.Usn = *record->Read_U64(L::Usn);
    r.Time_Stamp = *record->Read_U64(L::Time_Stamp);
    r.Reason = *record->Read_U32(L::Reason);
    r.Source_Info = *source_info;
    r.File_Attributes = *record->Read_U32(L::File_Attributes);

    // A name longer than the name buffer (only damaged or carved data has
    // one) is cut to the buffer.
    const std::size_t name_bytes = std::min<std::size_t>(*name_length, 2 * L::Max_File_Name_Units);
    const auto name = record->Sub(*name_offset, name_bytes);
    if (!name) return std::nullopt;
    auto units = name->Read_Utf16(0, name_bytes / 2);
    if (!units) return std::nullopt;
    r.File_Name = std::move(*units);
    // An odd byte count leaves a last unit with only its low byte.
    if (name_bytes % 2 != 0) r.File_Name.push_back(static_cast<char16_t>(*name->Read_U8(name_bytes - 1)));
    const std::size_t nul = r.File_Name.find(u'\0');
    if (nul != std::u16string::npos) r.File_Name.resize(nul);
    return r;
}

std::u16string Usn_Reason_Text(std::uint32_t reason) { return Words_Of(reason, Reason_Words); }

std::u16string Usn_File_Attribute_Text(std::uint32_t attributes) { return Words_Of(attributes, Attribute_Words); }
