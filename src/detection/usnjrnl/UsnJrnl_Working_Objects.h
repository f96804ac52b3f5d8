// What the $UsnJrnl half builds from the reloaded journal and keeps for its
// later phases: the records of each program folder under an update path, cut
// into update periods, the records of each file, the lifecycle maps of
// created, renamed and deleted files and the tracked files. Everything here
// names journal records by their record index (their position in
// g_UsnJrnl_Info_Array) and files by their ids (UsnJrnl_Facts); the texts are
// read from the rows, which stay unchanged and in place for the whole
// detection, so no record is copied. The large parts are flat arrays, made
// by counting passes and freed as a few blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/large_memory.h"
#include "records/Compact_Rows.h"

class UsnJrnl_Facts;

// A position in g_UsnJrnl_Info_Array (also what a finding keeps in RecordIndex).
using Record_Index = std::uint32_t;

// The large arrays over the records, freed as whole blocks handed back to
// the system.
using Seconds_Array = platform::Large_Vector<std::int64_t>;
using Index_Array = platform::Large_Vector<std::uint32_t>;

// The records of one program folder under an update path, in record order.
struct Program_Operation_Candidate_Group {
    // The program folder with its trailing "\" ("\Program Files\Vendor\").
    std::u16string ProgramKey;
    std::vector<Record_Index> Records;
};

// A run of a program folder's activity without a long pause, with what it
// created, deleted and changed.
struct Program_Update_Period {
    std::u16string ProgramKey;
    // TimeStamp texts of the first and the last record (views of the rows).
    std::u16string_view StartTime;
    std::u16string_view EndTime;
    // 1 when the period holds the creation record of the program folder itself.
    std::uint32_t FolderCreated = 0;
    // Records holding "Close" (the period's first record not counted); of
    // those, the ones that also hold "Basic_Info_Changed", and the others.
    std::uint32_t CloseCount = 0;
    std::uint32_t BasicInfoCloseCount = 0;
    std::uint32_t OtherCloseCount = 0;
    // Tracked files attached to the period by the timestamp rules.
    std::uint32_t TrackedEntries = 0;
    // Files below the program folder in the $MFT.
    std::uint64_t FolderFileCount = 0;
    // Distinct files among the period's records; with a "Basic_Info_Changed"
    // record; without one.
    std::uint32_t FilesSeen = 0;
    std::uint32_t FilesWithBasicInfo = 0;
    std::uint32_t FilesWithoutBasicInfo = 0;
    // Attached files with a creation-time gap, and with an MFT-modified-time
    // gap only (written by the timestamp rules).
    std::uint32_t CreationGapEntries = 0;
    std::uint32_t ModifiedGapEntries = 0;
    std::uint32_t FilesCreated = 0;
    std::uint32_t FilesDeleted = 0;
    // Directories below the program folder in the $MFT.
    std::uint64_t FolderDirectoryCount = 0;
    // Distinct parent references of the period's file records.
    std::uint32_t ParentFolders = 0;
    // Distinct directories other than the program folder; with a
    // "Basic_Info_Changed" record; created here whose $SI creation time no
    // longer equals their creation record's time; without a
    // "Basic_Info_Changed" record; created; deleted.
    std::uint32_t DirectoriesSeen = 0;
    std::uint32_t DirectoriesWithBasicInfo = 0;
    std::uint32_t DirectoriesTimeChanged = 0;
    std::uint32_t DirectoriesWithoutBasicInfo = 0;
    std::uint32_t DirectoriesCreated = 0;
    std::uint32_t DirectoriesDeleted = 0;
    // Seconds from the first to the last record.
    std::uint32_t Span = 0;
    std::vector<Record_Index> Records;
};

// The update periods of one candidate group, in time order. A period's
// address stays put for as long as its group lives: tracked files point to it.
struct Program_Update_Period_Group {
    std::u16string ProgramKey;
    std::vector<std::unique_ptr<Program_Update_Period>> Periods;
};

