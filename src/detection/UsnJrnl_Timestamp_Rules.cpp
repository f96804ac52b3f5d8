#include "detection/Rule_Terms.h"
#include "detection/UsnJrnl_Timestamp_Rules.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "detection/Match_Modes.h"
#include "detection/Rule_Numbers.h"
#include "detection/UsnJrnl_Basic_Info_Tracking.h"
#include "detection/UsnJrnl_Record_Rules.h"
#include "ntfs/mft/Mft_Index.h"
#include "output/Time_Text.h"
#include "platform/text.h"

namespace {

using Entry = _usnjrnl_basic_info_changed_last_event_time;

using Usn_Reason::Basic_Info_Changed;
using Usn_Reason::File_Closed;
using Usn_Reason::File_Deleted;
using Usn_Reason::File_Renamed_New;
using Usn_Reason::File_Renamed_Old;

// Gaps between the $SI times and the journal's own times that a tool's
// rewrite leaves, and that a normal write does not.
constexpr std::uint64_t Time_Gap_Seconds = 5;
constexpr std::uint64_t Creation_Event_Gap_Seconds = 2;
// A file saved through a new file replaces one deleted this shortly before.
constexpr std::uint64_t Save_Window_Seconds = 5;
// A file takes the place of one deleted or renamed away less than this before.
constexpr std::uint64_t Replacement_Window_Seconds = 16;
// Creation records this close describe the same creation.
constexpr std::uint64_t Same_Creation_Seconds = 1;
// A content write this close to the change explains the MFT-modified time.
constexpr std::uint64_t Content_Write_Window_Seconds = 2;
// A move of the file within this long of its change belongs to it.
constexpr std::uint64_t Move_Window_Seconds = 6;
// Records of the folder this close to the change are the change's own burst.
constexpr std::uint64_t Folder_Burst_Seconds = 5;
// A tool's execution this close to the change (in time and in records)
// made it.
constexpr std::uint64_t Tool_Link_Seconds = 1;
constexpr std::uint64_t Tool_Link_Records = 5;
// A file whose content was rewritten and that is larger than this keeps
// times that a rewrite set.
constexpr std::uint64_t Rewritten_Size_Bytes = 0x1000;
// FILETIME ticks in a second: a time set by a tool often has none.
constexpr std::uint64_t Filetime_Ticks_Per_Second = 10'000'000;

// The later changes that explain a time change, in bit order.
constexpr std::array<std::u16string_view, 17> Later_Change_Words = {
    u"Compression_Changed",      u"Data_Added",
    u"Data_Overwritten",         u"Data_Truncated",
    u"Extended_Attr_Changed",    u"Encryption_Changed",
    u"Hard_Link_Changed",        u"Content_Indexed_Attr_Changed",
    u"Integrity_Changed",        u"Named_Data_Stream_Added",
    u"Named_Data_Stream_Overwritten", u"Named_Stream_Truncated",
    u"File_Renamed_New",         u"File_Renamed_Old",
    u"Reparse_Point_Changed",    u"Named_Stream_Changed",
    u"Transacted_Changed"};
constexpr std::uint32_t Bit_Compression = 1u << 0;
constexpr std::uint32_t Bit_Data_Added = 1u << 1;
constexpr std::uint32_t Bit_Data_Truncated = 1u << 3;
// From "Extended_Attr_Changed" to "Transacted_Changed".
constexpr std::uint32_t Bits_Attribute_Changes = ((1u << 17) - 1) & ~((1u << 4) - 1);
constexpr std::uint32_t Bits_All = (1u << 17) - 1;

std::uint32_t Later_Change_Bits(std::u16string_view event) {
    std::uint32_t bits = 0;
    for (std::size_t w = 0; w < Later_Change_Words.size(); ++w)
        if (Holds(event, Later_Change_Words[w])) bits |= 1u << w;
    return bits;
}

// The name up to its last ".", or the whole name.
std::u16string_view Base_Name(std::u16string_view name) {
    const std::size_t dot = name.rfind(u'.');
    return dot == std::u16string_view::npos ? name : name.substr(0, dot);
}

// What the judging of the entries looks up, made once from the rows and the
// entries so that no rule scans the whole journal for one entry.
struct Timestamp_Indexes {
    explicit Timestamp_Indexes(const Detection_Context& context)
        : By_File(*context.UsnJrnl_Records_By_File),
          By_Parent(context.g_UsnJrnl_Info_Array, Usn_Field::ParentFileReferenceNumber) {
        const UsnJrnl_Info_Rows& rows = context.g_UsnJrnl_Info_Array;
        const std::vector<std::int64_t>& seconds = context.UsnJrnl_Record_Seconds;
        // The later changes of each file: at each position, what the file's
        // records from there on hold.
        const std::vector<Record_Index>& by_file = By_File.Records();
        Later_Bits.assign(by_file.size(), 0);
        for (std::size_t id = 0; id < By_File.Key_Count(); ++id) {
            const auto [first, last] = By_File.Range_Of_Id(id);
            std::uint32_t bits = 0;
            for (std::size_t p = last; p-- > first;) {
                bits |= Later_Change_Bits(rows.Field(by_file[p], Usn_Field::Event));
                Later_Bits[p] = bits;
            }
        }
        // Each folder's records in time order, with running counts of the
        // closing records.
        Parent_By_Time = By_Parent.Records();
        for (std::size_t id = 0; id < By_Parent.Key_Count(); ++id) {
            const auto [first, last] = By_Parent.Range_Of_Id(id);
            std::stable_sort(Parent_By_Time.begin() + static_cast<std::ptrdiff_t>(first),
                             Parent_By_Time.begin() + static_cast<std::ptrdiff_t>(last),
                             [&](Record_Index a, Record_Index b) { return seconds[a] < seconds[b]; });
        }
        Closed_Before.assign(Parent_By_Time.size() + 1, 0);
        Basic_Closed_Before.assign(Parent_By_Time.size() + 1, 0);
        for (std::size_t p = 0; p < Parent_By_Time.size(); ++p) {
            const std::u16string_view event = rows.Field(Parent_By_Time[p], Usn_Field::Event);
            const bool closed = Holds(event, u"Closed");
            const bool basic_closed = Holds(event, Basic_Info_Changed) && Holds(event, File_Closed);
            Closed_Before[p + 1] = Closed_Before[p] + (closed ? 1 : 0);
            Basic_Closed_Before[p + 1] = Basic_Closed_Before[p] + (basic_closed ? 1 : 0);
        }
        // Where the scans around a change end, so that they visit only the
        // file's own records however many records of other files share
        // those seconds.
        Move_Window_Start = Backward_Window_Ends(seconds, static_cast<std::int64_t>(Move_Window_Seconds) - 1);
        Move_Window_End = Forward_Window_Ends(seconds, static_cast<std::int64_t>(Move_Window_Seconds) - 1);
        Content_Write_Window_Start = Backward_Window_Ends(seconds, static_cast<std::int64_t>(Content_Write_Window_Seconds));
        // The entries by reference and by (name, parent), for the evidence
        // of sibling files.
        const auto& entries = context.g_Basic_Info_Changed_Array;
        for (std::size_t e = 0; e < entries.size(); ++e) {
            if (!entries[e]) continue;
            Entries_Of_Reference[platform::Read_Hexadecimal(entries[e]->FileReferenceNumber)].push_back(e);
            Entries_Of_Name[{entries[e]->FileName, platform::Read_Hexadecimal(entries[e]->ParentFileReferenceNumber)}]
                .push_back(e);
        }
    }

