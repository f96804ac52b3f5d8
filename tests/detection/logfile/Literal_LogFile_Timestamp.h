// A literal implementation of the $LogFile timestamp rule and its refinement,
// kept in the test tree as the reference for the indexed one: every walk steps
// over the events one by one as the rule describes it, every list is a plain
// vector searched from its start, and nothing is cached between events. It is
// slow on big logs (a walk bounded by check points may cover the whole log)
// and exists to be compared with, never to be run by the program.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "detection/Findings.h"
#include "detection/logfile/LogFile_Timestamp_Messages.h"
#include "detection/Rule_Numbers.h"
#include "platform/text.h"
#include "records/Compact_Rows.h"
#include "records/Records.h"

namespace literal_rule {

using View = Log_Info_Row_View;
using std::u16string;
using std::u16string_view;

struct Outcome {
    Detection_Overview_List Overviews;
    std::vector<_normal_time_reversal_event> Normal_Reversals;
    std::vector<_normal_creation_time_update_event> Normal_Creation_Updates;
};

inline bool Has(u16string_view text, u16string_view what) { return text.find(what) != u16string_view::npos; }
inline long long Pos(u16string_view text, u16string_view what) { return platform::Find(text, what); }
inline bool Same(const View& a, const View& b) { return a.TargetVCN == b.TargetVCN && a.ClusterIndex == b.ClusterIndex; }
inline std::uint64_t Lsn(const View& r) { return platform::Read_Unsigned_Decimal(r.LSN); }
inline bool Check_Point(const View& r) { return r.Event == u"# Check Point"; }

// The old name of a "Renaming File" whose detail holds " ->"; none otherwise.
inline bool Old_Name(const View& r, u16string& out) {
    if (r.Event != u"Renaming File") return false;
    const long long p = Pos(r.Detail, u" ->");
    if (p < 0) return false;
    out = platform::Left(r.Detail, p);
    return true;
}
inline bool Rename_Away_From(const View& r, u16string_view name) {
    u16string old;
    return Old_Name(r, old) && old == name;
}
inline bool In(const std::vector<u16string>& list, u16string_view name) {
    for (const u16string& s : list)
        if (s == name) return true;
    return false;
}

class Rule {
public:
    Rule(const Log_Info_Rows& rows, Outcome& out, std::uint32_t reversal_threshold = 20,
         std::uint32_t creation_threshold = 120)
        : rows_(rows), out_(out), reversal_threshold_(reversal_threshold), creation_threshold_(creation_threshold) {}

    long long n() const { return static_cast<long long>(rows_.size()); }
    View R(long long i) const { return rows_[static_cast<std::size_t>(i)]; }

    // ---- Predicates of the event history ----

    int Check_Move_Sequence_Before(long long i, u16string& out) const {
        const View e = R(i);
        bool after = false, before = false;
        int cp = 0;
        for (long long j = i - 1;;) {
            if (j < 0) return 0;
            const View r = R(j);
            bool go = true;
            if (!after) {
                if (Same(r, e) && r.FileName == e.FileName && r.Event == u"Move(After)") after = true;
                else go = false;
            }
            if (go) {
                if (Same(r, e) && r.Event == u"Move(Before)") before = true;
                if (before && Same(r, e) &&
                    (Has(r.Event, u"Time Reversal Event") || Has(r.Event, u"CreationTime Update Event"))) {
                    out = u16string(r.LSN);
                    return Has(r.Event, u"Time Reversal Event") ? 1 : 2;
                }
            }
            --j;
            if (Check_Point(r) && ++cp > 2) return 0;
        }
    }

