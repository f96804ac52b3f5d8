// Decoding of one $MFT FILE record: the header test, the update-sequence
// fix-up and the attribute walk. Pure functions over bytes: no file, no
// index, no database.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/Byte_View.h"
#include "records/Records.h"

// FILE record header, little-endian:
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

// The first-attribute offset must lie inside the first sector's header area.
inline constexpr std::uint16_t First_Attribute_Limit = 500;
// Each 512-byte sector ends in the update sequence number; the real last two
// bytes of sector k are kept at UpdateSequenceOffset + 2k.
inline constexpr std::size_t Sector_Size = 512;

// Flags: bit 0 in use, bit 1 directory.
inline constexpr std::uint16_t Flag_In_Use = 0x0001;
inline constexpr std::uint16_t Flag_Directory = 0x0002;
}  // namespace File_Record_Layout

// Attribute header, at offset a inside the record:
//    0 Type u32 | 4 Length u32 | 8 NonResident u8 | 9 NameLength u8 (UTF-16 units)
//  0xA NameOffset u16 (from the attribute's start)
//  resident:     0x10 ValueLength u32 | 0x14 ValueOffset u16
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

inline constexpr std::uint32_t End_Marker = 0xFFFFFFFF;
inline constexpr std::uint32_t Highest_Type = 0xFF;

inline constexpr std::uint32_t Standard_Information = 0x10;
inline constexpr std::uint32_t File_Name = 0x30;
inline constexpr std::uint32_t Data = 0x80;
}  // namespace Attribute_Layout

// $STANDARD_INFORMATION content: 0 Creation | 8 Modification | 0x10 MftChange | 0x18 Access (FILETIMEs)
namespace Standard_Information_Layout {
inline constexpr std::size_t Create_Time = 0x00;
inline constexpr std::size_t Modified_Time = 0x08;
inline constexpr std::size_t Mft_Modified_Time = 0x10;
inline constexpr std::size_t Access_Time = 0x18;
}  // namespace Standard_Information_Layout

// $FILE_NAME content: 0 ParentReference u64 | ... | 0x40 NameLength u8 | 0x41 Namespace u8 | 0x42 Name
namespace File_Name_Layout {
inline constexpr std::size_t Parent_Reference = 0x00;
inline constexpr std::size_t Name_Length = 0x40;
inline constexpr std::size_t Name_Space = 0x41;
inline constexpr std::size_t Name = 0x42;

// The DOS 8.3 alias of a long name; it duplicates the Win32 name.
inline constexpr std::uint8_t Dos_Name_Space = 2;
}  // namespace File_Name_Layout

inline constexpr std::uint64_t Entry_Number_Mask = 0x0000FFFFFFFFFFFFull;
inline constexpr std::uint64_t Root_Entry_Number = 5;

inline std::uint64_t Entry_Number_Of(std::uint64_t reference) { return reference & Entry_Number_Mask; }

// The record size that every record of this $MFT has: record 0's own
// allocated size when it is 1024 or 4096 (4K-sector volumes), else 1024.
inline constexpr std::size_t Default_File_Record_Size = 1024;
std::size_t File_Record_Size_From_Record_0(Byte_View record_0_start);

// What the index needs of one FILE record.
struct Decoded_File_Record {
    std::uint16_t Sequence_Number = 0;
    std::uint16_t Flags = 0;
    std::uint64_t Lsn = 0;
    bool Has_Standard_Information = false;
    std::uint64_t Create_Time = 0;
    std::uint64_t Modified_Time = 0;
    std::uint64_t Mft_Modified_Time = 0;
    std::uint64_t Access_Time = 0;
    // The accepted $FILE_NAME names (DOS aliases and empty lengths dropped),
    // in attribute order; a name ends at its first NUL unit.
    std::vector<_FILENAME_DATA> Names;
    std::uint64_t Data_Size = 0;  // of the last unnamed $DATA
    // Of the last unnamed $DATA when it is non-resident: its allocated size
    // and last VCN, whose ratio is the cluster size.
    bool Data_Non_Resident = false;
    std::uint64_t Data_Allocated_Size = 0;
    std::uint64_t Data_Last_Vcn = 0;
    bool Has_Zone_Identifier = false;
};

// The header test: "FILE", update-sequence offset byte 0x30 (NTFS 3.x) or
// 0x2A (NTFS 1.2), and a first-attribute offset below 500.
bool Is_File_Record(Byte_View record);

// Puts the real last two bytes back at the end of every 512-byte sector
// whose end holds the update sequence number. A sector that does not match
// stays as it is; an array that does not fit the record is not applied.
void Apply_Update_Sequence_Fixup(std::span<std::uint8_t> record);

// Tests, fixes up (in place) and walks one record. False when the record is
// not a FILE record; `out` is then cleared. An attribute whose header,
// content or name would reach past the record ends the walk there; what was
// read before it is kept.
bool Decode_File_Record(std::span<std::uint8_t> record, Decoded_File_Record& out);