    struct Name_Parent {
        std::u16string_view Name;
        std::uint64_t Parent;
        bool operator==(const Name_Parent&) const = default;
    };
    struct Name_Parent_Hash {
        std::size_t operator()(const Name_Parent& key) const {
            return std::hash<std::u16string_view>()(key.Name) ^ (key.Parent * 0x9E3779B97F4A7C15ull);
        }
    };

    const Record_Lists& By_File;
    Record_Lists By_Parent;
    std::vector<std::uint32_t> Later_Bits;
    // By_Parent's ranges, each sorted by time.
    std::vector<Record_Index> Parent_By_Time;
    std::vector<std::uint32_t> Closed_Before;
    std::vector<std::uint32_t> Basic_Closed_Before;
    // Per record: index + 1 of the record that ends a backward scan (0:
    // the start ends it), and the index of the record that ends a forward
    // scan (the count: the end).
    std::vector<std::uint32_t> Move_Window_Start;
    std::vector<std::uint32_t> Move_Window_End;
    std::vector<std::uint32_t> Content_Write_Window_Start;
    std::unordered_map<std::uint64_t, std::vector<std::size_t>> Entries_Of_Reference;
    std::unordered_map<Name_Parent, std::vector<std::size_t>, Name_Parent_Hash> Entries_Of_Name;
};

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

// Evidence from a sibling file that the times were copied from it.
struct Sibling_Evidence {
    bool Same_As = false;
    bool Same_Modified = false;
    std::u16string Text;
};

// How a tracked sibling disqualifies itself as evidence: its creation record
// disagrees with its $SI creation time, or it is tracked at all.
enum class Tracked_Sibling_Test { Mismatch, Any };

class Timestamp_Judge {
public:
    explicit Timestamp_Judge(Detection_Context& context)
        : context_(context),
          rows_(context.g_UsnJrnl_Info_Array),
          seconds_(context.UsnJrnl_Record_Seconds),
          mft_(context.g_Parsing_Context.Mft),
          indexes_(context),
          time_text_(context.g_Parsing_Context.Hour_Offset) {}

    void Run() {
        auto& entries = context_.g_Basic_Info_Changed_Array;
        for (std::size_t e = 0; e < entries.size(); ++e)
            if (entries[e]) Judge(e, *entries[e]);
    }

