// The journal's timestamp rules proper: each tracked entry judged against
// its $MFT times, the journal around its last change and its siblings.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "detection/Rule_Numbers.h"
#include "detection/usnjrnl/UsnJrnl_Record_Rules.h"
#include "detection/usnjrnl/UsnJrnl_Sibling_Evidence.h"
#include "detection/usnjrnl/UsnJrnl_Timestamp_Rules.h"
#include "ntfs/mft/Mft_Index.h"
#include "output/Time_Text.h"
#include "platform/text.h"

namespace {

using Entry = _usnjrnl_basic_info_changed_last_event_time;
namespace Bit = Usn_Reason_Bit;

// The later changes that explain a time change: a compression, a write of
// the content, and the changes of attributes and names from
// "Extended_Attr_Changed" to "Transacted_Changed" in the rule's own list.
constexpr std::uint32_t Later_Attribute_Changes =
    Bit::Extended_Attr_Changed | Bit::Encryption_Changed | Bit::Hard_Link_Changed | Bit::Content_Indexed_Attr_Changed |
    Bit::Integrity_Changed | Bit::Named_Data_Stream_Added | Bit::Named_Data_Stream_Overwritten |
    Bit::Named_Stream_Truncated | Bit::File_Renamed_New | Bit::File_Renamed_Old | Bit::Reparse_Point_Changed |
    Bit::Named_Stream_Changed | Bit::Transacted_Changed;
constexpr std::uint32_t Later_Changes_All =
    Bit::Compression_Changed | Bit::Data_Added | Bit::Data_Overwritten | Bit::Data_Truncated | Later_Attribute_Changes;

// Records of the folder this close to the change are the change's own burst.
constexpr std::uint64_t Folder_Burst_Seconds = 5;
// A file whose content was rewritten and that is larger than this keeps
// times that a rewrite set.
constexpr std::uint64_t Rewritten_Size_Bytes = 0x1000;
// FILETIME ticks in a second: a time set by a tool often has none.
constexpr std::uint64_t Filetime_Ticks_Per_Second = 10'000'000;

// The two forms of the findings: the creation time against the creation
// record, or the MFT-modified time against the last change.
enum class Form { Creation, Mft_Modified };

struct Rule_Texts {
    std::u16string_view A, B, B_Unclosed, C;
    std::u16string_view Label;  // the time's label in the message
    std::u16string_view Zero_Remark;
};

constexpr Rule_Texts Creation_Texts = {
    u"[Malicious] $SI, $FN timestamp of \"%s\" have been manipulated. => (Basic_Info_Changed -> File Move -> "
    u"Basic_Info_Changed), ((CreationTime : %s) != (Creation Event Time : %s))",
    u"[Suspicious] $SI, $FN timestamp of \"%s\" have been manipulated. => (Basic_Info_Changed -> File Move), "
    u"((CreationTime : %s) != (Creation Event Time : %s))",
    u"[Suspicious] $SI, $FN timestamp of \"%s\" have been manipulated. => (Basic_Info_Changed -> File Move), "
    u"((CreationTime : %s) != (Creation Event Time : %s)",
    u"[Suspicious] The timestamp of \"%s\" may have been manipulated. => ((CreationTime : %s) != (Creation Event "
    u"Time : %s))",
    u"CreationTime : ",
    u" (Zero in CreationTime's 100-nanoseconds)"};

constexpr Rule_Texts Mft_Modified_Texts = {
    u"[Malicious] $SI, $FN timestamp of \"%s\" have been manipulated. => (Basic_Info_Changed -> File Move -> "
    u"Basic_Info_Changed), ((MFTmodifiedTime : %s) != (Last Basic_Info_Changed Event Time : %s))",
    u"[Suspicious] $SI, $FN timestamp of \"%s\" have been manipulated. => (Basic_Info_Changed -> File Move), "
    u"((MFTmodifiedTime : %s) != (Last Basic_Info_Changed Event Time : %s))",
    u"[Suspicious] $SI, $FN timestamp of \"%s\" have been manipulated. => (Basic_Info_Changed -> File Move), "
    u"((MFTmodifiedTime : %s) != (Last Basic_Info_Changed Event Time : %s)",
    u"[Suspicious] The timestamp of \"%s\" may have been manipulated. => ((MFTmodifiedTime : %s) != (Last "
    u"Basic_Info_Changed Event Time : %s))",
    u"MFTmodifiedTime : ",
    u" (Zero in MFTmodifiedTime's 100-nanoseconds)"};

constexpr std::u16string_view Manipulated_Anchor = u"have been manipulated.";
// The time text after a label.
constexpr long long Time_Text_Units = 19;

class Timestamp_Judge {
public:
    explicit Timestamp_Judge(UsnJrnl_Detection_State& context)
        : context_(context),
          rows_(context.g_UsnJrnl_Info_Array),
          facts_(*context.UsnJrnl_Record_Facts),
          mft_(context.g_Parsing_Context.Mft),
          indexes_(context),
          siblings_(context, indexes_),
          time_text_(context.g_Parsing_Context.Hour_Offset) {}

