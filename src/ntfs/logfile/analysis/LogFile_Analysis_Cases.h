// The cases of the log-record analysis and what they share. Analyze_LogFile_Record
// chooses one case by the redo and undo operations of the decoded header, and
// after it files a record with an event under its transaction.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "db/CppSQLite3.h"
#include "ntfs/File_Attribute_Words.h"
#include "ntfs/Ntfs_Layout.h"
#include "ntfs/Parsing_Context.h"
#include "ntfs/logfile/analysis/Client_Data_View.h"
#include "ntfs/logfile/LogFile_Format.h"
#include "records/Records.h"

// One record under analysis.
struct Log_Record_Analysis {
    Global_Parsing_Context& Context;
    const Log_Record_Header& Header;
    _log_info& Cur;
    const _log_info& Prev;
    const Client_Data_View& Data;
    CppSQLite3DB& Db;
};

// What a case tells the common exit: a refused update of an earlier row ends
// the analysis of the record (no event, no transaction group).
enum class Case_Outcome { Done, Update_Failed };

// ---- FILE records, directory entries and names ----

// (0x02, 0x00) on a FILE record image: File_Creation / Directory_Creation.
Case_Outcome Analyze_File_Record_Creation(const Log_Record_Analysis& a);
// (0x03, 0x02): File_Deletion / Directory_Deletion, named by the
// directory entry that the transaction removed.
Case_Outcome Analyze_File_Record_Deletion(const Log_Record_Analysis& a);
// (0x0F, 0x0E) / (0x0D, 0x0C) and (0x0E, 0x0F) / (0x0C, 0x0D): a directory
// entry removed or added; placeholder rows for the look-backs.
Case_Outcome Analyze_Index_Entry_Removal(const Log_Record_Analysis& a);
Case_Outcome Analyze_Index_Entry_Addition(const Log_Record_Analysis& a);
// (0x06, 0x05) on a resident $FILE_NAME: the old name of a rename or move.
Case_Outcome Analyze_File_Name_Removal(const Log_Record_Analysis& a);
// (0x05, 0x06) on a resident $FILE_NAME: renames and moves.
Case_Outcome Analyze_File_Name_Addition(const Log_Record_Analysis& a);

// ---- Time, attribute and content changes ----

// (0x07, 0x07), record offset >= 0xF8, attribute offset 0x18.
Case_Outcome Analyze_Resident_Content_Write(const Log_Record_Analysis& a);
// (0x07, 0x07) on $STANDARD_INFORMATION (record offset 0x38), by the first
// value the update touches.
Case_Outcome Analyze_Creation_Time_Change(const Log_Record_Analysis& a);
Case_Outcome Analyze_Modified_Time_Change(const Log_Record_Analysis& a);
Case_Outcome Analyze_MFT_Modified_Time_Change(const Log_Record_Analysis& a);
Case_Outcome Analyze_Access_Time_Change(const Log_Record_Analysis& a);
Case_Outcome Analyze_Attribute_Change(const Log_Record_Analysis& a);
// (0x09, 0x09), record offset > 0xF8, attribute offset 0x40.
Case_Outcome Analyze_Nonresident_Content_Write(const Log_Record_Analysis& a);

// ---- Shared by the cases ----

// The position of the parent's index from the directory entry added for
// cur.FileName among the 10 newest rows; unchanged when there is none.
void Take_Position_Of_Added_Entry(const Global_Parsing_Context& context, _log_info& cur);

// The word for a file-attribute value that is exactly one of the known
// flags ("ReadOnly", "Hidden", ..., "Directory", "IndexView"); "" for any
// other value, combinations included.
std::u16string File_Attribute_Word(std::uint32_t value);
// Its word for a directory's file name.
inline constexpr std::u16string_view Directory_Attribute_Word =
    Log_File_Attribute_Alone_Word(File_Attribute::File_Name_Index);

// A FILETIME as a time text moved by the run's hour offset.
std::u16string Shifted_Time_Text(const Global_Parsing_Context& context, std::uint64_t filetime);

// The full path of `name` in the directory `parent_reference`: "\\" + name
// under the root; the parent's path + "\\" + name when the parent is in the
// $MFT index; otherwise `full_path` is left as it is. A result longer than
// Mft_Index::Max_Full_Path_Units is "".
void Apply_Parent_Path_Rule(Global_Parsing_Context& context, std::uint64_t parent_reference, const std::u16string& name,
                            std::u16string& full_path);

// The position of the FILE record of `reference` in the units of a log
// record's target VCN and cluster index, on the volume of the $MFT given
// (4 KiB clusters and 1 KiB records without one): MFT_RecordVCN = "0x%X" of
// the low 32 bits of the VCN, MFT_RecordClusterIndex = the cluster index.
void Set_MFT_Record_Position(const Global_Parsing_Context& context, _log_info& record, std::uint64_t reference);

// Positions in the client data (Client_Data_View) of the NTFS fields that a
// record's data carries: a field of an attribute's header or of its resident
// content, from the attribute's start; a field of an index entry's
// $FILE_NAME key, from the entry's start.
constexpr std::int64_t Header_Field(std::size_t offset) { return static_cast<std::int64_t>(offset); }
constexpr std::int64_t Content_Field(std::size_t offset) { return static_cast<std::int64_t>(Resident_Field(offset)); }
constexpr std::int64_t Key_Field(std::size_t offset) { return static_cast<std::int64_t>(Index_Key_Field(offset)); }

inline bool Starts_With(std::u16string_view text, std::u16string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}