    int Find_UsnJrnl_File_Deleted(const Entry& entry, std::u16string Tc, std::u16string Tm, std::u16string Tf) const {
        if (entry.CreatedKnown != 1 || !(Tc < entry.CreatedEventTime) || !(Tm < entry.CreatedEventTime)) return 0;
        const std::size_t dot = entry.FileName.rfind(u'.');
        if (dot == std::u16string_view::npos) return 0;
        // Nothing in the folder can match when the last change is not the
        // MFT-modified time.
        if (entry.LastEventTime != Tf) return 0;
        const std::u16string_view base = entry.FileName.substr(0, dot);
        const Record_Index last = entry.LastRecordIndex;
        const std::int64_t time = seconds_[last];
        const auto range = indexes_.By_Parent.Range(rows_.Field(last, Usn_Field::ParentFileReferenceNumber));
        const std::vector<Record_Index>& records = indexes_.By_Parent.Records();
        // The folder's records before the last change, latest first.
        for (std::size_t p = std::lower_bound(records.begin() + static_cast<std::ptrdiff_t>(range.first),
                                              records.begin() + static_cast<std::ptrdiff_t>(range.second), last) -
                             records.begin();
             p-- > range.first;) {
            const Record_Index j = records[p];
            if (As_Unsigned(time - seconds_[j]) > Save_Window_Seconds) return 0;
            const std::u16string_view name = rows_.Field(j, Usn_Field::FileName);
            const std::size_t other_dot = name.rfind(u'.');
            if (other_dot != std::u16string_view::npos && name.substr(0, other_dot) == base &&
                Holds(rows_.Field(j, Usn_Field::Event), File_Deleted))
                return 1;
        }
        return 0;
    }

private:
    std::u16string Time_Text(std::uint64_t filetime) { return time_text_.Text(filetime); }

    void Judge(std::size_t index, Entry& entry) {
        if (entry.LastUSN.empty() || entry.FullPath.empty()) return;
        const _ENTRYINFO_2* own = mft_.Find_By_Reference(platform::Read_Hexadecimal(entry.FileReferenceNumber));
        if (own == nullptr || own->IsDeleted == 1 || own->IsDirectory == 1 || own->HasZoneIdentifier == 1) return;
        const std::u16string Tc = Time_Text(own->CreateTime);
        const std::u16string Tm = Time_Text(own->ModifiedTime);
        const std::u16string Tf = Time_Text(own->MFT_ModifiedTime);

        entry.RenamedNewRecords.clear();
        const auto renamed = context_.g_File_Renamed_New_Map.find(platform::Read_Hexadecimal(entry.FileReferenceNumber));
        entry.HasRenamedNew = renamed != context_.g_File_Renamed_New_Map.end() ? 1 : 0;
        if (entry.HasRenamedNew == 1) entry.RenamedNewRecords = renamed->second.Records;

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
        if (Check_Candidate_Ratios(entry) == 1 || Find_UsnJrnl_File_Deleted(entry, Tc, Tm, Tf) == 1 ||
            Match_UsnJrnl_Records_Within_15s(context_, entry) == 1)
            return false;
        const std::uint32_t later = Later_Changes(entry);
        bool content_rewritten = false;
        if ((later & Bit_Compression) != 0) return true;
        if ((later & Bit_Data_Added) != 0) {
            // Written anew: only a truncation and a write, nothing else.
            if ((later & Bit_Data_Truncated) == 0 ||
                (later & Bits_All & ~(Bit_Compression | Bit_Data_Added | Bit_Data_Truncated)) != 0)
                return true;
            content_rewritten = true;
        } else if ((later & (Bit_Data_Truncated | Bits_Attribute_Changes)) != 0) {
            return true;
        }

        Sibling_Evidence evidence;
        if (entry.CreationEventGapFlag == 0) {
            const bool own_times_equal = own.CreateTime == own.ModifiedTime || Tc == Tm ||
                                         (content_rewritten && own.DataSize > Rewritten_Size_Bytes);
            evidence = Scan_Siblings(index, entry, own, Tracked_Sibling_Test::Mismatch,
                                     platform::Format(u"CreationTime(%s) and ModifiedTime(%s) are same as %s",
                                                      {Tc, Tm, u"%s"}),
                                     true, true, Tm);
            if (!own_times_equal && !evidence.Same_As) return true;
        } else {
            evidence = Scan_Siblings(index, entry, own, Tracked_Sibling_Test::Mismatch,
                                     platform::Format(u"CreationTime(%s) is same as %s", {Tc, u"%s"}), true, true, Tm);
        }
        const bool decorate = evidence.Same_As || evidence.Same_Modified;
        Apply_Rules(entry, Form::Creation, Tc, own.CreateTime, decorate ? &evidence.Text : nullptr);
        return false;
    }

    bool Mft_Branch(std::size_t index, Entry& entry, const _ENTRYINFO_2& own, const std::u16string& Tc,
                    const std::u16string& Tf) {
        if (Check_Candidate_Ratios(entry) == 1 || Match_UsnJrnl_Records_Within_15s(context_, entry) == 1) return false;
        const auto range = indexes_.By_File.Range(entry.FileReferenceNumber);
        if (indexes_.By_File.After(range, entry.LastRecordIndex) < range.second) return true;

        Sibling_Evidence evidence;
        const std::u16string both = platform::Format(u"CreationTime(%s) is same as %s", {Tc, u"%s"});
        if (entry.CreatedKnown == 1 && entry.CreationEventGapFlag == 0) {
            const bool all_times_equal =
                own.CreateTime == own.ModifiedTime && own.ModifiedTime == own.MFT_ModifiedTime;
            evidence = Scan_Siblings(index, entry, own, Tracked_Sibling_Test::Any, both, false, false, u"");
            if (!all_times_equal && !evidence.Same_As) return true;
        } else {
            if (Content_Written_Around(entry)) return false;
            evidence = Scan_Siblings(index, entry, own, Tracked_Sibling_Test::Mismatch, both, true, false,
                                     Time_Text(own.ModifiedTime));
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
        const std::u16string_view event_time = form == Form::Creation ? entry.CreatedEventTime : entry.LastEventTime;
        std::u16string message = platform::Format(format, {entry.FileName, time_text, event_time});
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
                           Finding_Source::UsnJrnl, platform::Cut_At_Nul(entry.LastUSN), message);
        detail.EventTime = entry.LastEventTime;
    }

