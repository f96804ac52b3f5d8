// What the $LogFile timestamp rule asks of the events, read once per event
// and indexed, so that the rule costs the events near the one it judges and
// not a pass over the log each time: on a log with few check points a walk
// "back to the 25th check point" is the whole log, and "deleted anywhere
// later" always is.
//
// The index is built from the rows when the rule first needs it and answers
// exactly what the event-by-event walks would: the per-file lists hold every
// event of the file (check points included), in log order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "records/Compact_Rows.h"

struct LogFile_Detection_State;

// Event texts the rule and its predicates test, one bit each: "Is" an event
// (Log_Event) whose text is the whole Event, "Holds" one whose text or part
// (Log_Event_Part) is held in it.
namespace Event_Bit {
inline constexpr std::uint32_t Is_Check_Point = 1u << 0;             // Check_Point
inline constexpr std::uint32_t Holds_Creation = 1u << 1;             // part Named_Creation
inline constexpr std::uint32_t Holds_File_Creation = 1u << 2;        // File_Creation
inline constexpr std::uint32_t Holds_Directory = 1u << 3;            // part Directory
inline constexpr std::uint32_t Holds_Deletion = 1u << 4;             // part Deletion
inline constexpr std::uint32_t Is_File_Deletion = 1u << 5;           // File_Deletion
inline constexpr std::uint32_t Is_Renaming_File = 1u << 6;           // Renaming_File
inline constexpr std::uint32_t Holds_Renaming_File = 1u << 7;        // Renaming_File
inline constexpr std::uint32_t Is_Move_Before = 1u << 8;             // Move_Before
inline constexpr std::uint32_t Is_Move_After = 1u << 9;              // Move_After
inline constexpr std::uint32_t Holds_Time_Reversal = 1u << 10;       // Time_Reversal_Event
inline constexpr std::uint32_t Holds_CreationTime_Update = 1u << 11; // CreationTime_Update_Event
inline constexpr std::uint32_t Holds_Updating_Modified = 1u << 12;   // Updating_Modified_Time
inline constexpr std::uint32_t Holds_Updating_MFTModified = 1u << 13; // Updating_MFTModified_Time
inline constexpr std::uint32_t Holds_Changing_Attribute = 1u << 14;  // Changing_FileAttribute
inline constexpr std::uint32_t Holds_Writing_Content = 1u << 15;     // part Writing_Content
inline constexpr std::uint32_t Holds_Writing_Resident = 1u << 16;    // Writing_Resident_Content
// Not from the event text alone:
inline constexpr std::uint32_t Has_Old_Name = 1u << 17;    // Is_Renaming_File, and the detail holds " ->"
inline constexpr std::uint32_t Has_Event_Time = 1u << 18;  // a non-empty EventTime
}  // namespace Event_Bit

class LogFile_Event_Index {
public:
    using Row = std::uint32_t;
    static constexpr Row No_Row = 0xFFFFFFFFu;

    explicit LogFile_Event_Index(const Log_Info_Rows& rows);

    std::size_t Size() const { return lsn_.size(); }

    // ---- Per event ----

    std::uint64_t Lsn(std::size_t i) const { return lsn_[i]; }
    // Events with equal numbers target the same FILE record (equal TargetVCN
    // and cluster-index texts).
    std::uint32_t File(std::size_t i) const { return file_[i]; }
    bool Same_File(std::size_t i, std::size_t j) const { return file_[i] == file_[j]; }
    bool Is(std::size_t i, std::uint32_t bits) const { return (bits_[i] & bits) != 0; }
    // The part of a rename's detail before its first " ->"; empty unless
    // Has_Old_Name.
    std::u16string_view Old_Name(std::size_t i) const;
    // The EventTime in whole seconds (the rules' time scale); 0 when empty.
    std::int64_t Event_Seconds(std::size_t i) const { return seconds_[i]; }

    // ---- Check points ----

    // The k-th check point (k >= 1) met walking down from i - 1, or after
    // i + 1 walking up; No_Row when there are fewer.
    Row Check_Point_Before(std::size_t i, std::size_t k) const;
    Row Check_Point_After(std::size_t i, std::size_t k) const;
    // Check points among the events [first, last).
    std::size_t Check_Points_Between(std::size_t first, std::size_t last) const {
        return first >= last ? 0 : check_points_before_[last] - check_points_before_[first];
    }

    // ---- Per file ----

    // Every event of event i's file, in log order, and where i stands in it.
    std::span<const Row> File_Events(std::size_t i) const;
    std::size_t Position_In_File(std::size_t i) const { return position_in_file_[i]; }
    // The nearest earlier event of the same file with Holds_Creation, or
    // No_Row.
    Row Creation_Before(std::size_t i) const { return creation_before_[i]; }
    // Whether an event of the same file after i has Holds_Deletion.
    bool Deleted_After(std::size_t i) const {
        const Row last = last_deletion_[file_[i]];
        return last != No_Row && last > i;
    }

    // ---- By name (every list in log order) ----

    // Events by which a name leaves its file: a File_Deletion or a
    // Move_Before with that FileName, a Renaming_File away from it.
    std::span<const Row> Name_Leaving(std::u16string_view name) const;
    // Renaming_File events with " ->" whose FullPath's folder (up to and
    // including its last "\") followed by the old name is `path`.
    std::span<const Row> Renamed_From_Path(std::u16string_view path) const;
    // Events holding Renaming_File with that FileName.
    std::span<const Row> Renamed_To(std::u16string_view name) const;

private:
    const Log_Info_Rows& rows_;
    std::vector<std::uint64_t> lsn_;
    std::vector<std::uint32_t> file_;
    std::vector<std::uint32_t> bits_;
    std::vector<std::int64_t> seconds_;

    std::vector<Row> check_points_;                 // rows of the check points
    std::vector<std::uint32_t> check_points_before_;  // [i]: check points among rows [0, i)

    std::vector<std::uint32_t> file_start_;  // the events of file f: file_rows_[file_start_[f], file_start_[f + 1])
    std::vector<Row> file_rows_;
    std::vector<std::uint32_t> position_in_file_;
    std::vector<Row> creation_before_;
    std::vector<Row> last_deletion_;  // per file

    std::unordered_map<std::u16string_view, std::vector<Row>> name_leaving_;
    std::unordered_map<std::u16string, std::vector<Row>> renamed_from_path_;
    std::unordered_map<std::u16string_view, std::vector<Row>> renamed_to_;
};

// The index of the context's rows, built on first use.
const LogFile_Event_Index& LogFile_Event_Index_Of(LogFile_Detection_State& context);

// The rows of a sorted list that lie in [first, last].
std::span<const LogFile_Event_Index::Row> Rows_Between(std::span<const LogFile_Event_Index::Row> list,
                                                        std::size_t first, std::size_t last);
