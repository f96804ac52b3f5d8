#include "detection/Rule_Terms.h"
#include "detection/UsnJrnl_Basic_Info_Tracking.h"

#include <memory>
#include <string_view>

#include "detection/Rule_Numbers.h"
#include "platform/text.h"

namespace {

using Usn_Reason::Basic_Info_Changed;
constexpr std::u16string_view Bare_Closing_Event = u"Basic_Info_Changed , File_Closed";
using Usn_Reason::File_Closed;
using Usn_Reason::File_Deleted;

// A tool that sets the times opens the file, changes them and closes it:
// the change lies at most this long before the closing record...
constexpr std::uint64_t Change_Before_Close_Seconds = 1;
// ...and a closing record that carries other reasons too is looked back
// from over this long.
constexpr std::uint64_t Mixed_Close_Window_Seconds = 2;

using Entry = _usnjrnl_basic_info_changed_last_event_time;

// Only the closing record of a change to a file's own times counts: not a
// directory's, not the indexer's, not one of VMware's drag-and-drop copies,
// not one of a file deleted right after.
bool Qualifies(const UsnJrnl_Info_Rows& rows, std::size_t i) {
    const std::u16string_view event = rows.Field(i, Usn_Field::Event);
    if (!Holds(event, Basic_Info_Changed) || !Holds(event, File_Closed)) return false;
    const std::u16string_view attr = rows.Field(i, Usn_Field::FileAttr);
    if (Holds(attr, u"Directory") || Holds(attr, u"Not_Content_Indexed")) return false;
    if (Holds(event, u"Content_Indexed_Attr_Changed")) return false;
    const std::u16string_view full_path = rows.Field(i, Usn_Field::FullPath);
    if (Holds(full_path, u"\\AppData\\Local\\Temp\\") && Holds(full_path, u"\\VMwareDnD\\")) return false;
    if (i + 1 < rows.size() && Holds(rows.Field(i + 1, Usn_Field::Event), File_Deleted) &&
        rows.Field(i + 1, Usn_Field::FileReferenceNumber) == rows.Field(i, Usn_Field::FileReferenceNumber))
        return false;
    return true;
}

// The closing record i is paired with the change it closes. Only the file's
// own records are visited, back to where the look-back's window ends.
bool Is_Paired(const Detection_Context& context, std::size_t i) {
    const UsnJrnl_Info_Rows& rows = context.g_UsnJrnl_Info_Array;
    const std::vector<std::int64_t>& seconds = context.UsnJrnl_Record_Seconds;
    const Record_Lists& by_file = *context.UsnJrnl_Records_By_File;
    const Record_Index record = static_cast<Record_Index>(i);
    if (Event_Equals(rows.Field(i, Usn_Field::Event), Bare_Closing_Event)) {
        const std::uint32_t window_start = context.Pairing_Window_Start_1s[i];
        for (std::uint32_t j = by_file.Previous(record); j > window_start; j = by_file.Previous(j - 1))
            if (Event_Equals(rows.Field(j - 1, Usn_Field::Event), Basic_Info_Changed)) return true;
        return false;
    }
    // The earliest change of the file in the window, before a record of the
    // file that is not a change of its times.
    const std::uint32_t window_start = context.Pairing_Window_Start_2s[i];
    bool remembered = false;
    std::int64_t remembered_time = 0;
    for (std::uint32_t j = by_file.Previous(record); j > window_start; j = by_file.Previous(j - 1)) {
        if (Holds(rows.Field(j - 1, Usn_Field::Event), Basic_Info_Changed)) {
            remembered = true;
            remembered_time = seconds[j - 1];
            continue;
        }
        return remembered && As_Unsigned(seconds[i] - remembered_time) <= Change_Before_Close_Seconds;
    }
    return false;
}

void Set_Creation_Fields(const Detection_Context& context, std::u16string_view reference, Entry& entry) {
    const auto created = context.g_File_Created_Map.find(platform::Read_Hexadecimal(reference));
    if (created == context.g_File_Created_Map.end()) return;
    const UsnJrnl_Info_Rows& rows = context.g_UsnJrnl_Info_Array;
    const Record_Index record = created->second;
    entry.CreatedKnown = 1;
    entry.CreatedFileName = rows.Field(record, Usn_Field::FileName);
    entry.CreatedParentFileReferenceNumber = rows.Field(record, Usn_Field::ParentFileReferenceNumber);
    entry.CreatedEventTime = rows.Field(record, Usn_Field::TimeStamp);
    entry.CreatedUSN = platform::Read_Unsigned_Decimal(rows.Field(record, Usn_Field::USN));
}

void Take_Paired_Event(const UsnJrnl_Info_Rows& rows, std::size_t i, Entry& entry) {
    entry.ParentFileReferenceNumber = rows.Field(i, Usn_Field::ParentFileReferenceNumber);
    entry.LastEventTime = rows.Field(i, Usn_Field::TimeStamp);
    entry.LastUSN = rows.Field(i, Usn_Field::USN);
    entry.FileName = rows.Field(i, Usn_Field::FileName);
    entry.FullPath = rows.Field(i, Usn_Field::FullPath);
    entry.LastEvent = rows.Field(i, Usn_Field::Event);
    entry.LastFileAttr = rows.Field(i, Usn_Field::FileAttr);
    entry.LastRecordIndex = static_cast<Record_Index>(i);
}

void Track(Detection_Context& context, std::size_t i) {
    const UsnJrnl_Info_Rows& rows = context.g_UsnJrnl_Info_Array;
    const std::u16string_view reference = rows.Field(i, Usn_Field::FileReferenceNumber);
    const bool paired = Is_Paired(context, i);
    const std::int64_t time = context.UsnJrnl_Record_Seconds[i];
    const auto found = context.Basic_Info_Changed_Of_Reference.find(reference);
    if (found != context.Basic_Info_Changed_Of_Reference.end()) {
        Entry& entry = *context.g_Basic_Info_Changed_Array[found->second];
        if (paired) {
            // A change dated before the one kept is an older one: keep the later.
            if (entry.LastEventTime > rows.Field(i, Usn_Field::TimeStamp)) return;
            Take_Paired_Event(rows, i, entry);
            ++entry.PairedCount;
            ++entry.EventCount;
            entry.EventTimes.push_back(time);
            entry.LastPairedIndex = static_cast<std::int64_t>(entry.EventTimes.size()) - 1;
        } else {
            ++entry.UnpairedCount;
            ++entry.EventCount;
            entry.EventTimes.push_back(time);
        }
        return;
    }
    auto entry = std::make_unique<Entry>();
    entry->FileReferenceNumber = reference;
    if (paired) {
        Take_Paired_Event(rows, i, *entry);
        entry->PairedCount = 1;
        entry->LastPairedIndex = 0;
    } else {
        entry->ParentFileReferenceNumber = rows.Field(i, Usn_Field::ParentFileReferenceNumber);
        entry->FileName = rows.Field(i, Usn_Field::FileName);
        entry->FullPath = rows.Field(i, Usn_Field::FullPath);
        entry->UnpairedCount = 1;
    }
    entry->EventCount = 1;
    entry->EventTimes.push_back(time);
    Set_Creation_Fields(context, reference, *entry);
    context.Basic_Info_Changed_Of_Reference.emplace(reference, context.g_Basic_Info_Changed_Array.size());
    context.g_Basic_Info_Changed_Array.push_back(std::move(entry));
}

}  // namespace

