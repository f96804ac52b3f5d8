// The journal's timestamp rules written as plainly as they read, with a scan
// of the records or entries wherever a look-up is needed and every test on
// the texts themselves: the reference that the indexed rules are compared
// with on random journals, and the literal figure of the benchmark.
// Test-only.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "detection/Detect_Suspicious_Behavior.h"
#include "detection/Match_Modes.h"
#include "detection/Rule_Numbers.h"
#include "detection/usnjrnl/UsnJrnl_Timestamp_Rules.h"
#include "ntfs/mft/Mft_Index.h"
#include "output/Time_Text.h"
#include "platform/text.h"

namespace test_support::literal {

// A tracked file with its texts, as the rules describe it.
struct Entry {
    std::u16string_view FileReferenceNumber;
    std::u16string_view ParentFileReferenceNumber;
    std::u16string_view LastEventTime;
    std::uint32_t CreatedKnown = 0;
    std::u16string_view CreatedFileName;
    std::u16string_view CreatedParentFileReferenceNumber;
    std::u16string_view CreatedEventTime;
    std::u16string SI_CreationTime;
    std::uint64_t CreatedUSN = 0;
    std::uint32_t HasRenamedNew = 0;
    std::vector<Record_Index> RenamedNewRecords;
    std::u16string_view LastUSN;
    std::u16string_view FileName;
    std::u16string_view FullPath;
    Record_Index LastRecordIndex = 0;
    std::uint32_t PairedCount = 0;
    std::uint32_t UnpairedCount = 0;
    std::uint32_t EventCount = 0;
    std::uint32_t Reported = 0;
    std::uint32_t ModifiedGapFlag = 0;
    std::uint32_t CreationGapFlag = 0;
    std::uint32_t CreationEventGapFlag = 0;
    std::vector<std::int64_t> EventTimes;
    std::int64_t LastPairedIndex = -1;
    std::u16string_view LastEvent;
    std::u16string_view LastFileAttr;
    Program_Update_Period* Period = nullptr;
};
using Entries = std::vector<std::unique_ptr<Entry>>;

inline bool Holds(std::u16string_view text, std::u16string_view what) {
    return text.find(what) != std::u16string_view::npos;
}

// A whole Event text compared as the rules compare it: without the
// storage-class word that Windows 10 adds on tiered storage.
inline bool Event_Is(std::u16string_view event, std::u16string_view words) {
    constexpr std::u16string_view word = u"Desired_Storage_Class_Change";
    if (event.find(word) == std::u16string_view::npos) return event == words;
    std::u16string text(event);
    for (const std::u16string_view form : {std::u16string_view(u" , Desired_Storage_Class_Change"),
                                           std::u16string_view(u"Desired_Storage_Class_Change , "), word}) {
        const std::size_t at = text.find(form);
        if (at == std::u16string::npos) continue;
        text.erase(at, form.size());
        break;
    }
    return text == words;
}

class Rules {
public:
    explicit Rules(Detection_Context& context)
        : c_(context), rows_(context.g_UsnJrnl_Info_Array), mft_(context.g_Parsing_Context.Mft) {}

    std::u16string_view F(std::size_t i, Usn_Field f) const { return rows_.Field(i, f); }
    std::int64_t S(std::size_t i) const { return Time_Text_Seconds(F(i, Usn_Field::TimeStamp)); }
    std::u16string Text(std::uint64_t filetime) const {
        return Shifted_FileTime_Text(filetime, c_.g_Parsing_Context.Hour_Offset);
    }

    // ---- Tracking, over every record, with the array searched each time ----
    void Track_All() {
        for (std::size_t i = 0; i < rows_.size(); ++i) Track(i);
    }

