#include "detection/usnjrnl/UsnJrnl_Timestamp_Indexes.h"

#include <functional>

#include "detection/usnjrnl/UsnJrnl_Record_Rules.h"
#include "platform/text.h"

namespace {

// A move of the file within this long of its change belongs to it.
constexpr std::int64_t Move_Window_Seconds = 6;
// A content write this close to the change explains the MFT-modified time.
constexpr std::int64_t Content_Write_Window_Seconds = 2;

}  // namespace

UsnJrnl_Timestamp_Indexes::UsnJrnl_Timestamp_Indexes(UsnJrnl_Detection_State& context)
    : rows_(context.g_UsnJrnl_Info_Array),
      facts_(*context.UsnJrnl_Record_Facts),
      entries_(context.g_Basic_Info_Changed_Array),
      context_(context) {}

const Record_Lists& UsnJrnl_Timestamp_Indexes::By_File() const { return Records_By_File(context_); }

const Record_Lists& UsnJrnl_Timestamp_Indexes::By_Parent() {
    if (!by_parent_)
        by_parent_ = std::make_unique<Record_Lists>(facts_.size(), facts_.Parent_Count(),
                                                    [&](std::size_t i) { return facts_.Parent(i); });
    return *by_parent_;
}

std::int64_t UsnJrnl_Timestamp_Indexes::Times_By_Parent::Between(std::uint32_t parent, std::int64_t from,
                                                                 std::int64_t to) const {
    const auto [first, last] = Lists.Range(parent);
    const auto begin = Seconds.begin() + static_cast<std::ptrdiff_t>(first);
    const auto end = Seconds.begin() + static_cast<std::ptrdiff_t>(last);
    return std::lower_bound(begin, end, to) - std::lower_bound(begin, end, from);
}

void UsnJrnl_Timestamp_Indexes::Make_Closed_Times() {
    if (closed_) return;
    const auto make = [&](auto kind) {
        auto times = std::make_unique<Times_By_Parent>();
        times->Lists = Record_Lists(facts_.size(), facts_.Parent_Count(), [&](std::size_t i) {
            return kind(i) ? facts_.Parent(i) : Record_Lists::No_Id;
        });
        const Index_Array& records = times->Lists.Records();
        times->Seconds.resize(records.size());
        for (std::size_t p = 0; p < records.size(); ++p) times->Seconds[p] = facts_.Seconds(records[p]);
        for (std::uint32_t id = 0; id < times->Lists.Id_Count(); ++id) {
            const auto [first, last] = times->Lists.Range(id);
            std::sort(times->Seconds.begin() + static_cast<std::ptrdiff_t>(first),
                      times->Seconds.begin() + static_cast<std::ptrdiff_t>(last));
        }
        return times;
    };
    closed_ = make([&](std::size_t i) { return facts_.Holds_Closed(i); });
    basic_closed_ = make(
        [&](std::size_t i) { return facts_.Holds_All(i, Usn_Reason_Bit::Basic_Info_Changed | Usn_Reason_Bit::File_Closed); });
}

std::int64_t UsnJrnl_Timestamp_Indexes::Closed_Between(std::uint32_t parent, std::int64_t from, std::int64_t to) {
    Make_Closed_Times();
    return closed_->Between(parent, from, to);
}

std::int64_t UsnJrnl_Timestamp_Indexes::Basic_Closed_Between(std::uint32_t parent, std::int64_t from, std::int64_t to) {
    Make_Closed_Times();
    return basic_closed_->Between(parent, from, to);
}

std::int64_t UsnJrnl_Timestamp_Indexes::Closed_In(std::uint32_t parent) {
    Make_Closed_Times();
    const auto [first, last] = closed_->Lists.Range(parent);
    return static_cast<std::int64_t>(last - first);
}

std::int64_t UsnJrnl_Timestamp_Indexes::Basic_Closed_In(std::uint32_t parent) {
    Make_Closed_Times();
    const auto [first, last] = basic_closed_->Lists.Range(parent);
    return static_cast<std::int64_t>(last - first);
}

void UsnJrnl_Timestamp_Indexes::Make_Windows() {
    if (windows_made_) return;
    windows_made_ = true;
    for (const auto& entry : entries_)
        if (!entry.Removed && entry.Paired()) window_records_.push_back(entry.LastRecordIndex);
    std::sort(window_records_.begin(), window_records_.end());
    window_records_.erase(std::unique(window_records_.begin(), window_records_.end()), window_records_.end());
    // Where the scans around a change end, so that they visit only the
    // file's own records however many records of other files share those
    // seconds.
    const Seconds_Array& seconds = facts_.All_Seconds();
    Backward_Window_Ends(seconds, Move_Window_Seconds - 1, Content_Write_Window_Seconds, window_records_.data(),
                         window_records_.size(), move_start_, content_write_start_);
    Forward_Window_Ends(seconds, Move_Window_Seconds - 1, window_records_.data(), window_records_.size(), move_end_);
}

std::size_t UsnJrnl_Timestamp_Indexes::Window_Slot(Record_Index last) const {
    return static_cast<std::size_t>(std::lower_bound(window_records_.begin(), window_records_.end(), last) -
                                    window_records_.begin());
}

std::uint32_t UsnJrnl_Timestamp_Indexes::Move_Window_Start(Record_Index last) {
    Make_Windows();
    return move_start_[Window_Slot(last)];
}

std::uint32_t UsnJrnl_Timestamp_Indexes::Move_Window_End(Record_Index last) {
    Make_Windows();
    return move_end_[Window_Slot(last)];
}

std::uint32_t UsnJrnl_Timestamp_Indexes::Content_Write_Window_Start(Record_Index last) {
    Make_Windows();
    return content_write_start_[Window_Slot(last)];
}

std::uint64_t UsnJrnl_Timestamp_Indexes::Name_Key(std::u16string_view name, std::uint64_t parent) {
    return std::hash<std::u16string_view>()(name) ^ (parent * 0x9E3779B97F4A7C15ull);
}

void UsnJrnl_Timestamp_Indexes::Make_Entry_Maps() {
    if (entry_maps_made_) return;
    entry_maps_made_ = true;
    entry_parents_.assign(entries_.size(), 0);
    for (std::size_t e = 0; e < entries_.size(); ++e) {
        const auto& entry = entries_[e];
        if (entry.Removed) continue;
        const std::uint32_t index = static_cast<std::uint32_t>(e);
        entries_of_reference_.emplace_back(platform::Read_Hexadecimal(entry.FileReferenceNumber(rows_)), index);
        entry_parents_[e] = platform::Read_Hexadecimal(entry.ParentFileReferenceNumber(rows_));
        entries_of_name_.emplace_back(Name_Key(entry.FileName(rows_), entry_parents_[e]), index);
    }
    std::sort(entries_of_reference_.begin(), entries_of_reference_.end());
    std::sort(entries_of_name_.begin(), entries_of_name_.end());
}
