// The $MFT index: every entry name with its parent, looked up by reference,
// entry number, record LSN and parent.
//
// One store holds every entry (one per accepted $FILE_NAME name, in $MFT
// order: record index, then attribute order). The look-ups are built once by
// Finish(), after the parse; of several entries under one key a look-up
// returns the one inserted first.
//
//   look-up                 key                          entries
//   Find_Path_Node          full reference (64 bits)     path nodes
//   Find_By_Number          entry number (low 48 bits)   path nodes
//   Find_By_LSN             LSN of the FILE record       every entry
//   Find_By_Reference       full reference (64 bits)     every entry
//   Children_Of             parent reference (64 bits)   every entry
//
// All entries of one entry number come from one FILE record and so share one
// full reference; the look-ups by reference and by number are therefore a
// table indexed by entry number (first entry, first path node) checked
// against the full reference. LSN and parent look-ups are sorted
// (key, entry index) vectors.
//
// Path nodes are the entries a path can be built through: directories and
// files whose parent is another record, and "." names (the root). The index
// does not change after Finish(), so Full_Path_Of keeps the path of every
// directory it has resolved and a repeated parent costs one look-up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "ntfs/Volume_Geometry.h"
#include "records/Records.h"

struct Mft_Index {
    // A sorted (key, entry index) pair.
    struct Key_Index {
        std::uint64_t Key = 0;
        std::uint32_t Index = 0;
    };

    // The entries of one key, in insertion order.
    class Entry_Range {
    public:
        class Iterator {
        public:
            using iterator_category = std::forward_iterator_tag;
            using value_type = _ENTRYINFO_2;
            using difference_type = std::ptrdiff_t;
            using pointer = const _ENTRYINFO_2*;
            using reference = const _ENTRYINFO_2&;

            Iterator() = default;
            Iterator(const std::vector<_ENTRYINFO_2>* entries, const Key_Index* at) : entries_(entries), at_(at) {}
            reference operator*() const { return (*entries_)[at_->Index]; }
            pointer operator->() const { return &(*entries_)[at_->Index]; }
            Iterator& operator++() { ++at_; return *this; }
            Iterator operator++(int) { Iterator old = *this; ++at_; return old; }
            bool operator==(const Iterator& other) const { return at_ == other.at_; }

        private:
            const std::vector<_ENTRYINFO_2>* entries_ = nullptr;
            const Key_Index* at_ = nullptr;
        };

        Entry_Range() = default;
        Entry_Range(const std::vector<_ENTRYINFO_2>* entries, const Key_Index* first, const Key_Index* last)
            : entries_(entries), first_(first), last_(last) {}
        Iterator begin() const { return Iterator(entries_, first_); }
        Iterator end() const { return Iterator(entries_, last_); }
        std::size_t size() const { return static_cast<std::size_t>(last_ - first_); }
        bool empty() const { return first_ == last_; }
        const _ENTRYINFO_2& operator[](std::size_t i) const { return (*entries_)[first_[i].Index]; }

    private:
        const std::vector<_ENTRYINFO_2>* entries_ = nullptr;
        const Key_Index* first_ = nullptr;
        const Key_Index* last_ = nullptr;
    };

    // ---- Building (Parse_MFT) ----

    // Appends one entry; `path_node` also files it under its own reference
    // and entry number. Entries come in ascending entry-number order, those
    // of one number with one full reference (one FILE record), as Parse_MFT
    // adds them. Entries past the 32-bit index range are dropped.
    void Add_Entry(_ENTRYINFO_2 entry, bool path_node);
    // Room for about this many entries (one per record is usual).
    void Reserve(std::size_t entries) {
        entries_.reserve(entries);
        is_path_node_.reserve(entries);
    }
    // Builds the sorted look-ups; call once after the last Add_Entry.
    void Finish();
    // The cluster and FILE-record sizes of the volume the $MFT came from.
    void Set_Geometry(const Volume_Geometry& geometry) { geometry_ = geometry; }

    // ---- Look-ups (valid after Finish) ----

