#pragma once

#include <string>

#include "db/CppSQLite3.h"
#include "records/Parsing_State.h"

// Decodes an extracted $UsnJrnl:$J into UsnJrnl rows.
int Parse_UsnJrnl(Global_Parsing_Context& context, const std::string& path, CppSQLite3DB& db, int hour_offset);
