// What the $UsnJrnl half builds from the reloaded journal and keeps for its
// later phases: the records of each program folder under an update path, cut
// into update periods, and the lifecycle maps of created, renamed and deleted
// files. Everything here names journal records by their record index (their
// position in g_UsnJrnl_Info_Array); the texts are read from the rows, which
// stay unchanged and in place for the whole detection, so no record is
// copied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// A position in g_UsnJrnl_Info_Array (also what a finding keeps in RecordIndex).
using Record_Index = std::uint32_t;

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

// Records of one file (or of one name under one parent), in record order.
struct UsnJrnl_Record_Group2 {
    std::vector<Record_Index> Records;
};

// The records of one FileName under each ParentFileReferenceNumber text: a
// look-up takes both, as every reader of these maps has both at hand.
class UsnJrnl_Name_Parent_Map {
public:
    // The group of (name, parent); nullptr when there is none.
    const UsnJrnl_Record_Group2* Find(std::u16string_view file_name, std::u16string_view parent_reference) const;
    // Appends the record to the group of (name, parent), making the group
    // when it is the first. The texts must outlive the map (views of rows).
    void Append(std::u16string_view file_name, std::u16string_view parent_reference, Record_Index record);
    std::size_t size() const { return groups_.size(); }
    void clear() { groups_.clear(); }

private:
    struct Key {
        std::u16string_view Name;
        std::u16string_view Parent;
        bool operator==(const Key&) const = default;
    };
    struct Key_Hash {
        std::size_t operator()(const Key& key) const {
            const std::size_t name = std::hash<std::u16string_view>()(key.Name);
            return name ^ (std::hash<std::u16string_view>()(key.Parent) + 0x9E3779B97F4A7C15ull + (name << 6) +
                           (name >> 2));
        }
    };
    std::unordered_map<Key, UsnJrnl_Record_Group2, Key_Hash> groups_;
};

// The records of each key (a field's text: a FileReferenceNumber or a
// ParentFileReferenceNumber), in record order, in one array.
class Record_Lists {
public:
    template <class Rows, class Field>
    Record_Lists(const Rows& rows, Field field) {
        Build(rows.size(), [&](std::size_t i) { return rows.Field(i, field); });
    }

    // Positions [first, last) in Records() of the key's records.
    std::pair<std::size_t, std::size_t> Range(std::u16string_view key) const;
    std::size_t Key_Count() const { return start_.empty() ? 0 : start_.size() - 1; }
    std::pair<std::size_t, std::size_t> Range_Of_Id(std::size_t id) const { return {start_[id], start_[id + 1]}; }
    const std::vector<Record_Index>& Records() const { return records_; }
    // Position of the first record of [first, last) after `record`.
    std::size_t After(std::pair<std::size_t, std::size_t> range, Record_Index record) const;
    // The record before `record` with the same key, as index + 1; 0: none.
    std::uint32_t Previous(Record_Index record) const {
        const std::uint32_t at = position_[record];
        return at == start_[key_of_[record]] ? 0 : records_[at - 1] + 1;
    }

private:
    void Build(std::size_t count, const std::function<std::u16string_view(std::size_t)>& key);

    std::unordered_map<std::u16string_view, std::uint32_t> id_;
    std::vector<std::uint32_t> start_;
    std::vector<Record_Index> records_;
    // Per record: its key's id and its position in records_.
    std::vector<std::uint32_t> key_of_;
    std::vector<std::uint32_t> position_;
};

// For each record i, the nearest record before it (as index + 1; 0: none)
// whose time lies after i's or more than `below` seconds before it: where a
// backward scan from i over a window of `below` seconds ends.
std::vector<std::uint32_t> Backward_Window_Ends(const std::vector<std::int64_t>& seconds, std::int64_t below);
// For each record i, the nearest record after it (its index; the count: none)
// whose time lies before i's or more than `above` seconds after it: where a
// forward scan from i over a window of `above` seconds ends.
std::vector<std::uint32_t> Forward_Window_Ends(const std::vector<std::int64_t>& seconds, std::int64_t above);

// One file whose $STANDARD_INFORMATION times were changed, as the journal's
// "Basic_Info_Changed" records show it. Texts are views of the rows, except
// the $SI creation time, which is made from the $MFT.
struct _usnjrnl_basic_info_changed_last_event_time {
    std::u16string_view FileReferenceNumber;
    // Of the last paired event (of the first event while none is paired).
    std::u16string_view ParentFileReferenceNumber;
    std::u16string_view LastEventTime;
    // The file's "File_Created" record, when the journal held one before the
    // entry was made.
    std::uint32_t CreatedKnown = 0;
    std::u16string_view CreatedFileName;
    std::u16string_view CreatedParentFileReferenceNumber;
    std::u16string_view CreatedEventTime;
    std::u16string SI_CreationTime;
    std::uint64_t CreatedUSN = 0;
    std::uint32_t HasRenamedNew = 0;
    std::vector<Record_Index> RenamedNewRecords;
    // Empty while the file has no paired event.
    std::u16string_view LastUSN;
    std::u16string_view FileName;
    std::u16string_view FullPath;
    Record_Index LastRecordIndex = 0;
    std::uint32_t PairedCount = 0;
    std::uint32_t UnpairedCount = 0;
    std::uint32_t EventCount = 0;
    // 1 once a timestamp finding names the file.
    std::uint32_t Reported = 0;
    // The MFT-modified time lies more than 5 s from the last paired event;
    // the creation time more than 5 s from the creation record; the last
    // paired event more than 2 s after the creation record.
    std::uint32_t ModifiedGapFlag = 0;
    std::uint32_t CreationGapFlag = 0;
    std::uint32_t CreationEventGapFlag = 0;
    // The TimeStamp of every tracked event as whole seconds, in record order.
    std::vector<std::int64_t> EventTimes;
    // Index in EventTimes of the last paired event; -1 while there is none.
    std::int64_t LastPairedIndex = -1;
    std::u16string_view LastEvent;
    std::u16string_view LastFileAttr;
    // The update period of the file's program folder, not owned; null when
    // none, and cleared when the periods are freed.
    Program_Update_Period* Period = nullptr;
};
