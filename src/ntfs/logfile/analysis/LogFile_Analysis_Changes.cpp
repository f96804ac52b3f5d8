// Writes of file content and updates of the $STANDARD_INFORMATION times and
// attribute word: Time_Reversal_Event, CreationTime_Update_Event,
// Updating_Modified_Time, Updating_MFTModified_Time, Changing_FileAttribute,
// Writing_Resident_Content and Writing_Nonresident_Content.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ntfs/Run_List.h"
#include "ntfs/Volume_Geometry.h"
#include "ntfs/logfile/analysis/LogFile_Analysis.h"
#include "ntfs/logfile/analysis/LogFile_Analysis_Cases.h"
#include "ntfs/logfile/analysis/LogFile_Analysis_Update.h"
#include "ntfs/logfile/analysis/LogFile_Events.h"
#include "ntfs/mft/Parse_MFT.h"
#include "output/Time_Text.h"
#include "platform/text.h"

namespace {

bool Contains(std::u16string_view text, std::u16string_view part) {
    return text.find(part) != std::u16string_view::npos;
}

// Every change text ends in ", ": the text of a list of them drops it.
std::u16string Without_Last_Two(const std::u16string& text) {
    return text.substr(0, text.size() >= 2 ? text.size() - 2 : 0);
}

// ---- $STANDARD_INFORMATION updates ----

// The four times of $STANDARD_INFORMATION in the order they are stored, 8
// bytes each from the start of its content; the attribute word follows them.
enum Time_Kind : int { Creation = 0, Modified = 1, Mft_Modified = 2, Access = 3 };
constexpr int Kind_Count = 4;
// Where the creation time lies from the attribute's start, as the log names it.
constexpr std::size_t First_Time_Offset = Resident_Field(Standard_Information_Layout::Create_Time);
static_assert(Standard_Information_Layout::Access_Time == 8 * Access &&
              Standard_Information_Layout::File_Attributes == 8 * Kind_Count);

struct Change_Format {
    const char16_t* Plain;
    const char16_t* Whole_Second;  // the new time has no 100-ns part
};
constexpr std::array<Change_Format, Kind_Count> Change_Formats{{
    {u"CreationTime : %s -> %s, ", u"CreationTime : %s -> %s(Zero in 100-nanoseconds), "},
    {u"ModifiedTime : %s -> %s, ", u"ModifiedTime : %s -> %s(Zero in 100-nanoseconds), "},
    {u"MFTModifiedTime : %s -> %s, ", u"MFTModifiedTime : %s -> %s(Zero in 100-nanoseconds), "},
    {u"AccessedTime : %s -> %s, ", u"AccessedTime : %s -> %s(Zero in 100-nanoseconds), "},
}};

// The values one side of an update (old: the undo data, new: the redo data)
// carries. A value the record does not carry in full is absent: the update
// left it as it was.
struct Si_Values {
    std::array<std::optional<std::uint64_t>, Kind_Count> Time;
    std::optional<std::uint32_t> File_Attributes;
};

struct Si_Update {
    Time_Kind First = Creation;
    Si_Values Old;
    Si_Values New;
};

// How many bytes of an area of `declared` bytes starting at `start` of the
// data are there to read: never more than the record declares, nor than the
// client data in hand.
std::int64_t Area_Length(const Client_Data_View& data, std::int64_t start, std::int64_t declared) {
    const std::int64_t first = data.Redo_Offset() + start;  // in the client data
    if (first < 0) return 0;
    const std::int64_t in_hand = static_cast<std::int64_t>(data.Client_Size()) - first;
    return std::clamp<std::int64_t>(std::min(declared, in_hand), 0, declared);
}

// Windows logs an update from the first byte that changes, so it may start
// `skew` (1 or 2) bytes into the first time it changes; those low bytes are
// not in the record and count as zero, in the old value as in the new one.
Si_Values Read_Si_Values(const Client_Data_View& data, std::int64_t start, std::int64_t length, Time_Kind first,
                         unsigned skew) {
    Si_Values values;
    const auto carried = [&](std::int64_t at, std::int64_t size) { return at >= 0 && at + size <= length; };
    if (carried(0, 8 - skew)) {
        std::uint64_t time = 0;
        for (unsigned i = 0; i < 8 - skew; ++i) time |= std::uint64_t{data.Read_U8(start + i)} << (8 * (i + skew));
        values.Time[first] = time;
    }
    for (int kind = first + 1; kind < Kind_Count; ++kind) {
        const std::int64_t at = 8 * (kind - first) - skew;
        if (carried(at, 8)) values.Time[kind] = data.Read_U64(start + at);
    }
    const std::int64_t at = 8 * (Kind_Count - first) - skew;
    if (carried(at, 4)) values.File_Attributes = data.Read_U32(start + at);
    return values;
}

Si_Update Read_Si_Update(const Log_Record_Analysis& a, Time_Kind first) {
    const Log_Record_Header& h = a.Header;
    const std::size_t first_offset = First_Time_Offset + 8 * static_cast<std::size_t>(first);
    const auto skew = static_cast<unsigned>(h.Attribute_Offset - first_offset);
    const std::int64_t undo = h.Undo_Position();
    Si_Update update;
    update.First = first;
    update.New = Read_Si_Values(a.Data, 0, Area_Length(a.Data, 0, h.Redo_Length), first, skew);
    update.Old = Read_Si_Values(a.Data, undo, Area_Length(a.Data, undo, h.Undo_Length), first, skew);
    return update;
}

struct Time_Change {
    std::u16string Backward;
    std::u16string Forward;
};

// A time moved to an earlier or a later second; a move within the second
// gives no text.
Time_Change Change_Of(const Global_Parsing_Context& context, const Si_Update& update, Time_Kind kind) {
    Time_Change change;
    if (!update.Old.Time[kind] || !update.New.Time[kind]) return change;
    const std::uint64_t old_time = *update.Old.Time[kind];
    const std::uint64_t new_time = *update.New.Time[kind];
    // Most updates leave most of the four times as they were; those need no texts.
    if (new_time == old_time) return change;
    const std::u16string old_text = Shifted_Time_Text(context, old_time);
    const std::u16string new_text = Shifted_Time_Text(context, new_time);
    const Change_Format& format = Change_Formats[kind];
    const bool whole_second = new_time % static_cast<std::uint64_t>(Ticks_Per_Second) == 0;
    const char16_t* text = whole_second ? format.Whole_Second : format.Plain;
    if (new_time < old_time && new_text < old_text)
        change.Backward = platform::Format(text, {old_text, new_text});
    else if (new_time > old_time && new_text > old_text)
        change.Forward = platform::Format(text, {old_text, new_text});
    return change;
}

// ---- Names ----

// The entry number of the FILE record the log record changes, from where it
// lies. Worked out from the volume's own cluster and record sizes: four
// 1 KiB records to a 4 KiB cluster names the wrong entry on any other
// volume (on a 512-byte-cluster volume the root's updates named entry 40).
std::optional<std::uint64_t> Guessed_Entry_Number(const Global_Parsing_Context& context, const Log_Record_Header& h) {
    return Entry_At_Log_Position(context.Mft.Geometry(), h.Target_Vcn, h.Cluster_Index);
}

// The name of the file the record changes: the $MFT entry this record last
// changed; else the newest row that names its FILE record (none when that
// row freed it); else the $MFT entry at the record's position, marked as a
// guess.
void Look_Up_Name(const Log_Record_Analysis& a) {
    Global_Parsing_Context& context = a.Context;
    _log_info& cur = a.Cur;
    if (Lookup_MFT_Entry_By_LSN(context, a.Header.This_Lsn, &cur.FileName, &cur.FullPath) == 1) return;

    const std::vector<_log_info>& rows = context.LogFile_Row_Array;
    if (const auto at = context.LogFile_Row_Lookup.Newest_Naming_Row(rows, cur.TargetVCN, cur.ClusterIndex)) {
        const _log_info& row = rows[*at];
        if (Contains(row.Event, LogFile_Event_Text(Log_Event::File_Deletion))) return;
        cur.FileName = row.FileName;
        cur.FullPath = row.FullPath;
        return;
    }

    const std::optional<std::uint64_t> entry = Guessed_Entry_Number(context, a.Header);
    if (!entry) {
        cur.FileName.clear();
        return;
    }
    Lookup_MFT_Entry_By_Number(context, *entry, &cur.FileName, &cur.FullPath);
    cur.FileName += u" <Guessed>";
}

// The parent directory, from the newest row that made the file.
void Look_Up_Parent_Reference(const Log_Record_Analysis& a) {
    const std::vector<_log_info>& rows = a.Context.LogFile_Row_Array;
    if (const auto at = a.Context.LogFile_Row_Lookup.Newest_Creation_Row(rows, a.Cur.TargetVCN, a.Cur.ClusterIndex))
        a.Cur.ParentReference = rows[*at].ParentReference;
}

// A time set back to exactly the time of another file in the same directory
// was most likely copied from it: each backward text names those files.
void Name_Files_With_The_Same_Time(const Log_Record_Analysis& a, const Si_Update& update,
                                   std::array<std::u16string, Kind_Count>& backward) {
    const _log_info& cur = a.Cur;
    if (cur.FileName.empty() || Contains(cur.FileName, u"<Guessed>") || cur.ParentReference == 0) return;
    const Mft_Index::Entry_Range children = a.Context.Mft.Children_Of(cur.ParentReference);
    if (children.empty()) return;
    // The file itself is not its own sibling: the entry its record lies at,
    // by the volume's own sizes, as the name look-up guesses it.
    const std::optional<std::uint64_t> own_entry =
        Entry_Of_Log_Cluster(a.Context.Mft.Geometry(), a.Header.Target_Vcn, a.Header.Cluster_Index);

    std::array<std::vector<std::u16string>, Kind_Count> same;
    for (const _ENTRYINFO_2& child : children) {
        if (child.Name == cur.FileName || Entry_Number_Of(child.FileReference) == own_entry) continue;
        const std::array<std::uint64_t, Kind_Count> times{child.CreateTime, child.ModifiedTime, child.MFT_ModifiedTime,
                                                          child.AccessTime};
        for (int kind = 0; kind < Kind_Count; ++kind)
            if (!backward[kind].empty() && update.New.Time[kind] && times[kind] == *update.New.Time[kind])
                same[kind].push_back(child.Name);
    }
    for (int kind = 0; kind < Kind_Count; ++kind) {
        if (same[kind].empty()) continue;
        std::u16string names;
        for (const std::u16string& name : same[kind]) names += (names.empty() ? u"" : u", ") + name;
        backward[kind] = Without_Last_Two(backward[kind]) + u"(same as " + names + u"), ";
    }
}

// ---- The attribute word ----

std::u16string Attribute_Text(std::uint32_t value) {
    const std::u16string text = Format_File_Attributes(value);
    return text.empty() ? u"0x00000000" : text;
}

std::u16string Attribute_Change_Text(std::uint32_t old_value, std::uint32_t new_value) {
    return Attribute_Text(old_value) + u" -> " + Attribute_Text(new_value);
}

// After the times: a changed attribute word is added to the time event, or
// is the event.
void Report_Attribute_Change(const Log_Record_Analysis& a, const Si_Update& update) {
    if (!update.Old.File_Attributes || !update.New.File_Attributes) return;
    if (*update.Old.File_Attributes == *update.New.File_Attributes) return;
    _log_info& cur = a.Cur;
    const std::u16string change = Attribute_Change_Text(*update.Old.File_Attributes, *update.New.File_Attributes);
    if (!cur.Event.empty()) {
        cur.Event.append(Log_Event_Joiner).append(LogFile_Event_Text(Log_Event::Changing_FileAttribute));
        cur.Detail += u" & " + change;
        return;
    }
    cur.Event = LogFile_Event_Text(Log_Event::Changing_FileAttribute);
    cur.Detail = change;
    Look_Up_Name(a);
}

// The update of the times from update.First on: any time set back is a
// Time_Reversal_Event; otherwise the first time moved forward is
// `forward_event` (none: not an event).
void Report_Time_Changes(const Log_Record_Analysis& a, const Si_Update& update,
                         std::optional<Log_Event> forward_event) {
    _log_info& cur = a.Cur;
    std::u16string backward;
    std::u16string forward;
    for (int kind = update.First; kind < Kind_Count; ++kind) {
        const Time_Change change = Change_Of(a.Context, update, static_cast<Time_Kind>(kind));
        backward += change.Backward;
        if (kind == update.First) forward = change.Forward;
    }
    if (!backward.empty()) {
        cur.Event = LogFile_Event_Text(Log_Event::Time_Reversal_Event);
        Look_Up_Name(a);
        cur.Detail = Without_Last_Two(backward);
    } else if (forward_event && !forward.empty()) {
        cur.Event = LogFile_Event_Text(*forward_event);
        Look_Up_Name(a);
        cur.Detail = Without_Last_Two(forward);
    }
    Report_Attribute_Change(a, update);
}

// A directory's times change when an entry is added to it or removed from
// it. The new MFT-modified time of a directory therefore dates the rows just
// before whose directory entry lies in this FILE record: a deletion, rename
// or move without a time of its own gets it; a creation that shows another
// time had its times carried over from an earlier file of the same name
// (file-system tunnelling). False when the database refused a change.
bool Date_Entries_Of_This_Directory(const Log_Record_Analysis& a, const std::u16string& time) {
    const _log_info& cur = a.Cur;
    std::vector<_log_info>& rows = a.Context.LogFile_Row_Array;
    const std::vector<std::size_t>& event_rows = a.Context.LogFile_Row_Lookup.Event_Rows(rows);
    constexpr int Miss_Limit = 3;
    int misses = 0;
    for (std::size_t k = event_rows.size(); k-- > 0 && misses < Miss_Limit;) {
        _log_info& row = rows[event_rows[k]];
        if (row.Event.empty()) continue;
        // The directory itself was made: nothing before belongs to it.
        if (row.TargetVCN == cur.TargetVCN && row.MFT_ClusterIndex == cur.MFT_ClusterIndex &&
            Contains(row.Event, Log_Event_Part::Creation))
            return true;
        const bool entry_here =
            row.MFT_RecordVCN == cur.TargetVCN && row.MFT_RecordClusterIndex == cur.MFT_ClusterIndex;
        if (entry_here && Contains(row.Event, LogFile_Event_Text(Log_Event::File_Creation))) {
            if (row.EventTime == time) return true;
            row.Event = LogFile_Event_Text(Log_Event::File_Creation_By_Tunneling);
            row.EventTime = time;
            return Update_Earlier_Row(a.Db, Row_Update::EventTime_Event_Detail, row);
        }
        if (entry_here && row.EventTime.empty() &&
            (Contains(row.Event, Log_Event_Part::Deletion) || Contains(row.Event, Log_Event_Part::Renaming) ||
             Contains(row.Event, Log_Event_Part::Move))) {
            row.EventTime = time;
            return Update_Earlier_Row(a.Db, Row_Update::EventTime, row);
        }
        ++misses;
    }
    return true;
}

// ---- Content ----

// The rows that give a written file its name: its creation, and a later
// rename or move, which changes the name the file has when it is written.
bool Names_A_Written_File(std::u16string_view event) {
    return Contains(event, LogFile_Event_Text(Log_Event::File_Creation)) ||
           event == LogFile_Event_Text(Log_Event::Renaming_File) ||
           event == LogFile_Event_Text(Log_Event::Renaming_Directory) ||
           event == LogFile_Event_Text(Log_Event::Move_After);
}

// The newest row that made, renamed or moved the file, among the 29 newest
// rows with an event.
void Name_Written_File(const Log_Record_Analysis& a) {
    _log_info& cur = a.Cur;
    const std::vector<_log_info>& rows = a.Context.LogFile_Row_Array;
    const std::vector<std::size_t>& event_rows = a.Context.LogFile_Row_Lookup.Event_Rows(rows);
    constexpr int Reach = 30;  // the count starts at 1
    int count = 1;
    for (std::size_t k = event_rows.size(); k-- > 0;) {
        const _log_info& row = rows[event_rows[k]];
        if (row.Event.empty()) continue;
        if (row.TargetVCN == cur.TargetVCN && row.MFT_ClusterIndex == cur.MFT_ClusterIndex &&
            Names_A_Written_File(row.Event)) {
            cur.FileName = row.FileName;
            cur.FullPath = row.FullPath;
            return;
        }
        if (++count == Reach) return;
    }
}

}  // namespace

