#include "carving/Carve_Source_Folder.h"

int Carve_Source_Folder(Global_Parsing_Context& context, const Run_Options& options, const std::string& folder,
                        CppSQLite3DB& db, int hour_offset) {
    (void)options;
    (void)folder;
    (void)db;
    context.Hour_Offset = hour_offset;
    return 0;
}
