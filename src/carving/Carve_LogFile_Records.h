// The $LogFile carver: finds restart and record pages at every 512-byte step
// of an arbitrary file (a disk image, unallocated space, a fragment), rebuilds
// from them the page list of the log they came from, and walks its records
// into LogFile rows as the $LogFile reader does.
#pragma once

#include <string>
#include <vector>

#include "carving/Carved_Page_List.h"
#include "db/CppSQLite3.h"
#include "ntfs/Parsing_Context.h"
#include "ntfs/logfile/LogFile_Pages.h"
#include "ntfs/logfile/LogFile_Walk.h"
#include "platform/file.h"

// Carves the log records of one file into LogFile rows, each log the file
// holds on its own, in file order. `quick` stops the scan at the end of the
// log that the first restart page describes (or of a later log whose restart
// pages come before that end), or 64 MiB after the first record page when no
// restart page came before it. Returns 1 when the file cannot be opened, 0
// otherwise. The scanned pages, and the page lists and rows of the last log,
// stay in the state until the next file.
int Carve_LogFile_Records(Global_Parsing_Context& context, const std::string& path, CppSQLite3DB& db, int hour_offset,
                          bool quick);

// The same with another analysis of each record (and an optional observer of
// every finished record), for tools and tests that look at the walk itself.
int Carve_LogFile_Records_With(Global_Parsing_Context& context, const std::string& path, CppSQLite3DB& db,
                               int hour_offset, bool quick, const Record_Analyzer& analyze,
                               const Record_Observer& observe = {});

// Reads the file once, in file order: appends every record page to `scanned`
// and returns the logs that its runs of restart pages begin, with what their
// restart pages said. Pages are looked for at every multiple of 512; the
// bytes of a page found are not searched again.
Carving_Scan Scan_For_Log_Pages(const platform::Read_Only_File& file, bool quick, std::vector<_page_info>& scanned);
