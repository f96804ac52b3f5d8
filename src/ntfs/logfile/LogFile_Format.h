// The on-disk layout of $LogFile pages and log records, the update-sequence
// fix-up of a record page, and the searches for a log-record header inside a
// page. Everything here works on the bytes of one page and knows no file,
// database or parsing state, so the reader and the carver share it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "ntfs/logfile/LogFile_Pages.h"
#include "platform/Byte_View.h"

// Every $LogFile page is 4096 bytes and starts at a multiple of 4096.
inline constexpr std::size_t LogFile_Page_Size = 4096;
// The log records of a record page start after its 64-byte header, so one
// page holds 0xFC0 bytes of record data.
inline constexpr std::size_t LogFile_Page_Data_Start = 0x40;
inline constexpr std::size_t LogFile_Page_Data_Size = LogFile_Page_Size - LogFile_Page_Data_Start;

// Restart page (RSTR), little-endian:
//   0x00 "RSTR" | 0x04 update-sequence offset u16 (0x1E) | 0x06 update-sequence count u16 (9)
//   0x08 check-disk LSN u64 (0) | 0x10 system page size u32 (4096) | 0x14 log page size u32 (4096)
//   0x18 restart area offset u16 | 0x1A minor version u16 | 0x1C major version u16
// Restart area, at the restart area offset:
//   +0x10 sequence-number bits u32 | +0x18 log file size u64
namespace Restart_Page_Layout {
inline constexpr std::size_t Fixed_Header_Size = 0x18;  // the bytes that must match exactly
inline constexpr std::size_t Restart_Area_Offset = 0x18, Minor_Version = 0x1A, Major_Version = 0x1C;
inline constexpr std::size_t Area_Sequence_Number_Bits = 0x10, Area_File_Size = 0x18, Area_Fixed_Size = 0x20;

// The fields read follow the bytes compared exactly, and the restart-area
// test (Area_Fixed_Size bytes inside the page) covers both fields read from it.
static_assert(Fixed_Header_Size == Restart_Area_Offset);
static_assert(Area_File_Size + 8 == Area_Fixed_Size && Area_Sequence_Number_Bits + 4 <= Area_File_Size);
}  // namespace Restart_Page_Layout

// Record page (RCRD), little-endian:
//   0x00 "RCRD" | 0x04 update-sequence offset u16 (0x28) | 0x06 update-sequence count u16 (9)
//   0x08 last LSN u64 | 0x14 page count u16 | 0x16 page position u16 | 0x20 last end LSN u64
//   0x28 update-sequence number u16, then one u16 per 512-byte sector (8) | 0x40 log records
namespace Record_Page_Layout {
inline constexpr std::size_t Fixed_Header_Size = 8;
inline constexpr std::size_t Last_Lsn = 0x08, Page_Count = 0x14, Page_Position = 0x16, Last_End_Lsn = 0x20;
inline constexpr std::size_t Update_Sequence_Array = 0x28, Sector_Size = 512, Sector_Count = 8;

// The sectors the fix-up restores make up the whole page, and the header
// fields, the update-sequence number and its eight saved values all lie
// before the first log record.
static_assert(Sector_Size * Sector_Count == LogFile_Page_Size);
static_assert(Last_End_Lsn + 8 <= Update_Sequence_Array);
static_assert(Update_Sequence_Array + 2 * (1 + Sector_Count) <= LogFile_Page_Data_Start);
}  // namespace Record_Page_Layout

