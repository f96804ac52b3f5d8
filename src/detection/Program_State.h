// Everything that lives from the start of a run to its end: the parsing
// state of the readers, the signature rows, the reloaded event rows and the
// findings. It sits where the findings of the detection are visible; the
// entry point makes the one instance and hands each stage its part.
#pragma once

#include <vector>

#include "detection/Findings.h"
#include "ntfs/Parsing_Context.h"
#include "records/Compact_Rows.h"
#include "records/Records.h"
#include "records/Run_Options.h"

struct Program_State {
    std::vector<_anti_forensic_program_installation_info> g_Installation_Signature_Array;
    std::vector<_anti_forensic_program_execution_info> g_Execution_Signature_Array;
    std::vector<_anti_forensic_program_trace_info> g_Trace_Signature_Array;
    std::vector<_program_update_path_info> g_Update_Path_Signature_Array;
    std::vector<_key_temp_path_info> g_Key_Temp_Path_Array;
    // The reloaded event tables, in LSN and USN order.
    Log_Info_Rows g_Log_Info_Array;
    UsnJrnl_Info_Rows g_UsnJrnl_Info_Array;
    // Whether the export keeps the rows it writes. Nothing reads them when no
    // detection follows, and a large journal would otherwise stay in memory.
    bool Reload_Event_Rows = true;
    // The findings of the detection, one overview per (category, source) in
    // the order first found; emptied once the findings file is written.
    Detection_Overview_List g_Detection_Overview_Array;
    Global_Parsing_Context g_Parsing_Context;
    Run_Options Options;
};