    void Track(std::size_t i) {
        const std::u16string_view event = F(i, Usn_Field::Event), attr = F(i, Usn_Field::FileAttr);
        const std::u16string_view ref = F(i, Usn_Field::FileReferenceNumber);
        bool qualifies = Holds(event, u"Basic_Info_Changed") && Holds(event, u"File_Closed") &&
                         !Holds(attr, u"Directory") && !Holds(attr, u"Not_Content_Indexed") &&
                         !Holds(event, u"Content_Indexed_Attr_Changed") &&
                         !(Holds(F(i, Usn_Field::FullPath), u"\\AppData\\Local\\Temp\\") &&
                           Holds(F(i, Usn_Field::FullPath), u"\\VMwareDnD\\"));
        if (qualifies && i + 1 < rows_.size() && Holds(F(i + 1, Usn_Field::Event), u"File_Deleted") &&
            F(i + 1, Usn_Field::FileReferenceNumber) == ref)
            qualifies = false;
        if (qualifies) {
            bool paired = false;
            if (Event_Is(event, u"Basic_Info_Changed , File_Closed")) {
                for (long long j = static_cast<long long>(i) - 1; j >= 0; --j) {
                    if (As_Unsigned(S(i) - S(j)) > 1) break;
                    if (Event_Is(F(j, Usn_Field::Event), u"Basic_Info_Changed") &&
                        F(j, Usn_Field::FileReferenceNumber) == ref) {
                        paired = true;
                        break;
                    }
                }
            } else {
                long long remembered = -1;
                for (long long j = static_cast<long long>(i) - 1; j >= 0; --j) {
                    if (As_Unsigned(S(i) - S(j)) > 2) break;
                    if (F(j, Usn_Field::FileReferenceNumber) != ref) continue;
                    if (Holds(F(j, Usn_Field::Event), u"Basic_Info_Changed")) {
                        remembered = j;
                        continue;
                    }
                    paired = remembered >= 0 && As_Unsigned(S(i) - S(remembered)) <= 1;
                    break;
                }
            }
            Entry* found = nullptr;
            for (const auto& e : tracked_)
                if (e->FileReferenceNumber == ref) {
                    found = e.get();
                    break;
                }
            if (found != nullptr) {
                if (paired) {
                    if (!(found->LastEventTime > F(i, Usn_Field::TimeStamp))) {
                        Take(i, *found);
                        ++found->PairedCount;
                        ++found->EventCount;
                        found->EventTimes.push_back(S(i));
                        found->LastPairedIndex = static_cast<std::int64_t>(found->EventTimes.size()) - 1;
                    }
                } else {
                    ++found->UnpairedCount;
                    ++found->EventCount;
                    found->EventTimes.push_back(S(i));
                }
            } else {
                auto e = std::make_unique<Entry>();
                e->FileReferenceNumber = ref;
                if (paired) {
                    Take(i, *e);
                    e->PairedCount = 1;
                    e->LastPairedIndex = 0;
                } else {
                    e->ParentFileReferenceNumber = F(i, Usn_Field::ParentFileReferenceNumber);
                    e->FileName = F(i, Usn_Field::FileName);
                    e->FullPath = F(i, Usn_Field::FullPath);
                    e->UnpairedCount = 1;
                }
                e->EventCount = 1;
                e->EventTimes.push_back(S(i));
                const std::uint64_t key = platform::Read_Hexadecimal(ref);
                for (std::size_t j = 0; j < i; ++j) {
                    if (!Holds(F(j, Usn_Field::Event), u"File_Created") ||
                        platform::Read_Hexadecimal(F(j, Usn_Field::FileReferenceNumber)) != key)
                        continue;
                    e->CreatedKnown = 1;
                    e->CreatedFileName = F(j, Usn_Field::FileName);
                    e->CreatedParentFileReferenceNumber = F(j, Usn_Field::ParentFileReferenceNumber);
                    e->CreatedEventTime = F(j, Usn_Field::TimeStamp);
                    e->CreatedUSN = platform::Read_Unsigned_Decimal(F(j, Usn_Field::USN));
                    break;
                }
                tracked_.push_back(std::move(e));
            }
        }
        if (Holds(event, u"File_Deleted")) {
            for (auto it = tracked_.begin(); it != tracked_.end(); ++it)
                if ((*it)->FileReferenceNumber == ref) {
                    tracked_.erase(it);
                    break;
                }
        }
    }

    void Take(std::size_t i, Entry& e) const {
        e.ParentFileReferenceNumber = F(i, Usn_Field::ParentFileReferenceNumber);
        e.LastEventTime = F(i, Usn_Field::TimeStamp);
        e.LastUSN = F(i, Usn_Field::USN);
        e.FileName = F(i, Usn_Field::FileName);
        e.FullPath = F(i, Usn_Field::FullPath);
        e.LastEvent = F(i, Usn_Field::Event);
        e.LastFileAttr = F(i, Usn_Field::FileAttr);
        e.LastRecordIndex = static_cast<Record_Index>(i);
    }