    // The positions in By_File's records of the file's records before its
    // last change, and after it.
    std::pair<std::size_t, std::size_t> Own_Records_Around(const Entry& entry, std::size_t& at) const {
        const auto range = indexes_.By_File.Range(entry.FileReferenceNumber);
        const std::vector<Record_Index>& records = indexes_.By_File.Records();
        at = static_cast<std::size_t>(std::lower_bound(records.begin() + static_cast<std::ptrdiff_t>(range.first),
                                                       records.begin() + static_cast<std::ptrdiff_t>(range.second),
                                                       entry.LastRecordIndex) -
                                      records.begin());
        return range;
    }

    // Rule A: the file was changed, moved out of another folder into its own
    // and changed again, all within seconds.
    bool Moved_Between_Changes(const Entry& entry) const {
        const Record_Index last = entry.LastRecordIndex;
        const std::uint32_t window_start = indexes_.Move_Window_Start[last];
        std::size_t at = 0;
        const auto range = Own_Records_Around(entry, at);
        const std::vector<Record_Index>& records = indexes_.By_File.Records();
        bool moved_in = false, moved_out = false;
        std::u16string_view old_parent;
        for (std::size_t p = at; p-- > range.first;) {
            const Record_Index j = records[p];
            if (j + 1 <= window_start) return false;
            const std::u16string_view event = rows_.Field(j, Usn_Field::Event);
            const std::u16string_view parent = rows_.Field(j, Usn_Field::ParentFileReferenceNumber);
            if (!moved_in) {
                moved_in = Holds(event, File_Renamed_New) && Holds(event, File_Closed) &&
                           parent == entry.ParentFileReferenceNumber;
            } else if (!moved_out) {
                if (Holds(event, File_Renamed_Old) && parent != entry.ParentFileReferenceNumber) {
                    moved_out = true;
                    old_parent = parent;
                }
            } else if (Holds(event, Basic_Info_Changed) && Holds(event, File_Closed) && parent == old_parent) {
                return true;
            }
        }
        return false;
    }

    // Rule B: the file was moved to another folder right after the change.
    bool Moved_After_Change(const Entry& entry) const {
        const Record_Index last = entry.LastRecordIndex;
        const std::uint32_t window_end = indexes_.Move_Window_End[last];
        std::size_t at = 0;
        const auto range = Own_Records_Around(entry, at);
        const std::vector<Record_Index>& records = indexes_.By_File.Records();
        bool moved_out = false;
        for (std::size_t p = at + 1; p < range.second; ++p) {
            const Record_Index j = records[p];
            if (j >= window_end) return false;
            const std::u16string_view event = rows_.Field(j, Usn_Field::Event);
            const std::u16string_view parent = rows_.Field(j, Usn_Field::ParentFileReferenceNumber);
            if (!moved_out) {
                moved_out = Holds(event, File_Renamed_Old) && parent == entry.ParentFileReferenceNumber;
            } else if (Holds(event, File_Renamed_New) && Holds(event, File_Closed)) {
                // Renamed within its folder: no move.
                return parent != entry.ParentFileReferenceNumber;
            }
        }
        return false;
    }

    std::uint32_t Later_Changes(const Entry& entry) const {
        const auto range = indexes_.By_File.Range(entry.FileReferenceNumber);
        const std::size_t after = indexes_.By_File.After(range, entry.LastRecordIndex);
        return after < range.second ? indexes_.Later_Bits[after] : 0;
    }

    // A write of the file's content within 2 s before its last change.
    bool Content_Written_Around(const Entry& entry) const {
        const std::uint32_t window_start = indexes_.Content_Write_Window_Start[entry.LastRecordIndex];
        std::size_t at = 0;
        const auto range = Own_Records_Around(entry, at);
        const std::vector<Record_Index>& records = indexes_.By_File.Records();
        for (std::size_t p = at; p-- > range.first;) {
            const Record_Index j = records[p];
            if (j + 1 <= window_start) return false;
            const std::u16string_view event = rows_.Field(j, Usn_Field::Event);
            if (Holds(event, u"Data_Added") || Holds(event, u"Data_Overwritten") || Holds(event, u"Data_Truncated"))
                return true;
        }
        return false;
    }

    // The mean distance of the earlier events to the last paired one. Each
    // distance is unsigned (an event after it counts as huge) and they are
    // summed without wrapping, so such an event keeps the mean huge.
    static std::optional<float> Average_Gap(const Entry& entry) {
        const std::int64_t n = entry.LastPairedIndex;
        if (n <= 0 || static_cast<std::size_t>(n) >= entry.EventTimes.size()) return 0.0f;
        const std::int64_t last = entry.EventTimes[static_cast<std::size_t>(n)];
        double sum = 0;
        for (std::int64_t k = 0; k < n; ++k)
            sum += static_cast<double>(As_Unsigned(last - entry.EventTimes[static_cast<std::size_t>(k)]));
        return Single_Ratio(sum, n);
    }

