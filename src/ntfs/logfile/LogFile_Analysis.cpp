#include "ntfs/logfile/LogFile_Analysis.h"

void Analyze_LogFile_Record(Global_Parsing_Context& context, Byte_View header, _log_info& cur, const _log_info& prev,
                            const Client_Data_View& data, CppSQLite3DB& db) {
    (void)context;
    (void)header;
    (void)cur;
    (void)prev;
    (void)data;
    (void)db;
}
