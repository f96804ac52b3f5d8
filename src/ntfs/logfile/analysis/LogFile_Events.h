// The events the log-record analysis writes into the Event column of the
// LogFile table, and the parts of them that the analysis's look-backs and the
// detection's rules test. Each text is spelled here once: the analysis writes
// these texts and the rules read them, so a text that differs on one side
// would silently stop a rule from seeing its events.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>

// An event of a log record. A record's Event is one of these, empty (no
// event), or a time event joined to Changing_FileAttribute by
// Log_Event_Joiner when one update changes both.
enum class Log_Event : std::uint8_t {
    Check_Point,
    File_Creation,
    Directory_Creation,
    // A creation whose times were carried over from an earlier file of the
    // same name.
    File_Creation_By_Tunneling,
    File_Deletion,
    Directory_Deletion,
    Renaming_File,
    Renaming_Directory,
    Move_Before,
    Move_After,
    Time_Reversal_Event,
    CreationTime_Update_Event,
    Updating_Modified_Time,
    Updating_MFTModified_Time,
    Changing_FileAttribute,
    Writing_Resident_Content,
    Writing_Nonresident_Content,
    // A placeholder row for the analysis's look-backs, deleted once the log
    // has been analysed.
    Temp_Event,
};

namespace Log_Event_Table {

struct Entry {
    Log_Event Event;
    std::u16string_view Text;
};

// Every event and its text, once, in the order of the enum.
inline constexpr Entry Texts[] = {
    {Log_Event::Check_Point, u"# Check Point"},
    {Log_Event::File_Creation, u"File Creation"},
    {Log_Event::Directory_Creation, u"Directory Creation"},
    {Log_Event::File_Creation_By_Tunneling, u"File Creation(File System Tunneling)"},
    {Log_Event::File_Deletion, u"File Deletion"},
    {Log_Event::Directory_Deletion, u"Directory Deletion"},
    {Log_Event::Renaming_File, u"Renaming File"},
    {Log_Event::Renaming_Directory, u"Renaming Directory"},
    {Log_Event::Move_Before, u"Move(Before)"},
    {Log_Event::Move_After, u"Move(After)"},
    {Log_Event::Time_Reversal_Event, u"Time Reversal Event"},
    {Log_Event::CreationTime_Update_Event, u"CreationTime Update Event"},
    {Log_Event::Updating_Modified_Time, u"Updating Modified Time"},
    {Log_Event::Updating_MFTModified_Time, u"Updating MFTModified Time"},
    {Log_Event::Changing_FileAttribute, u"Changing FileAttribute"},
    {Log_Event::Writing_Resident_Content, u"Writing Content of Resident File"},
    {Log_Event::Writing_Nonresident_Content, u"Writing Content of Non-Resident File"},
    {Log_Event::Temp_Event, u"Temp Event"},
};
inline constexpr std::size_t Count = std::size(Texts);

// Each entry stands at its event's position, and no two events share a text.
constexpr bool In_Enum_Order_And_Distinct() {
    for (std::size_t i = 0; i < Count; ++i) {
        if (static_cast<std::size_t>(Texts[i].Event) != i || Texts[i].Text.empty()) return false;
        for (std::size_t j = 0; j < i; ++j)
            if (Texts[j].Text == Texts[i].Text) return false;
    }
    return true;
}
static_assert(In_Enum_Order_And_Distinct());
// Every event has an entry.
static_assert(static_cast<std::size_t>(Log_Event::Temp_Event) + 1 == Count);

}  // namespace Log_Event_Table

// The text of an event, as stored in the Event column.
constexpr std::u16string_view LogFile_Event_Text(Log_Event event) {
    return Log_Event_Table::Texts[static_cast<std::size_t>(event)].Text;
}

// Between a time event and Changing_FileAttribute in one Event.
inline constexpr std::u16string_view Log_Event_Joiner = u" & ";

namespace Log_Event_Table {

// Whether `part` is held in the texts of `events` and of no other event.
constexpr bool Held_In_Exactly(std::u16string_view part, std::initializer_list<Log_Event> events) {
    for (const Entry& entry : Texts) {
        bool listed = false;
        for (const Log_Event event : events) listed = listed || event == entry.Event;
        if ((entry.Text.find(part) != std::u16string_view::npos) != listed) return false;
    }
    return true;
}

}  // namespace Log_Event_Table

// Parts of the event texts that stand for a kind of event wherever they are
// held in an Event. Each is pinned to the events it finds: a part that no
// longer finds what its readers expect fails to build, rather than leaving a
// rule that quietly stops matching.
namespace Log_Event_Part {
using Log_Event_Table::Held_In_Exactly;

// Every creation, CreationTime_Update_Event included.
inline constexpr std::u16string_view Creation = u"Creation";
static_assert(Held_In_Exactly(Creation, {Log_Event::File_Creation, Log_Event::Directory_Creation,
                                         Log_Event::File_Creation_By_Tunneling, Log_Event::CreationTime_Update_Event}));

// The creations of a file or folder, without CreationTime_Update_Event.
inline constexpr std::u16string_view Named_Creation = u" Creation";
static_assert(Held_In_Exactly(Named_Creation, {Log_Event::File_Creation, Log_Event::Directory_Creation,
                                               Log_Event::File_Creation_By_Tunneling}));

inline constexpr std::u16string_view Deletion = u"Deletion";
static_assert(Held_In_Exactly(Deletion, {Log_Event::File_Deletion, Log_Event::Directory_Deletion}));

inline constexpr std::u16string_view Renaming = u"Renaming";
static_assert(Held_In_Exactly(Renaming, {Log_Event::Renaming_File, Log_Event::Renaming_Directory}));

inline constexpr std::u16string_view Move = u"Move";
static_assert(Held_In_Exactly(Move, {Log_Event::Move_Before, Log_Event::Move_After}));

// The creation, deletion and renaming of a folder.
inline constexpr std::u16string_view Directory = u"Directory";
static_assert(Held_In_Exactly(Directory, {Log_Event::Directory_Creation, Log_Event::Directory_Deletion,
                                          Log_Event::Renaming_Directory}));

inline constexpr std::u16string_view Writing_Content = u"Writing Content";
static_assert(Held_In_Exactly(Writing_Content,
                              {Log_Event::Writing_Resident_Content, Log_Event::Writing_Nonresident_Content}));

// Whole texts that readers test by holding: File_Creation finds the tunnelled
// creation too, and Updating_Modified_Time is no part of
// Updating_MFTModified_Time, so the two are told apart.
static_assert(Held_In_Exactly(LogFile_Event_Text(Log_Event::File_Creation),
                              {Log_Event::File_Creation, Log_Event::File_Creation_By_Tunneling}));
static_assert(Held_In_Exactly(LogFile_Event_Text(Log_Event::Updating_Modified_Time),
                              {Log_Event::Updating_Modified_Time}));

}  // namespace Log_Event_Part

// The statement that removes the placeholder rows once the log is analysed.
inline std::u16string Delete_Temp_Events_Sql() {
    return std::u16string(u"delete from LogFile where Event='") +
           std::u16string(LogFile_Event_Text(Log_Event::Temp_Event)) + u"'";
}
