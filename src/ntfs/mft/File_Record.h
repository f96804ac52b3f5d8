// Decoding of one $MFT FILE record: the header test, the update-sequence
// fix-up and the attribute walk. Pure functions over bytes: no file, no
// index, no database.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ntfs/Ntfs_Layout.h"
#include "platform/Byte_View.h"
#include "records/Records.h"

// The record size that every record of this $MFT has: record 0's own
// allocated size when it is 1024 or 4096 (4K-sector volumes), else 1024.
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