std::u16string Format_File_Attributes(std::uint32_t value) {
    std::u16string text;
    for (const File_Attribute_Words& entry : File_Attribute_Word_Table) {
        if ((value & static_cast<std::uint32_t>(entry.Bit)) == 0) continue;
        if (!text.empty()) text += u", ";
        text += entry.Log_Listed;
    }
    return text;
}

Case_Outcome Analyze_Resident_Content_Write(const Log_Record_Analysis& a) {
    _log_info& cur = a.Cur;
    cur.Event = LogFile_Event_Text(Log_Event::Writing_Resident_Content);
    cur.Detail = platform::Format(u"Writing Size : %lld", {static_cast<long long>(cur.RedoDataLength)});
    Name_Written_File(a);
    return Case_Outcome::Done;
}

Case_Outcome Analyze_Creation_Time_Change(const Log_Record_Analysis& a) {
    _log_info& cur = a.Cur;
    const Si_Update update = Read_Si_Update(a, Creation);
    std::array<std::u16string, Kind_Count> backward;
    std::u16string forward_creation;
    for (int kind = Creation; kind < Kind_Count; ++kind) {
        const Time_Change change = Change_Of(a.Context, update, static_cast<Time_Kind>(kind));
        backward[kind] = change.Backward;
        if (kind == Creation) forward_creation = change.Forward;
    }

    // Each event looks the name and parent up on its own. When both run, a
    // guess that found no $MFT entry is marked a second time (" <Guessed>
    // <Guessed>"); readers cut the name at the first mark.
    const auto look_up = [&] {
        Look_Up_Name(a);
        Look_Up_Parent_Reference(a);
    };
    if (std::any_of(backward.begin(), backward.end(), [](const std::u16string& t) { return !t.empty(); })) {
        look_up();
        Name_Files_With_The_Same_Time(a, update, backward);
        cur.Event = LogFile_Event_Text(Log_Event::Time_Reversal_Event);
        cur.Detail = Without_Last_Two(backward[Creation] + backward[Modified] + backward[Mft_Modified] +
                                      backward[Access]);
    }
    // A creation time moved forward outweighs any other time set back.
    if (!forward_creation.empty()) {
        look_up();
        cur.Event = LogFile_Event_Text(Log_Event::CreationTime_Update_Event);
        cur.Detail = Without_Last_Two(forward_creation);
    }
    Report_Attribute_Change(a, update);
    return Case_Outcome::Done;
}