    int Check_Move_Sequence_After(long long i) const {
        const View e = R(i);
        if (!Has(e.Detail, u"CreationTime")) return 0;
        bool before = false, after = false, again = false;
        int cp = 0;
        long long j = i + 1;
        if (j >= n()) return 0;
        for (;;) {
            const View r = R(j);
            bool go = true;
            if (!before) {
                if (Same(r, e) && r.FileName == e.FileName && r.Event == u"Move(Before)") before = true;
                else go = false;
            }
            if (go && Same(r, e) && r.Event == u"Move(After)") after = true;
            if (after && Same(r, e) &&
                (Has(r.Event, u"Time Reversal Event") || Has(r.Event, u"CreationTime Update Event")))
                again = true;
            ++j;
            if (Check_Point(r)) ++cp;
            if (cp > 2 || j >= n()) break;
        }
        return before && after && !again ? 1 : 0;
    }

    // Evidence that a kept name passed away: deleted, renamed away or moved away.
    static bool Name_Left(const View& r, u16string_view name) {
        return (r.Event == u"File Deletion" && r.FileName == name) || Rename_Away_From(r, name) ||
               (r.Event == u"Move(Before)" && r.FileName == name);
    }

    struct Walk_Style {
        std::uint64_t Window;
        bool Gate;              // walk B: only events 0 or 1 second after event i
        bool Other_Either;      // watches 3 and 7: another record where either text differs, ended by the file's own
        bool Deletion_Either;   // watch 5 likewise
        bool Watch_9_Path;      // watch 9 keeps the path too
    };

    bool Forward_Walk(long long i, const Walk_Style& style) const {
        const View e = R(i);
        const u16string_view name = e.FileName;
        const std::uint64_t lsn_i = Lsn(e);
        std::vector<u16string> renamed_from, deleted, moved_away;
        bool move1 = false, move2 = false, move3 = false;
        bool ended3 = false, ended5 = false, ended7 = false;
        bool kept8 = false, kept9 = false;
        u16string name8, name9, path9;
        const std::int64_t time_i = Time_Text_Seconds(e.EventTime);
        std::int64_t last_time = 0;
        for (long long k = i + 1; k < n(); ++k) {
            const View r = R(k);
            const bool same = Same(r, e);
            const bool both_differ = r.TargetVCN != e.TargetVCN && r.ClusterIndex != e.ClusterIndex;
            bool pass = true;
            if (style.Gate) {
                if (!r.EventTime.empty()) last_time = Time_Text_Seconds(r.EventTime);
                const std::int64_t d = last_time - time_i;
                pass = d == 0 || d == 1;
            }
            if (pass) {
                u16string old;
                const bool has_old = Old_Name(r, old);
                // 1
                if (has_old) renamed_from.push_back(old);
                if (!renamed_from.empty() && same && r.Event == u"Renaming File" && In(renamed_from, r.FileName))
                    return true;
                // 2
                if (!renamed_from.empty() && same && r.Event == u"Move(Before)" && r.FileName == name) move1 = true;
                if (move1 && same && r.Event == u"Move(After)" && In(renamed_from, r.FileName)) return true;
                // 3
                if (style.Other_Either) {
                    if (!ended3) {
                        if (same && has_old && old == name) ended3 = true;
                        else if (!same && has_old && old == name) return true;
                    }
                } else if (both_differ && has_old && old == name) {
                    return true;
                }
                // 4
                if (r.Event == u"File Deletion") deleted.push_back(u16string(r.FileName));
                if (!deleted.empty()) {
                    if (same && r.Event == u"Renaming File" && In(deleted, r.FileName)) return true;
                    if (same && r.Event == u"Move(Before)" && r.FileName == name) move2 = true;
                }
                if (move2 && same && r.Event == u"Move(After)" && In(deleted, r.FileName)) return true;
                // 5
                if (style.Deletion_Either) {
                    if (!ended5 && r.Event == u"File Deletion" && r.FileName == name) {
                        if (same) ended5 = true;
                        else return true;
                    }
                } else if (r.Event == u"File Deletion" && r.FileName == name) {
                    return true;
                }
                // 6
                if (both_differ && r.Event == u"Move(Before)") moved_away.push_back(u16string(r.FileName));
                if (!moved_away.empty()) {
                    if (same && r.Event == u"Renaming File" && In(moved_away, r.FileName)) return true;
                    if (same && r.Event == u"Move(Before)" && r.FileName == name) move3 = true;
                }
                if (move3 && same && r.Event == u"Move(After)" && In(moved_away, r.FileName)) return true;
                // 7
                if (style.Other_Either) {
                    if (!ended7 && r.Event == u"Move(Before)" && r.FileName == name) {
                        if (same) ended7 = true;
                        else return true;
                    }
                } else if (both_differ && r.Event == u"Move(Before)" && r.FileName == name) {
                    return true;
                }
                // 8
                if (same && r.Event == u"Renaming File" && Has(r.Detail, u16string(name) + u" ->")) {
                    kept8 = true;
                    name8 = r.FileName;
                }
                if (kept8 && Name_Left(r, name8)) return true;
                // 9
                if (same && r.Event == u"Move(After)") {
                    kept9 = true;
                    name9 = r.FileName;
                    path9 = r.FullPath;
                }
                if (kept9) {
                    if (r.Event == u"File Deletion" && r.FileName == name9) return true;
                    if (Rename_Away_From(r, name9)) return true;
                    if (r.Event == u"Move(Before)" && r.FileName == name9 && (!style.Watch_9_Path || r.FullPath == path9))
                        return true;
                }
            }
            if (Lsn(r) - lsn_i > style.Window) break;
        }
        return false;
    }

