// The last phase of the journal's timestamp rules: the working objects
// freed, and each execution of a timestamp tool tied to the file it changed.
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "detection/Rule_Numbers.h"
#include "detection/usnjrnl/UsnJrnl_Record_Rules.h"
#include "detection/usnjrnl/UsnJrnl_Timestamp_Rules.h"
#include "platform/text.h"

namespace {

using Entry = _usnjrnl_basic_info_changed_last_event_time;

// A tool's execution this close to the change (in time and in records)
// made it.
constexpr std::uint64_t Tool_Link_Seconds = 1;
constexpr std::uint64_t Tool_Link_Records = 5;

}  // namespace

void Free_UsnJrnl_Working_Objects(UsnJrnl_Detection_State& context) {
    context.Program_Group_Of_Key.clear();
    context.Program_Operation_Candidate_Group_Array.clear();
    context.Program_Update_Period_Group_Array.clear();
    context.g_File_Created_Map.clear();
    context.g_File_Renamed_New_Map.clear();
    context.g_File_Deleted_Map.clear();
    context.g_File_Renamed_Old_Map.clear();
    context.UsnJrnl_Records_By_File.reset();
    context.Basic_Info_Changed_Event_Times.clear();
    for (auto& entry : context.g_Basic_Info_Changed_Array) entry.Period = nullptr;
}

void Link_UsnJrnl_Timestamp_Tool_Execution(UsnJrnl_Detection_State& context) {
    auto& entries = context.g_Basic_Info_Changed_Array;
    if (entries.empty()) return;
    const UsnJrnl_Info_Rows& rows = context.g_UsnJrnl_Info_Array;
    Read_UsnJrnl_Facts(context);
    const UsnJrnl_Facts& facts = *context.UsnJrnl_Record_Facts;
    // The changed files by the second of their last change.
    std::vector<std::pair<std::int64_t, std::size_t>> by_time;
    for (std::size_t e = 0; e < entries.size(); ++e)
        if (!entries[e].Removed && !entries[e].LastUSN(rows).empty())
            by_time.emplace_back(facts.Seconds(entries[e].LastRecordIndex), e);
    std::sort(by_time.begin(), by_time.end());

    constexpr std::u16string_view Tool_Mark = u"(Timestamp Manipulation)";
    // The execution findings are read by index: the link may add timestamp
    // findings, never execution ones.
    for (std::size_t o = 0; o < context.g_Detection_Overview_Array.size(); ++o) {
        // A pointer, not a reference into the list: filing a new finding may
        // grow the list.
        const AntiForneisc_Behavior_Detection_Overview* overview = context.g_Detection_Overview_Array[o].get();
        if (overview->Category != Finding_Category::Execution || overview->Source != Finding_Source::UsnJrnl) continue;
        for (std::size_t d = 0; d < overview->Details.size(); ++d) {
            const AntiForneisc_Behavior_Detection_Detail& execution = *overview->Details[d];
            const long long mark = platform::Find(execution.Message, Tool_Mark);
            if (mark < 0) continue;
            // "<program> (Timestamp Manipulation) has been executed."; each
            // finding names its own tool.
            const std::u16string tool = mark > 2 ? platform::Left(execution.Message, mark - 1) : std::u16string();

            const std::int64_t time = Time_Text_Seconds(execution.EventTime);
            const std::uint64_t location = platform::Read_Unsigned_Decimal(execution.DetectionLocation);
            const auto first = std::lower_bound(by_time.begin(), by_time.end(),
                                                std::make_pair(time - static_cast<std::int64_t>(Tool_Link_Seconds),
                                                               std::size_t{0}));
            std::size_t chosen = entries.size();
            std::uint64_t nearest = 0;
            for (auto it = first; it != by_time.end() && it->first <= time + static_cast<std::int64_t>(Tool_Link_Seconds);
                 ++it) {
                const std::uint64_t distance =
                    Distance(platform::Read_Unsigned_Decimal(entries[it->second].LastUSN(rows)), location);
                // Ties go to the entry made first.
                if (chosen == entries.size() || distance < nearest || (distance == nearest && it->second < chosen)) {
                    chosen = it->second;
                    nearest = distance;
                }
            }
            if (chosen == entries.size()) continue;
            Entry& entry = entries[chosen];
            if (Distance(execution.RecordIndex, entry.LastRecordIndex) >= Tool_Link_Records) continue;

            if (entry.Reported == 1) {
                const std::u16string manipulated =
                    tool.empty() ? std::u16string(u"have been manipulated after executing timestamp manipulcation tool")
                                 : platform::Format(u"have been manipulated after executing %s", {tool});
                for (const auto& timestamp_overview : context.g_Detection_Overview_Array) {
                    if (timestamp_overview->Category != Finding_Category::Timestamp_Manipulation ||
                        timestamp_overview->Source != Finding_Source::UsnJrnl)
                        continue;
                    for (const auto& finding : timestamp_overview->Details) {
                        if (finding->DetectionLocation != platform::Cut_At_Nul(entry.LastUSN(rows))) continue;
                        platform::Replace(finding->Message, u"[Suspicious]", u"[Malicious]");
                        platform::Replace(finding->Message, u"have been manipulated", manipulated);
                    }
                }
            } else {
                AntiForneisc_Behavior_Detection_Detail& finding = Record_Finding(
                    context.g_Detection_Overview_Array, Finding_Category::Timestamp_Manipulation,
                    Finding_Source::UsnJrnl, platform::Cut_At_Nul(entry.LastUSN(rows)),
                    platform::Format(u"[Suspicious] The timestamp of \"%s\" may have been manipulated after executing %s.",
                                     {entry.FileName(rows), tool}));
                finding.EventTime = entry.LastEventTime(rows);
            }
        }
    }
}
