#include "records/Parsing_State.h"

int Reset_Carving_State(Global_Parsing_Context& context) {
    std::vector<_page_info>().swap(context.Scanned_Page_Array);
    std::vector<_page_info>().swap(context.Record_Page_Array);
    std::vector<_page_info>().swap(context.Replay_Page_Array);
    std::vector<std::unique_ptr<Page_Group>>().swap(context.Page_Group_Array);
    std::vector<_page_info>().swap(context.Carved_Page_Array);
    std::vector<_page_info>().swap(context.Older_Buffer_Page_Array);
    std::vector<_page_info>().swap(context.Newer_Buffer_Page_Array);
    std::vector<_log_info>().swap(context.LogFile_Row_Array);
    context.LogFile_Row_Lookup.Clear();
    context.MFT_Creation_Time.clear();
    return 0;
}