    Entries& Tracked() { return tracked_; }

    // ---- Classification ----
    void Classify() {
        for (const auto& slot : tracked_) {
            Entry& e = *slot;
            if (e.LastUSN.empty() || e.FullPath.empty()) continue;
            const _ENTRYINFO_2* own = mft_.Find_By_Reference(platform::Read_Hexadecimal(e.FileReferenceNumber));
            if (own != nullptr && own->IsDeleted == 0) {
                const std::u16string tc = Text(own->CreateTime), tf = Text(own->MFT_ModifiedTime);
                const std::uint64_t g1 = Magnitude(Seconds_Between(e.LastEventTime, tf));
                if (e.CreatedKnown == 1) {
                    e.SI_CreationTime = tc;
                    if (Magnitude(Seconds_Between(e.CreatedEventTime, tc)) > 5) e.CreationGapFlag = 1;
                    if (Magnitude(Seconds_Between(e.CreatedEventTime, e.LastEventTime)) > 2) e.CreationEventGapFlag = 1;
                }
                if (g1 > 5) e.ModifiedGapFlag = 1;
            }
            const _program_update_path_info* row = nullptr;
            for (const auto& r : c_.g_Update_Path_Signature_Array)
                if (Signature_Matches(r, e.FullPath)) {
                    row = &r;
                    break;
                }
            if (row == nullptr) continue;
            std::u16string key;
            if (row->FolderDepth == 0) {
                key = std::u16string(e.FullPath.substr(0, 1));
            } else {
                long long from = 1, hit = -1;
                std::uint64_t found = 0;
                for (; found < row->FolderDepth; ++found) {
                    hit = platform::Find(e.FullPath, u"\\", from);
                    if (hit < 0) break;
                    from = hit + 1;
                }
                if (found < row->FolderDepth) continue;
                key = platform::Left(e.FullPath, hit + 1);
            }
            for (const auto& group : c_.Program_Update_Period_Group_Array) {
                if (group->ProgramKey != key) continue;
                for (const auto& p : group->Periods) {
                    if (p->StartTime <= e.LastEventTime && e.LastEventTime <= p->EndTime) {
                        ++p->TrackedEntries;
                        if (e.CreationGapFlag == 1) ++p->CreationGapEntries;
                        else if (e.ModifiedGapFlag == 1) ++p->ModifiedGapEntries;
                        e.Period = p.get();
                        break;
                    }
                }
                break;
            }
        }
    }

    // ---- The update-period ratios and the replaced files ----
    static int Candidate_Ratios(const Entry& e) {
        const Program_Update_Period* p = e.Period;
        if (p == nullptr) return 0;
        if (p->FolderCreated == 0 && p->FolderFileCount >= 70 &&
            Ratio_At_Least(Single_Ratio(p->FilesSeen, p->FolderFileCount), 0.4))
            return 1;
        if (Ratio_At_Least(Single_Ratio(p->FilesWithoutBasicInfo, p->FilesSeen), 0.7)) return 1;
        std::optional<float> gap = 0.0f;
        if (e.CreationGapFlag == 1) gap = Single_Ratio(p->CreationGapEntries, p->FilesSeen);
        else if (e.ModifiedGapFlag == 1) gap = Single_Ratio(p->ModifiedGapEntries, p->FilesSeen);
        if (Ratio_At_Most(gap, 0.3)) return 1;
        if (p->FilesCreated == 0) {
            if (e.CreatedKnown == 0) return 1;
        } else if (Ratio_At_Most(Single_Ratio(p->FilesCreated, p->FilesSeen), 0.5)) {
            return 1;
        }
        if (p->DirectoriesCreated == 0) return 0;
        const std::optional<float> without = Single_Ratio(p->DirectoriesWithoutBasicInfo, p->DirectoriesSeen);
        if (Ratio_At_Least(without, 0.5)) return 1;
        if (without && *without == 0.0f &&
            Ratio_Below(Single_Ratio(p->DirectoriesTimeChanged, p->DirectoriesSeen), 0.5))
            return 1;
        return 0;
    }

