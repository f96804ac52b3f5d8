// The CSV export of both event tables, which also reloads every exported row
// into the in-memory event arrays that the detection reads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "detection/Program_State.h"
#include "platform/output_file.h"

inline constexpr std::int64_t UsnJrnl_Csv_Page_Rows = 500000;

// The time column's title, e.g. "EventTime(UTC+9 DST)" or "TimeStamp(UTC-5)".
std::u16string Csv_Time_Header(std::u16string_view column, int utc_offset, int dst);

// Writes <name>_LogFile_<stamp>.csv and the UsnJrnl file(s) into the output
// folder from the database at `db_path`, filling g_Log_Info_Array and
// g_UsnJrnl_Info_Array. With `detect` the suspicious-behaviour detection
// follows: the signatures are read from <signature_folder>/Signature.db and
// the findings written to <name>_SuspiciousBehaviorDetection_<stamp>.csv.
// Each file is written under its ".partial" name; one written to its end is
// flushed to disk and left to the folder to publish under its own name.
// Returns false after a failure that the run reports with exit code 1: an
// output file that could not be created or written to its end, a table that
// could not be read to its end (what was written is kept, under the file's
// ".partial" name), a database that vanished before the export read it, or
// signatures that could not be read for the detection.
bool Export_CSV_And_Detect(Program_State& state, const std::string& db_path, platform::Output_Folder& output_folder,
                           const std::string& stamp, int utc_offset, int dst, int detect,
                           std::int64_t page_rows = UsnJrnl_Csv_Page_Rows, const std::string& signature_folder = ".");
// The same into the folder at `output_folder`, every file written to its end
// renamed to its own name when the export ends.
bool Export_CSV_And_Detect(Program_State& state, const std::string& db_path, const std::string& output_folder,
                           const std::string& stamp, int utc_offset, int dst, int detect,
                           std::int64_t page_rows = UsnJrnl_Csv_Page_Rows, const std::string& signature_folder = ".");