Case_Outcome Analyze_Modified_Time_Change(const Log_Record_Analysis& a) {
    const Si_Update update = Read_Si_Update(a, Modified);
    if (update.New.Time[Mft_Modified]) {
        const std::u16string time = Shifted_Time_Text(a.Context, *update.New.Time[Mft_Modified]);
        if (!Date_Entries_Of_This_Directory(a, time)) return Case_Outcome::Update_Failed;
    }
    Report_Time_Changes(a, update, Log_Event::Updating_Modified_Time);
    return Case_Outcome::Done;
}

Case_Outcome Analyze_MFT_Modified_Time_Change(const Log_Record_Analysis& a) {
    Report_Time_Changes(a, Read_Si_Update(a, Mft_Modified), Log_Event::Updating_MFTModified_Time);
    return Case_Outcome::Done;
}

Case_Outcome Analyze_Access_Time_Change(const Log_Record_Analysis& a) {
    // Reading a file moves its access time on all the time: only a move back counts.
    Report_Time_Changes(a, Read_Si_Update(a, Access), std::nullopt);
    return Case_Outcome::Done;
}

Case_Outcome Analyze_Attribute_Change(const Log_Record_Analysis& a) {
    const Log_Record_Header& h = a.Header;
    const std::int64_t undo = h.Undo_Position();
    // Both words must be in the record: a word it does not carry did not change.
    if (Area_Length(a.Data, 0, h.Redo_Length) < 4 || Area_Length(a.Data, undo, h.Undo_Length) < 4)
        return Case_Outcome::Done;
    const std::uint32_t old_value = a.Data.Read_U32(undo);
    const std::uint32_t new_value = a.Data.Read_U32(0);
    if (old_value == new_value) return Case_Outcome::Done;
    a.Cur.Event = LogFile_Event_Text(Log_Event::Changing_FileAttribute);
    a.Cur.Detail = Attribute_Change_Text(old_value, new_value);
    Look_Up_Name(a);
    return Case_Outcome::Done;
}

Case_Outcome Analyze_Nonresident_Content_Write(const Log_Record_Analysis& a) {
    // The redo data as far as the record declares it and has it in hand: a
    // pair that reaches or passes its end ends the list.
    std::vector<std::uint8_t> pairs(static_cast<std::size_t>(Area_Length(a.Data, 0, a.Header.Redo_Length)));
    a.Data.Copy(0, pairs);
    const std::u16string runs = Run_List_Text(Decode_Run_List(pairs));
    if (runs.empty()) return Case_Outcome::Done;
    a.Cur.Detail = u"Data Runs(in Volume) : " + runs;
    a.Cur.Event = LogFile_Event_Text(Log_Event::Writing_Nonresident_Content);
    Name_Written_File(a);
    return Case_Outcome::Done;
}