    int Is_Normal_CreationTime_Change(long long i, int created) const {
        const View e = R(i);
        if (!Has(e.Detail, u"CreationTime")) return 0;
        const u16string_view name = e.FileName;
        bool a1 = false, a2 = false, a3 = false;
        u16string path2;
        int cp = 0;
        for (long long j = i - 1; j >= 0;) {
            const View r = R(j);
            const bool same = Same(r, e);
            // Watch 1
            if (!a1 && same && r.Event == u"Renaming File" && r.FileName == name &&
                (created == 0 || r.FullPath.empty() || e.FullPath.empty() || r.FullPath == e.FullPath))
                a1 = true;
            if (a1 && Name_Left(r, name)) return 1;
            // Watch 2
            if (!a2 && same && r.Event == u"Move(After)" && r.FileName == name) {
                a2 = true;
                path2 = r.FullPath;
            }
            if (a2) {
                if (r.Event == u"File Deletion" && r.FileName == name) return 1;
                u16string old;
                if (Old_Name(r, old)) {
                    if (created == 0) {
                        if (old == name) return 1;
                    } else {
                        const long long slash = platform::ReverseFind(r.FullPath, u'\\');
                        if (slash >= 0 && platform::Left(r.FullPath, slash + 1) + old == path2) return 1;
                    }
                }
                if (r.Event == u"Move(Before)" && r.FileName == name && r.FullPath == path2) return 1;
            }
            // Watch 3
            if (created == 1) {
                if (!a3 && same && Has(r.Event, u"File Creation") && r.FileName == name) a3 = true;
                if (a3 && Name_Left(r, name)) return 1;
            }
            --j;
            if (Check_Point(r) && ++cp > 4) break;
        }
        if (created == 0) return 0;
        const Walk_Style plain_a{0x2000, false, false, false, false};
        const Walk_Style walk_b{0x10000, true, true, true, true};
        const Walk_Style a_after_b{0x2000, false, true, false, false};
        if (e.EventTime.empty()) return Forward_Walk(i, plain_a) ? 1 : 0;
        if (Forward_Walk(i, walk_b)) return 1;
        return Forward_Walk(i, a_after_b) ? 1 : 0;
    }

    // ---- The rule's own predicates ----

    static bool Modified_Pair(u16string_view d) {
        return Pos(d, u"ModifiedTime") == 0 && Has(d, u"MFTModifiedTime") && !Has(d, u"CreationTime") &&
               !Has(d, u"AccessedTime");
    }
    static bool Creation_Only(u16string_view d) {
        return Pos(d, u"CreationTime") == 0 && !Has(d, u"ModifiedTime") && !Has(d, u"MFTModifiedTime") &&
               !Has(d, u"AccessedTime");
    }

