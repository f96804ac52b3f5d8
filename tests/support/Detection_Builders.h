// Test-only builders of what the detection reads: reloaded $LogFile events and
// $UsnJrnl records (in the form the export's reload gives them), $MFT entries
// filed in the index as Parse_MFT files them, and signature rows.
//
//   Log_Info_Rows rows;
//   rows.push_back(Log_Event(4096).Event(u"File Creation").Name(u"a.txt").Path(u"\\a.txt").File(0xD, 2));
//   rows.push_back(Check_Point(4200));
//   UsnJrnl_Info_Rows journal;
//   journal.push_back(Usn_Event(0).Reasons({u"File_Created", u"File_Closed"}).Name(u"a.txt"));
//   Mft_Entries mft;
//   mft.Root().Directory(40, 1, Mft_Root_Reference, u"dir").File(41, 1, Mft_Reference(40, 1), u"a.txt");
//   mft.Install(state.g_Parsing_Context);
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "app/Signature_Loading.h"
#include "detection/Program_State.h"
#include "platform/text.h"
#include "records/Records.h"
#include "support/Mft_Record_Builder.h"

namespace test_support {

// One $LogFile event as the export reloads it: LSN as decimal text, TargetVCN
// as "0x%X", the cluster index as the decimal text of the MFT_ClusterIndex
// column (and as the number the row writer stores there).
class Log_Event {
public:
    explicit Log_Event(std::uint64_t lsn) {
        record_.LSN = platform::Unsigned_Decimal_Text(lsn);
        record_.ThisLSN = lsn;
        File(0, 0);
    }

    Log_Event& Lsn_Text(std::u16string_view v) { record_.LSN = v; return *this; }
    Log_Event& Event(std::u16string_view v) { record_.Event = v; return *this; }
    Log_Event& Detail(std::u16string_view v) { record_.Detail = v; return *this; }
    Log_Event& Name(std::u16string_view v) { record_.FileName = v; return *this; }
    Log_Event& Path(std::u16string_view v) { record_.FullPath = v; return *this; }
    Log_Event& Event_Time(std::u16string_view v) { record_.EventTime = v; return *this; }
    Log_Event& Times(std::u16string_view create, std::u16string_view modified, std::u16string_view mft_modified,
                     std::u16string_view access) {
        record_.CreateTime = create;
        record_.ModifiedTime = modified;
        record_.MFT_ModifiedTime = mft_modified;
        record_.AccessTime = access;
        return *this;
    }
    Log_Event& Redo(std::u16string_view v) { record_.RedoInfo = v; return *this; }
    // The FILE record the event targets; events with the same pair concern
    // the same file.
    Log_Event& File(std::uint32_t target_vcn, std::uint64_t cluster_index) {
        record_.TargetVCN = platform::Hex_Text(target_vcn);
        record_.MFT_ClusterIndex = cluster_index;
        record_.ClusterIndex = platform::Unsigned_Decimal_Text(cluster_index);
        return *this;
    }

    const _log_info& Record() const { return record_; }
    operator const _log_info&() const { return record_; }

private:
    _log_info record_;
};

// A check-point record as the log analysis reports it.
inline Log_Event Check_Point(std::uint64_t lsn) { return Log_Event(lsn).Event(u"# Check Point"); }

inline Log_Info_Rows Log_Rows(std::initializer_list<Log_Event> events) {
    Log_Info_Rows rows;
    for (const Log_Event& e : events) rows.push_back(e);
    return rows;
}

// One $UsnJrnl record. The reload gives the reason words joined by " , "
// (Record()); the journal reader hands the row writer the same words joined
// by " / " (Read_Record()), which the reload turns into " , ".
class Usn_Event {
public:
    explicit Usn_Event(std::uint64_t usn) {
        record_.USN = platform::Unsigned_Decimal_Text(usn);
        record_.TimeStamp = u"2020-08-02 10:00:00";
        record_.SourceInfo = u"0";
        record_.FileAttr = u"Archive";
    }

    Usn_Event& Time(std::u16string_view v) { record_.TimeStamp = v; return *this; }
    Usn_Event& Name(std::u16string_view v) { record_.FileName = v; return *this; }
    Usn_Event& Path(std::u16string_view v) { record_.FullPath = v; return *this; }
    Usn_Event& Reasons(std::initializer_list<std::u16string_view> words) {
        reasons_.assign(words.begin(), words.end());
        return *this;
    }
    Usn_Event& Reasons(const std::vector<std::u16string_view>& words) {
        reasons_.assign(words.begin(), words.end());
        return *this;
    }
    Usn_Event& Attributes(std::u16string_view v) { record_.FileAttr = v; return *this; }
    Usn_Event& Carved() { record_.CarvingFlag = u"Y"; return *this; }
    // References as the reader writes them: "0x" and 16 upper-case digits.
    Usn_Event& File_Reference(std::uint64_t v) { record_.FileReferenceNumber = Hex(v); return *this; }
    Usn_Event& Parent_Reference(std::uint64_t v) { record_.ParentFileReferenceNumber = Hex(v); return *this; }

