// The plain records that carry one decoded event, one $MFT entry or one
// signature row between the parsers, the database, the export and the
// detection. Numeric members start at zero.
#pragma once

#include <cstdint>
#include <string>

// One $LogFile log record and the file-system event decoded from it; one row
// of table LogFile.
struct _log_info {
    std::u16string LSN;             // decimal
    std::uint64_t ThisLSN = 0;
    std::u16string RecordType;      // "Check Point Record", "Commit Record", "Update Record"
    std::u16string TransactionID;   // "0x%X"
    std::u16string ClusterIndex;    // "0x%X"; the decimal MFT_ClusterIndex after the reload
    std::u16string TargetVCN;       // "0x%X" of the low 32 bits
    std::u16string Event;
    std::u16string Detail;
    std::u16string FileName;
    std::u16string FullPath;
    std::u16string RedoInfo;
    std::u16string UndoInfo;
    // The operation codes that RedoInfo and UndoInfo name; the analysis
    // compares these, not the texts.
    std::uint16_t Redo_Operation = 0;
    std::uint16_t Undo_Operation = 0;
    std::u16string CreateTime;
    std::u16string ModifiedTime;     // column ModifiedTIme
    std::u16string MFT_ModifiedTime;
    std::u16string AccessTime;
    std::uint64_t ParentReference = 0;
    std::uint64_t RedoDataOffset = 0;
    std::uint64_t RedoDataLength = 0;
    std::uint64_t UndoDataLength = 0;
    std::uint64_t MFT_ClusterIndex = 0;
    std::u16string MFT_RecordVCN;            // "0x%X" of (entry number >> 2)
    std::uint64_t MFT_RecordClusterIndex = 0;  // (entry number & 3) * 2
    std::u16string FileAttribute;
    std::u16string EventTime;
    std::uint32_t AbnormalTimestamp = 0;
    std::u16string AbnormalTime;
};

// One $UsnJrnl:$J record; one row of table UsnJrnl, in column order.
struct _USNJRNLINFO {
    std::u16string TimeStamp;
    std::u16string USN;  // decimal
    std::u16string FileName;
    std::u16string FullPath;
    std::u16string Event;
    std::u16string SourceInfo;
    std::u16string FileAttr;
    std::u16string CarvingFlag;  // "Y" for carved records
    std::u16string FileReferenceNumber;        // hexadecimal
    std::u16string ParentFileReferenceNumber;  // hexadecimal
};

// One $MFT entry for one of its $FILE_NAME names. Times are raw FILETIMEs.
struct _ENTRYINFO_2 {
    std::uint64_t ParentReference = 0;
    std::uint64_t FileReference = 0;  // entry number | sequence number << 48
    std::uint8_t IsDirectory = 0;
    std::uint8_t IsDeleted = 0;
    std::u16string Name;
    std::uint64_t MFT_LSN = 0;
    std::uint64_t DataSize = 0;
    std::uint64_t CreateTime = 0;
    std::uint64_t ModifiedTime = 0;
    std::uint64_t MFT_ModifiedTime = 0;
    std::uint64_t AccessTime = 0;
    std::uint8_t HasZoneIdentifier = 0;
};

// The part of an $MFT entry that path building needs.
struct _ENTRYPATH_INFO {
    std::uint64_t ParentReference = 0;
    std::uint64_t FileReference = 0;
    std::uint8_t IsDirectory = 0;
    std::u16string Name;
};

// One $FILE_NAME attribute collected while one FILE record is read.
struct _FILENAME_DATA {
    std::uint64_t ParentReference = 0;
    std::u16string Name;
};

// Any record of exactly two texts.
struct Two_String_Record {
    std::u16string First;
    std::u16string Second;
};

struct _key_temp_path_info {
    std::u16string Path;
    std::u16string MatchType;
};

struct _normal_time_reversal_event {
    std::u16string FullPath;
    std::u16string FileName;
};

struct _normal_creation_time_update_event {
    std::u16string FullPath;
    std::u16string FileName;
};

// Signature rows, one per row of the signature database by category.
struct _anti_forensic_program_installation_info {
    std::u16string FolderName;
    std::u16string ProgramName;
    std::u16string ProgramType;
};

struct _anti_forensic_program_execution_info {
    std::u16string Pattern;
    std::u16string MatchType;
    std::u16string ProgramName;
    std::u16string ProgramType;
};

struct _anti_forensic_program_trace_info {
    std::u16string Operation;
    std::u16string MatchType;
    std::u16string Pattern;
    std::u16string ProgramName;
    std::u16string ProgramType;
};

struct _program_update_path_info {
    std::u16string PathPattern;
    std::u16string MatchType;
    std::uint64_t FolderDepth = 0;
};
