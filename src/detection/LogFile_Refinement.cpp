#include "detection/LogFile_Refinement.h"

// Not built yet: the findings stay as the per-event rules made them.

void Link_LogFile_Timestamp_Tool_Execution(Detection_Context& context) { (void)context; }

void Verify_Same_As_Normal_File_Claims(Detection_Context& context) { (void)context; }

void Suppress_Normal_Time_Change_Findings(Detection_Context& context) { (void)context; }

void Suppress_Program_Folder_Timestamp_Groups(Detection_Context& context) { (void)context; }
