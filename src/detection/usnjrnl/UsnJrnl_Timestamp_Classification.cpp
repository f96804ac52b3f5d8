// The first phase of the journal's timestamp rules: each tracked entry's gap
// flags against its $MFT times, and the update period it belongs to.
#include <optional>
#include <string_view>

#include "detection/Rule_Numbers.h"
#include "detection/usnjrnl/Program_Update_Periods.h"
#include "detection/usnjrnl/UsnJrnl_Record_Rules.h"
#include "detection/usnjrnl/UsnJrnl_Timestamp_Rules.h"
#include "ntfs/mft/Mft_Index.h"
#include "output/Time_Text.h"
#include "platform/text.h"

namespace {

using Entry = _usnjrnl_basic_info_changed_last_event_time;

// Gaps between the $SI times and the journal's own times that a tool's
// rewrite leaves, and that a normal write does not.
constexpr std::uint64_t Time_Gap_Seconds = 5;
constexpr std::uint64_t Creation_Event_Gap_Seconds = 2;

// The program folder's key of a tracked file's path: up to and including
// its depth-th "\" counted from the second character on.
std::optional<std::u16string_view> Program_Key_Of(std::u16string_view full_path, std::uint64_t depth) {
    if (depth == 0) return full_path.substr(0, 1);
    std::size_t from = 1;
    std::size_t hit = std::u16string_view::npos;
    for (std::uint64_t found = 0; found < depth; ++found) {
        hit = full_path.find(u'\\', from);
        if (hit == std::u16string_view::npos) return std::nullopt;
        from = hit + 1;
    }
    return full_path.substr(0, hit + 1);
}

void Attach_To_Period(UsnJrnl_Detection_State& context, Entry& entry) {
    const UsnJrnl_Info_Rows& rows = context.g_UsnJrnl_Info_Array;
    const std::u16string_view full_path = entry.FullPath(rows);
    const _program_update_path_info* update_path = Update_Path_Of(context, full_path);
    if (update_path == nullptr) return;
    const std::optional<std::u16string_view> key = Program_Key_Of(full_path, update_path->FolderDepth);
    if (!key) return;
    const auto group = context.Program_Group_Of_Key.find(*key);
    if (group == context.Program_Group_Of_Key.end() || group->second >= context.Program_Update_Period_Group_Array.size())
        return;
    const std::u16string_view last_time = entry.LastEventTime(rows);
    for (const auto& period : context.Program_Update_Period_Group_Array[group->second]->Periods) {
        if (!(period->StartTime <= last_time && last_time <= period->EndTime)) continue;
        ++period->TrackedEntries;
        if (entry.CreationGapFlag == 1) ++period->CreationGapEntries;
        else if (entry.ModifiedGapFlag == 1) ++period->ModifiedGapEntries;
        entry.Period = period.get();
        return;
    }
}

}  // namespace

int Check_Candidate_Ratios(const Entry& entry) {
    const Program_Update_Period* period = entry.Period;
    if (period == nullptr) return 0;
    // A large program folder that existed before, much of it touched.
    if (period->FolderCreated == 0 && period->FolderFileCount >= 70 &&
        Ratio_At_Least(Single_Ratio(period->FilesSeen, period->FolderFileCount), 0.4))
        return 1;
    if (Ratio_At_Least(Single_Ratio(period->FilesWithoutBasicInfo, period->FilesSeen), 0.7)) return 1;
    std::optional<float> gap_share = 0.0f;
    if (entry.CreationGapFlag == 1) gap_share = Single_Ratio(period->CreationGapEntries, period->FilesSeen);
    else if (entry.ModifiedGapFlag == 1) gap_share = Single_Ratio(period->ModifiedGapEntries, period->FilesSeen);
    if (Ratio_At_Most(gap_share, 0.3)) return 1;
    if (period->FilesCreated == 0) {
        if (entry.CreatedKnown == 0) return 1;
    } else if (Ratio_At_Most(Single_Ratio(period->FilesCreated, period->FilesSeen), 0.5)) {
        return 1;
    }
    if (period->DirectoriesCreated == 0) return 0;
    const std::optional<float> without = Single_Ratio(period->DirectoriesWithoutBasicInfo, period->DirectoriesSeen);
    if (Ratio_At_Least(without, 0.5)) return 1;
    if (without && *without == 0.0f &&
        Ratio_Below(Single_Ratio(period->DirectoriesTimeChanged, period->DirectoriesSeen), 0.5))
        return 1;
    return 0;
}

void Classify_Basic_Info_Changed_Entries(UsnJrnl_Detection_State& context) {
    const UsnJrnl_Info_Rows& rows = context.g_UsnJrnl_Info_Array;
    const Mft_Index& mft = context.g_Parsing_Context.Mft;
    if (context.g_Basic_Info_Changed_Array.empty()) return;
    Read_UsnJrnl_Facts(context);
    const UsnJrnl_Facts& facts = *context.UsnJrnl_Record_Facts;
    Shifted_Time_Text_Maker time_text(context.g_Parsing_Context.Hour_Offset);
    for (Entry& entry : context.g_Basic_Info_Changed_Array) {
        if (entry.Removed || entry.LastUSN(rows).empty() || entry.FullPath(rows).empty()) continue;
        const _ENTRYINFO_2* own = mft.Find_By_Reference(platform::Read_Hexadecimal(entry.FileReferenceNumber(rows)));
        if (own != nullptr && own->IsDeleted == 0) {
            const std::int64_t last = facts.Seconds(entry.LastRecordIndex);
            const std::int64_t mft_modified = Time_Text_Seconds(time_text.Text(own->MFT_ModifiedTime));
            if (entry.CreatedKnown == 1) {
                const std::int64_t si_creation = Time_Text_Seconds(time_text.Text(own->CreateTime));
                const std::int64_t created = facts.Seconds(entry.Created_Record);
                if (Magnitude(created - si_creation) > Time_Gap_Seconds) entry.CreationGapFlag = 1;
                if (Magnitude(created - last) > Creation_Event_Gap_Seconds) entry.CreationEventGapFlag = 1;
            }
            if (Magnitude(last - mft_modified) > Time_Gap_Seconds) entry.ModifiedGapFlag = 1;
        }
        Attach_To_Period(context, entry);
    }
}
