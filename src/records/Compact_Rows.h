// Compact in-memory tables of the reloaded event rows. A reloaded journal of
// ten million rows held as plain records costs several gigabytes, while most
// of its texts repeat (reason words, attributes, times, references) or are
// parts of one another (a file name is the tail of its full path). Rows here
// hold small handles; each shared text is stored once, every text as UTF-16
// so that a field is read back as a view without copying.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/large_memory.h"
#include "records/Records.h"

// An append-only table of texts, configured by a layout:
// - group 0 holds the texts that are stored with each row and never shared
//   (keys such as the USN, which differ in every row);
// - every other group is a tuple of fields stored once for all rows that
//   hold the same tuple (a row keeps the tuple's number: its id, dense from
//   0 in the order the tuples were first met, so that a reader can keep what
//   it derives from a tuple in a plain array by id);
// - a field of group 0 may be declared the tail of another field of group 0:
//   when its text is what follows the last "\" of that field, only a mark is
//   stored.
// Views stay valid until the table is cleared or truncated below their row.
class Compact_Row_Store {
public:
    struct Layout {
        std::vector<int> Group_Of;  // one entry per field
        int Tail_Field = -1;
        int Tail_Source = -1;
    };

    explicit Compact_Row_Store(Layout layout);
    Compact_Row_Store(Compact_Row_Store&&) noexcept;
    Compact_Row_Store& operator=(Compact_Row_Store&&) noexcept;
    ~Compact_Row_Store();

    std::size_t Size() const { return rows_; }
    int Field_Count() const { return static_cast<int>(layout_.Group_Of.size()); }

    static constexpr int Max_Groups = 16;

    // The hashes of a row's shared tuples. Appending many rows is bound by
    // memory latency: a caller may hash a row and prefetch what its look-ups
    // will read (the slots first, a few rows later the handles they number,
    // a few rows later again the texts those point to) before it appends
    // the row.
    struct Row_Hashes {
        std::uint32_t Of[Max_Groups] = {};
        // The groups whose look-ups need no prefetch: the same hash as the
        // row hashed before (most likely the same tuple, which the table
        // finds without a look-up), or a table small enough to stay in the
        // caches.
        std::uint32_t No_Prefetch = 0;
    };
    Row_Hashes Hash_Row(const std::u16string_view* fields) const;
    void Prefetch_Slots(const Row_Hashes& hashes) const;
    void Prefetch_Handles(const Row_Hashes& hashes) const;
    void Prefetch_Texts(const Row_Hashes& hashes) const;

    // `fields` holds Field_Count() texts.
    void Append(const std::u16string_view* fields);
    void Append(const std::u16string_view* fields, const Row_Hashes& hashes);
    std::u16string_view Field(std::size_t row, int field) const;

    // The id of the shared tuple that holds `field` (of a group other than
    // 0) in `row`: equal ids, equal texts. Ids run from 0 to
    // Tuple_Count(field) - 1; Tuple_Field reads a field of a tuple by its id.
    std::uint32_t Tuple_Id(std::size_t row, int field) const { return Row_Slots(row)[layout_.Group_Of[field]]; }
    std::size_t Tuple_Count(int field) const;
    // The field's group in the layout (0: stored with each row, no tuple id).
    int Group_Of(int field) const { return layout_.Group_Of[field]; }
    std::u16string_view Tuple_Field(std::uint32_t id, int field) const;

    // Drops the look-up tables that appending needs (about a quarter of the
    // memory held), for a table that is only read from now on; the next
    // Append makes them again.
    void Release_Lookups();

    // Drops the rows from `rows` on (the shared texts stay).
    void Truncate(std::size_t rows);
    void Clear();

    // Bytes held, for the benchmarks.
    std::size_t Memory_Bytes() const;

private:
    struct Arena;
    struct Tuple_Table;

    const std::uint32_t* Row_Slots(std::size_t row) const {
        return row_chunks_[row / Rows_Per_Chunk].data() + (row % Rows_Per_Chunk) * static_cast<std::size_t>(groups_);
    }
    std::uint32_t* Row_Slots(std::size_t row) {
        return row_chunks_[row / Rows_Per_Chunk].data() + (row % Rows_Per_Chunk) * static_cast<std::size_t>(groups_);
    }
    static constexpr std::size_t Rows_Per_Chunk = std::size_t{1} << 18;
    const char16_t* Tuple_Texts(int group, std::uint32_t id) const;
    void Make_Lookups();
    // The fields of one group, in their order inside it.
    const std::u16string_view* Gather(const std::u16string_view* fields, int group) const;

    Layout layout_;
    int groups_ = 1;
    std::vector<int> position_;  // index of each field inside its group
    std::vector<int> group_size_;
    std::vector<int> group_start_;                // of each group's fields in gathered_
    // Scratch: a row's fields by group. One thread at a time hashes and
    // appends rows.
    mutable std::vector<std::u16string_view> gathered_;
    mutable Row_Hashes last_hashed_;
    std::unique_ptr<Arena> arena_;
    std::unique_ptr<Tuple_Table[]> tuples_;
    std::vector<platform::Large_Array<std::uint32_t>> row_chunks_;
    std::size_t rows_ = 0;
    bool lookups_released_ = false;
};

// The ten fields of a reloaded UsnJrnl row, by their record names.
struct UsnJrnl_Row_View {
    std::u16string_view TimeStamp;
    std::u16string_view USN;
    std::u16string_view FileName;
    std::u16string_view FullPath;
    std::u16string_view Event;
    std::u16string_view SourceInfo;
    std::u16string_view FileAttr;
    std::u16string_view CarvingFlag;
    std::u16string_view FileReferenceNumber;
    std::u16string_view ParentFileReferenceNumber;
};

