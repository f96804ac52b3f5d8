// The change-journal record (USN_RECORD_V2) as the $UsnJrnl:$J reader and the
// record carver find it: the quick pattern test, the full test and the
// decoding, the scan of one chunk of a file for records, and the reason and
// attribute words of the UsnJrnl table.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/Byte_View.h"

// USN_RECORD_V2, little-endian.
//   0 RecordLength u32 | 4 MajorVersion u16 | 6 MinorVersion u16
//   8 FileReferenceNumber u64 | 16 ParentFileReferenceNumber u64 | 24 Usn u64
//  32 TimeStamp FILETIME | 40 Reason u32 | 44 SourceInfo u32 | 48 SecurityId u32
//  52 FileAttributes u32 | 56 FileNameLength u16 (bytes) | 58 FileNameOffset u16 | 60 FileName (UTF-16LE)
namespace Usn_Record_V2_Layout {
inline constexpr std::size_t Record_Length = 0;
inline constexpr std::size_t Major_Version = 4;
inline constexpr std::size_t Minor_Version = 6;
inline constexpr std::size_t File_Reference_Number = 8;
inline constexpr std::size_t Parent_File_Reference_Number = 16;
inline constexpr std::size_t Usn = 24;
inline constexpr std::size_t Time_Stamp = 32;
inline constexpr std::size_t Time_Stamp_High_Byte = 39;
inline constexpr std::size_t Reason = 40;
inline constexpr std::size_t Source_Info = 44;
inline constexpr std::size_t File_Attributes = 52;
inline constexpr std::size_t File_Name_Length = 56;
inline constexpr std::size_t File_Name_Offset = 58;
inline constexpr std::size_t Fixed_Size = 60;

// The pattern test looks at the first eight bytes only.
inline constexpr std::size_t Pattern_Size = 8;
// The pattern admits a RecordLength below 65536 only, so no record is longer.
inline constexpr std::size_t Max_Record_Length = 0xFFFF;
// A TimeStamp whose top byte is 0x01 lies in 1829-05-05 .. 2057-09-06.
inline constexpr std::uint8_t Time_Stamp_High_Byte_Value = 0x01;
// The name is cut to what a 1024-unit buffer holds beside its terminator.
inline constexpr std::size_t Max_File_Name_Units = 1023;

// The fixed part ends with the name offset: a RecordLength of at least
// Fixed_Size holds every field the decoder reads before the name.
static_assert(File_Name_Offset + 2 == Fixed_Size && File_Attributes + 4 == File_Name_Length);
// The pattern's eight bytes are RecordLength and both version numbers.
static_assert(Record_Length == 0 && Minor_Version + 2 == Pattern_Size && Major_Version + 2 == Minor_Version);
static_assert(Time_Stamp_High_Byte == Time_Stamp + 7);
// A RecordLength whose upper half is 0, as the pattern demands.
static_assert(Max_Record_Length == 0xFFFF && Fixed_Size <= Max_Record_Length);
}  // namespace Usn_Record_V2_Layout

// One change-journal record, decoded.
struct Usn_Record_V2 {
    std::uint32_t Record_Length = 0;
    std::uint64_t File_Reference_Number = 0;
    std::uint64_t Parent_File_Reference_Number = 0;
    std::uint64_t Usn = 0;
    std::uint64_t Time_Stamp = 0;
    std::uint32_t Reason = 0;
    std::uint32_t Source_Info = 0;
    std::uint32_t File_Attributes = 0;
    // Ends at its first NUL unit; an odd byte count gives a last unit whose
    // high byte is 0.
    std::u16string File_Name;
};

// The cheap test of the scan, on the eight bytes at `offset`: RecordLength
// below 65536 and version 2.0 exactly. False when the eight bytes are not all
// there.
inline bool Is_Usn_Record_V2_Pattern(const Byte_View& bytes, std::size_t offset) {
    // Bytes 2-3: the upper half of RecordLength, 0; bytes 4-5: MajorVersion 2;
    // bytes 6-7: MinorVersion 0. Bytes 0-1 (the lower half) may be anything.
    const auto head = bytes.Read_U64(offset);
    return head && (*head & 0xFFFFFFFFFFFF0000ull) == 0x0000000200000000ull;
}

// The gate in front of the full test, on the same eight bytes: the pattern
// and a RecordLength that holds at least the fixed part. It is the full test's
// own first step, so a candidate it turns away is never a record, and the
// carver at byte alignment spends the full test only on the few that pass.
inline bool Passes_Usn_Record_V2_Gate(const Byte_View& bytes, std::size_t offset) {
    // With the pattern's upper half 0, RecordLength is its lower half.
    return Is_Usn_Record_V2_Pattern(bytes, offset) &&
           *bytes.Read_U16(offset + Usn_Record_V2_Layout::Record_Length) >= Usn_Record_V2_Layout::Fixed_Size;
}

// The record at the start of `bytes`, or nothing when the bytes there are not
// a whole, valid version 2.0 record: the gate, a TimeStamp whose top byte
// is 0x01, SourceInfo 0, 1, 2 or 4, FileNameOffset 60, a name that fits the
// record, and all RecordLength bytes inside the view (a record cut by the end
// of the data fails). Reads nothing outside the view.
std::optional<Usn_Record_V2> Decode_Usn_Record_V2(const Byte_View& bytes);

namespace Usn_Scan {
// The file is scanned in chunks of this size ...
inline constexpr std::size_t Chunk_Size = 0x90000;
// ... each read with the bytes that follow it, so that a record starting near
// a chunk's end is tested and decoded whole from memory.
inline constexpr std::size_t Chunk_Overlap = Usn_Record_V2_Layout::Max_Record_Length + 1;
// The reader's step: a journal's records start on 8-byte boundaries.
inline constexpr int Journal_Step = 8;
}  // namespace Usn_Scan

// One chunk: `chunk` holds the bytes from the chunk's start (with the overlap,
// as far as the file has them). Tests the positions k * step for
// k < Chunk_Size / step whose eight pattern bytes are there, and calls
// found(position, record) for every valid record, in position order. A record
// does not make the scan skip its bytes. `step` must be at least 1.
template <typename Found>
void Scan_Usn_Chunk(const Byte_View& chunk, std::size_t step, Found&& found) {
    namespace L = Usn_Record_V2_Layout;
    if (chunk.Size() < L::Pattern_Size) return;
    // Only positions whose eight pattern bytes are all in the chunk are tested.
    const std::size_t testable = (chunk.Size() - L::Pattern_Size) / step + 1;
    const std::size_t positions = std::min(Usn_Scan::Chunk_Size / step, testable);
    const std::span<const std::uint8_t> bytes = chunk.Bytes();
    for (std::size_t k = 0; k < positions; ++k) {
        const std::size_t o = k * step;
        // Most positions of any data hold something else than 2 where
        // MajorVersion's low byte would be: one compare rules them out
        // before the gate reads all eight bytes.
        if (bytes[o + L::Major_Version] != 2) continue;
        if (!Passes_Usn_Record_V2_Gate(chunk, o)) continue;
        if (auto record = Decode_Usn_Record_V2(*chunk.Sub(o, chunk.Size() - o))) found(o, *record);
    }
}

// The reason and attribute words of the UsnJrnl table: one word per known bit,
// in the order of Usn_Reason_Words and Journal_File_Attribute_Order, joined by
// " / "; "" when no known bit is set.
std::u16string Usn_Reason_Text(std::uint32_t reason);
std::u16string Usn_File_Attribute_Text(std::uint32_t attributes);
