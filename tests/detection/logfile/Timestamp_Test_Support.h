// Running the $LogFile half of the detection on rows built in a test, and
// reading back its timestamp findings and normal events.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "detection/Detect_Suspicious_Behavior.h"
#include "detection/logfile/Literal_LogFile_Timestamp.h"
#include "detection/logfile/LogFile_Event_Rules.h"
#include "detection/logfile/LogFile_Refinement.h"
#include "platform/text.h"
#include "detection/Program_State.h"
#include "support/Detection_Builders.h"

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

// The rule alone (no refinement) over these events. The literal
// implementation must agree on every scenario.
inline Timestamp_Outcome Judge(const std::vector<Log_Event>& events) {
    Program_State state;
    for (const Log_Event& e : events) state.g_Log_Info_Array.push_back(e);
    Timestamp_Outcome out = Run_LogFile_Half(state, false);
    literal_rule::Outcome literal;
    literal_rule::Rule rule(state.g_Log_Info_Array, literal);
    for (long long i = 0; i < rule.n(); ++i) rule.Event(i);
    const Timestamp_Outcome expected =
        Timestamp_Outcome_Of(literal.Overviews, literal.Normal_Reversals, literal.Normal_Creation_Updates);
    EXPECT_EQ(out.Findings, expected.Findings) << "the literal rule disagrees";
    EXPECT_EQ(out.Normal_Reversals, expected.Normal_Reversals) << "the literal rule disagrees";
    return out;
}

// ---- Events of the file under test (TargetVCN 0x20, cluster index 2) and
// of others ----

inline Log_Event Of_File(std::uint64_t lsn, std::u16string_view event, std::u16string_view name = u"a.txt",
                         std::u16string_view folder = u"\\d\\") {
    return Log_Event(lsn).Event(event).Name(name).Path(std::u16string(folder) + std::u16string(name)).File(0x20, 2);
}

inline Log_Event Of_Other(std::uint64_t lsn, std::u16string_view event, std::u16string_view name = u"o.txt",
                          std::uint32_t target_vcn = 0x30, std::uint64_t cluster_index = 4) {
    return Log_Event(lsn).Event(event).Name(name).Path(u"\\o\\" + std::u16string(name)).File(target_vcn, cluster_index);
}

// An event of no interest to the rules, to fill a position.
inline Log_Event Filler(std::uint64_t lsn) { return Log_Event(lsn).File(0x77, 6); }

// "2020-05-01 10:30:00" moved by `seconds` (within the hour).
inline std::u16string Clock(int seconds) {
    const int total = 30 * 60 + seconds;
    return platform::Format(u"2020-05-01 10:%0.2d:%0.2d", {total / 60, total % 60});
}

// "<label> : <old> -> <new>", the times `old_s` and `new_s` seconds from
// 10:30:00.
inline std::u16string Change(std::u16string_view label, int old_s, int new_s) {
    return std::u16string(label) + u" : " + Clock(old_s) + u" -> " + Clock(new_s);
}

// `count` check points from `lsn` on, `step` apart.
inline std::vector<Log_Event> Check_Points(std::uint64_t lsn, int count, std::uint64_t step = 0x10) {
    std::vector<Log_Event> out;
    for (int k = 0; k < count; ++k) out.push_back(Check_Point(lsn + static_cast<std::uint64_t>(k) * step));
    return out;
}

inline std::vector<Log_Event> Concat(std::initializer_list<std::vector<Log_Event>> parts) {
    std::vector<Log_Event> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// A finding as Timestamp_Outcome lists it.
inline std::string Line(std::uint64_t lsn, std::string_view message, std::string_view tool_kind,
                        std::string_view path) {
    return std::to_string(lsn) + "|" + std::string(message) + "|" + std::string(tool_kind) + "|" + std::string(path);
}

}  // namespace test_support
