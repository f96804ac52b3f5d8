#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/CppSQLite3.h"
#include "ntfs/Parsing_Context.h"
#include "records/Run_Options.h"

// Carves $LogFile pages (-g, -q) and $UsnJrnl records (-n, -a) out of every
// regular file of the source folder, one file after another: the per-file
// state is emptied before each file, then its log records are carved, then
// its journal records. Sub-folders are not entered. Returns -1 when the folder
// cannot be listed ("Source File Folder Handle is invalid."), else 0.
int Carve_Source_Folder(Global_Parsing_Context& context, const Run_Options& options, const std::string& folder,
                        CppSQLite3DB& db, int hour_offset);

// The names of the regular files in `folder` (symbolic links followed;
// directories, FIFOs, devices and sockets left out, since reading one could
// block), in carving order. False when the folder cannot be listed.
bool List_Source_Files(const std::string& folder, std::vector<std::string>& names);

// The carving order: names compared byte by byte with the ASCII letters
// a-z taken as A-Z; names equal that way are ordered by their bytes as they
// are, so the order is the same on every run.
bool Source_Name_Less(std::string_view a, std::string_view b);
