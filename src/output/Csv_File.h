// The CSV files of a run: their names, their lines and their messages.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/output_file.h"

inline constexpr char Csv_Create_Failed[] = "[ERROR] Creating CSV file fails...";
inline constexpr char Csv_Write_Failed[] = "[ERROR] Writing CSV file fails.";

using Csv_File = platform::Output_File;

// <name or "QVM">_<kind>_<stamp><suffix>, e.g. QVM_LogFile_<stamp>.csv.
std::string Csv_File_Name(const std::string& output_name, const std::string& kind, const std::string& stamp,
                          const std::string& suffix);

// One CSV line: every field quoted, a quote inside a value doubled, "\r\n".
std::string Csv_Line(std::initializer_list<std::u16string_view> fields);