    int Is_Paired_Time_Reversal(long long i) const {
        const View e = R(i);
        const bool reversal = Has(e.Event, u"Time Reversal Event");
        if (reversal && Modified_Pair(e.Detail)) {
            if (i + 1 < n()) {
                const View next = R(i + 1);
                return Has(next.Event, u"Time Reversal Event") && Creation_Only(next.Detail) ? 1 : 0;
            }
            return 0;
        }
        if (reversal && Creation_Only(e.Detail)) {
            if (i - 1 >= 0) {
                const View prev = R(i - 1);
                return Has(prev.Event, u"Time Reversal Event") && Modified_Pair(prev.Detail) ? 1 : 0;
            }
            return 0;
        }
        return 0;
    }

    // The length of a time of a detail at `at`: 19 characters
    // ("YYYY-MM-DD HH:MM:SS"), one more for each digit of its year past four.
    static long long Time_Length(u16string_view detail, long long at) {
        long long digits = 0;
        for (long long k = at; k >= 0 && k < static_cast<long long>(detail.size()); ++k) {
            const char16_t c = detail[static_cast<std::size_t>(k)];
            if (c < u'0' || c > u'9') break;
            ++digits;
        }
        return 15 + std::max<long long>(digits, 4);
    }

    // Old minus new time of the change of `label` at p: the old time after
    // the label, the new one after the old time and " -> ".
    static std::int64_t Old_Minus_New(u16string_view detail, long long p, u16string_view label) {
        const long long old_at = p + static_cast<long long>(label.size());
        const long long new_at = old_at + Time_Length(detail, old_at) + 4;
        return Seconds_Between_Any_Years(platform::Mid(detail, old_at, Time_Length(detail, old_at)),
                                         platform::Mid(detail, new_at, Time_Length(detail, new_at)));
    }

    int Is_Significant_Time_Change(const View& e) const {
        const u16string_view labels[] = {u"CreationTime : ", u"ModifiedTime : ", u"MFTModifiedTime : ",
                                         u"AccessedTime : "};
        if (Has(e.Event, u"Time Reversal Event")) {
            for (const u16string_view l : labels) {
                const long long p = Pos(e.Detail, l);
                if (p < 0) continue;
                if (Old_Minus_New(e.Detail, p, l) >= static_cast<std::int64_t>(reversal_threshold_)) return 1;
            }
            return 0;
        }
        if (Has(e.Event, u"CreationTime Update Event")) {
            const long long p = Pos(e.Detail, u"CreationTime : ");
            if (p < 0) return 0;
            return -Old_Minus_New(e.Detail, p, u"CreationTime : ") >= static_cast<std::int64_t>(creation_threshold_) ? 1
                                                                                                                     : 0;
        }
        return 0;
    }

    // ---- The rule ----

    void Record_Normal(const View& e) {
        out_.Normal_Reversals.push_back({u16string(e.FullPath), u16string(e.FileName)});
        if (!Has(e.Event, u"Time Reversal Event") && Has(e.Event, u"CreationTime Update Event"))
            out_.Normal_Creation_Updates.push_back({u16string(e.FullPath), u16string(e.FileName)});
    }

    void Finding(const View& e, Timestamp_Message_Form form, Timestamp_Change_Kind kind, const u16string& first_lsn,
                 u16string_view tool_kind) {
        const long long g = Pos(e.FileName, u"<Guessed>");
        const u16string name = g >= 0 ? platform::Left(e.FileName, g - 1) : u16string(e.FileName);
        Timestamp_Variant variant = Timestamp_Variant::None;
        if (Has(e.Detail, u"(Zero in 100-nanoseconds)")) variant = Timestamp_Variant::Zero;
        else if (Has(e.Detail, u"(same as")) variant = Timestamp_Variant::Using;
        const u16string_view format = Timestamp_Message_Format(form, kind, variant, g >= 0);
        const bool detected = form == Timestamp_Message_Form::Detected || form == Timestamp_Message_Form::Detected_By_Move_Step;
        const u16string message = detected ? platform::Format(format, {name, first_lsn, e.LSN})
                                           : platform::Format(format, {name, e.Detail});
        auto& d = Record_Finding(out_.Overviews, u"Timestamp Manipulation", u"$LogFile", platform::Cut_At_Nul(e.LSN),
                                 message);
        d.ToolKind = tool_kind;
        if (!detected) d.FullPath = e.FullPath;
    }