void Prepare_Basic_Info_Tracking(Detection_Context& context) {
    context.UsnJrnl_Records_By_File =
        std::make_unique<Record_Lists>(context.g_UsnJrnl_Info_Array, Usn_Field::FileReferenceNumber);
    context.Pairing_Window_Start_1s = Backward_Window_Ends(
        context.UsnJrnl_Record_Seconds, static_cast<std::int64_t>(Change_Before_Close_Seconds));
    context.Pairing_Window_Start_2s = Backward_Window_Ends(
        context.UsnJrnl_Record_Seconds, static_cast<std::int64_t>(Mixed_Close_Window_Seconds));
}

void Track_Basic_Info_Changed(Detection_Context& context, std::size_t i) {
    const UsnJrnl_Info_Rows& rows = context.g_UsnJrnl_Info_Array;
    if (Qualifies(rows, i)) Track(context, i);
    if (!Holds(rows.Field(i, Usn_Field::Event), File_Deleted)) return;
    const auto found = context.Basic_Info_Changed_Of_Reference.find(rows.Field(i, Usn_Field::FileReferenceNumber));
    if (found == context.Basic_Info_Changed_Of_Reference.end()) return;
    // The slot stays, empty, so the entries after it keep their order.
    context.g_Basic_Info_Changed_Array[found->second].reset();
    context.Basic_Info_Changed_Of_Reference.erase(found);
}