// Log-record header, 0x58 bytes at a record offset; the client data starts at
// +0x30 (the redo/undo fields below are its first bytes) and the client data
// length counts from there.
//   0x00 this LSN u64 | 0x08 client previous LSN u64 | 0x10 client undo-next LSN u64
//   0x18 client data length u32 | 0x1C sequence number u16 | 0x1E client index u16
//   0x20 record type u32 (1 client, 2 checkpoint) | 0x24 transaction id u32 | 0x28 flags u16
//   0x30 redo operation u16 | 0x32 undo operation u16 | 0x34 redo offset u16 | 0x36 redo length u16
//   0x38 undo offset u16 | 0x3A undo length u16 | 0x3C target attribute u16 | 0x3E LCNs to follow u16
//   0x40 record offset u16 | 0x42 attribute offset u16 | 0x44 cluster index u16
//   0x48 target VCN u64 | 0x50 target LCN u64
namespace Log_Record_Layout {
inline constexpr std::size_t This_Lsn = 0x00, Client_Previous_Lsn = 0x08, Client_Undo_Next_Lsn = 0x10;
inline constexpr std::size_t Client_Data_Length = 0x18, Record_Type = 0x20, Transaction_Id = 0x24;
inline constexpr std::size_t Redo_Operation = 0x30, Undo_Operation = 0x32, Redo_Offset = 0x34, Redo_Length = 0x36;
inline constexpr std::size_t Undo_Offset = 0x38, Undo_Length = 0x3A, Record_Offset = 0x40, Attribute_Offset = 0x42;
inline constexpr std::size_t Cluster_Index = 0x44, Target_Vcn = 0x48, Target_Lcn = 0x50;
inline constexpr std::size_t Client_Data_Start = 0x30;
inline constexpr std::size_t Header_Size = 0x58;
// The fields a header search tests: the three LSNs and the record type.
inline constexpr std::size_t Match_Size = 0x24;
inline constexpr std::uint32_t Client_Record = 1, Checkpoint_Record = 2;

// The last field ends the header, and the client data starts with the redo
// operation: the fields from there on are the client data's first bytes.
static_assert(Target_Lcn + 8 == Header_Size);
static_assert(Client_Data_Start == Redo_Operation);
// A header search reads the three LSNs and the record type, nothing more.
static_assert(Match_Size == Record_Type + 4 && Client_Undo_Next_Lsn + 8 <= Match_Size);
// Where fewer than Client_Data_Start bytes are left, the walk ends the page:
// what is left must still hold the next record's LSN and the 16 bytes whose
// zeros mark the end of the records.
static_assert(Client_Data_Start >= 16 && This_Lsn + 8 <= Client_Data_Start);
}  // namespace Log_Record_Layout

// One log-record header, decoded. Nothing in it is validated: the record
// walk tests the LSNs, and the analysis reads the client data through a view
// that answers zero outside the record, whatever the offsets and lengths say.
struct Log_Record_Header {
    std::uint64_t This_Lsn = 0;
    std::uint64_t Client_Previous_Lsn = 0;
    std::uint64_t Client_Undo_Next_Lsn = 0;
    std::uint32_t Client_Data_Length = 0;
    std::uint32_t Record_Type = 0;
    std::uint32_t Transaction_Id = 0;
    std::uint16_t Redo_Operation = 0;
    std::uint16_t Undo_Operation = 0;
    std::uint16_t Redo_Offset = 0;
    std::uint16_t Redo_Length = 0;
    std::uint16_t Undo_Offset = 0;
    std::uint16_t Undo_Length = 0;
    std::uint16_t Record_Offset = 0;
    std::uint16_t Attribute_Offset = 0;
    std::uint16_t Cluster_Index = 0;
    std::uint64_t Target_Vcn = 0;
    std::uint64_t Target_Lcn = 0;

    // Where the undo data starts, counted from the start of the redo data
    // (negative when it lies before it).
    std::int64_t Undo_Position() const { return std::int64_t{Undo_Offset} - std::int64_t{Redo_Offset}; }
};

// The header at the start of `bytes`; nothing when fewer than
// Log_Record_Layout::Header_Size bytes are there.
std::optional<Log_Record_Header> Decode_Log_Record_Header(Byte_View bytes);

inline constexpr std::uint64_t All_Ones_Lsn = ~std::uint64_t{0};
// A sequence number that no header matches (a search for it is skipped).
inline constexpr std::uint64_t No_Sequence = ~std::uint64_t{0};

// What a restart page tells: the log version and the LSN layout.
struct Restart_Info {
    std::uint16_t Major_Version = 0;
    std::uint16_t Minor_Version = 0;
    std::uint32_t Sequence_Number_Bits = 0;
    unsigned Lsn_Shift = 0;  // 64 - bits: an LSN shifted right by it gives its sequence number
    std::uint64_t Log_File_Size = 0;
};

// The restart-page test: the first 24 bytes exactly as Windows writes them
// (check-disk LSN 0, both page sizes 4096), a restart area inside the page and
// a sequence-number bit count of 1 to 64 (any other count would make the LSN
// shift meaningless). Nullopt for any other page.
std::optional<Restart_Info> Decode_Restart_Page(Byte_View page);

// The record-page test: "RCRD", update-sequence offset 0x28, count 9.
bool Is_Record_Page(Byte_View page);

// The header values of a record page that passed Is_Record_Page.
_page_info Read_Page_Info(Byte_View page, std::uint64_t page_index, std::uint64_t file_offset);

// Writes the saved value of each 512-byte sector back over its last two
// bytes. The update-sequence number itself is not compared: a torn write
// shows up as records that fail their tests, not as a refused page.
void Apply_Update_Sequence(std::span<std::uint8_t> page);

// True when the header at `offset` belongs to sequence `sequence`: its this
// LSN has that sequence, its client previous and undo-next LSNs have it or are
// 0, and its record type is 1 or 2. A header whose tested fields are not all
// inside the page does not match.
bool Header_Matches_Sequence(Byte_View page, std::size_t offset, std::uint64_t sequence, unsigned shift);