    // The records holding `word`, in record order (listed once per word).
    const std::vector<std::size_t>& Holding(std::u16string_view word) const {
        for (const auto& [w, list] : holding_)
            if (w == word) return list;
        std::vector<std::size_t> list;
        for (std::size_t j = 0; j < rows_.size(); ++j)
            if (Holds(F(j, Usn_Field::Event), word)) list.push_back(j);
        holding_.emplace_back(std::u16string(word), std::move(list));
        return holding_.back().second;
    }

    // The records holding `word` with this name under this parent, in record order.
    std::vector<std::size_t> Named(std::u16string_view word, std::u16string_view name, std::u16string_view parent) const {
        std::vector<std::size_t> out;
        for (const std::size_t j : Holding(word))
            if (F(j, Usn_Field::FileName) == name && F(j, Usn_Field::ParentFileReferenceNumber) == parent) out.push_back(j);
        return out;
    }

    int Within_15s(const Entry& e) const {
        const auto usn = [&](std::size_t r) { return platform::Read_Unsigned_Decimal(F(r, Usn_Field::USN)); };
        const auto in_window = [&](std::size_t r, std::int64_t d) { return As_Unsigned(d - S(r)) < 16; };
        // The first creation of the file that went away, anywhere in the journal.
        const auto replaced = [&](std::size_t gone, std::int64_t d) {
            const std::uint64_t key = platform::Read_Hexadecimal(F(gone, Usn_Field::FileReferenceNumber));
            for (const std::size_t j : Holding(u"File_Created"))
                if (platform::Read_Hexadecimal(F(j, Usn_Field::FileReferenceNumber)) == key)
                    return Magnitude(S(j) - d) <= 1 ? 0 : 1;
            return 1;
        };
        if (e.CreatedKnown == 1) {
            const std::int64_t d = Time_Text_Seconds(e.CreatedEventTime);
            for (const std::size_t r : Named(u"File_Deleted", e.CreatedFileName, e.ParentFileReferenceNumber))
                if (usn(r) < e.CreatedUSN && in_window(r, d)) return replaced(r, d);
            for (const std::size_t r : Named(u"File_Renamed_Old", e.CreatedFileName, e.ParentFileReferenceNumber))
                if (F(r, Usn_Field::FileReferenceNumber) != e.FileReferenceNumber && usn(r) < e.CreatedUSN &&
                    in_window(r, d))
                    return 1;
        }
        if (e.HasRenamedNew == 1) {
            for (const Record_Index m : e.RenamedNewRecords) {
                const std::int64_t d = S(m);
                const std::u16string_view name = F(m, Usn_Field::FileName);
                const std::u16string_view parent = F(m, Usn_Field::ParentFileReferenceNumber);
                for (const std::size_t r : Named(u"File_Deleted", name, parent))
                    if (usn(r) < usn(m) && in_window(r, d)) return 1;
                for (const std::size_t r : Named(u"File_Renamed_Old", name, parent)) {
                    if (F(r, Usn_Field::FileReferenceNumber) == F(m, Usn_Field::FileReferenceNumber) ||
                        usn(r) >= usn(m) || !in_window(r, d))
                        continue;
                    if (e.CreatedKnown == 0) return 1;
                    return replaced(r, d);
                }
            }
        }
        return 0;
    }

    // ---- Detection ----
    void Detect() {
        for (std::size_t k = 0; k < tracked_.size(); ++k) Judge(k, *tracked_[k]);
    }

    int Find_Deleted(const Entry& e, const std::u16string& tc, const std::u16string& tm, const std::u16string& tf) {
        if (e.CreatedKnown != 1 || !(tc < e.CreatedEventTime) || !(tm < e.CreatedEventTime)) return 0;
        const long long dot = platform::ReverseFind(e.FileName, u'.');
        if (dot < 0) return 0;
        const std::u16string base = platform::Left(e.FileName, dot);
        const std::int64_t t = S(e.LastRecordIndex);
        const std::u16string_view p = F(e.LastRecordIndex, Usn_Field::ParentFileReferenceNumber);
        for (long long j = static_cast<long long>(e.LastRecordIndex) - 1; j >= 0; --j) {
            if (F(j, Usn_Field::ParentFileReferenceNumber) != p) continue;
            if (As_Unsigned(t - S(j)) > 5) return 0;
            const std::u16string_view name = F(j, Usn_Field::FileName);
            const long long d = platform::ReverseFind(name, u'.');
            if (d >= 0 && platform::Left(name, d) == base && Holds(F(j, Usn_Field::Event), u"File_Deleted") &&
                e.LastEventTime == tf)
                return 1;
        }
        return 0;
    }