    bool Empty() const { return entries_.empty(); }
    const Volume_Geometry& Geometry() const { return geometry_; }
    std::size_t Entry_Count() const { return entries_.size(); }
    std::size_t Path_Node_Count() const { return path_node_count_; }

    // Every entry, in $MFT order.
    const std::vector<_ENTRYINFO_2>& Entry_List() const { return entries_; }

    // The first path node under the full reference (nullptr: none). Its
    // ParentReference, FileReference, IsDirectory and Name are the path node.
    const _ENTRYINFO_2* Find_Path_Node(std::uint64_t full_reference) const;
    // The first path node of the entry number (low 48 bits).
    const _ENTRYINFO_2* Find_By_Number(std::uint64_t entry_number) const;
    // The first entry whose FILE record carries this $LogFile LSN.
    const _ENTRYINFO_2* Find_By_LSN(std::uint64_t lsn) const;
    // The first entry of the full reference, path node or not.
    const _ENTRYINFO_2* Find_By_Reference(std::uint64_t full_reference) const;
    // Every entry whose parent is this full reference, in insertion order;
    // empty when the reference has no children. The root lists itself.
    Entry_Range Children_Of(std::uint64_t parent_reference) const;

    // The longest path, in UTF-16 units, that Windows can open. A crafted
    // $MFT can nest names into paths of hundreds of thousands of units, and
    // every row naming such a file would carry one.
    static constexpr std::size_t Max_Full_Path_Units = 32767;

    // The backslash path of `reference` whose own name is `name`: "\\name"
    // for entry 5; "" when the reference or an ancestor has no path node
    // under its exact reference, the ancestors form a loop, or the path
    // would be longer than Max_Full_Path_Units; relative (no leading
    // backslash) when an ancestor is a file.
    // Not const: it fills the path cache.
    std::u16string Full_Path_Of(std::uint64_t reference, std::u16string_view name);
    // The same into `out`, reusing its storage; `name` must not view `out`.
    void Full_Path_Of(std::uint64_t reference, std::u16string_view name, std::u16string& out);

private:
    static constexpr std::uint32_t No_Node = 0xFFFFFFFF;
    // Prefix slots: the path text that goes before a child's name.
    static constexpr std::uint32_t Prefix_Unknown = 0xFFFFFFFF;
    static constexpr std::uint32_t Prefix_In_Progress = 0xFFFFFFFE;
    static constexpr std::uint32_t Prefix_Missing = 0xFFFFFFFD;
    static constexpr std::uint32_t Prefix_Backslash = 0;  // "\\"
    static constexpr std::uint32_t Prefix_Empty = 1;      // ""

    static const Key_Index* First_Of(const std::vector<Key_Index>& sorted, std::uint64_t key);
    // Entry index of the first path node under the full reference, or No_Node.
    std::uint32_t Path_Node_Of(std::uint64_t full_reference) const;
    // The prefix slot of path node `node`: what goes before the name of a
    // child whose parent is that node.
    std::uint32_t Resolve_Prefix(std::uint32_t node);

    // What Full_Path_Of has learnt, filled on demand: per entry, the slot
    // of the text that goes before a child's name; the texts themselves;
    // and the nodes of the climb under way. The index itself is fixed once
    // built; only this changes.
    struct Path_Prefix_Cache {
        std::vector<std::uint32_t> Slot_Of;  // per entry
        std::vector<std::u16string> Texts;
        std::vector<std::uint32_t> Climb;

        void Reset(std::size_t entries) {
            Slot_Of.assign(entries, Prefix_Unknown);
            Texts.assign({u"\\", u""});
            Climb.clear();
        }
    };

    Volume_Geometry geometry_;
    std::vector<_ENTRYINFO_2> entries_;
    std::vector<std::uint8_t> is_path_node_;  // per entry
    std::size_t path_node_count_ = 0;
    // Per entry number: the first entry and the first path node (No_Node: none).
    std::vector<std::uint32_t> first_entry_;
    std::vector<std::uint32_t> first_path_node_;
    std::vector<Key_Index> by_lsn_;
    std::vector<Key_Index> by_parent_;

    Path_Prefix_Cache path_cache_;
};
