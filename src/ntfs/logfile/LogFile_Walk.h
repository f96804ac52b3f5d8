// The walk over the log records of a page list in replay order: records whose
// header or client data cross page ends are put back together, each accepted
// record gets its header texts and the name, path and times of the $MFT entry
// last changed by it, is handed to the analysis and becomes a LogFile row when
// it has a file name or an event. After the walk, rows without an event time
// take the time of the next timed row when that follows within a second.
//
// The $LogFile reader walks the replay list of a whole log; the carver walks
// its own page list with its own shift and a different rule for a header that
// fails its tests.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "db/CppSQLite3.h"
#include "ntfs/Parsing_Context.h"
#include "ntfs/logfile/analysis/Client_Data_View.h"
#include "ntfs/logfile/LogFile_Format.h"
#include "ntfs/logfile/LogFile_Pages.h"
#include "platform/Byte_View.h"
#include "platform/file.h"
#include "records/Records.h"

// What the walk does with a header that fails its tests (or an LSN of 0) once
// the first header of the page has been taken.
enum class Failing_Header_Rule {
    // The $LogFile reader gives the rest of the page up.
    Give_Up_Page,
    // The carver searches onward in the page for a header of the page's own
    // sequence, and also replaces an LSN of 0 this way.
    Search_Onward,
};

// Reads the 4096-byte page at a file offset into `page`; false when it cannot
// be read (the walk then ends as if the log ended there).
using Page_Reader = std::function<bool(std::uint64_t file_offset, std::span<std::uint8_t> page)>;

// The analysis of one record (the walk passes Analyze_LogFile_Record here).
using Record_Analyzer = std::function<void(const Log_Record_Header& header, _log_info& cur, const _log_info& prev,
                                           const Client_Data_View& data)>;

// Sees every accepted record once it is finished; `analysed` is false for a
// record whose client data could not be put together.
using Record_Observer = std::function<void(const _log_info& record, bool analysed)>;

struct Log_Walk_Settings {
    unsigned Shift = 0;  // the LSN shift: 64 - sequence-number bits
    Failing_Header_Rule Rule = Failing_Header_Rule::Give_Up_Page;
    Record_Analyzer Analyze;  // required
    Record_Observer Observe;  // optional
};

// Whole pages of the open file, zero-filled past its end; a read error
// inside a page ends the file at that byte, so the page keeps what lies
// before it, as a file cut there reads.
Page_Reader File_Page_Reader(const platform::Read_Only_File& file);

// Walks `pages` (replay order), writing rows to `db` and their copies to
// context.LogFile_Row_Array.
void Walk_Log_Records(Global_Parsing_Context& context, CppSQLite3DB& db, const std::vector<_page_info>& pages,
                      const Page_Reader& read_page, const Log_Walk_Settings& settings);

// The name, full path and shifted $STANDARD_INFORMATION times of the $MFT
// entry whose FILE record carries `record.ThisLSN`; unchanged without one.
void Fill_Mft_Entry_Fields(Global_Parsing_Context& context, _log_info& record);

// Sorts context.LogFile_Row_Array by LSN and gives the rows without an event
// time, in the database, the time of the next timed row when that row is the
// latest so far and follows the previous timed row within a second. Returns 0,
// or 1 when an update failed (the back-fill stops there).
int Backfill_Event_Times(Global_Parsing_Context& context, CppSQLite3DB& db);
