// Running the $LogFile half of the detection on rows built in a test, and
// reading back its timestamp findings and normal events.
#pragma once

#include <string>
#include <vector>

#include "detection/Detection_Context.h"
#include "detection/LogFile_Event_Rules.h"
#include "detection/LogFile_Refinement.h"
#include "platform/text.h"
#include "records/Parsing_State.h"

namespace test_support {

// What one run of the $LogFile half leaves for the timestamp findings.
struct Timestamp_Outcome {
    // "<location>|<message>|<tool kind>|<full path>", with " (suppressed)"
    // at the end of a suppressed one.
    std::vector<std::string> Findings;
    std::vector<std::string> Normal_Reversals;        // "<full path>|<file name>"
    std::vector<std::string> Normal_Creation_Updates;  // likewise
};

inline std::string Finding_Line(const AntiForneisc_Behavior_Detection_Detail& d) {
    return platform::Utf16_To_Utf8(d.DetectionLocation + u"|" + d.Message + u"|" + d.ToolKind + u"|" + d.FullPath) +
           (d.Valid == 1 ? "" : " (suppressed)");
}

template <class Overviews, class Reversals, class Updates>
Timestamp_Outcome Timestamp_Outcome_Of(const Overviews& overviews, const Reversals& reversals, const Updates& updates) {
    Timestamp_Outcome out;
    for (const auto& overview : overviews) {
        if (overview->Category != u"Timestamp Manipulation" || overview->Source != u"$LogFile") continue;
        for (const auto& d : overview->Details) out.Findings.push_back(Finding_Line(*d));
    }
    for (const auto& e : reversals) out.Normal_Reversals.push_back(platform::Utf16_To_Utf8(e.FullPath + u"|" + e.FileName));
    for (const auto& e : updates)
        out.Normal_Creation_Updates.push_back(platform::Utf16_To_Utf8(e.FullPath + u"|" + e.FileName));
    return out;
}

// The per-event rules and the four refinement phases over the state's rows
// and signatures, as the detection runs them (without the $UsnJrnl half).
inline Timestamp_Outcome Run_LogFile_Half(Program_State& state, bool refine = true) {
    Detection_Context context(state);
    context.g_Time_Reversal_Threshold = 20;
    context.g_CreationTime_Update_Threshold = 120;
    Detect_LogFile_Event_Rules(context);
    if (refine) {
        Link_LogFile_Timestamp_Tool_Execution(context);
        Verify_Same_As_Normal_File_Claims(context);
        Suppress_Normal_Time_Change_Findings(context);
        Suppress_Program_Folder_Timestamp_Groups(context);
    }
    return Timestamp_Outcome_Of(state.g_Detection_Overview_Array, context.g_Normal_Time_Reversal_Array,
                                context.g_Normal_Creation_Time_Update_Array);
}

}  // namespace test_support