    void Run() {
        auto& entries = context_.g_Basic_Info_Changed_Array;
        for (std::size_t e = 0; e < entries.size(); ++e)
            if (!entries[e].Removed) Judge(e, entries[e]);
    }

private:
    std::u16string Time_Text(std::uint64_t filetime) { return time_text_.Text(filetime); }

    void Judge(std::size_t index, Entry& entry) {
        if (entry.LastUSN(rows_).empty() || entry.FullPath(rows_).empty()) return;
        const _ENTRYINFO_2* own = mft_.Find_By_Reference(platform::Read_Hexadecimal(entry.FileReferenceNumber(rows_)));
        if (own == nullptr || own->IsDeleted == 1 || own->IsDirectory == 1 || own->HasZoneIdentifier == 1) return;
        const std::u16string Tc = Time_Text(own->CreateTime);
        const std::u16string Tm = Time_Text(own->ModifiedTime);
        const std::u16string Tf = Time_Text(own->MFT_ModifiedTime);

        entry.HasRenamedNew = context_.g_File_Renamed_New_Map.Contains(facts_.Number_Of_File(entry.File)) ? 1 : 0;

        if (entry.CreationGapFlag == 1) {
            if (!Creation_Branch(index, entry, *own, Tc, Tm, Tf)) return;
        } else if (entry.ModifiedGapFlag == 1) {
            if (!Mft_Branch(index, entry, *own, Tc, Tf)) return;
        }
        Fallback(entry, *own, Tc, Tf);
    }

    // Each branch returns false when the entry is done with (judged normal,
    // or its finding written), true to go on to the fallback.
    bool Creation_Branch(std::size_t index, Entry& entry, const _ENTRYINFO_2& own, const std::u16string& Tc,
                         const std::u16string& Tm, const std::u16string& Tf) {
        if (Check_Candidate_Ratios(entry) == 1 || Find_UsnJrnl_File_Deleted(context_, indexes_, entry, Tc, Tm, Tf) == 1 ||
            Match_UsnJrnl_Records_Within_15s(context_, entry) == 1)
            return false;
        const std::uint32_t later = Later_Changes(entry);
        bool content_rewritten = false;
        if ((later & Bit::Compression_Changed) != 0) return true;
        if ((later & Bit::Data_Added) != 0) {
            // Written anew: only a truncation and a write, nothing else.
            if ((later & Bit::Data_Truncated) == 0 ||
                (later & Later_Changes_All & ~(Bit::Compression_Changed | Bit::Data_Added | Bit::Data_Truncated)) != 0)
                return true;
            content_rewritten = true;
        } else if ((later & (Bit::Data_Truncated | Later_Attribute_Changes)) != 0) {
            return true;
        }

        Sibling_Evidence evidence;
        if (entry.CreationEventGapFlag == 0) {
            const bool own_times_equal = own.CreateTime == own.ModifiedTime || Tc == Tm ||
                                         (content_rewritten && own.DataSize > Rewritten_Size_Bytes);
            evidence = siblings_.Scan(index, entry, own, Tracked_Sibling_Test::Mismatch,
                                      platform::Format(u"CreationTime(%s) and ModifiedTime(%s) are same as %s",
                                                       {Tc, Tm, u"%s"}),
                                      Sibling_Scan_Steps{.Modified_Step = true, .Creation_Branch = true}, Tm);
            if (!own_times_equal && !evidence.Same_As) return true;
        } else {
            evidence = siblings_.Scan(index, entry, own, Tracked_Sibling_Test::Mismatch,
                                      platform::Format(u"CreationTime(%s) is same as %s", {Tc, u"%s"}),
                                      Sibling_Scan_Steps{.Modified_Step = true, .Creation_Branch = true}, Tm);
        }
        const bool decorate = evidence.Same_As || evidence.Same_Modified;
        Apply_Rules(entry, Form::Creation, Tc, own.CreateTime, decorate ? &evidence.Text : nullptr);
        return false;
    }

