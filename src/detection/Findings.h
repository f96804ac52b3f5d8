// The findings of the suspicious-behaviour detection: one detail per finding,
// filed under the overview of its category and source.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// One finding.
struct AntiForneisc_Behavior_Detection_Detail {
    std::u16string Source;             // "$LogFile" or "$UsnJrnl:$J", as its overview's
    std::u16string DetectionLocation;  // LSN or USN text of the event concerned
    std::u16string Message;
    std::u16string ToolKind;   // "Tool" or "Malware" for timestamp manipulation; empty elsewhere
    std::u16string FullPath;   // empty when the rule sets none
    std::u16string EventTime;  // time text of the $UsnJrnl record; empty for $LogFile findings
    std::uint32_t RecordIndex = 0;  // position in g_UsnJrnl_Info_Array ($UsnJrnl execution findings)
    // 1 = reported, 0 = suppressed by a later phase (kept, but not written).
    std::uint32_t Valid = 1;
};

// One category of one source, with its findings in the order recorded.
struct AntiForneisc_Behavior_Detection_Overview {
    std::u16string Category;
    std::u16string Source;
    std::vector<std::unique_ptr<AntiForneisc_Behavior_Detection_Detail>> Details;
};

using Detection_Overview_List = std::vector<std::unique_ptr<AntiForneisc_Behavior_Detection_Overview>>;

// The category texts.
namespace Finding_Category {
inline constexpr char16_t Execution[] = u"Execution of Suspicious Programs";
inline constexpr char16_t Traces[] = u"Traces of Suspicious Programs";
inline constexpr char16_t Document_Deletion[] = u"Deletion of Document File";
inline constexpr char16_t Timestamp_Manipulation[] = u"Timestamp Manipulation";
inline constexpr char16_t System_Time_Manipulation[] = u"Manipulation of System Time";
inline constexpr char16_t Installation[] = u"Installation of Suspicious Programs";
}  // namespace Finding_Category

// The source texts.
namespace Finding_Source {
inline constexpr char16_t LogFile[] = u"$LogFile";
inline constexpr char16_t UsnJrnl[] = u"$UsnJrnl:$J";
}  // namespace Finding_Source

// Files a new finding under the first overview of (category, source), making
// that overview at the end of the list when there is none yet. Returns the
// detail so that the rule can set its other members.
AntiForneisc_Behavior_Detection_Detail& Record_Finding(Detection_Overview_List& overviews, std::u16string_view category,
                                                       std::u16string_view source, std::u16string_view location,
                                                       std::u16string_view message);