    // Of the other files' closing records in the folder, away from the
    // change's own burst, the share that closes a change of times.
    std::optional<float> Folder_Closing_Ratio(const Entry& entry) const {
        const std::int64_t time = seconds_[entry.LastRecordIndex];
        const auto range = indexes_.By_Parent.Range(entry.ParentFileReferenceNumber);
        const std::vector<Record_Index>& by_time = indexes_.Parent_By_Time;
        const auto begin = by_time.begin() + static_cast<std::ptrdiff_t>(range.first);
        const auto end = by_time.begin() + static_cast<std::ptrdiff_t>(range.second);
        // Records within 4 s either way are the burst.
        const std::size_t near_first = static_cast<std::size_t>(
            std::lower_bound(begin, end, time - static_cast<std::int64_t>(Folder_Burst_Seconds) + 1,
                             [&](Record_Index r, std::int64_t t) { return seconds_[r] < t; }) -
            by_time.begin());
        const std::size_t near_last = static_cast<std::size_t>(
            std::lower_bound(begin, end, time + static_cast<std::int64_t>(Folder_Burst_Seconds),
                             [&](Record_Index r, std::int64_t t) { return seconds_[r] < t; }) -
            by_time.begin());
        const auto outside = [&](const std::vector<std::uint32_t>& before) {
            return std::int64_t{before[range.second]} - before[range.first] - (before[near_last] - before[near_first]);
        };
        std::int64_t closed = outside(indexes_.Closed_Before);
        std::int64_t basic_closed = outside(indexes_.Basic_Closed_Before);
        // Less the file's own records there.
        const auto own = indexes_.By_File.Range(entry.FileReferenceNumber);
        for (std::size_t p = own.first; p < own.second; ++p) {
            const Record_Index r = indexes_.By_File.Records()[p];
            if (rows_.Field(r, Usn_Field::ParentFileReferenceNumber) != entry.ParentFileReferenceNumber) continue;
            if (Magnitude(seconds_[r] - time) < Folder_Burst_Seconds) continue;
            const std::u16string_view event = rows_.Field(r, Usn_Field::Event);
            if (Holds(event, u"Closed")) --closed;
            if (Holds(event, Basic_Info_Changed) && Holds(event, File_Closed)) --basic_closed;
        }
        if (closed == 0 && basic_closed == 0) return 0.0f;
        return Single_Ratio(basic_closed, closed);
    }

    // Looks among the files of the entry's folder for one whose $SI times
    // the file's own equal: the times were copied from it. `both_format`
    // holds "%s" where the sibling's name goes.
    Sibling_Evidence Scan_Siblings(std::size_t index, const Entry& entry, const _ENTRYINFO_2& own,
                                   Tracked_Sibling_Test test, const std::u16string& both_format,
                                   bool modified_step, bool creation_branch, const std::u16string& Tm) {
        Sibling_Evidence found;
        const std::uint64_t parent = platform::Read_Hexadecimal(entry.ParentFileReferenceNumber);
        const std::u16string own_base = platform::MakeLower(Base_Name(own.Name));
        // A sibling whose modified time differs from the file's own is
        // evidence of nothing: only those with the same modified time are
        // visited, in the folder's order.
        for (const _ENTRYINFO_2* candidate : Siblings_Modified_At(parent, own.ModifiedTime)) {
            const _ENTRYINFO_2& sibling = *candidate;
            if (sibling.Name == own.Name) continue;
            const std::u16string base = platform::MakeLower(Base_Name(sibling.Name));
            // A copy or another version of the file itself is no witness.
            if (base.size() >= 3 && own_base.size() >= 3 &&
                (base == own_base || base.starts_with(own_base) || own_base.starts_with(base)))
                continue;
            if (Tracked_Sibling_Fails(index, sibling, parent, test)) continue;
            if (sibling.CreateTime == own.CreateTime && sibling.ModifiedTime == own.ModifiedTime) {
                found.Text = both_format;
                platform::Replace(found.Text, u"%s", platform::Cut_At_Nul(sibling.Name));
                found.Same_As = true;
                return found;
            }
            if (!modified_step || sibling.ModifiedTime != own.ModifiedTime) continue;
            found.Text = platform::Format(u"ModifiedTime(%s) is same as %s", {Tm, sibling.Name});
            if (creation_branch) found.Same_Modified = true;
            // In a folder where programs keep their scratch copies, an equal
            // modified time is enough.
            const std::size_t last = entry.FullPath.rfind(u'\\');
            if (last == std::u16string_view::npos) continue;
            const std::u16string_view folder = entry.FullPath.substr(0, last + 1);
            for (const _key_temp_path_info& row : context_.g_Key_Temp_Path_Array) {
                if (Signature_Matches(row, folder)) {
                    found.Same_As = true;
                    return found;
                }
            }
        }
        return found;
    }