    bool Mft_Branch(std::size_t index, Entry& entry, const _ENTRYINFO_2& own, const std::u16string& Tc,
                    const std::u16string& Tf) {
        if (Check_Candidate_Ratios(entry) == 1 || Match_UsnJrnl_Records_Within_15s(context_, entry) == 1) return false;
        const Record_Lists& by_file = indexes_.By_File();
        const auto range = by_file.Range(entry.File);
        if (by_file.After(range, entry.LastRecordIndex) < range.second) return true;

        Sibling_Evidence evidence;
        const std::u16string both = platform::Format(u"CreationTime(%s) is same as %s", {Tc, u"%s"});
        if (entry.CreatedKnown == 1 && entry.CreationEventGapFlag == 0) {
            const bool all_times_equal =
                own.CreateTime == own.ModifiedTime && own.ModifiedTime == own.MFT_ModifiedTime;
            evidence = siblings_.Scan(index, entry, own, Tracked_Sibling_Test::Any, both, Sibling_Scan_Steps{}, u"");
            if (!all_times_equal && !evidence.Same_As) return true;
        } else {
            if (Content_Written_Around(entry)) return false;
            evidence = siblings_.Scan(index, entry, own, Tracked_Sibling_Test::Mismatch, both,
                                      Sibling_Scan_Steps{.Modified_Step = true}, Time_Text(own.ModifiedTime));
        }

        bool unclosed_rule_b = false;
        if (entry.EventCount >= 2) {
            if (Ratio_Above(Average_Gap(entry), 1.0)) return true;
        } else {
            if (Ratio_Above(Folder_Closing_Ratio(entry), 0.65)) return true;
            unclosed_rule_b = true;
        }
        Apply_Rules(entry, Form::Mft_Modified, Tf, own.MFT_ModifiedTime,
                    evidence.Same_As ? &evidence.Text : nullptr, unclosed_rule_b);
        return false;
    }

    void Fallback(Entry& entry, const _ENTRYINFO_2& own, const std::u16string& Tc, const std::u16string& Tf) {
        if (entry.Reported != 0 || (entry.ModifiedGapFlag == 0 && entry.CreationGapFlag == 0)) return;
        const Form form = entry.ModifiedGapFlag == 1 ? Form::Mft_Modified : Form::Creation;
        const Rule_Texts& zero_texts = entry.CreationGapFlag == 1 ? Creation_Texts : Mft_Modified_Texts;
        const std::uint64_t zero_time = entry.CreationGapFlag == 1 ? own.CreateTime : own.MFT_ModifiedTime;
        const Rule_Texts& texts = form == Form::Creation ? Creation_Texts : Mft_Modified_Texts;
        const std::u16string_view message = Moved_Between_Changes(entry)   ? texts.A
                                            : Moved_After_Change(entry) ? texts.B
                                                                         : std::u16string_view();
        if (message.empty()) return;
        entry.Reported = 1;
        Write_Finding(entry, message, form == Form::Creation ? Tc : Tf, form, nullptr, zero_texts, zero_time);
    }

    // Rules A, B and C; one finding, always.
    void Apply_Rules(Entry& entry, Form form, const std::u16string& time_text, std::uint64_t filetime,
                     const std::u16string* evidence, bool unclosed_rule_b = false) {
        entry.Reported = 1;
        const Rule_Texts& texts = form == Form::Creation ? Creation_Texts : Mft_Modified_Texts;
        // The creation branch's rule B text ends without its last ")".
        const bool unclosed = form == Form::Creation || unclosed_rule_b;
        const std::u16string_view message = Moved_Between_Changes(entry) ? texts.A
                                            : Moved_After_Change(entry)  ? (unclosed ? texts.B_Unclosed : texts.B)
                                                                         : texts.C;
        Write_Finding(entry, message, time_text, form, evidence, texts, filetime);
    }