    struct Evidence {
        bool Same_As = false, Same_Modified = false;
        std::u16string Text;
    };

    Evidence Siblings(std::size_t k, const Entry& e, const _ENTRYINFO_2& own, bool any_test, bool both_times,
                      bool modified_step, bool creation_branch, const std::u16string& tc, const std::u16string& tm) {
        Evidence ev;
        const std::uint64_t p = platform::Read_Hexadecimal(e.ParentFileReferenceNumber);
        const auto base = [](std::u16string_view n) {
            const long long d = platform::ReverseFind(n, u'.');
            return platform::MakeLower(d < 0 ? std::u16string(n) : platform::Left(n, d));
        };
        const std::u16string own_base = base(own.Name);
        for (const _ENTRYINFO_2& s : mft_.Children_Of(p)) {
            if (s.Name == own.Name) continue;
            const std::u16string b = base(s.Name);
            if (b.size() >= 3 && own_base.size() >= 3 &&
                (b == own_base || platform::Find(b, own_base) == 0 || platform::Find(own_base, b) == 0))
                continue;
            bool pass_over = false;
            for (std::size_t x = 0; x < tracked_.size(); ++x) {
                if (x == k) continue;
                const Entry& b_entry = *tracked_[x];
                const bool concerns = platform::Read_Hexadecimal(b_entry.FileReferenceNumber) == s.FileReference ||
                                      (b_entry.FileName == s.Name &&
                                       platform::Read_Hexadecimal(b_entry.ParentFileReferenceNumber) == p);
                if (!concerns) continue;
                if (any_test || (b_entry.CreatedKnown == 1 && b_entry.CreatedEventTime != Text(s.CreateTime)))
                    pass_over = true;
            }
            if (pass_over) continue;
            if (s.CreateTime == own.CreateTime && s.ModifiedTime == own.ModifiedTime) {
                ev.Text = both_times ? platform::Format(u"CreationTime(%s) and ModifiedTime(%s) are same as %s", {tc, tm, s.Name})
                                     : platform::Format(u"CreationTime(%s) is same as %s", {tc, s.Name});
                ev.Same_As = true;
                return ev;
            }
            if (modified_step && s.ModifiedTime == own.ModifiedTime) {
                ev.Text = platform::Format(u"ModifiedTime(%s) is same as %s", {tm, s.Name});
                if (creation_branch) ev.Same_Modified = true;
                const long long last = platform::ReverseFind(e.FullPath, u'\\');
                if (last >= 0) {
                    const std::u16string folder = platform::Left(e.FullPath, last + 1);
                    for (const auto& row : c_.g_Key_Temp_Path_Array)
                        if (Signature_Matches(row, folder)) {
                            ev.Same_As = true;
                            return ev;
                        }
                }
            }
        }
        return ev;
    }

    int Rule(const Entry& e) const {  // 1 = A, 2 = B, 0 = none
        const std::int64_t t = S(e.LastRecordIndex);
        bool in = false, out = false;
        std::u16string_view old;
        for (long long j = static_cast<long long>(e.LastRecordIndex) - 1; j >= 0; --j) {
            if (As_Unsigned(t - S(j)) >= 6) break;
            if (F(j, Usn_Field::FileReferenceNumber) != e.FileReferenceNumber) continue;
            const std::u16string_view ev = F(j, Usn_Field::Event), par = F(j, Usn_Field::ParentFileReferenceNumber);
            if (!in) {
                if (Holds(ev, u"File_Renamed_New") && Holds(ev, u"File_Closed") && par == e.ParentFileReferenceNumber)
                    in = true;
            } else if (!out) {
                if (Holds(ev, u"File_Renamed_Old") && par != e.ParentFileReferenceNumber) {
                    out = true;
                    old = par;
                }
            } else if (Holds(ev, u"Basic_Info_Changed") && Holds(ev, u"File_Closed") && par == old) {
                return 1;
            }
        }
        out = false;
        for (std::size_t j = e.LastRecordIndex + 1; j < rows_.size(); ++j) {
            if (As_Unsigned(S(j) - t) >= 6) break;
            if (F(j, Usn_Field::FileReferenceNumber) != e.FileReferenceNumber) continue;
            const std::u16string_view ev = F(j, Usn_Field::Event), par = F(j, Usn_Field::ParentFileReferenceNumber);
            if (!out) {
                if (Holds(ev, u"File_Renamed_Old") && par == e.ParentFileReferenceNumber) out = true;
            } else if (Holds(ev, u"File_Renamed_New") && Holds(ev, u"File_Closed")) {
                if (par == e.ParentFileReferenceNumber) break;
                return 2;
            }
        }
        return 0;
    }