    // The children of `parent` whose modified time is `modified`, in the
    // folder's order; each folder is sorted out once, when first asked.
    const std::vector<const _ENTRYINFO_2*>& Siblings_Modified_At(std::uint64_t parent, std::uint64_t modified) {
        auto [folder, made] = siblings_by_modified_.try_emplace(parent);
        if (made)
            for (const _ENTRYINFO_2& child : mft_.Children_Of(parent)) folder->second[child.ModifiedTime].push_back(&child);
        static const std::vector<const _ENTRYINFO_2*> none;
        const auto found = folder->second.find(modified);
        return found == folder->second.end() ? none : found->second;
    }

    bool Tracked_Sibling_Fails(std::size_t index, const _ENTRYINFO_2& sibling, std::uint64_t parent,
                               Tracked_Sibling_Test test) {
        const auto& entries = context_.g_Basic_Info_Changed_Array;
        bool fails = false;
        std::u16string sibling_creation;
        const auto judge = [&](std::size_t b) {
            if (b == index || fails || !entries[b]) return;
            const Entry& other = *entries[b];
            if (test == Tracked_Sibling_Test::Any) {
                fails = true;
                return;
            }
            if (other.CreatedKnown != 1) return;
            if (sibling_creation.empty()) sibling_creation = Time_Text(sibling.CreateTime);
            if (other.CreatedEventTime != sibling_creation) fails = true;
        };
        const auto by_reference = indexes_.Entries_Of_Reference.find(sibling.FileReference);
        if (by_reference != indexes_.Entries_Of_Reference.end())
            for (const std::size_t b : by_reference->second) judge(b);
        const auto by_name = indexes_.Entries_Of_Name.find({sibling.Name, parent});
        if (by_name != indexes_.Entries_Of_Name.end())
            for (const std::size_t b : by_name->second) judge(b);
        return fails;
    }

    Detection_Context& context_;
    const UsnJrnl_Info_Rows& rows_;
    const std::vector<std::int64_t>& seconds_;
    const Mft_Index& mft_;
    const Timestamp_Indexes indexes_;
    Shifted_Time_Text_Maker time_text_;
    std::unordered_map<std::uint64_t, std::unordered_map<std::uint64_t, std::vector<const _ENTRYINFO_2*>>>
        siblings_by_modified_;
};

// The program folder's key of a tracked file's path: up to and including
// its depth-th "\" counted from the second character on.
std::optional<std::u16string_view> Program_Key_Of(std::u16string_view full_path, std::uint64_t depth) {
    if (depth == 0) return full_path.substr(0, 1);
    std::size_t from = 1;
    std::size_t hit = std::u16string_view::npos;
    for (std::uint64_t found = 0; found < depth; ++found) {
        hit = full_path.find(u'\\', from);
        if (hit == std::u16string_view::npos) return std::nullopt;
        from = hit + 1;
    }
    return full_path.substr(0, hit + 1);
}

void Attach_To_Period(Detection_Context& context, Entry& entry) {
    const _program_update_path_info* update_path = nullptr;
    for (const _program_update_path_info& row : context.g_Update_Path_Signature_Array) {
        if (Signature_Matches(row, entry.FullPath)) {
            update_path = &row;
            break;
        }
    }
    if (update_path == nullptr) return;
    const std::optional<std::u16string_view> key = Program_Key_Of(entry.FullPath, update_path->FolderDepth);
    if (!key) return;
    const auto group = context.Program_Group_Of_Key.find(*key);
    if (group == context.Program_Group_Of_Key.end() || group->second >= context.Program_Update_Period_Group_Array.size())
        return;
    for (const auto& period : context.Program_Update_Period_Group_Array[group->second]->Periods) {
        if (!(period->StartTime <= entry.LastEventTime && entry.LastEventTime <= period->EndTime)) continue;
        ++period->TrackedEntries;
        if (entry.CreationGapFlag == 1) ++period->CreationGapEntries;
        else if (entry.ModifiedGapFlag == 1) ++period->ModifiedGapEntries;
        entry.Period = period.get();
        return;
    }
}

}  // namespace

int Check_Candidate_Ratios(const Entry& entry) {
    const Program_Update_Period* period = entry.Period;
    if (period == nullptr) return 0;
    // A large program folder that existed before, much of it touched.
    if (period->FolderCreated == 0 && period->FolderFileCount >= 70 &&
        Ratio_At_Least(Single_Ratio(period->FilesSeen, period->FolderFileCount), 0.4))
        return 1;
    if (Ratio_At_Least(Single_Ratio(period->FilesWithoutBasicInfo, period->FilesSeen), 0.7)) return 1;
    std::optional<float> gap_share = 0.0f;
    if (entry.CreationGapFlag == 1) gap_share = Single_Ratio(period->CreationGapEntries, period->FilesSeen);
    else if (entry.ModifiedGapFlag == 1) gap_share = Single_Ratio(period->ModifiedGapEntries, period->FilesSeen);
    if (Ratio_At_Most(gap_share, 0.3)) return 1;
    if (period->FilesCreated == 0) {
        if (entry.CreatedKnown == 0) return 1;
    } else if (Ratio_At_Most(Single_Ratio(period->FilesCreated, period->FilesSeen), 0.5)) {
        return 1;
    }
    if (period->DirectoriesCreated == 0) return 0;
    const std::optional<float> without = Single_Ratio(period->DirectoriesWithoutBasicInfo, period->DirectoriesSeen);
    if (Ratio_At_Least(without, 0.5)) return 1;
    if (without && *without == 0.0f &&
        Ratio_Below(Single_Ratio(period->DirectoriesTimeChanged, period->DirectoriesSeen), 0.5))
        return 1;
    return 0;
}

