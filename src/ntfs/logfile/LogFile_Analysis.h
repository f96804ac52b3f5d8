// The analysis of one accepted log record into a file-system event.
#pragma once

#include "db/CppSQLite3.h"
#include "ntfs/logfile/Client_Data_View.h"
#include "platform/Byte_View.h"
#include "records/Parsing_State.h"
#include "records/Records.h"

// Called by the record walk (and the carver's walk) once per record whose
// client data is in hand, before the record may become a row.
//   header: the 0x58-byte log-record header (Log_Record_Layout).
//   cur:    the record, with its header texts, numbers and $MFT fields set by
//           the walk and every event field empty; the analysis fills the
//           event fields.
//   prev:   the record handled before this one.
//   data:   the record's client data, position 0 at the redo data.
//   db:     the output database, for updates of earlier LogFile rows.
void Analyze_LogFile_Record(Global_Parsing_Context& context, Byte_View header, _log_info& cur, const _log_info& prev,
                            const Client_Data_View& data, CppSQLite3DB& db);