    _USNJRNLINFO Record() const { return With_Reasons(u" , "); }
    operator _USNJRNLINFO() const { return Record(); }
    _USNJRNLINFO Read_Record() const { return With_Reasons(u" / "); }

private:
    static std::u16string Hex(std::uint64_t v) { return platform::Format(u"0x%.16llX", {static_cast<unsigned long long>(v)}); }
    _USNJRNLINFO With_Reasons(std::u16string_view joiner) const {
        _USNJRNLINFO r = record_;
        for (std::size_t i = 0; i < reasons_.size(); ++i) {
            if (i != 0) r.Event += joiner;
            r.Event += reasons_[i];
        }
        return r;
    }

    _USNJRNLINFO record_;
    std::vector<std::u16string> reasons_;
};

inline UsnJrnl_Info_Rows Usn_Rows(std::initializer_list<Usn_Event> events) {
    UsnJrnl_Info_Rows rows;
    for (const Usn_Event& e : events) rows.push_back(e.Record());
    return rows;
}

inline constexpr std::uint64_t Mft_Root_Reference = 5 | (5ull << 48);

// $MFT entries, one per name, filed in the index the way Parse_MFT files the
// names of FILE records: a name whose parent is another record, and the root's
// "." (its own parent, so the root lists itself among its children), can be
// walked through when a path is built; a name that is its own parent cannot.
class Mft_Entries {
public:
    struct Entry {
        _ENTRYINFO_2 Info;
        bool Path_Node = false;
    };

    // Entry 5, ".", its own parent.
    Mft_Entries& Root() {
        _ENTRYINFO_2 e;
        e.ParentReference = Mft_Root_Reference;
        e.FileReference = Mft_Root_Reference;
        e.IsDirectory = 1;
        e.Name = u".";
        return Add(e);
    }
    Mft_Entries& Directory(std::uint64_t number, std::uint16_t sequence, std::uint64_t parent, std::u16string name) {
        return Add(Make(number, sequence, parent, std::move(name), 1));
    }
    Mft_Entries& File(std::uint64_t number, std::uint16_t sequence, std::uint64_t parent, std::u16string name) {
        return Add(Make(number, sequence, parent, std::move(name), 0));
    }
    // Any entry; the last one added can be changed through Last().
    Mft_Entries& Add(const _ENTRYINFO_2& info) {
        const bool dot = info.Name == u".";
        entries_.push_back({info, dot || info.ParentReference != info.FileReference});
        if (dot) entries_.back().Info.IsDirectory = 1;
        return *this;
    }
    _ENTRYINFO_2& Last() { return entries_.back().Info; }

    // Replaces the context's index with these entries, in entry-number order
    // (the names of one entry in the order added), as a parse would leave it.
    void Install(Global_Parsing_Context& context) const {
        std::vector<Entry> sorted = entries_;
        std::stable_sort(sorted.begin(), sorted.end(), [](const Entry& a, const Entry& b) {
            return (a.Info.FileReference & 0xFFFFFFFFFFFFull) < (b.Info.FileReference & 0xFFFFFFFFFFFFull);
        });
        Mft_Index index;
        for (const Entry& e : sorted) index.Add_Entry(e.Info, e.Path_Node);
        index.Finish();
        context.Mft = std::move(index);
    }

private:
    static _ENTRYINFO_2 Make(std::uint64_t number, std::uint16_t sequence, std::uint64_t parent, std::u16string name,
                             std::uint8_t directory) {
        _ENTRYINFO_2 e;
        e.ParentReference = parent;
        e.FileReference = Mft_Reference(number, sequence);
        e.IsDirectory = directory;
        e.Name = std::move(name);
        return e;
    }

    std::vector<Entry> entries_;
};

// Files plain signature texts ("Trace|<type>|Creation|Same|<name>|<program>")
// in the state's arrays as the loader does; false when one of them is not a
// complete signature. For a Signature.db on disk, use Signature_Db_Builder.
inline bool Add_Signatures(Program_State& state, std::initializer_list<std::u16string_view> texts) {
    bool all = true;
    for (const std::u16string_view text : texts) all = Add_Signature_Text(state, text) && all;
    return all;
}

}  // namespace test_support