    void Finding(Entry& e, bool creation_form, int rule, bool unclosed, const Evidence* ev, bool zero_creation,
                 const _ENTRYINFO_2& own, const std::u16string& tc, const std::u16string& tf) {
        std::u16string f;
        const std::u16string_view label = creation_form ? u"CreationTime" : u"MFTmodifiedTime";
        const std::u16string_view other = creation_form ? u"Creation Event Time" : u"Last Basic_Info_Changed Event Time";
        const std::u16string tail = u"((" + std::u16string(label) + u" : %s) != (" + std::u16string(other) + u" : %s)";
        if (rule == 1)
            f = u"[Malicious] $SI, $FN timestamp of \"%s\" have been manipulated. => (Basic_Info_Changed -> File Move -> "
                u"Basic_Info_Changed), " + tail + u")";
        else if (rule == 2)
            f = u"[Suspicious] $SI, $FN timestamp of \"%s\" have been manipulated. => (Basic_Info_Changed -> File Move), " +
                tail + (unclosed ? u"" : u")");
        else
            f = u"[Suspicious] The timestamp of \"%s\" may have been manipulated. => " + tail + u")";
        // The format is the rule's own text, never data.
        std::u16string m = platform::Format(f, {e.FileName, creation_form ? tc : tf,
                                                creation_form ? e.CreatedEventTime : e.LastEventTime});
        if (ev != nullptr) {
            m += platform::Format(u", (%s)", {ev->Text});
            platform::Replace(m, u"[Suspicious]", u"[Malicious]");
            platform::Insert(m, platform::Find(m, u"have been manipulated.") + 22, u" (Using another normal file's timestamp)");
        }
        const std::uint64_t z = zero_creation ? own.CreateTime : own.MFT_ModifiedTime;
        if (z % 10000000 == 0) {
            const std::u16string l = zero_creation ? u"CreationTime : " : u"MFTmodifiedTime : ";
            const long long at = platform::Find(m, l);
            if (at >= 0) platform::Insert(m, at + static_cast<long long>(l.size()) + 19, u"(Zero in 100-nanoseconds)");
            platform::Insert(m, platform::Find(m, u"have been manipulated.") + 22,
                             zero_creation ? u" (Zero in CreationTime's 100-nanoseconds)"
                                           : u" (Zero in MFTmodifiedTime's 100-nanoseconds)");
        }
        Record_Finding(c_.g_Detection_Overview_Array, Finding_Category::Timestamp_Manipulation, Finding_Source::UsnJrnl,
                       platform::Cut_At_Nul(e.LastUSN), m)
            .EventTime = e.LastEventTime;
    }

