// The working state of one detection run, handed to every phase. The
// detection reads the reloaded rows, the signature rows and the $MFT index
// and never changes them; what it builds (findings, normal events, the
// journal rules' groups and maps) lives here or in the findings list, and
// goes when the detection ends.
#pragma once

#include <cstdint>
#include <vector>

#include "detection/Findings.h"
#include "records/Compact_Rows.h"
#include "detection/Program_State.h"
#include "records/Records.h"

struct Detection_Context {
    explicit Detection_Context(Program_State& state);
    Detection_Context(const Detection_Context&) = delete;
    Detection_Context& operator=(const Detection_Context&) = delete;

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

    // ---- $LogFile half ----

    // Seconds; set when the detection starts.
    std::uint32_t g_Time_Reversal_Threshold = 0;
    std::uint32_t g_CreationTime_Update_Threshold = 0;

    // Time changes that the timestamp rule judged normal, for the suppression
    // of repeated findings on the same path.
    std::vector<_normal_time_reversal_event> g_Normal_Time_Reversal_Array;
    std::vector<_normal_creation_time_update_event> g_Normal_Creation_Time_Update_Array;

    // ---- $UsnJrnl half ----
    //
    // The per-record pass, the update periods and the journal's timestamp
    // rules keep their working objects here as they arrive: the candidate
    // groups by program folder and their update periods, the lifecycle maps
    // of created, renamed and deleted files, the tracked "Basic_Info_Changed"
    // entries, and the file and directory counters of the periods.
};