// The records of each id (a file's, a folder's), in record order, in one
// array: made by a counting pass over the ids, so that a look-up is two
// offsets and a scan visits only the id's own records.
class Record_Lists {
public:
    static constexpr std::uint32_t No_Id = std::numeric_limits<std::uint32_t>::max();

    Record_Lists() = default;
    // `id_of(i)` gives record i's id, below `ids`, or No_Id to leave the
    // record out.
    template <class Id_Of>
    Record_Lists(std::size_t records, std::size_t ids, Id_Of id_of) {
        // Counts, then their running sums (each id's end), then the records
        // placed from the back (so each id's end moves to its start).
        start_.assign(ids + 1, 0);
        std::size_t kept = 0;
        for (std::size_t i = 0; i < records; ++i) {
            const std::uint32_t id = id_of(i);
            if (id == No_Id) continue;
            ++start_[id];
            ++kept;
        }
        for (std::size_t k = 1; k < ids; ++k) start_[k] += start_[k - 1];
        start_[ids] = static_cast<std::uint32_t>(kept);
        records_.resize(kept);
        for (std::size_t i = records; i-- > 0;) {
            const std::uint32_t id = id_of(i);
            if (id != No_Id) records_[--start_[id]] = static_cast<Record_Index>(i);
        }
    }

    // Positions [first, last) in Records() of the id's records.
    std::pair<std::size_t, std::size_t> Range(std::uint32_t id) const { return {start_[id], start_[id + 1]}; }
    std::size_t Id_Count() const { return start_.empty() ? 0 : start_.size() - 1; }
    const Index_Array& Records() const { return records_; }
    // Position of the first record of [first, last) after `record`, and of
    // the first one not before it.
    std::size_t After(std::pair<std::size_t, std::size_t> range, Record_Index record) const;
    std::size_t Position(std::pair<std::size_t, std::size_t> range, Record_Index record) const;
    // The record before `record` among those of `id` (which `record` is
    // one of), as index + 1; 0: none.
    std::uint32_t Previous(std::uint32_t id, Record_Index record) const {
        const auto range = Range(id);
        const std::size_t at = Position(range, record);
        return at == range.first ? 0 : records_[at - 1] + 1;
    }
    std::size_t Memory_Bytes() const { return (start_.capacity() + records_.capacity()) * sizeof(std::uint32_t); }

private:
    Index_Array start_;
    Index_Array records_;
};

// The records of some ids, each id's in record order, for a few records of
// many possible ids: one sorted array of (id, record).
class Sparse_Record_Lists {
public:
    class Range {
    public:
        Range(const std::uint64_t* first, const std::uint64_t* last) : first_(first), last_(last) {}
        bool empty() const { return first_ == last_; }
        std::size_t size() const { return static_cast<std::size_t>(last_ - first_); }
        Record_Index operator[](std::size_t k) const { return static_cast<Record_Index>(first_[k]); }
        std::vector<Record_Index> To_Vector() const;

    private:
        const std::uint64_t* first_;
        const std::uint64_t* last_;
    };

    void Add(std::uint32_t id, Record_Index record) { pairs_.push_back(std::uint64_t{id} << 32 | record); }
    // After the last Add.
    void Seal();
    Range Find(std::uint32_t id) const;
    bool Contains(std::uint32_t id) const { return !Find(id).empty(); }
    void clear() { platform::Large_Vector<std::uint64_t>().swap(pairs_); }

private:
    platform::Large_Vector<std::uint64_t> pairs_;
};

// The first record holding "File_Created" of each file number
// (UsnJrnl_Facts::File_Number).
class First_Creation_Map {
public:
    void Build(const UsnJrnl_Facts& facts);
    // Index + 1 of the file's first creation record; 0: none.
    std::uint32_t Of(std::uint32_t file_number) const { return first_.empty() ? 0 : first_[file_number]; }
    void clear() { Index_Array().swap(first_); }

private:
    Index_Array first_;
};

