// The CSV export of both event tables, which also reloads every exported row
// into the in-memory event arrays that the detection reads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "records/Parsing_State.h"

inline constexpr std::int64_t UsnJrnl_Csv_Page_Rows = 500000;

inline constexpr char Csv_Create_Failed[] = "[ERROR] Creating CSV file fails...";

struct Csv_File_Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using Csv_File = std::unique_ptr<std::FILE, Csv_File_Closer>;

// Creates (or truncates) a CSV file; null when it cannot be created.
Csv_File Create_Csv(const std::string& path);
void Write_Csv(std::FILE* file, std::string_view text);

// <folder>/<name or "QVM">_<kind>_<stamp><suffix>, e.g. QVM_LogFile_<stamp>.csv.
std::string Csv_File_Path(const std::string& folder, const std::string& output_name, const std::string& kind,
                          const std::string& stamp, const std::string& suffix);

// The time column's title, e.g. "EventTime(UTC+9 DST)" or "TimeStamp(UTC-5)".
std::u16string Csv_Time_Header(std::u16string_view column, int utc_offset, int dst);

// One CSV line: every field quoted, a quote inside a value doubled, "\r\n".
std::string Csv_Line(std::initializer_list<std::u16string_view> fields);

// Writes <folder>/<name>_LogFile_<stamp>.csv and the UsnJrnl file(s) from the
// database at `db_path`, filling g_Log_Info_Array and g_UsnJrnl_Info_Array.
// With `detect` the suspicious-behaviour detection follows: the signatures are
// read from <signature_folder>/Signature.db and the findings written to
// <folder>/<name>_SuspiciousBehaviorDetection_<stamp>.csv.
void Export_CSV_And_Detect(Program_State& state, const std::string& db_path, const std::string& output_folder,
                           const std::string& stamp, int utc_offset, int dst, int detect,
                           std::int64_t page_rows = UsnJrnl_Csv_Page_Rows, const std::string& signature_folder = ".");