    static Timestamp_Change_Kind Plain_Kind(const View& e) {
        return Has(e.Event, u"Time Reversal Event") ? Timestamp_Change_Kind::Past : Timestamp_Change_Kind::Future;
    }
    static Timestamp_Change_Kind Sequence_Kind(int before) {
        return before == 1 ? Timestamp_Change_Kind::Reversal_First : Timestamp_Change_Kind::Update_First;
    }

    void Move_Sequence_Step(long long i) {
        const View e = R(i);
        if (!Has(e.Event, u"Time Reversal Event")) return;
        u16string first;
        const int before = Check_Move_Sequence_Before(i, first);
        if (before > 0) Finding(e, Timestamp_Message_Form::Detected_By_Move_Step, Sequence_Kind(before), first, u"Malware");
        else if (Check_Move_Sequence_After(i) == 1) Finding(e, Timestamp_Message_Form::Moved, Plain_Kind(e), {}, u"Malware");
    }

    void Event(long long i) {
        const View e = R(i);
        if (!Has(e.Event, u"Time Reversal Event") && !Has(e.Event, u"CreationTime Update Event")) return;
        if (Has(e.FullPath, u"\\AppData\\Local\\Temp\\") && Has(e.FullPath, u"\\VMwareDnD\\")) return;

        int created = 0;
        bool directory = false;
        if (i == 0) {
            created = 1;
        } else {
            int c = 0;
            for (long long j = i - 1; j >= 0; --j) {
                const View r = R(j);
                if (Same(r, e) && Has(r.Event, u" Creation")) {
                    created = 1;
                    directory = Has(r.Event, u"Directory");
                    break;
                }
                if (Check_Point(r)) ++c;
                if (c >= 25) {
                    created = 0;
                    break;
                }
                if (j == 0) created = c <= 2 ? 1 : 0;
            }
        }

        if (created == 0) {
            if (!(Has(e.Detail, u"CreationTime") || Pos(e.Detail, u"ModifiedTime") == 0)) return Move_Sequence_Step(i);
            if (Is_Normal_CreationTime_Change(i, 0) == 1) return Record_Normal(e);
            if (Is_Paired_Time_Reversal(i) == 1) {
                Record_Normal(e);
                return Move_Sequence_Step(i);
            }
            const std::uint64_t lsn_i = Lsn(e);
            bool deleted_later = false, modified_before = false, written_before = false, attr_after = false,
                 rename_after = false;
            for (long long k = i + 1; k < n(); ++k)
                if (Same(R(k), e) && Has(R(k).Event, u"Deletion")) deleted_later = true;
            for (long long j = i - 1; j >= 0; --j) {
                const View r = R(j);
                if (Same(r, e) && Has(r.Event, u"Updating Modified Time")) {
                    modified_before = true;
                    break;
                }
                if (lsn_i - Lsn(r) > 0x6000) break;
            }
            for (long long j = i - 1; j >= 0; --j) {
                const View r = R(j);
                if (Same(r, e) && Has(r.Event, u"Writing Content")) {
                    written_before = true;
                    break;
                }
                if (lsn_i - Lsn(r) > 0x3000) break;
            }
            for (long long k = i + 1; k < n(); ++k) {
                const View r = R(k);
                if (Same(r, e) && (Has(r.Event, u"Changing FileAttribute") || Has(r.Event, u"Renaming File"))) {
                    if (Has(r.Event, u"Changing FileAttribute")) attr_after = true;
                    else rename_after = true;
                    break;
                }
                if (Lsn(r) - lsn_i > 0x10000) break;
            }
            if (deleted_later || modified_before || written_before || attr_after || rename_after) {
                Record_Normal(e);
                return Move_Sequence_Step(i);
            }
            if (Is_Significant_Time_Change(e) == 0) return Move_Sequence_Step(i);
            return Finding(e, Timestamp_Message_Form::Plain, Plain_Kind(e), {}, u"Tool");
        }

        if (directory || !Has(e.Detail, u"CreationTime")) return Move_Sequence_Step(i);
        if (Is_Normal_CreationTime_Change(i, 1) == 1) return Record_Normal(e);
        if (Is_Paired_Time_Reversal(i) == 1) {
            Record_Normal(e);
            return Move_Sequence_Step(i);
        }
        bool gone = e.FullPath.empty();
        for (long long k = i + 1; k < n(); ++k)
            if (Same(R(k), e) && Has(R(k).Event, u"Deletion")) gone = true;
        const bool has_mft = Has(e.Detail, u"MFTModifiedTime : ");
        const long long first_mft = Pos(e.Detail, u"MFTModifiedTime : ");
        const long long first_mod = Pos(e.Detail, u"ModifiedTime : ");
        const bool has_modified = first_mod >= 0 && (first_mft < 0 || first_mod != first_mft + 3);

        bool mft_updated = false, mft_reversed = false, modified_updated = false, modified_reversed = false;
        bool rename_then_mft = false, name_taken = false;
        {
            int c = 0;
            bool have_previous = false;
            View previous{};
            for (long long k = i + 1; k < n(); ++k) {
                const View r = R(k);
                const bool same = Same(r, e);
                if (has_mft && same &&
                    (Has(r.Event, u"Updating MFTModified Time") || Has(r.Event, u"Changing FileAttribute")))
                    mft_updated = true;
                if (mft_updated && same && Has(r.Event, u"Time Reversal Event") && Has(r.Detail, u"MFTModifiedTime :"))
                    mft_reversed = true;
                if (has_modified && same && Has(r.Event, u"Updating Modified Time")) modified_updated = true;
                if (modified_updated && same && Has(r.Event, u"Time Reversal Event")) {
                    const long long m = Pos(r.Detail, u"ModifiedTime :");
                    const long long f = Pos(r.Detail, u"MFTModifiedTime :");
                    if (m >= 0 && (f < 0 || m != f + 3)) modified_reversed = true;
                }
                if (same && Has(r.Event, u"Updating MFTModified Time") && have_previous &&
                    Has(previous.Event, u"Renaming File")) {
                    rename_then_mft = true;
                    break;
                }
                if (!same && Has(r.Event, u"Renaming File") && r.FileName == e.FileName) {
                    name_taken = true;
                    break;
                }
                if (Check_Point(r) && ++c > 6) break;
                if (same) {
                    previous = r;
                    have_previous = true;
                }
            }
        }
        bool small_write = false;
        {
            int c = 0;
            for (long long j = i - 1; j >= 0; --j) {
                const View r = R(j);
                if (Same(r, e) && Has(r.Event, u"Writing Content of Resident File") &&
                    Has(r.Detail, u"Writing Size : ") && platform::Read_Decimal(platform::Mid(r.Detail, 15)) < 40) {
                    small_write = true;
                    break;
                }
                if (Check_Point(r) && ++c >= 2) break;
            }
        }
        const bool lacks_one =
            !(Has(e.Detail, u"CreationTime : ") && Has(e.Detail, u"ModifiedTime : ") && Has(e.Detail, u"AccessedTime : "));
        const bool later_change = rename_then_mft || (mft_updated && !mft_reversed) ||
                                  (modified_updated && !modified_reversed && lacks_one);
        if (gone || later_change || name_taken || small_write) {
            Record_Normal(e);
            if (gone) return;
            return Move_Sequence_Step(i);
        }
        if (Is_Significant_Time_Change(e) == 0) return Move_Sequence_Step(i);
        u16string first;
        const int before = Check_Move_Sequence_Before(i, first);
        if (before > 0) return Finding(e, Timestamp_Message_Form::Detected, Sequence_Kind(before), first, u"Malware");
        if (Check_Move_Sequence_After(i) == 1) return Finding(e, Timestamp_Message_Form::Moved, Plain_Kind(e), {}, u"Malware");
        Finding(e, Timestamp_Message_Form::Plain, Plain_Kind(e), {}, u"Malware");
    }

private:
    const Log_Info_Rows& rows_;
    Outcome& out_;
    std::uint32_t reversal_threshold_;
    std::uint32_t creation_threshold_;
};

// ---- The refinement ----

inline bool Timestamp_Overview(const AntiForneisc_Behavior_Detection_Overview& o) {
    return o.Category == u"Timestamp Manipulation" && o.Source == u"$LogFile";
}

inline void Refine(Outcome& out) {
    Detection_Overview_List& overviews = out.Overviews;
    // Link to a timestamp tool's execution.
    AntiForneisc_Behavior_Detection_Overview* timestamps = nullptr;
    AntiForneisc_Behavior_Detection_Overview* executions = nullptr;
    for (auto& o : overviews) {
        if (timestamps == nullptr && Timestamp_Overview(*o)) timestamps = o.get();
        if (executions == nullptr && o->Category == u"Execution of Suspicious Programs" && o->Source == u"$LogFile")
            executions = o.get();
    }
    if (timestamps != nullptr) {
        for (auto& d : timestamps->Details) {
            if (d->ToolKind != u"Tool") continue;
            if (executions == nullptr) continue;
            const std::uint64_t l = platform::Read_Unsigned_Decimal(d->DetectionLocation);
            for (auto& e : executions->Details) {
                const long long p = Pos(e->Message, u"(Timestamp Manipulation)");
                if (p < 0) continue;
                const std::uint64_t el = platform::Read_Unsigned_Decimal(e->DetectionLocation);
                if ((el > l ? el - l : l - el) >= 0x1000) continue;
                const u16string tool = p > 2 ? platform::Left(e->Message, p - 1) : u16string();
                if (tool.empty()) {
                    platform::Replace(d->Message, u"[Suspicious]", u"[Malicious]");
                } else {
                    const u16string prefix = platform::Format(u"[Malicious] After execution of %s,", {tool});
                    if (Pos(d->Message, u"[Suspicious]") == 0) platform::Replace(d->Message, u"[Suspicious]", prefix);
                    else if (Pos(d->Message, u"[Malicious]") == 0) platform::Replace(d->Message, u"[Malicious]", prefix);
                }
                break;
            }
        }
    }
    // "(same as ...)" claims.
    for (auto& o : overviews) {
        if (!Timestamp_Overview(*o)) continue;
        std::vector<u16string> paths;
        for (auto& d : o->Details) paths.push_back(d->FullPath);
        for (auto& d : o->Details) {
            if (!Has(d->Message, u"[Malicious]") || !Has(d->Message, u"(same as") ||
                Has(d->Message, u"(Zero in 100-nanoseconds)"))
                continue;
            std::vector<u16string> names;
            for (long long from = 8;;) {
                const long long p = platform::Find(d->Message, u"(same as ", from);
                if (p < 0) break;
                from = p + 8;
                const long long close = platform::Find(d->Message, u")", p + 8);
                const u16string reference = platform::Mid(d->Message, p + 9, close - (p + 9));
                for (u16string piece : platform::Tokenize(reference, u",")) {
                    if (!piece.empty() && piece[0] == u' ') piece.erase(0, 1);
                    if (!In(names, piece)) names.push_back(piece);
                }
            }
            const long long slash = platform::ReverseFind(d->FullPath, u'\\');
            const u16string folder = slash >= 0 ? platform::Left(d->FullPath, slash + 1) : u16string();
            bool all = true;
            for (const u16string& name : names) all = all && In(paths, folder + name);
            if (all) {
                platform::Replace(d->Message, u"[Malicious]", u"[Suspicious]");
                platform::Replace(d->Message, u"(Using another normal file's timestamp)", u"");
            }
        }
    }
    // Paths judged normal twice.
    for (auto& o : overviews) {
        if (!Timestamp_Overview(*o)) continue;
        for (auto& d : o->Details) {
            if (d->FullPath.empty()) continue;
            if (Has(d->Message, u"changed to the past")) {
                int count = 0;
                for (const auto& r : out.Normal_Reversals) count += r.FullPath == d->FullPath;
                if (count >= 2) d->Valid = 0;
            }
            if (Has(d->Message, u"changed to the future")) {
                int count = 0;
                for (const auto& r : out.Normal_Creation_Updates) count += r.FullPath == d->FullPath;
                if (count >= 2) d->Valid = 0;
            }
        }
    }
    // Program-folder groups.
    for (auto& o : overviews) {
        if (!Timestamp_Overview(*o)) continue;
        struct Group {
            u16string Key;
            std::uint64_t Count = 0;
            std::vector<AntiForneisc_Behavior_Detection_Detail*> Details;
        };
        std::vector<Group> groups;
        const auto cut = [](const u16string& path, int slashes) {
            long long at = -1;
            for (int s = 0; s < slashes; ++s) {
                at = platform::Find(path, u"\\", at + 1);
                if (at < 0) return u16string();
            }
            return platform::Left(path, at + 1);
        };
        for (auto& d : o->Details) {
            const u16string& p = d->FullPath;
            u16string key;
            if (Pos(p, u"\\Program Files\\") == 0 || Pos(p, u"\\Program Files (x86)\\") == 0 ||
                Pos(p, u"\\ProgramData\\") == 0)
                key = cut(p, 3);
            else if (Pos(p, u"\\Windows\\SoftwareDistribution\\Download\\") == 0)
                key = cut(p, 5);
            else
                continue;
            Group* g = nullptr;
            for (Group& x : groups)
                if (x.Key == key) g = &x;
            if (g == nullptr) {
                groups.push_back({key, 0, {}});
                g = &groups.back();
            }
            ++g->Count;
            g->Details.push_back(d.get());
        }
        for (Group& g : groups) {
            bool suppress = false;
            if (g.Count >= 20) {
                suppress = true;
            } else if (g.Count >= 4 && (Has(g.Key, u"\\Program Files\\") || Has(g.Key, u"\\Program Files (x86)\\") ||
                                        Has(g.Key, u"\\ProgramData\\") ||
                                        Has(g.Key, u"\\Windows\\SoftwareDistribution\\Download\\"))) {
                suppress = true;
                for (auto* d : g.Details)
                    if (!(Has(d->Message, u"CreationTime") && Has(d->Message, u"ModifiedTime") &&
                          !Has(d->Message, u"MFTModifiedTime") && !Has(d->Message, u"AccessedTime")) ||
                        Has(d->Message, u"changed to the future"))
                        suppress = false;
            }
            if (suppress)
                for (auto* d : g.Details) d->Valid = 0;
        }
    }
}

// Rule 5 over every event, then the four refinement phases. `executions`
// (the findings of the execution rule, which the link phase reads) are copied
// in after the per-event loop, as the driver would have them by then.
inline void Run(const Log_Info_Rows& rows, Outcome& out,
                const AntiForneisc_Behavior_Detection_Overview* executions = nullptr) {
    Rule rule(rows, out);
    for (long long i = 0; i < rule.n(); ++i) rule.Event(i);
    if (executions != nullptr)
        for (const auto& e : executions->Details)
            Record_Finding(out.Overviews, executions->Category, executions->Source, e->DetectionLocation, e->Message);
    Refine(out);
}

}  // namespace literal_rule