    void Write_Finding(Entry& entry, std::u16string_view format, const std::u16string& time_text, Form form,
                       const std::u16string* evidence, const Rule_Texts& zero_texts, std::uint64_t zero_filetime) {
        const std::u16string_view event_time =
            form == Form::Creation ? entry.CreatedEventTime(rows_) : entry.LastEventTime(rows_);
        std::u16string message = platform::Format(format, {entry.FileName(rows_), time_text, event_time});
        if (evidence != nullptr) {
            message += platform::Format(u", (%s)", {*evidence});
            platform::Replace(message, u"[Suspicious]", u"[Malicious]");
            const long long anchor = platform::Find(message, Manipulated_Anchor);
            if (anchor >= 0)
                platform::Insert(message, anchor + static_cast<long long>(Manipulated_Anchor.size()),
                                 u" (Using another normal file's timestamp)");
        }
        if (zero_filetime % Filetime_Ticks_Per_Second == 0) {
            // The mark goes after the time that its label names; a message
            // without that label (the fallback's MFT-modified form marking the
            // creation time) still gets the remark.
            const long long label = platform::Find(message, zero_texts.Label);
            if (label >= 0)
                platform::Insert(message, label + static_cast<long long>(zero_texts.Label.size()) + Time_Text_Units,
                                 u"(Zero in 100-nanoseconds)");
            const long long anchor = platform::Find(message, Manipulated_Anchor);
            if (anchor >= 0)
                platform::Insert(message, anchor + static_cast<long long>(Manipulated_Anchor.size()),
                                 zero_texts.Zero_Remark);
        }
        AntiForneisc_Behavior_Detection_Detail& detail =
            Record_Finding(context_.g_Detection_Overview_Array, Finding_Category::Timestamp_Manipulation,
                           Finding_Source::UsnJrnl, platform::Cut_At_Nul(entry.LastUSN(rows_)), message);
        detail.EventTime = entry.LastEventTime(rows_);
    }

    // The positions in By_File's records of the file's records before its
    // last change, and after it.
    std::pair<std::size_t, std::size_t> Own_Records_Around(const Entry& entry, std::size_t& at) const {
        const Record_Lists& by_file = indexes_.By_File();
        const auto range = by_file.Range(entry.File);
        at = by_file.Position(range, entry.LastRecordIndex);
        return range;
    }

    // Rule A: the file was changed, moved out of another folder into its own
    // and changed again, all within seconds.
    bool Moved_Between_Changes(const Entry& entry) {
        const Record_Index last = entry.LastRecordIndex;
        const std::uint32_t window_start = indexes_.Move_Window_Start(last);
        std::size_t at = 0;
        const auto range = Own_Records_Around(entry, at);
        const Index_Array& records = indexes_.By_File().Records();
        const std::uint32_t entry_parent = facts_.Parent(entry.Name_Record);
        bool moved_in = false, moved_out = false;
        std::uint32_t old_parent = 0;
        for (std::size_t p = at; p-- > range.first;) {
            const Record_Index j = records[p];
            if (j + 1 <= window_start) return false;
            const std::uint32_t parent = facts_.Parent(j);
            if (!moved_in) {
                moved_in = facts_.Holds_All(j, Bit::File_Renamed_New | Bit::File_Closed) && parent == entry_parent;
            } else if (!moved_out) {
                if (facts_.Holds(j, Bit::File_Renamed_Old) && parent != entry_parent) {
                    moved_out = true;
                    old_parent = parent;
                }
            } else if (facts_.Holds_All(j, Bit::Basic_Info_Changed | Bit::File_Closed) && parent == old_parent) {
                return true;
            }
        }
        return false;
    }

    // Rule B: the file was moved to another folder right after the change.
    bool Moved_After_Change(const Entry& entry) {
        const Record_Index last = entry.LastRecordIndex;
        const std::uint32_t window_end = indexes_.Move_Window_End(last);
        std::size_t at = 0;
        const auto range = Own_Records_Around(entry, at);
        const Index_Array& records = indexes_.By_File().Records();
        const std::uint32_t entry_parent = facts_.Parent(entry.Name_Record);
        bool moved_out = false;
        for (std::size_t p = at + 1; p < range.second; ++p) {
            const Record_Index j = records[p];
            if (j >= window_end) return false;
            const std::uint32_t parent = facts_.Parent(j);
            if (!moved_out) {
                moved_out = facts_.Holds(j, Bit::File_Renamed_Old) && parent == entry_parent;
            } else if (facts_.Holds_All(j, Bit::File_Renamed_New | Bit::File_Closed)) {
                // Renamed within its folder: no move.
                return parent != entry_parent;
            }
        }
        return false;
    }

