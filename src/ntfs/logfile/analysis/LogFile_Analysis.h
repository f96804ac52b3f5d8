// The analysis of one accepted log record into a file-system event.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "db/CppSQLite3.h"
#include "ntfs/Parsing_Context.h"
#include "ntfs/logfile/analysis/Client_Data_View.h"
#include "ntfs/logfile/LogFile_Format.h"
#include "records/Records.h"

// Called by the record walk (and the carver's walk) once per record whose
// client data is in hand, before the record may become a row.
//   header: the record's decoded log-record header.
//   cur:    the record, with its header texts, numbers and $MFT fields set by
//           the walk and every event field empty; the analysis fills the
//           event fields.
//   prev:   the record handled before this one.
//   data:   the record's client data, position 0 at the redo data.
//   db:     the output database, for updates of earlier LogFile rows.
// The record's operations choose what it means (a FILE record made or
// deallocated, a directory entry added or removed, a $FILE_NAME added or
// removed, a value updated); a record with an event joins the open group of
// its transaction, and a commit record ends that group.
void Analyze_LogFile_Record(Global_Parsing_Context& context, const Log_Record_Header& header, _log_info& cur,
                            const _log_info& prev, const Client_Data_View& data, CppSQLite3DB& db);

// True when the name ends, before its last ".", in "~" and a digit 1-9 (the
// tail Windows gives a generated short name), e.g. "NEWTEX~1.TXT", "DIR~2".
bool Has_Short_Name_Tail(std::u16string_view name);

// True when the counted name is a DOS 8.3 short name: its first "~" stands
// after 3 or 6 characters (a character above U+00FF counting twice), a digit
// 1-9 follows it, and the name ends there or goes on with its last "." right
// after the digit.
bool Is_Short_File_Name(std::u16string_view name);

// The names of the set flags of a file-attribute word, lowest bit first,
// joined by ", " ("Hidden, Archive"); "" for 0. The bits 0x8 and 0x2000000
// have no name.
std::u16string Format_File_Attributes(std::uint32_t value);