// The records of one FileName under each ParentFileReferenceNumber, for the
// records whose Event holds one reason word: each (name, parent) by a hash
// of both texts in one sorted array, the texts compared on look-up. The
// array is made at the first look-up.
class UsnJrnl_Name_Parent_Map {
public:
    // Takes the records holding `reason` (by the facts the context keeps).
    void Build(const UsnJrnl_Info_Rows& rows, const std::unique_ptr<UsnJrnl_Facts>& facts, std::uint32_t reason) {
        rows_ = &rows;
        facts_ = &facts;
        reason_ = reason;
        made_ = false;
        platform::Large_Vector<std::uint64_t>().swap(keys_);
    }
    // The records of (name, parent), in record order; empty when there is none.
    std::vector<Record_Index> Find(std::u16string_view file_name, std::u16string_view parent_reference) const;
    // Calls f(record) for each record of (name, parent), in record order,
    // until f returns true; returns whether one did.
    template <class F>
    bool Any_Of(std::u16string_view file_name, std::u16string_view parent_reference, F f) const {
        Make();
        const std::uint32_t key = Key(file_name, parent_reference);
        for (std::size_t p = First_Of(key); p < keys_.size() && keys_[p] >> 32 == key; ++p) {
            const Record_Index r = static_cast<Record_Index>(keys_[p]);
            if (Is(r, file_name, parent_reference) && f(r)) return true;
        }
        return false;
    }
    // The number of distinct (name, parent).
    std::size_t size() const;
    void clear() {
        platform::Large_Vector<std::uint64_t>().swap(keys_);
        facts_ = nullptr;
        made_ = false;
    }

private:
    static std::uint32_t Key(std::u16string_view name, std::u16string_view parent);
    void Make() const;
    bool Is(Record_Index r, std::u16string_view name, std::u16string_view parent) const {
        return rows_->Field(r, Usn_Field::FileName) == name &&
               rows_->Field(r, Usn_Field::ParentFileReferenceNumber) == parent;
    }
    std::size_t First_Of(std::uint32_t key) const;

    const UsnJrnl_Info_Rows* rows_ = nullptr;
    const std::unique_ptr<UsnJrnl_Facts>* facts_ = nullptr;
    std::uint32_t reason_ = 0;
    // Key << 32 | record, sorted; made at the first look-up.
    mutable platform::Large_Vector<std::uint64_t> keys_;
    mutable bool made_ = false;
};

// For each of the `count` records of `wanted` (ascending), the nearest
// record before it (as index + 1; 0: none) whose time lies after its own or
// more than `below` seconds before it: where a backward scan from the record
// over a window of `below` seconds ends. Two windows in one pass over the
// seconds, one end of each per wanted record.
void Backward_Window_Ends(const Seconds_Array& seconds, std::int64_t below_a, std::int64_t below_b,
                          const Record_Index* wanted, std::size_t count, Index_Array& ends_a, Index_Array& ends_b);
// For each wanted record, the nearest record after it (its index; the number
// of records: none) whose time lies before its own or more than `above`
// seconds after it: where a forward scan over a window of `above` seconds
// ends.
void Forward_Window_Ends(const Seconds_Array& seconds, std::int64_t above, const Record_Index* wanted,
                         std::size_t count, Index_Array& ends);

// The TimeStamp of every tracked event of each tracked file, as whole
// seconds in record order: one chain per file through a shared pool.
class Event_Time_Lists {
public:
    static constexpr std::uint32_t None = std::numeric_limits<std::uint32_t>::max();
    struct Chain {
        std::uint32_t First = None;
        std::uint32_t Last = None;
    };
    void Append(Chain& chain, std::int64_t seconds);
    // The k-th time of the chain onwards: call Next on the link.
    std::int64_t Time(std::uint32_t link) const { return times_[link]; }
    std::uint32_t Next(std::uint32_t link) const { return next_[link]; }
    void clear() {
        Seconds_Array().swap(times_);
        Index_Array().swap(next_);
    }
    void reserve(std::size_t times) {
        times_.reserve(times);
        next_.reserve(times);
    }

private:
    Seconds_Array times_;
    Index_Array next_;
};