// The first offset 0x40, 0x48, ... whose header matches the sequence of `lsn`;
// 0 when none.
int Find_First_Record_In_Page(Byte_View page, unsigned shift, std::uint64_t lsn);

// The same search over the sequence of the page's own last end LSN, starting
// 8 bytes after `offset` when that is 65 to 4095, else at 0x40; 0 when the
// last end LSN is 0 or nothing matches.
int Find_Next_Record_In_Page(Byte_View page, int offset, unsigned shift);

// Fixes the page up, then scans offsets 4048, 4040, ... 0 backward for the
// last header of sequence `sequence_a` (skipped when it is No_Sequence), else
// of `sequence_b`. For the header found, `*out` is the LSN of the record that
// follows it on the page when that has the same sequence, else its own LSN
// (also when it runs to the page end). 1 when a header was found, 0 otherwise
// (`*out` untouched).
int Find_Last_LSN_In_Page(std::span<std::uint8_t> page, std::uint64_t sequence_a, std::uint64_t sequence_b,
                          unsigned shift, std::uint64_t* out);

// The same, but a header counts only when its record ends before the page
// end, and `*out` is always its own LSN.
int Find_Last_LSN_In_Page_Bounded(std::span<std::uint8_t> page, std::uint64_t sequence_a, std::uint64_t sequence_b,
                                  unsigned shift, std::uint64_t* out);

// Ascending by LastLSN / KeyLSN, unsigned: -1, 0 or 1.
int Compare_Page_Info_By_LSN(const _page_info& a, const _page_info& b);
int Compare_Page_Group_By_LSN(const Page_Group& a, const Page_Group& b);

// The redo and undo operation codes of a log record. A code read from disk
// may be any other value too; its text is then "0x%x". Each code's text is in
// the one table of LogFile_Operation_Name; the analysis compares codes.
enum class Log_Operation : std::uint16_t {
    Noop = 0x00,
    Compensation_Log_Record = 0x01,
    Initialize_File_Record_Segment = 0x02,
    Deallocate_File_Record_Segment = 0x03,
    Write_End_Of_File_Record_Segment = 0x04,
    Create_Attribute = 0x05,
    Delete_Attribute = 0x06,
    Update_Resident_Value = 0x07,
    Update_Nonresident_Value = 0x08,
    Update_Mapping_Pairs = 0x09,
    Delete_Dirty_Clusters = 0x0A,
    Set_New_Attribute_Sizes = 0x0B,
    Add_Index_Entry_Root = 0x0C,
    Delete_Index_Entry_Root = 0x0D,
    Add_Index_Entry_Allocation = 0x0E,
    Delete_Index_Entry_Allocation = 0x0F,
    Set_Index_Entry_Vcn_Allocation = 0x12,
    Update_File_Name_Root = 0x13,
    Update_File_Name_Allocation = 0x14,
    Set_Bits_In_Nonresident_Bit_Map = 0x15,
    Clear_Bits_In_Nonresident_Bit_Map = 0x16,
    Prepare_Transaction = 0x19,
    Commit_Transaction = 0x1A,
    Forget_Transaction = 0x1B,
    Open_Nonresident_Attribute = 0x1C,
    Dirty_Page_Table_Dump = 0x1F,
    Transaction_Table_Dump = 0x20,
    Update_Record_Data_Root = 0x21,
};

// A directory entry added to or removed from an index root or allocation.
constexpr bool Is_Index_Entry_Addition(Log_Operation operation) {
    return operation == Log_Operation::Add_Index_Entry_Allocation || operation == Log_Operation::Add_Index_Entry_Root;
}
constexpr bool Is_Index_Entry_Removal(Log_Operation operation) {
    return operation == Log_Operation::Delete_Index_Entry_Allocation ||
           operation == Log_Operation::Delete_Index_Entry_Root;
}

// The text of a redo or undo operation code; unlisted codes as "0x%x".
std::u16string LogFile_Operation_Name(std::uint16_t code);
inline std::u16string LogFile_Operation_Name(Log_Operation operation) {
    return LogFile_Operation_Name(static_cast<std::uint16_t>(operation));
}

// What a record is, by its record type and redo operation.
enum class Log_Record_Kind { Check_Point, Commit, Update };
Log_Record_Kind Log_Record_Kind_Of(std::uint32_t record_type, std::uint16_t redo_operation);

// "Check Point Record", "Commit Record" or "Update Record".
std::u16string LogFile_Record_Type_Text(std::uint32_t record_type, std::uint16_t redo_operation);
