// The per-event rules of the $LogFile half: each event of g_Log_Info_Array is
// tested by five rules in turn, so the findings come out in the order of the
// events that caused them.
#pragma once

#include "detection/logfile/LogFile_Detection_State.h"

// Applies, to each event in LSN order: execution, trace, data wiping,
// document deletion and timestamp manipulation. A finding of one rule does not
// keep the later rules from testing the same event.
void Detect_LogFile_Event_Rules(LogFile_Detection_State& context);