int Match_UsnJrnl_Records_Within_15s(const Detection_Context& context, const Entry& entry) {
    const UsnJrnl_Info_Rows& rows = context.g_UsnJrnl_Info_Array;
    const std::vector<std::int64_t>& seconds = context.UsnJrnl_Record_Seconds;
    const auto usn = [&](Record_Index r) { return platform::Read_Unsigned_Decimal(rows.Field(r, Usn_Field::USN)); };
    const auto in_window = [&](Record_Index r, std::int64_t d) {
        return As_Unsigned(d - seconds[r]) < Replacement_Window_Seconds;
    };
    // The record that went away was itself created at the same moment (a
    // program's own save sequence): no replacement.
    const auto replaced = [&](Record_Index gone, std::int64_t d) {
        const auto created =
            context.g_File_Created_Map.find(platform::Read_Hexadecimal(rows.Field(gone, Usn_Field::FileReferenceNumber)));
        if (created == context.g_File_Created_Map.end()) return 1;
        return Magnitude(seconds[created->second] - d) <= Same_Creation_Seconds ? 0 : 1;
    };
    if (entry.CreatedKnown == 1) {
        const std::int64_t d = Time_Text_Seconds(entry.CreatedEventTime);
        if (const UsnJrnl_Record_Group2* deleted =
                context.g_File_Deleted_Map.Find(entry.CreatedFileName, entry.ParentFileReferenceNumber)) {
            for (const Record_Index r : deleted->Records)
                if (usn(r) < entry.CreatedUSN && in_window(r, d)) return replaced(r, d);
        }
        if (const UsnJrnl_Record_Group2* renamed =
                context.g_File_Renamed_Old_Map.Find(entry.CreatedFileName, entry.ParentFileReferenceNumber)) {
            for (const Record_Index r : renamed->Records)
                if (rows.Field(r, Usn_Field::FileReferenceNumber) != entry.FileReferenceNumber &&
                    usn(r) < entry.CreatedUSN && in_window(r, d))
                    return 1;
        }
    }
    if (entry.HasRenamedNew == 1) {
        for (const Record_Index moved_in : entry.RenamedNewRecords) {
            const std::int64_t d = seconds[moved_in];
            const std::uint64_t moved_usn = usn(moved_in);
            const std::u16string_view name = rows.Field(moved_in, Usn_Field::FileName);
            const std::u16string_view parent = rows.Field(moved_in, Usn_Field::ParentFileReferenceNumber);
            const std::u16string_view reference = rows.Field(moved_in, Usn_Field::FileReferenceNumber);
            if (const UsnJrnl_Record_Group2* deleted = context.g_File_Deleted_Map.Find(name, parent)) {
                for (const Record_Index r : deleted->Records)
                    if (usn(r) < moved_usn && in_window(r, d)) return 1;
            }
            if (const UsnJrnl_Record_Group2* renamed = context.g_File_Renamed_Old_Map.Find(name, parent)) {
                for (const Record_Index r : renamed->Records) {
                    if (rows.Field(r, Usn_Field::FileReferenceNumber) == reference || usn(r) >= moved_usn ||
                        !in_window(r, d))
                        continue;
                    if (entry.CreatedKnown == 0) return 1;
                    return replaced(r, d);
                }
            }
        }
    }
    return 0;
}

void Classify_Basic_Info_Changed_Entries(Detection_Context& context) {
    const Mft_Index& mft = context.g_Parsing_Context.Mft;
    Shifted_Time_Text_Maker time_text(context.g_Parsing_Context.Hour_Offset);
    for (const auto& slot : context.g_Basic_Info_Changed_Array) {
        if (!slot || slot->LastUSN.empty() || slot->FullPath.empty()) continue;
        Entry& entry = *slot;
        const _ENTRYINFO_2* own = mft.Find_By_Reference(platform::Read_Hexadecimal(entry.FileReferenceNumber));
        if (own != nullptr && own->IsDeleted == 0) {
            const std::int64_t last = Time_Text_Seconds(entry.LastEventTime);
            const std::int64_t mft_modified = Time_Text_Seconds(time_text.Text(own->MFT_ModifiedTime));
            if (entry.CreatedKnown == 1) {
                entry.SI_CreationTime = time_text.Text(own->CreateTime);
                const std::int64_t created = Time_Text_Seconds(entry.CreatedEventTime);
                if (Magnitude(created - Time_Text_Seconds(entry.SI_CreationTime)) > Time_Gap_Seconds)
                    entry.CreationGapFlag = 1;
                if (Magnitude(created - last) > Creation_Event_Gap_Seconds) entry.CreationEventGapFlag = 1;
            }
            if (Magnitude(last - mft_modified) > Time_Gap_Seconds) entry.ModifiedGapFlag = 1;
        }
        Attach_To_Period(context, entry);
    }
}

