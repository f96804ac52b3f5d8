// The working state of the $LogFile half of the detection, beside the inputs
// and the findings list it shares with the journal half.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "detection/Detection_Shared.h"
#include "detection/Program_State.h"
#include "records/Records.h"

class LogFile_Event_Index;

// The shared part is a virtual base, so that the detection's context, made of
// this state and the journal half's, holds it once.
struct LogFile_Detection_State : virtual Detection_Shared {
    explicit LogFile_Detection_State(Program_State& state);
    ~LogFile_Detection_State();

    // Seconds; set when the detection starts.
    std::uint32_t g_Time_Reversal_Threshold = 0;
    std::uint32_t g_CreationTime_Update_Threshold = 0;

    // Time changes that the timestamp rule judged normal, for the suppression
    // of repeated findings on the same path.
    std::vector<_normal_time_reversal_event> g_Normal_Time_Reversal_Array;
    std::vector<_normal_creation_time_update_event> g_Normal_Creation_Time_Update_Array;

    // The events of g_Log_Info_Array read once and indexed by file and name
    // for the timestamp rule; made when that rule first needs it
    // (LogFile_Event_Index_Of).
    std::unique_ptr<LogFile_Event_Index> g_LogFile_Event_Index;
};
