#include "ntfs/usnjrnl/Parse_UsnJrnl.h"

int Parse_UsnJrnl(Global_Parsing_Context& context, const std::string& path, CppSQLite3DB& db, int hour_offset) {
    (void)path;
    (void)db;
    context.Hour_Offset = hour_offset;
    return 0;
}
