// The phases that rework the $LogFile timestamp findings after the per-event
// loop, run in this order.
#pragma once

#include "detection/logfile/LogFile_Detection_State.h"

// Ties findings made just after a timestamp tool ran to that tool.
void Link_LogFile_Timestamp_Tool_Execution(LogFile_Detection_State& context);
// Downgrades findings whose "same as another file" evidence points only at
// files that are flagged themselves.
void Verify_Same_As_Normal_File_Claims(LogFile_Detection_State& context);
// Suppresses findings on paths whose time changes were judged normal twice.
void Suppress_Normal_Time_Change_Findings(LogFile_Detection_State& context);
// Suppresses installer-like groups of findings under program folders and the
// update download folder.
void Suppress_Program_Folder_Timestamp_Groups(LogFile_Detection_State& context);