// The thirteen fields of a reloaded LogFile row, by their record names
// (ClusterIndex is the decimal MFT_ClusterIndex column).
struct Log_Info_Row_View {
    std::u16string_view LSN;
    std::u16string_view EventTime;
    std::u16string_view Event;
    std::u16string_view Detail;
    std::u16string_view FileName;
    std::u16string_view FullPath;
    std::u16string_view CreateTime;
    std::u16string_view ModifiedTime;
    std::u16string_view MFT_ModifiedTime;
    std::u16string_view AccessTime;
    std::u16string_view RedoInfo;
    std::u16string_view TargetVCN;
    std::u16string_view ClusterIndex;
};

// Field numbers, in the order of the views above.
enum class Usn_Field : int {
    TimeStamp,
    USN,
    FileName,
    FullPath,
    Event,
    SourceInfo,
    FileAttr,
    CarvingFlag,
    FileReferenceNumber,
    ParentFileReferenceNumber,
    Count
};

enum class Log_Field : int {
    LSN,
    EventTime,
    Event,
    Detail,
    FileName,
    FullPath,
    CreateTime,
    ModifiedTime,
    MFT_ModifiedTime,
    AccessTime,
    RedoInfo,
    TargetVCN,
    ClusterIndex,
    Count
};

// A reloaded event table. rows[i].FullPath reads a field as a view by its
// record name; rows.Field(i, ...) reads one field alone.
template <class Traits>
class Event_Rows {
public:
    using Record = typename Traits::Record;
    using View = typename Traits::View;
    using Field_Id = typename Traits::Field_Id;
    static constexpr int Field_Count = static_cast<int>(Field_Id::Count);

    Event_Rows() : store_(Traits::Layout()) {}

    std::size_t size() const { return store_.Size(); }
    bool empty() const { return store_.Size() == 0; }
    void push_back(const Record& record) {
        std::u16string_view fields[Field_Count];
        for (int f = 0; f < Field_Count; ++f) fields[f] = record.*Traits::Record_Members[f];
        store_.Append(fields);
    }
    // Field_Count texts in field order.
    void Append(const std::u16string_view* fields) { store_.Append(fields); }
    View operator[](std::size_t row) const {
        View view;
        for (int f = 0; f < Field_Count; ++f) view.*Traits::View_Members[f] = store_.Field(row, f);
        return view;
    }
    std::u16string_view Field(std::size_t row, Field_Id field) const {
        return store_.Field(row, static_cast<int>(field));
    }
    // The shared texts by id (see Compact_Row_Store::Tuple_Id).
    std::uint32_t Tuple_Id(std::size_t row, Field_Id field) const {
        return store_.Tuple_Id(row, static_cast<int>(field));
    }
    std::size_t Tuple_Count(Field_Id field) const { return store_.Tuple_Count(static_cast<int>(field)); }
    int Group_Of(Field_Id field) const { return store_.Group_Of(static_cast<int>(field)); }
    std::u16string_view Tuple_Field(std::uint32_t id, Field_Id field) const {
        return store_.Tuple_Field(id, static_cast<int>(field));
    }
    void Release_Lookups() { store_.Release_Lookups(); }
    void Truncate(std::size_t rows) { store_.Truncate(rows); }
    void clear() { store_.Clear(); }
    std::size_t Memory_Bytes() const { return store_.Memory_Bytes(); }
    Compact_Row_Store& Store() { return store_; }

private:
    Compact_Row_Store store_;
};

struct UsnJrnl_Row_Traits {
    using Record = _USNJRNLINFO;
    using View = UsnJrnl_Row_View;
    using Field_Id = Usn_Field;
    static constexpr std::u16string Record::*Record_Members[] = {
        &Record::TimeStamp,  &Record::USN,         &Record::FileName,           &Record::FullPath,
        &Record::Event,      &Record::SourceInfo,  &Record::FileAttr,           &Record::CarvingFlag,
        &Record::FileReferenceNumber, &Record::ParentFileReferenceNumber};
    static constexpr std::u16string_view View::*View_Members[] = {
        &View::TimeStamp,  &View::USN,         &View::FileName,           &View::FullPath,
        &View::Event,      &View::SourceInfo,  &View::FileAttr,           &View::CarvingFlag,
        &View::FileReferenceNumber, &View::ParentFileReferenceNumber};
    static Compact_Row_Store::Layout Layout();
};

struct Log_Info_Row_Traits {
    using Record = _log_info;
    using View = Log_Info_Row_View;
    using Field_Id = Log_Field;
    static constexpr std::u16string Record::*Record_Members[] = {
        &Record::LSN,        &Record::EventTime,  &Record::Event,        &Record::Detail,
        &Record::FileName,   &Record::FullPath,   &Record::CreateTime,   &Record::ModifiedTime,
        &Record::MFT_ModifiedTime, &Record::AccessTime, &Record::RedoInfo, &Record::TargetVCN,
        &Record::ClusterIndex};
    static constexpr std::u16string_view View::*View_Members[] = {
        &View::LSN,        &View::EventTime,  &View::Event,        &View::Detail,
        &View::FileName,   &View::FullPath,   &View::CreateTime,   &View::ModifiedTime,
        &View::MFT_ModifiedTime, &View::AccessTime, &View::RedoInfo, &View::TargetVCN,
        &View::ClusterIndex};
    static Compact_Row_Store::Layout Layout();
};

using UsnJrnl_Info_Rows = Event_Rows<UsnJrnl_Row_Traits>;
using Log_Info_Rows = Event_Rows<Log_Info_Row_Traits>;
