// The fifth per-event rule of the $LogFile half: backward time changes and
// forward creation-time changes, judged normal or manipulated.
#pragma once

#include <cstddef>

#include "detection/logfile/LogFile_Detection_State.h"

// Tests event i; normal changes go to g_Normal_Time_Reversal_Array (and
// creation-time updates also to g_Normal_Creation_Time_Update_Array),
// manipulations become "Timestamp Manipulation" findings.
void Detect_LogFile_Timestamp_Manipulation(LogFile_Detection_State& context, std::size_t i);

// Whether event i is one half of the pair Windows writes when it restores a
// file's times (a Time_Reversal_Event of the modified times only, directly
// followed by one of the creation time only), in either half. The two events
// need not concern the same file. 1 or 0.
int Is_Paired_Time_Reversal(const Log_Info_Rows& rows, std::size_t i);

// Whether event i moved a time back by at least the reversal threshold, or
// the creation time forward by at least the creation-time threshold. 1 or 0.
int Is_Significant_Time_Change(const LogFile_Detection_State& context, std::size_t i);
