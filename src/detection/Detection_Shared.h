// What both halves of the detection share: the reloaded rows, the signature
// rows and the $MFT index, which the detection reads and never changes, and
// the findings list every rule fills. Each half keeps its own working state
// beside it (LogFile_Detection_State, UsnJrnl_Detection_State).
#pragma once

#include <vector>

#include "detection/Findings.h"
#include "records/Compact_Rows.h"
#include "detection/Program_State.h"
#include "records/Records.h"

struct Detection_Shared {
    explicit Detection_Shared(Program_State& state);
    Detection_Shared(const Detection_Shared&) = delete;
    Detection_Shared& operator=(const Detection_Shared&) = delete;

    // ---- Inputs (read only) ----

    // The reloaded events in LSN and USN order; a field is read as a view
    // (rows.Field(i, Log_Field::Event) or rows[i].FullPath).
    const Log_Info_Rows& g_Log_Info_Array;
    const UsnJrnl_Info_Rows& g_UsnJrnl_Info_Array;

    // The signature rows, in load order.
    const std::vector<_anti_forensic_program_installation_info>& g_Installation_Signature_Array;
    const std::vector<_anti_forensic_program_execution_info>& g_Execution_Signature_Array;
    const std::vector<_anti_forensic_program_trace_info>& g_Trace_Signature_Array;
    const std::vector<_program_update_path_info>& g_Update_Path_Signature_Array;
    const std::vector<_key_temp_path_info>& g_Key_Temp_Path_Array;

    // The $MFT index (times, paths and directory children) and the hour
    // offset of the run.
    const Global_Parsing_Context& g_Parsing_Context;

    // ---- Output ----

    // Where every rule files its findings (see Record_Finding).
    Detection_Overview_List& g_Detection_Overview_Array;
};
