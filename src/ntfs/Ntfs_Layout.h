// The NTFS structures that more than one reader meets: file references, the
// FILE record header, attribute headers and type codes, and the contents of
// $STANDARD_INFORMATION, $FILE_NAME and a directory index entry. The $MFT
// reader finds them in FILE records, the log analysis in the redo and undo
// data of log records, the journal reader in its references: each reads them
// through these names, from its own bytes.
//
// Offsets only: nothing here reads bytes. Every structure is little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- File references ----
//
// A file reference is an entry number in the low 48 bits and the entry's
// sequence number above them.
inline constexpr std::uint64_t Entry_Number_Mask = 0x0000FFFFFFFFFFFFull;
inline constexpr unsigned Sequence_Number_Shift = 48;
// The root directory, its own parent.
inline constexpr std::uint64_t Root_Entry_Number = 5;
// $MFTMirr, whose one unnamed $DATA tells the cluster size.
inline constexpr std::uint64_t Mft_Mirror_Entry_Number = 1;

constexpr std::uint64_t Entry_Number_Of(std::uint64_t reference) { return reference & Entry_Number_Mask; }
constexpr std::uint64_t File_Reference_Of(std::uint64_t entry_number, std::uint16_t sequence_number) {
    return Entry_Number_Of(entry_number) | (std::uint64_t{sequence_number} << Sequence_Number_Shift);
}
// True for a reference to the root, whatever its sequence number.
constexpr bool Is_Root_Reference(std::uint64_t reference) { return Entry_Number_Of(reference) == Root_Entry_Number; }

// ---- FILE record header ----
//    0 Signature "FILE" (4) | 4 UpdateSequenceOffset u16 | 6 UpdateSequenceCount u16
//    8 LogFileSequenceNumber u64 | 0x10 SequenceNumber u16 | 0x12 HardLinkCount u16
// 0x14 FirstAttributeOffset u16 | 0x16 Flags u16 | 0x18 UsedSize u32 | 0x1C AllocatedSize u32
namespace File_Record_Layout {
inline constexpr std::size_t Signature = 0x00;
inline constexpr std::size_t Update_Sequence_Offset = 0x04;
inline constexpr std::size_t Update_Sequence_Count = 0x06;
inline constexpr std::size_t Log_File_Sequence_Number = 0x08;
inline constexpr std::size_t Sequence_Number = 0x10;
inline constexpr std::size_t First_Attribute_Offset = 0x14;
inline constexpr std::size_t Flags = 0x16;
inline constexpr std::size_t Allocated_Size = 0x1C;

// "FILE" read as a u32.
inline constexpr std::uint32_t Signature_Value = 0x454C4946;
// Where Windows puts the first attribute ($STANDARD_INFORMATION) of the
// records it writes (NTFS 3.1); the log names attributes by this offset.
inline constexpr std::uint16_t Usual_First_Attribute = 0x38;
// The first-attribute offset must lie inside the first sector's header area.
inline constexpr std::uint16_t First_Attribute_Limit = 500;
// Each 512-byte sector ends in the update sequence number; the real last two
// bytes of sector k are kept at UpdateSequenceOffset + 2k.
inline constexpr std::size_t Sector_Size = 512;

// Flags: bit 0 in use, bit 1 directory.
inline constexpr std::uint16_t Flag_In_Use = 0x0001;
inline constexpr std::uint16_t Flag_Directory = 0x0002;

// The record size that is assumed where nothing tells another.
inline constexpr std::size_t Default_Size = 1024;

static_assert(Allocated_Size + 4 <= Usual_First_Attribute && Usual_First_Attribute < First_Attribute_Limit);
}  // namespace File_Record_Layout

// ---- Attributes ----

// The attribute type codes the readers act on. A type read from disk may be
// any other value too.
enum class Attribute_Type : std::uint32_t {
    Standard_Information = 0x10,
    File_Name = 0x30,
    Data = 0x80,
    Index_Root = 0x90,
    // Stands where a type would, after the last attribute.
    End_Marker = 0xFFFFFFFF,
};

