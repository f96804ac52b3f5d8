#include "ntfs/Parsing_Context.h"

int Reset_Carving_State(Global_Parsing_Context& context) {
    context.Clear_Page_Lists();
    std::vector<_log_info>().swap(context.LogFile_Row_Array);
    context.LogFile_Row_Lookup.Clear();
    context.MFT_Creation_Time.clear();
    return 0;
}
