// Look-ups over the LogFile rows stored so far (Global_Parsing_Context::
// LogFile_Row_Array) that the analysis makes for nearly every time or
// attribute change. Searched row by row, a log full of such changes would
// cost the square of its length; this index answers each look-up in constant
// time and gives exactly the row the newest-first search would give.
//
// The rows are appended by the record walk, which does not tell the index;
// every look-up first catches up with the rows appended since the last one.
// While records are analysed rows are only appended (or their Event is
// rewritten into one of the same kind, as a tunnelled creation is): the
// carver empties the array between source files, and Reset_Carving_State
// empties the index with it; the EventTime back-fill sorts the array only
// once the walk is over, and no look-up follows before it is emptied.
// Beyond that, an array found shorter than what was indexed, or whose first
// or last indexed row is not the one indexed there, or a row the index
// points at that no longer fits the look-up, makes the index build itself
// again from the rows as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "records/Records.h"

// An Event that names the FILE record it concerns: it was created there
// (File_Creation, Directory_Creation, tunnelled creations included),
// renamed or moved there (Renaming_File, Move_After), or freed
// (File_Deletion).
bool Is_Naming_Event(std::u16string_view event);
// A row that gives the parent of a file whose creation time changed: its
// Event holds Log_Event_Part::Creation and it has a FileName.
bool Is_Creation_Row(const _log_info& row);

class LogFile_Row_Index {
public:
    // The newest row of the FILE record (TargetVCN and ClusterIndex texts)
    // whose Event is a naming event; nullopt when there is none.
    std::optional<std::size_t> Newest_Naming_Row(const std::vector<_log_info>& rows, const std::u16string& target_vcn,
                                                 const std::u16string& cluster_index);
    // The newest row of the FILE record that is a creation row.
    std::optional<std::size_t> Newest_Creation_Row(const std::vector<_log_info>& rows, const std::u16string& target_vcn,
                                                   const std::u16string& cluster_index);
    // Positions of the rows whose Event is not empty, oldest first.
    const std::vector<std::size_t>& Event_Rows(const std::vector<_log_info>& rows);

    // Forgets every row (the array was emptied).
    void Clear();

private:
    struct Record_Key {
        std::u16string Target_Vcn;
        std::u16string Cluster_Index;
        bool operator==(const Record_Key&) const = default;
    };
    struct Record_Key_Hash {
        std::size_t operator()(const Record_Key& k) const {
            const std::size_t a = std::hash<std::u16string>{}(k.Target_Vcn);
            const std::size_t b = std::hash<std::u16string>{}(k.Cluster_Index);
            return a ^ (b + 0x9E3779B97F4A7C15ull + (a << 6) + (a >> 2));
        }
    };
    static constexpr std::size_t None = static_cast<std::size_t>(-1);
    struct Record_Rows {
        std::size_t Naming = None;
        std::size_t Creation = None;
    };

    // Indexes the rows appended since the last call, after building the
    // index again when the rows are not those it indexed.
    void Sync(const std::vector<_log_info>& rows);
    void Add(std::size_t position, const _log_info& row);
    void Rebuild(const std::vector<_log_info>& rows);
    // The position `slot` of the record's rows, checked against the row
    // there: `fits` must hold for it and it must still be of the record.
    template <typename Fits>
    std::optional<std::size_t> Newest(const std::vector<_log_info>& rows, const std::u16string& target_vcn,
                                      const std::u16string& cluster_index, std::size_t Record_Rows::*slot, Fits fits);

    std::unordered_map<Record_Key, Record_Rows, Record_Key_Hash> by_record_;
    std::vector<std::size_t> event_rows_;
    std::size_t indexed_ = 0;
    // ThisLSN of the first and the last row indexed.
    std::uint64_t first_lsn_ = 0;
    std::uint64_t last_lsn_ = 0;
};
