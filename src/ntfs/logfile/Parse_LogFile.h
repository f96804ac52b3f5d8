#pragma once

#include <optional>
#include <string>
#include <vector>

#include "db/CppSQLite3.h"
#include "ntfs/Parsing_Context.h"
#include "ntfs/logfile/LogFile_Format.h"
#include "ntfs/logfile/LogFile_Pages.h"
#include "ntfs/logfile/LogFile_Walk.h"
#include "platform/file.h"

// Decodes an extracted $LogFile into LogFile rows. Returns 1 when the file
// cannot be opened, 2 when its first two pages do not both start with "RSTR",
// and 0 otherwise (also after "This $LogFile version is not supported.").
int Parse_LogFile(Global_Parsing_Context& context, const std::string& path, CppSQLite3DB& db, int hour_offset);

// The same with another analysis of each record (and an optional observer of
// every finished record), for tools and tests that look at the walk itself.
int Parse_LogFile_With(Global_Parsing_Context& context, const std::string& path, CppSQLite3DB& db, int hour_offset,
                       const Record_Analyzer& analyze, const Record_Observer& observe = {});

// Reads the file page by page: appends every record page to `record_pages`
// (file order) and returns the values of the last restart page that passed
// its test, nullopt when none did.
std::optional<Restart_Info> Scan_LogFile_Pages(const platform::Read_Only_File& file,
                                               std::vector<_page_info>& record_pages);