    // What the file's records after its last change hold, of the changes
    // that explain a time change.
    std::uint32_t Later_Changes(const Entry& entry) const {
        const Record_Lists& by_file = indexes_.By_File();
        const auto range = by_file.Range(entry.File);
        std::uint32_t later = 0;
        for (std::size_t p = by_file.After(range, entry.LastRecordIndex); p < range.second; ++p)
            later |= facts_.Reasons(by_file.Records()[p]);
        return later & Later_Changes_All;
    }

    // A write of the file's content within 2 s before its last change.
    bool Content_Written_Around(const Entry& entry) {
        const std::uint32_t window_start = indexes_.Content_Write_Window_Start(entry.LastRecordIndex);
        std::size_t at = 0;
        const auto range = Own_Records_Around(entry, at);
        const Index_Array& records = indexes_.By_File().Records();
        for (std::size_t p = at; p-- > range.first;) {
            const Record_Index j = records[p];
            if (j + 1 <= window_start) return false;
            if (facts_.Holds(j, Bit::Data_Added | Bit::Data_Overwritten | Bit::Data_Truncated)) return true;
        }
        return false;
    }

    // The mean distance of the earlier events to the last paired one. Each
    // distance is unsigned (an event after it counts as huge) and they are
    // summed without wrapping, so such an event keeps the mean huge.
    std::optional<float> Average_Gap(const Entry& entry) const {
        const std::int64_t n = entry.LastPairedIndex;
        if (n <= 0 || n >= static_cast<std::int64_t>(entry.EventCount)) return 0.0f;
        const Event_Time_Lists& times = context_.Basic_Info_Changed_Event_Times;
        std::uint32_t link = entry.EventTimes.First;
        for (std::int64_t k = 0; k < n; ++k) link = times.Next(link);
        const std::int64_t last = times.Time(link);
        double sum = 0;
        link = entry.EventTimes.First;
        for (std::int64_t k = 0; k < n; ++k, link = times.Next(link))
            sum += static_cast<double>(As_Unsigned(last - times.Time(link)));
        return Single_Ratio(sum, n);
    }

    // Of the other files' closing records in the folder, away from the
    // change's own burst, the share that closes a change of times.
    std::optional<float> Folder_Closing_Ratio(const Entry& entry) {
        const std::int64_t time = facts_.Seconds(entry.LastRecordIndex);
        const std::uint32_t parent = facts_.Parent(entry.Name_Record);
        // Records within 4 s either way are the burst.
        const std::int64_t near_from = time - static_cast<std::int64_t>(Folder_Burst_Seconds) + 1;
        const std::int64_t near_to = time + static_cast<std::int64_t>(Folder_Burst_Seconds);
        std::int64_t closed = indexes_.Closed_In(parent) - indexes_.Closed_Between(parent, near_from, near_to);
        std::int64_t basic_closed =
            indexes_.Basic_Closed_In(parent) - indexes_.Basic_Closed_Between(parent, near_from, near_to);
        // Less the file's own records there.
        const Record_Lists& by_file = indexes_.By_File();
        const auto own = by_file.Range(entry.File);
        for (std::size_t p = own.first; p < own.second; ++p) {
            const Record_Index r = by_file.Records()[p];
            if (facts_.Parent(r) != parent) continue;
            if (Magnitude(facts_.Seconds(r) - time) < Folder_Burst_Seconds) continue;
            if (facts_.Holds_Closed(r)) --closed;
            if (facts_.Holds_All(r, Bit::Basic_Info_Changed | Bit::File_Closed)) --basic_closed;
        }
        if (closed == 0 && basic_closed == 0) return 0.0f;
        return Single_Ratio(basic_closed, closed);
    }

    UsnJrnl_Detection_State& context_;
    const UsnJrnl_Info_Rows& rows_;
    const UsnJrnl_Facts& facts_;
    const Mft_Index& mft_;
    UsnJrnl_Timestamp_Indexes indexes_;
    Sibling_Evidence_Finder siblings_;
    Shifted_Time_Text_Maker time_text_;
};

}  // namespace

void Detect_UsnJrnl_Timestamp_Manipulation(UsnJrnl_Detection_State& context) {
    if (context.g_Basic_Info_Changed_Array.empty()) return;
    Read_UsnJrnl_Facts(context);
    Timestamp_Judge(context).Run();
}
