#include "detection/Rule_Terms.h"
#include "detection/usnjrnl/UsnJrnl_Basic_Info_Tracking.h"

#include <memory>
#include <string_view>

#include "detection/Rule_Numbers.h"
#include "detection/usnjrnl/UsnJrnl_Record_Rules.h"
#include "platform/text.h"

namespace {

// A tool that sets the times opens the file, changes them and closes it:
// the change lies at most this long before the closing record...
constexpr std::uint64_t Change_Before_Close_Seconds = 1;
// ...and a closing record that carries other reasons too is looked back
// from over this long.
constexpr std::uint64_t Mixed_Close_Window_Seconds = 2;

// A look-back over at most this many records reads them all rather than
// the file's own list.
constexpr std::size_t Direct_Scan_Records = 64;

using Entry = _usnjrnl_basic_info_changed_last_event_time;
namespace Bit = Usn_Reason_Bit;

// What every closing record of a change of a file's times holds: the change
// and the close, on a file that is no directory and is indexed.
bool May_Qualify(const UsnJrnl_Facts& facts, std::size_t i) {
    return facts.Holds_All(i, Bit::Basic_Info_Changed | Bit::File_Closed) && !facts.Directory_Attribute(i) &&
           !facts.Not_Content_Indexed(i) && !facts.Holds(i, Bit::Content_Indexed_Attr_Changed);
}

// Only the closing record of a change to a file's own times counts: not a
// directory's, not the indexer's, not one of VMware's drag-and-drop copies,
// not one of a file deleted right after.
bool Qualifies(const UsnJrnl_Detection_State& context, std::size_t i) {
    const UsnJrnl_Facts& facts = *context.UsnJrnl_Record_Facts;
    if (!May_Qualify(facts, i)) return false;
    const std::u16string_view full_path = context.g_UsnJrnl_Info_Array.Field(i, Usn_Field::FullPath);
    if (Holds(full_path, u"\\AppData\\Local\\Temp\\") && Holds(full_path, u"\\VMwareDnD\\")) return false;
    if (i + 1 < facts.size() && facts.Holds(i + 1, Bit::File_Deleted) && facts.File(i + 1) == facts.File(i)) return false;
    return true;
}

// Calls visit(j) for the file's own records j before record i that lie at
// or after `window_start`, latest first, until visit returns false. A short
// window is scanned record by record; a long one (a burst of thousands of
// records in a second) through the file's own records only.
template <class Visit>
void For_Earlier_Records_Of_File(UsnJrnl_Detection_State& context, std::size_t i, std::uint32_t window_start,
                                 Visit visit) {
    const UsnJrnl_Facts& facts = *context.UsnJrnl_Record_Facts;
    const std::uint32_t file = facts.File(i);
    if (i - window_start <= Direct_Scan_Records) {
        for (std::size_t j = i; j-- > window_start;)
            if (facts.File(j) == file && !visit(j)) return;
        return;
    }
    const Record_Lists& by_file = Records_By_File(context);
    for (std::uint32_t j = by_file.Previous(file, static_cast<Record_Index>(i)); j > window_start;
         j = by_file.Previous(file, j - 1))
        if (!visit(j - 1)) return;
}

// The closing record i is paired with the change it closes. Only the file's
// own records are visited, back to where the look-back's window ends.
bool Is_Paired(UsnJrnl_Detection_State& context, std::size_t i, std::size_t candidate) {
    const UsnJrnl_Facts& facts = *context.UsnJrnl_Record_Facts;
    bool paired = false;
    if (facts.Event_Is(i, Bit::Basic_Info_Changed | Bit::File_Closed)) {
        For_Earlier_Records_Of_File(context, i, context.Pairing_Window_Start_1s[candidate], [&](std::size_t j) {
            paired = facts.Event_Is(j, Bit::Basic_Info_Changed);
            return !paired;
        });
        return paired;
    }
    // The earliest change of the file in the window, before a record of the
    // file that is not a change of its times.
    bool remembered = false;
    std::int64_t remembered_time = 0;
    For_Earlier_Records_Of_File(context, i, context.Pairing_Window_Start_2s[candidate], [&](std::size_t j) {
        if (facts.Holds(j, Bit::Basic_Info_Changed)) {
            remembered = true;
            remembered_time = facts.Seconds(j);
            return true;
        }
        paired = remembered && As_Unsigned(facts.Seconds(i) - remembered_time) <= Change_Before_Close_Seconds;
        return false;
    });
    return paired;
}

void Set_Creation_Fields(const UsnJrnl_Detection_State& context, std::size_t i, Entry& entry) {
    // The map holds the journal's first creation of each file: one before
    // record i is known when the entry is made.
    const std::uint32_t created = context.g_File_Created_Map.Of(context.UsnJrnl_Record_Facts->File_Number(i));
    if (created == 0 || created - 1 >= i) return;
    entry.CreatedKnown = 1;
    entry.Created_Record = created - 1;
}

void Take_Paired_Event(std::size_t i, Entry& entry) {
    entry.Name_Record = static_cast<Record_Index>(i);
    entry.LastRecordIndex = static_cast<Record_Index>(i);
}

void Track(UsnJrnl_Detection_State& context, std::size_t i, std::size_t candidate) {
    const UsnJrnl_Facts& facts = *context.UsnJrnl_Record_Facts;
    const std::uint32_t file = facts.File(i);
    const bool paired = Is_Paired(context, i, candidate);
    const std::int64_t time = facts.Seconds(i);
    Event_Time_Lists& times = context.Basic_Info_Changed_Event_Times;
    const std::uint32_t found = context.Basic_Info_Changed_Of_File[file];
    if (found != 0) {
        Entry& entry = context.g_Basic_Info_Changed_Array[found - 1];
        if (paired) {
            // A change dated before the one kept is an older one: keep the later.
            if (entry.Paired() && facts.Time_Text_Less(i, entry.LastRecordIndex)) return;
            Take_Paired_Event(i, entry);
            ++entry.PairedCount;
            ++entry.EventCount;
            times.Append(entry.EventTimes, time);
            entry.LastPairedIndex = static_cast<std::int64_t>(entry.EventCount) - 1;
        } else {
            ++entry.UnpairedCount;
            ++entry.EventCount;
            times.Append(entry.EventTimes, time);
        }
        return;
    }
    Entry entry;
    entry.File = file;
    entry.Name_Record = static_cast<Record_Index>(i);
    if (paired) {
        Take_Paired_Event(i, entry);
        entry.PairedCount = 1;
        entry.LastPairedIndex = 0;
    } else {
        entry.UnpairedCount = 1;
    }
    entry.EventCount = 1;
    times.Append(entry.EventTimes, time);
    Set_Creation_Fields(context, i, entry);
    context.g_Basic_Info_Changed_Array.push_back(entry);
    context.Basic_Info_Changed_Of_File[file] = static_cast<std::uint32_t>(context.g_Basic_Info_Changed_Array.size());
}

}  // namespace

