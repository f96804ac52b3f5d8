#include "ntfs/mft/File_Record.h"

#include <optional>

#include "platform/text.h"

namespace {

namespace R = File_Record_Layout;
namespace A = Attribute_Layout;

// Where an attribute's content starts: after the resident value offset, or
// (non-resident) after the mapping-pairs offset, as the index has always
// taken it.
std::optional<std::size_t> Content_Offset(Byte_View record, std::size_t a) {
    const auto non_resident = record.Read_U8(a + A::Non_Resident);
    if (!non_resident) return std::nullopt;
    const auto offset = record.Read_U16(a + (*non_resident ? A::Mapping_Pairs_Offset : A::Value_Offset));
    if (!offset) return std::nullopt;
    return a + *offset;
}

// False when a field of the attribute is not inside the record: the walk ends.
bool Read_Standard_Information(Byte_View record, std::size_t a, Decoded_File_Record& out) {
    namespace S = Standard_Information_Layout;
    const auto content = Content_Offset(record, a);
    if (!content) return false;
    const auto create = record.Read_U64(*content + S::Create_Time);
    const auto modified = record.Read_U64(*content + S::Modified_Time);
    const auto mft_modified = record.Read_U64(*content + S::Mft_Modified_Time);
    const auto access = record.Read_U64(*content + S::Access_Time);
    if (!create || !modified || !mft_modified || !access) return false;
    out.Has_Standard_Information = true;
    out.Create_Time = *create;
    out.Modified_Time = *modified;
    out.Mft_Modified_Time = *mft_modified;
    out.Access_Time = *access;
    return true;
}

bool Read_File_Name(Byte_View record, std::size_t a, Decoded_File_Record& out) {
    namespace F = File_Name_Layout;
    const auto content = Content_Offset(record, a);
    if (!content) return false;
    const auto parent = record.Read_U64(*content + F::Parent_Reference);
    const auto length = record.Read_U8(*content + F::Name_Length);
    const auto name_space = record.Read_U8(*content + F::Name_Space);
    if (!parent || !length || !name_space) return false;
    if (*length == 0 || *name_space == F::Dos_Name_Space) return true;
    const auto name = record.Read_Utf16(*content + F::Name, *length);
    if (!name) return false;
    out.Names.push_back(_FILENAME_DATA{*parent, std::u16string(platform::Cut_At_Nul(*name))});
    return true;
}

bool Read_Data(Byte_View record, std::size_t a, Decoded_File_Record& out) {
    const auto name_length = record.Read_U8(a + A::Name_Length);
    const auto non_resident = record.Read_U8(a + A::Non_Resident);
    if (!name_length || !non_resident) return false;
    if (*name_length == 0) {
        if (*non_resident) {
            const auto size = record.Read_U64(a + A::Data_Size);
            if (!size) return false;
            out.Data_Size = *size;
            // Both lie before the data size, so they are there too.
            out.Data_Non_Resident = true;
            out.Data_Allocated_Size = *record.Read_U64(a + A::Allocated_Size);
            out.Data_Last_Vcn = *record.Read_U64(a + A::Last_Vcn);
        } else {
            const auto size = record.Read_U32(a + A::Value_Length);
            if (!size) return false;
            out.Data_Size = *size;
            out.Data_Non_Resident = false;
        }
        return true;
    }
    const auto name_offset = record.Read_U16(a + A::Name_Offset);
    if (!name_offset) return false;
    const auto name = record.Read_Utf16(a + *name_offset, *name_length);
    if (!name) return false;
    if (*name == u"Zone.Identifier") out.Has_Zone_Identifier = true;
    return true;
}

void Walk_Attributes(Byte_View record, std::size_t first, Decoded_File_Record& out) {
    const std::size_t record_size = record.Size();
    std::size_t a = first;
    // Every step moves forward by a non-zero length, so the walk ends within
    // record_size steps.
    for (;;) {
        const auto type = record.Read_U32(a + A::Type);
        const auto length = record.Read_U32(a + A::Length);
        if (!type || !length || *length == 0) return;
        bool whole = true;
        switch (Attribute_Type{*type}) {
            case Attribute_Type::Standard_Information: whole = Read_Standard_Information(record, a, out); break;
            case Attribute_Type::File_Name: whole = Read_File_Name(record, a, out); break;
            case Attribute_Type::Data: whole = Read_Data(record, a, out); break;
            default: break;
        }
        if (!whole) return;
        if (*length > record_size || *type > A::Highest_Type) return;
        a += *length;
        if (a > record_size) return;
        const auto next = record.Read_U32(a + A::Type);
        if (!next || Attribute_Type{*next} == Attribute_Type::End_Marker) return;
    }
}

}  // namespace

