#include "detection/Detect_Suspicious_Behavior.h"

#include "detection/logfile/LogFile_Event_Rules.h"
#include "detection/logfile/LogFile_Refinement.h"
#include "detection/usnjrnl/Program_Update_Periods.h"
#include "detection/usnjrnl/UsnJrnl_Record_Rules.h"
#include "detection/usnjrnl/UsnJrnl_Timestamp_Rules.h"
#include "platform/console.h"

using platform::Console_Write;

namespace {

constexpr std::uint32_t Time_Reversal_Threshold_Seconds = 20;
constexpr std::uint32_t CreationTime_Update_Threshold_Seconds = 120;

void Detect_LogFile_Half(LogFile_Detection_State& context) {
    Console_Write("\r\nDetecting Suspicious Behavior in $LogFile...");
    Detect_LogFile_Event_Rules(context);
    Link_LogFile_Timestamp_Tool_Execution(context);
    Verify_Same_As_Normal_File_Claims(context);
    Suppress_Normal_Time_Change_Findings(context);
    Suppress_Program_Folder_Timestamp_Groups(context);
    Console_Write("[Done]");
}

void Detect_UsnJrnl_Half(UsnJrnl_Detection_State& context) {
    Console_Write("\r\nDetecting Suspicious Behavior in $UsnJrnl...");
    // The per-record pass also runs the grouping by update path, the
    // "Basic_Info_Changed" tracking and the lifecycle maps, record by record.
    Detect_UsnJrnl_Record_Rules(context);
    Build_Program_Periods(context);
    Index_Period_Events(context);
    Classify_Basic_Info_Changed_Entries(context);
    Detect_UsnJrnl_Timestamp_Manipulation(context);
    Free_UsnJrnl_Working_Objects(context);
    Link_UsnJrnl_Timestamp_Tool_Execution(context);
    Console_Write("[Done]");
}

}  // namespace

void Detect_Suspicious_Behavior(Program_State& state) {
    Detection_Context context(state);
    context.g_Time_Reversal_Threshold = Time_Reversal_Threshold_Seconds;
    context.g_CreationTime_Update_Threshold = CreationTime_Update_Threshold_Seconds;
    Detect_LogFile_Half(context);
    Detect_UsnJrnl_Half(context);
}
