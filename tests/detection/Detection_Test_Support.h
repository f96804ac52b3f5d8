// Running detection phases on a state built in the test, and reading back
// what they found.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "detection/Detect_Suspicious_Behavior.h"
#include "detection/logfile/LogFile_Event_Rules.h"
#include "detection/usnjrnl/Program_Update_Periods.h"
#include "detection/usnjrnl/UsnJrnl_Record_Rules.h"
#include "detection/usnjrnl/UsnJrnl_Timestamp_Rules.h"
#include "platform/text.h"
#include "detection/Program_State.h"

namespace test_support {

// The per-event loop of the $LogFile half over the state's rows and
// signatures, with a context as the detection makes it.
inline void Run_LogFile_Event_Rules(Program_State& state) {
    Detection_Context context(state);
    Detect_LogFile_Event_Rules(context);
}

// The per-record pass of the $UsnJrnl half over the state's rows and
// signatures, with a context as the detection makes it.
inline void Run_UsnJrnl_Record_Rules(Program_State& state) {
    Detection_Context context(state);
    Detect_UsnJrnl_Record_Rules(context);
}

// The per-record pass, then the update periods and their counts, in the
// detection's order, over a context the caller keeps to look into.
inline void Run_UsnJrnl_Periods(Detection_Context& context) {
    Detect_UsnJrnl_Record_Rules(context);
    Build_Program_Periods(context);
    Index_Period_Events(context);
}

// The whole $UsnJrnl half in the detection's order (without its console
// lines), over a context the caller keeps to look into.
inline void Run_UsnJrnl_Half(Detection_Context& context) {
    Run_UsnJrnl_Periods(context);
    Classify_Basic_Info_Changed_Entries(context);
    Detect_UsnJrnl_Timestamp_Manipulation(context);
    Free_UsnJrnl_Working_Objects(context);
    Link_UsnJrnl_Timestamp_Tool_Execution(context);
}

// The findings of one category and source as "<location>|<message>", in the
// order recorded; suppressed ones are marked "(suppressed)".
inline std::vector<std::string> Findings_Of(const Program_State& state, std::u16string_view category,
                                            std::u16string_view source) {
    std::vector<std::string> out;
    for (const auto& overview : state.g_Detection_Overview_Array) {
        if (overview->Category != category || overview->Source != source) continue;
        for (const auto& d : overview->Details)
            out.push_back(platform::Utf16_To_Utf8(d->DetectionLocation + u"|" + d->Message) +
                          (d->Valid == 1 ? "" : " (suppressed)"));
    }
    return out;
}

// Every overview as "<category> / <source>: <count>", in list order.
inline std::vector<std::string> Overviews_Of(const Program_State& state) {
    std::vector<std::string> out;
    for (const auto& overview : state.g_Detection_Overview_Array)
        out.push_back(platform::Utf16_To_Utf8(overview->Category + u" / " + overview->Source) + ": " +
                      std::to_string(overview->Details.size()));
    return out;
}

}  // namespace test_support