std::size_t File_Record_Size_From_Record_0(Byte_View record_0_start) {
    // Only a record that is one tells its size; anything else keeps the usual 1024.
    const auto signature = record_0_start.Read_U32(R::Signature);
    const auto allocated = record_0_start.Read_U32(R::Allocated_Size);
    if (!signature || *signature != R::Signature_Value || !allocated) return R::Default_Size;
    if (*allocated == 1024 || *allocated == 4096) return *allocated;
    return R::Default_Size;
}

bool Is_File_Record(Byte_View record) {
    const auto signature = record.Read_U32(R::Signature);
    const auto sequence_offset_low = record.Read_U8(R::Update_Sequence_Offset);
    const auto first_attribute = record.Read_U16(R::First_Attribute_Offset);
    if (!signature || !sequence_offset_low || !first_attribute) return false;
    return *signature == R::Signature_Value && (*sequence_offset_low == 0x30 || *sequence_offset_low == 0x2A) &&
           *first_attribute < R::First_Attribute_Limit;
}

void Apply_Update_Sequence_Fixup(std::span<std::uint8_t> record) {
    const Byte_View view(record);
    const auto count = view.Read_U16(R::Update_Sequence_Count);
    const auto array_offset = view.Read_U16(R::Update_Sequence_Offset);
    if (!count || *count == 0 || !array_offset) return;
    const std::size_t sectors = record.size() / R::Sector_Size;
    // The number itself and one saved u16 per sector must all be in the record.
    if (!view.Has(*array_offset, 2 * (1 + sectors))) return;
    std::vector<std::uint16_t> saved(1 + sectors);
    for (std::size_t k = 0; k <= sectors; ++k) saved[k] = *view.Read_U16(*array_offset + 2 * k);
    const std::uint16_t number = saved[0];
    for (std::size_t k = 1; k <= sectors; ++k) {
        const std::size_t end = R::Sector_Size * k - 2;
        if (*view.Read_U16(end) != number) continue;
        record[end] = static_cast<std::uint8_t>(saved[k] & 0xFF);
        record[end + 1] = static_cast<std::uint8_t>(saved[k] >> 8);
    }
}

bool Decode_File_Record(std::span<std::uint8_t> record, Decoded_File_Record& out) {
    out.Sequence_Number = 0;
    out.Flags = 0;
    out.Lsn = 0;
    out.Has_Standard_Information = false;
    out.Create_Time = out.Modified_Time = out.Mft_Modified_Time = out.Access_Time = 0;
    out.Names.clear();
    out.Data_Size = 0;
    out.Data_Non_Resident = false;
    out.Data_Allocated_Size = out.Data_Last_Vcn = 0;
    out.Has_Zone_Identifier = false;

    if (!Is_File_Record(Byte_View(record))) return false;
    Apply_Update_Sequence_Fixup(record);
    const Byte_View view(record);
    // Is_File_Record has seen the header, so these fields are there.
    out.Sequence_Number = view.Read_U16(R::Sequence_Number).value_or(0);
    out.Flags = view.Read_U16(R::Flags).value_or(0);
    out.Lsn = view.Read_U64(R::Log_File_Sequence_Number).value_or(0);
    Walk_Attributes(view, *view.Read_U16(R::First_Attribute_Offset), out);
    return true;
}