void Detect_UsnJrnl_Timestamp_Manipulation(Detection_Context& context) {
    if (context.g_Basic_Info_Changed_Array.empty()) return;
    // Made by the per-record pass; made here when the pass did not run.
    if (!context.UsnJrnl_Records_By_File || context.UsnJrnl_Record_Seconds.size() != context.g_UsnJrnl_Info_Array.size()) {
        Read_UsnJrnl_Record_Seconds(context);
        Prepare_Basic_Info_Tracking(context);
    }
    Timestamp_Judge(context).Run();
}

void Free_UsnJrnl_Working_Objects(Detection_Context& context) {
    context.Program_Group_Of_Key.clear();
    context.Program_Operation_Candidate_Group_Array.clear();
    context.Program_Update_Period_Group_Array.clear();
    context.g_File_Created_Map.clear();
    context.g_File_Renamed_New_Map.clear();
    context.g_File_Deleted_Map.clear();
    context.g_File_Renamed_Old_Map.clear();
    for (const auto& entry : context.g_Basic_Info_Changed_Array)
        if (entry) entry->Period = nullptr;
}

void Link_UsnJrnl_Timestamp_Tool_Execution(Detection_Context& context) {
    auto& entries = context.g_Basic_Info_Changed_Array;
    // The changed files by the second of their last change.
    std::vector<std::pair<std::int64_t, std::size_t>> by_time;
    for (std::size_t e = 0; e < entries.size(); ++e)
        if (entries[e] && !entries[e]->LastUSN.empty())
            by_time.emplace_back(context.UsnJrnl_Record_Seconds[entries[e]->LastRecordIndex], e);
    std::sort(by_time.begin(), by_time.end());

    constexpr std::u16string_view Tool_Mark = u"(Timestamp Manipulation)";
    // The execution findings are read by index: the link may add timestamp
    // findings, never execution ones.
    for (std::size_t o = 0; o < context.g_Detection_Overview_Array.size(); ++o) {
        // A pointer, not a reference into the list: filing a new finding may
        // grow the list.
        const AntiForneisc_Behavior_Detection_Overview* overview = context.g_Detection_Overview_Array[o].get();
        if (overview->Category != Finding_Category::Execution || overview->Source != Finding_Source::UsnJrnl) continue;
        for (std::size_t d = 0; d < overview->Details.size(); ++d) {
            const AntiForneisc_Behavior_Detection_Detail& execution = *overview->Details[d];
            const long long mark = platform::Find(execution.Message, Tool_Mark);
            if (mark < 0) continue;
            // "<program> (Timestamp Manipulation) has been executed."; each
            // finding names its own tool.
            const std::u16string tool = mark > 2 ? platform::Left(execution.Message, mark - 1) : std::u16string();

            const std::int64_t time = Time_Text_Seconds(execution.EventTime);
            const std::uint64_t location = platform::Read_Unsigned_Decimal(execution.DetectionLocation);
            const auto first = std::lower_bound(by_time.begin(), by_time.end(),
                                                std::make_pair(time - static_cast<std::int64_t>(Tool_Link_Seconds),
                                                               std::size_t{0}));
            std::size_t chosen = entries.size();
            std::uint64_t nearest = 0;
            for (auto it = first; it != by_time.end() && it->first <= time + static_cast<std::int64_t>(Tool_Link_Seconds);
                 ++it) {
                const std::uint64_t distance =
                    Distance(platform::Read_Unsigned_Decimal(entries[it->second]->LastUSN), location);
                // Ties go to the entry made first.
                if (chosen == entries.size() || distance < nearest || (distance == nearest && it->second < chosen)) {
                    chosen = it->second;
                    nearest = distance;
                }
            }
            if (chosen == entries.size()) continue;
            Entry& entry = *entries[chosen];
            if (Distance(execution.RecordIndex, entry.LastRecordIndex) >= Tool_Link_Records) continue;

            if (entry.Reported == 1) {
                const std::u16string manipulated =
                    tool.empty() ? std::u16string(u"have been manipulated after executing timestamp manipulcation tool")
                                 : platform::Format(u"have been manipulated after executing %s", {tool});
                for (const auto& timestamp_overview : context.g_Detection_Overview_Array) {
                    if (timestamp_overview->Category != Finding_Category::Timestamp_Manipulation ||
                        timestamp_overview->Source != Finding_Source::UsnJrnl)
                        continue;
                    for (const auto& finding : timestamp_overview->Details) {
                        if (finding->DetectionLocation != platform::Cut_At_Nul(entry.LastUSN)) continue;
                        platform::Replace(finding->Message, u"[Suspicious]", u"[Malicious]");
                        platform::Replace(finding->Message, u"have been manipulated", manipulated);
                    }
                }
            } else {
                AntiForneisc_Behavior_Detection_Detail& finding = Record_Finding(
                    context.g_Detection_Overview_Array, Finding_Category::Timestamp_Manipulation,
                    Finding_Source::UsnJrnl, platform::Cut_At_Nul(entry.LastUSN),
                    platform::Format(u"[Suspicious] The timestamp of \"%s\" may have been manipulated after executing %s.",
                                     {entry.FileName, tool}));
                finding.EventTime = entry.LastEventTime;
            }
        }
    }
}