void Prepare_Basic_Info_Tracking(UsnJrnl_Detection_State& context) {
    const UsnJrnl_Facts& facts = *context.UsnJrnl_Record_Facts;
    Index_Array& candidates = context.Pairing_Candidates;
    candidates.clear();
    for (std::size_t i = 0; i < facts.size(); ++i)
        if (May_Qualify(facts, i)) candidates.push_back(static_cast<Record_Index>(i));
    Backward_Window_Ends(facts.All_Seconds(), static_cast<std::int64_t>(Change_Before_Close_Seconds),
                         static_cast<std::int64_t>(Mixed_Close_Window_Seconds), candidates.data(), candidates.size(),
                         context.Pairing_Window_Start_1s, context.Pairing_Window_Start_2s);
    context.Basic_Info_Changed_Of_File.assign(facts.File_Count(), 0);
    // At most one entry, and one event time, per candidate.
    context.g_Basic_Info_Changed_Array.reserve(candidates.size());
    context.Basic_Info_Changed_Event_Times.reserve(candidates.size());
}

void Track_Basic_Info_Changed(UsnJrnl_Detection_State& context, std::size_t i, std::size_t& next_candidate) {
    const UsnJrnl_Facts& facts = *context.UsnJrnl_Record_Facts;
    const Index_Array& candidates = context.Pairing_Candidates;
    if (next_candidate < candidates.size() && candidates[next_candidate] == i) {
        if (Qualifies(context, i)) Track(context, i, next_candidate);
        ++next_candidate;
    }
    if (!facts.Holds(i, Bit::File_Deleted)) return;
    std::uint32_t& found = context.Basic_Info_Changed_Of_File[facts.File(i)];
    if (found == 0) return;
    // The entry stays, marked, so the entries after it keep their order.
    context.g_Basic_Info_Changed_Array[found - 1].Removed = true;
    found = 0;
}

void Finish_Basic_Info_Tracking(UsnJrnl_Detection_State& context) {
    Index_Array().swap(context.Pairing_Candidates);
    Index_Array().swap(context.Pairing_Window_Start_1s);
    Index_Array().swap(context.Pairing_Window_Start_2s);
    Index_Array().swap(context.Basic_Info_Changed_Of_File);
}
