// What the judging of the tracked entries looks up, so that no rule scans the
// whole journal for one entry. Each part is made when a rule first needs it:
// a journal none of whose entries reaches a rule pays nothing for it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "detection/usnjrnl/UsnJrnl_Detection_State.h"

class UsnJrnl_Timestamp_Indexes {
public:
    explicit UsnJrnl_Timestamp_Indexes(UsnJrnl_Detection_State& context);

    // Each file's records and each folder's (by ParentFileReferenceNumber
    // id), in record order.
    const Record_Lists& By_File() const;
    const Record_Lists& By_Parent();

    // Of a folder's records, those whose Event holds "Closed", and those
    // that close a change of times (holding "Basic_Info_Changed" and
    // "File_Closed"), counted between two times: [from, to).
    std::int64_t Closed_Between(std::uint32_t parent, std::int64_t from, std::int64_t to);
    std::int64_t Basic_Closed_Between(std::uint32_t parent, std::int64_t from, std::int64_t to);
    std::int64_t Closed_In(std::uint32_t parent);
    std::int64_t Basic_Closed_In(std::uint32_t parent);

    // For the last paired record of an entry: index + 1 of the record that
    // ends a backward scan over the move window (0: the start ends it), the
    // index of the record that ends a forward scan (the count: the end), and
    // where a backward scan over the content-write window ends.
    std::uint32_t Move_Window_Start(Record_Index last);
    std::uint32_t Move_Window_End(Record_Index last);
    std::uint32_t Content_Write_Window_Start(Record_Index last);

    // The live entries whose FileReferenceNumber reads as `reference`, and
    // those whose FileName is `name` under a ParentFileReferenceNumber that
    // reads as `parent`, each in the order made; f(entry index) for each.
    template <class F>
    void For_Entries_Of_Reference(std::uint64_t reference, F f) {
        Make_Entry_Maps();
        const auto first = std::lower_bound(entries_of_reference_.begin(), entries_of_reference_.end(),
                                            std::make_pair(reference, std::uint32_t{0}));
        for (auto it = first; it != entries_of_reference_.end() && it->first == reference; ++it) f(it->second);
    }
    template <class F>
    void For_Entries_Of_Name(std::u16string_view name, std::uint64_t parent, F f) {
        Make_Entry_Maps();
        const std::uint64_t key = Name_Key(name, parent);
        const auto first = std::lower_bound(entries_of_name_.begin(), entries_of_name_.end(),
                                            std::make_pair(key, std::uint32_t{0}));
        for (auto it = first; it != entries_of_name_.end() && it->first == key; ++it) {
            const auto& entry = entries_[it->second];
            if (entry.FileName(rows_) == name && entry_parents_[it->second] == parent) f(it->second);
        }
    }

private:
    // Of one folder's records of one kind, the seconds, ascending.
    struct Times_By_Parent {
        Record_Lists Lists;
        Seconds_Array Seconds;
        std::int64_t Between(std::uint32_t parent, std::int64_t from, std::int64_t to) const;
    };
    void Make_Closed_Times();
    void Make_Windows();
    std::size_t Window_Slot(Record_Index last) const;
    void Make_Entry_Maps();
    static std::uint64_t Name_Key(std::u16string_view name, std::uint64_t parent);

    const UsnJrnl_Info_Rows& rows_;
    const UsnJrnl_Facts& facts_;
    const platform::Large_Vector<_usnjrnl_basic_info_changed_last_event_time>& entries_;
    UsnJrnl_Detection_State& context_;
    std::unique_ptr<Record_Lists> by_parent_;
    std::unique_ptr<Times_By_Parent> closed_, basic_closed_;
    // The last paired records of the live entries, ascending, and the
    // windows' ends for each.
    Index_Array window_records_;
    Index_Array move_start_, move_end_, content_write_start_;
    bool windows_made_ = false;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> entries_of_reference_;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> entries_of_name_;
    // Each entry's ParentFileReferenceNumber as a number.
    std::vector<std::uint64_t> entry_parents_;
    bool entry_maps_made_ = false;
};