// One file whose $STANDARD_INFORMATION times were changed, as the journal's
// "Basic_Info_Changed" records show it. Its texts are read from its records:
// the name, path and parent of the last paired event (of the first event
// while none is paired), the time and USN of the last paired event (empty
// while none is paired) and those of the file's creation record.
struct _usnjrnl_basic_info_changed_last_event_time {
    // The FileReferenceNumber's id (UsnJrnl_Facts::File).
    std::uint32_t File = 0;
    // The record whose FileName, FullPath and ParentFileReferenceNumber the
    // entry has.
    Record_Index Name_Record = 0;
    Record_Index LastRecordIndex = 0;
    // The file's "File_Created" record, when the journal held one before the
    // entry was made.
    Record_Index Created_Record = 0;
    std::uint32_t PairedCount = 0;
    std::uint32_t UnpairedCount = 0;
    std::uint32_t EventCount = 0;
    std::uint8_t CreatedKnown = 0;
    std::uint8_t HasRenamedNew = 0;
    // 1 once a timestamp finding names the file.
    std::uint8_t Reported = 0;
    // The MFT-modified time lies more than 5 s from the last paired event;
    // the creation time more than 5 s from the creation record; the last
    // paired event more than 2 s after the creation record.
    std::uint8_t ModifiedGapFlag = 0;
    std::uint8_t CreationGapFlag = 0;
    std::uint8_t CreationEventGapFlag = 0;
    // Dropped when its file was deleted; the entries after it keep their
    // places.
    bool Removed = false;
    // Index in the event times of the last paired event; -1 while there is
    // none.
    std::int64_t LastPairedIndex = -1;
    // The TimeStamp of every tracked event, in Event_Time_Lists.
    Event_Time_Lists::Chain EventTimes;
    // The update period of the file's program folder, not owned; null when
    // none, and cleared when the periods are freed.
    Program_Update_Period* Period = nullptr;

    bool Paired() const { return PairedCount != 0; }
    std::u16string_view FileReferenceNumber(const UsnJrnl_Info_Rows& rows) const {
        return rows.Tuple_Field(File, Usn_Field::FileReferenceNumber);
    }
    std::u16string_view ParentFileReferenceNumber(const UsnJrnl_Info_Rows& rows) const {
        return rows.Field(Name_Record, Usn_Field::ParentFileReferenceNumber);
    }
    std::u16string_view FileName(const UsnJrnl_Info_Rows& rows) const { return rows.Field(Name_Record, Usn_Field::FileName); }
    std::u16string_view FullPath(const UsnJrnl_Info_Rows& rows) const { return rows.Field(Name_Record, Usn_Field::FullPath); }
    std::u16string_view LastUSN(const UsnJrnl_Info_Rows& rows) const {
        return Paired() ? rows.Field(LastRecordIndex, Usn_Field::USN) : std::u16string_view();
    }
    std::u16string_view LastEventTime(const UsnJrnl_Info_Rows& rows) const {
        return Paired() ? rows.Field(LastRecordIndex, Usn_Field::TimeStamp) : std::u16string_view();
    }
    std::u16string_view CreatedFileName(const UsnJrnl_Info_Rows& rows) const {
        return CreatedKnown ? rows.Field(Created_Record, Usn_Field::FileName) : std::u16string_view();
    }
    std::u16string_view CreatedEventTime(const UsnJrnl_Info_Rows& rows) const {
        return CreatedKnown ? rows.Field(Created_Record, Usn_Field::TimeStamp) : std::u16string_view();
    }
};
