#include "records/Parsing_State.h"

int Reset_Carving_State(Global_Parsing_Context& context) {
    std::vector<_log_info>().swap(context.LogFile_Row_Array);
    context.MFT_Creation_Time.clear();
    return 0;
}