    void Judge(std::size_t k, Entry& e) {
        if (e.LastUSN.empty() || e.FullPath.empty()) return;
        const _ENTRYINFO_2* own = mft_.Find_By_Reference(platform::Read_Hexadecimal(e.FileReferenceNumber));
        if (own == nullptr || own->IsDeleted == 1 || own->IsDirectory == 1 || own->HasZoneIdentifier == 1) return;
        const std::u16string tc = Text(own->CreateTime), tm = Text(own->ModifiedTime), tf = Text(own->MFT_ModifiedTime);
        e.RenamedNewRecords.clear();
        const std::uint64_t key = platform::Read_Hexadecimal(e.FileReferenceNumber);
        for (const std::size_t j : Holding(u"File_Renamed_New"))
            if (platform::Read_Hexadecimal(F(j, Usn_Field::FileReferenceNumber)) == key)
                e.RenamedNewRecords.push_back(static_cast<Record_Index>(j));
        e.HasRenamedNew = e.RenamedNewRecords.empty() ? 0 : 1;
        bool fallback = true;
        if (e.CreationGapFlag == 1) {
            if (Candidate_Ratios(e) == 1 || Find_Deleted(e, tc, tm, tf) == 1 || Within_15s(e) == 1)
                return;
            bool seen[17] = {};
            static const char16_t* const words[17] = {
                u"Compression_Changed", u"Data_Added", u"Data_Overwritten", u"Data_Truncated", u"Extended_Attr_Changed",
                u"Encryption_Changed", u"Hard_Link_Changed", u"Content_Indexed_Attr_Changed", u"Integrity_Changed",
                u"Named_Data_Stream_Added", u"Named_Data_Stream_Overwritten", u"Named_Stream_Truncated",
                u"File_Renamed_New", u"File_Renamed_Old", u"Reparse_Point_Changed", u"Named_Stream_Changed",
                u"Transacted_Changed"};
            for (std::size_t j = e.LastRecordIndex + 1; j < rows_.size(); ++j)
                if (F(j, Usn_Field::FileReferenceNumber) == e.FileReferenceNumber)
                    for (int w = 0; w < 17; ++w) seen[w] = seen[w] || Holds(F(j, Usn_Field::Event), words[w]);
            bool go_on = true, rewritten = false;
            if (seen[0]) go_on = false;
            else if (seen[1]) {
                bool others = false;
                for (int w = 0; w < 17; ++w) others = others || (w != 0 && w != 1 && w != 3 && seen[w]);
                if (seen[3] && !others) rewritten = true;
                else go_on = false;
            } else {
                for (int w = 3; w < 17; ++w) go_on = go_on && !seen[w];
            }
            if (go_on) {
                Evidence ev;
                bool rules = true;
                if (e.CreationEventGapFlag == 0) {
                    const bool own_equal = own->CreateTime == own->ModifiedTime || tc == tm ||
                                           (rewritten && own->DataSize > 0x1000);
                    ev = Siblings(k, e, *own, false, true, true, true, tc, tm);
                    rules = own_equal || ev.Same_As;
                } else {
                    ev = Siblings(k, e, *own, false, false, true, true, tc, tm);
                }
                if (rules) {
                    e.Reported = 1;
                    const int rule = Rule(e);
                    Finding(e, true, rule, true, ev.Same_As || ev.Same_Modified ? &ev : nullptr, true, *own, tc, tf);
                    fallback = false;
                }
            }
        } else if (e.ModifiedGapFlag == 1) {
            if (Candidate_Ratios(e) == 1 || Within_15s(e) == 1) return;
            bool later = false;
            for (std::size_t j = e.LastRecordIndex + 1; j < rows_.size(); ++j)
                later = later || F(j, Usn_Field::FileReferenceNumber) == e.FileReferenceNumber;
            bool go_on = !later;
            Evidence ev;
            if (go_on && e.CreatedKnown == 1 && e.CreationEventGapFlag == 0) {
                const bool all = own->CreateTime == own->ModifiedTime && own->ModifiedTime == own->MFT_ModifiedTime;
                ev = Siblings(k, e, *own, true, false, false, false, tc, tm);
                go_on = all || ev.Same_As;
            } else if (go_on) {
                const std::int64_t t = S(e.LastRecordIndex);
                for (long long j = static_cast<long long>(e.LastRecordIndex) - 1; j >= 0; --j) {
                    if (As_Unsigned(t - S(j)) > 2) break;
                    const std::u16string_view ev_text = F(j, Usn_Field::Event);
                    if (F(j, Usn_Field::FileReferenceNumber) == e.FileReferenceNumber &&
                        (Holds(ev_text, u"Data_Added") || Holds(ev_text, u"Data_Overwritten") ||
                         Holds(ev_text, u"Data_Truncated")))
                        return;
                }
                ev = Siblings(k, e, *own, false, false, true, false, tc, tm);
            }
            bool unclosed = false;
            if (go_on && e.EventCount >= 2) {
                const std::int64_t n = e.LastPairedIndex;
                double sum = 0;
                for (std::int64_t x = 0; x < n; ++x) sum += static_cast<double>(As_Unsigned(e.EventTimes[n] - e.EventTimes[x]));
                const float average = n == 0 ? 0.0f : static_cast<float>(sum) / static_cast<float>(n);
                go_on = !(static_cast<double>(average) > 1.0);
            } else if (go_on) {
                long long closed = 0, basic = 0;
                for (std::size_t j = 0; j < rows_.size(); ++j) {
                    if (F(j, Usn_Field::ParentFileReferenceNumber) != e.ParentFileReferenceNumber ||
                        F(j, Usn_Field::FileReferenceNumber) == e.FileReferenceNumber ||
                        Magnitude(Seconds_Between(F(j, Usn_Field::TimeStamp), e.LastEventTime)) < 5)
                        continue;
                    const std::u16string_view ev_text = F(j, Usn_Field::Event);
                    if (Holds(ev_text, u"Closed")) ++closed;
                    if (Holds(ev_text, u"Basic_Info_Changed") && Holds(ev_text, u"File_Closed")) ++basic;
                }
                const float ratio = closed == 0 ? 0.0f : static_cast<float>(basic) / static_cast<float>(closed);
                go_on = !(static_cast<double>(ratio) > 0.65);
                unclosed = true;
            }
            if (go_on) {
                e.Reported = 1;
                Finding(e, false, Rule(e), unclosed, ev.Same_As ? &ev : nullptr, false, *own, tc, tf);
                fallback = false;
            }
        }
        if (fallback && e.Reported == 0 && (e.ModifiedGapFlag == 1 || e.CreationGapFlag == 1)) {
            const int rule = Rule(e);
            if (rule == 0) return;
            e.Reported = 1;
            Finding(e, e.ModifiedGapFlag != 1, rule, false, nullptr, e.CreationGapFlag == 1, *own, tc, tf);
        }
    }