// Attribute header, at the attribute's start:
//    0 Type u32 | 4 Length u32 | 8 NonResident u8 | 9 NameLength u8 (UTF-16 units)
//  0xA NameOffset u16 (from the attribute's start)
//  resident:     0x10 ValueLength u32 | 0x14 ValueOffset u16 | 0x18 the content, as Windows lays it
//  non-resident: 0x18 LastVcn u64 | 0x20 MappingPairsOffset u16 | 0x28 AllocatedSize u64
//                0x30 DataSize u64
namespace Attribute_Layout {
inline constexpr std::size_t Type = 0x00;
inline constexpr std::size_t Length = 0x04;
inline constexpr std::size_t Non_Resident = 0x08;
inline constexpr std::size_t Name_Length = 0x09;
inline constexpr std::size_t Name_Offset = 0x0A;
inline constexpr std::size_t Value_Length = 0x10;
inline constexpr std::size_t Value_Offset = 0x14;
inline constexpr std::size_t Last_Vcn = 0x18;
inline constexpr std::size_t Mapping_Pairs_Offset = 0x20;
inline constexpr std::size_t Allocated_Size = 0x28;
inline constexpr std::size_t Data_Size = 0x30;

// The content of an unnamed resident attribute starts here. The log names
// the fields it changes by their offset from the attribute's start, so the
// log analysis reads them there, whatever ValueOffset says.
inline constexpr std::size_t Resident_Content = 0x18;
// The shortest non-resident header with room for its sizes.
inline constexpr std::uint32_t Min_Non_Resident_Length = 0x48;
// Types above this are not attributes of a FILE record.
inline constexpr std::uint32_t Highest_Type = 0xFF;

static_assert(Value_Offset + 2 <= Resident_Content && Data_Size + 8 <= Min_Non_Resident_Length);
}  // namespace Attribute_Layout

// $STANDARD_INFORMATION content: four FILETIMEs, then the file-attribute word.
namespace Standard_Information_Layout {
inline constexpr std::size_t Create_Time = 0x00;
inline constexpr std::size_t Modified_Time = 0x08;
inline constexpr std::size_t Mft_Modified_Time = 0x10;
inline constexpr std::size_t Access_Time = 0x18;
inline constexpr std::size_t File_Attributes = 0x20;

static_assert(Access_Time + 8 == File_Attributes);
}  // namespace Standard_Information_Layout

// $FILE_NAME content; a directory index entry's key is one too.
//   0 ParentReference u64 | 8 Creation | 0x10 Modification | 0x18 MftChange | 0x20 Access (FILETIMEs)
//   0x38 FileAttributes u32 | 0x40 NameLength u8 | 0x41 Namespace u8 | 0x42 Name (UTF-16LE)
namespace File_Name_Layout {
inline constexpr std::size_t Parent_Reference = 0x00;
inline constexpr std::size_t Create_Time = 0x08;
inline constexpr std::size_t Modified_Time = 0x10;
inline constexpr std::size_t Mft_Modified_Time = 0x18;
inline constexpr std::size_t Access_Time = 0x20;
inline constexpr std::size_t File_Attributes = 0x38;
inline constexpr std::size_t Name_Length = 0x40;
inline constexpr std::size_t Name_Space = 0x41;
inline constexpr std::size_t Name = 0x42;

// The DOS 8.3 alias of a long name; it duplicates the Win32 name.
inline constexpr std::uint8_t Dos_Name_Space = 2;

static_assert(Name_Space == Name_Length + 1 && Name == Name_Space + 1);
}  // namespace File_Name_Layout

// A directory index entry: 0 FileReference u64 | 8 Length u16 | 0xA KeyLength u16 | 0x10 the key.
namespace Index_Entry_Layout {
inline constexpr std::size_t Key = 0x10;
}  // namespace Index_Entry_Layout

// Where a field of an unnamed resident attribute's content lies from the
// attribute's start, and a field of an index entry's $FILE_NAME key from
// the entry's start.
constexpr std::size_t Resident_Field(std::size_t field) { return Attribute_Layout::Resident_Content + field; }
constexpr std::size_t Index_Key_Field(std::size_t field) { return Index_Entry_Layout::Key + field; }
