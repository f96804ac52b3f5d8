#pragma once

#include <string>

#include "db/CppSQLite3.h"
#include "records/Parsing_State.h"

// Carves $LogFile pages (-g, -q) and $UsnJrnl records (-n, -a) out of every
// file of the source folder.
int Carve_Source_Folder(Global_Parsing_Context& context, const Run_Options& options, const std::string& folder,
                        CppSQLite3DB& db, int hour_offset);