    // ---- The link ----
    void Link() {
        auto& overviews = c_.g_Detection_Overview_Array;
        for (std::size_t o = 0; o < overviews.size(); ++o) {
            if (overviews[o]->Category != Finding_Category::Execution || overviews[o]->Source != Finding_Source::UsnJrnl)
                continue;
            for (std::size_t d = 0; d < overviews[o]->Details.size(); ++d) {
                const auto& det = *overviews[o]->Details[d];
                const long long at = platform::Find(det.Message, u"(Timestamp Manipulation)");
                if (at < 0) continue;
                const std::u16string tool = at > 2 ? platform::Left(det.Message, at - 1) : std::u16string();
                Entry* chosen = nullptr;
                std::uint64_t best = 0;
                for (const auto& e : tracked_) {
                    if (e->LastUSN.empty() || Magnitude(Seconds_Between(e->LastEventTime, det.EventTime)) > 1) continue;
                    const std::uint64_t dist = Distance(platform::Read_Unsigned_Decimal(e->LastUSN),
                                                        platform::Read_Unsigned_Decimal(det.DetectionLocation));
                    if (chosen == nullptr || dist < best) {
                        chosen = e.get();
                        best = dist;
                    }
                }
                if (chosen == nullptr || Distance(det.RecordIndex, chosen->LastRecordIndex) >= 5) continue;
                if (chosen->Reported == 1) {
                    for (const auto& ov : overviews) {
                        if (ov->Category != Finding_Category::Timestamp_Manipulation || ov->Source != Finding_Source::UsnJrnl)
                            continue;
                        for (const auto& f : ov->Details) {
                            if (f->DetectionLocation != platform::Cut_At_Nul(chosen->LastUSN)) continue;
                            platform::Replace(f->Message, u"[Suspicious]", u"[Malicious]");
                            platform::Replace(f->Message, u"have been manipulated",
                                              tool.empty() ? std::u16string(u"have been manipulated after executing timestamp manipulcation tool")
                                                           : u"have been manipulated after executing " + tool);
                        }
                    }
                } else {
                    Record_Finding(overviews, Finding_Category::Timestamp_Manipulation, Finding_Source::UsnJrnl,
                                   platform::Cut_At_Nul(chosen->LastUSN),
                                   platform::Format(u"[Suspicious] The timestamp of \"%s\" may have been manipulated after executing %s.",
                                                    {chosen->FileName, tool}))
                        .EventTime = chosen->LastEventTime;
                }
            }
        }
    }

private:
    Detection_Context& c_;
    const UsnJrnl_Info_Rows& rows_;
    const Mft_Index& mft_;
    Entries tracked_;
    mutable std::vector<std::pair<std::u16string, std::vector<std::size_t>>> holding_;
};

}  // namespace test_support::literal
