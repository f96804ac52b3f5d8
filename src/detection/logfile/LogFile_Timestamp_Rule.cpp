#include "detection/logfile/LogFile_Timestamp_Rule.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "detection/logfile/LogFile_Event_Index.h"
#include "detection/logfile/LogFile_Event_Terms.h"
#include "detection/logfile/LogFile_History_Predicates.h"
#include "detection/logfile/LogFile_Timestamp_Messages.h"
#include "detection/Rule_Numbers.h"
#include "platform/text.h"

namespace {

using namespace Event_Bit;

// A creation of the file this many check points back or nearer makes it
// "created recently"; at the start of the log, at most this many.
constexpr std::size_t Created_Recently_Check_Points = 25;
constexpr std::size_t Created_At_Log_Start_Check_Points = 2;

// How far from a time change the ordinary causes of one are looked for.
constexpr std::uint64_t Modified_Before_Window = 0x6000;
constexpr std::uint64_t Written_Before_Window = 0x3000;
constexpr std::uint64_t Changed_After_Window = 0x10000;

// The forward walk of a recently created file ends when it passes its
// seventh check point; the look back for a small write at the second.
constexpr std::size_t Later_Change_Check_Points = 7;
constexpr std::size_t Small_Write_Check_Points = 2;
// A resident write this small is what a program does when it restores a
// file it has just created (a copy, an extraction).
constexpr long long Small_Write_Bytes = 40;

// "Writing Size : " holds 15 characters.
constexpr long long Writing_Size_Label_Length = 15;

// A time-change detail: "<label><old time> -> <new time>", the new time
// followed by a remark ("(Zero in 100-nanoseconds)", "(same as ...)"), by
// ", " and the next change, by " & " and an attribute change, or by nothing.
constexpr std::u16string_view Creation_Label = u"CreationTime : ";
constexpr std::u16string_view Time_Labels[] = {Creation_Label, u"ModifiedTime : ", u"MFTModifiedTime : ",
                                               u"AccessedTime : "};
constexpr std::u16string_view Arrow = u" -> ";
// " HH:MM:SS" after the date.
constexpr std::size_t Time_Of_Day_Length = 9;

// The time text that starts at `start`: its date up to the blank, then the
// time of day. A time past year 9999 carries all the digits of its year, so
// a time is not read as 19 characters at a fixed place: that cut such a time
// and misplaced the new time after it, and the change was never measured.
std::u16string_view Time_Text_At(std::u16string_view detail, std::size_t start) {
    if (start >= detail.size()) return {};
    const std::size_t blank = detail.find(u' ', start);
    const std::size_t end = blank == std::u16string_view::npos ? detail.size()
                                                               : std::min(detail.size(), blank + Time_Of_Day_Length);
    return detail.substr(start, end - start);
}

// Seconds from a label's old time to its new time in `detail`, or nothing
// when the label is absent.
bool Label_Change(std::u16string_view detail, std::u16string_view label, std::int64_t& new_minus_old) {
    const long long p = platform::Find(detail, label);
    if (p < 0) return false;
    const std::u16string_view old_time = Time_Text_At(detail, static_cast<std::size_t>(p) + label.size());
    const std::u16string_view new_time =
        Time_Text_At(detail, static_cast<std::size_t>(p) + label.size() + old_time.size() + Arrow.size());
    new_minus_old = Seconds_Between_Any_Years(new_time, old_time);
    return true;
}

// "ModifiedTime" (`modified`) found somewhere other than as the tail of
// the first "MFTModifiedTime" (`mft_modified`).
bool Own_Modified_Label(std::u16string_view detail, std::u16string_view modified, std::u16string_view mft_modified) {
    const long long m = platform::Find(detail, modified);
    if (m < 0) return false;
    const long long f = platform::Find(detail, mft_modified);
    return f < 0 || m != f + 3;
}

bool Modified_Pair(std::u16string_view detail) {
    return platform::Find(detail, u"ModifiedTime") == 0 && Holds(detail, u"MFTModifiedTime") &&
           !Holds(detail, u"CreationTime") && !Holds(detail, u"AccessedTime");
}

bool Creation_Only(std::u16string_view detail) {
    return platform::Find(detail, u"CreationTime") == 0 && !Holds(detail, u"ModifiedTime") &&
           !Holds(detail, u"MFTModifiedTime") && !Holds(detail, u"AccessedTime");
}

class Timestamp_Judgement {
public:
    Timestamp_Judgement(LogFile_Detection_State& context, const LogFile_Event_Index& index, std::size_t i)
        : context_(context),
          rows_(context.g_Log_Info_Array),
          x_(index),
          i_(i),
          detail_(rows_.Field(i, Log_Field::Detail)),
          path_(rows_.Field(i, Log_Field::FullPath)) {}

    void Run() {
        bool directory = false;
        if (Created_Recently(directory)) Judge_Created(directory);
        else Judge_Not_Created();
    }

private:
    // Whether a creation of the file lies within 25 check points back, or the
    // log starts within 2.
    bool Created_Recently(bool& directory) const {
        if (i_ == 0) return true;
        const LogFile_Event_Index::Row creation = x_.Creation_Before(i_);
        if (creation != LogFile_Event_Index::No_Row &&
            x_.Check_Points_Between(creation + 1, i_) < Created_Recently_Check_Points) {
            directory = x_.Is(creation, Holds_Directory);
            return true;
        }
        return x_.Check_Points_Between(0, i_) <= Created_At_Log_Start_Check_Points;
    }

    void Judge_Not_Created() {
        if (!Holds(detail_, u"CreationTime") && platform::Find(detail_, u"ModifiedTime") != 0)
            return Move_Sequence_Step();
        if (Is_Normal_CreationTime_Change(context_, i_, 0) == 1) return Record_Normal();
        if (Is_Paired_Time_Reversal(rows_, i_) == 1) {
            Record_Normal();
            return Move_Sequence_Step();
        }
        if (Ordinary_Cause_Around()) {
            Record_Normal();
            return Move_Sequence_Step();
        }
        if (Is_Significant_Time_Change(context_, i_) == 0) return Move_Sequence_Step();
        Record(Timestamp_Message_Form::Plain, Change_Kind(), {}, u"Tool");
    }

    // Deleted later, its modified time updated or its content written just
    // before, or its attributes changed or renamed just after: the time
    // change belongs to what a program did with the file.
    bool Ordinary_Cause_Around() const {
        if (x_.Deleted_After(i_)) return true;
        const std::uint64_t lsn = x_.Lsn(i_);
        // Unsigned distances: an event out of LSN order ends a walk.
        for (std::size_t j = i_; j-- > 0;) {
            if (x_.Same_File(i_, j) && x_.Is(j, Holds_Updating_Modified)) return true;
            if (lsn - x_.Lsn(j) > Modified_Before_Window) break;
        }
        for (std::size_t j = i_; j-- > 0;) {
            if (x_.Same_File(i_, j) && x_.Is(j, Holds_Writing_Content)) return true;
            if (lsn - x_.Lsn(j) > Written_Before_Window) break;
        }
        for (std::size_t k = i_ + 1; k < x_.Size(); ++k) {
            if (x_.Same_File(i_, k) && x_.Is(k, Holds_Changing_Attribute | Holds_Renaming_File)) return true;
            if (x_.Lsn(k) - lsn > Changed_After_Window) break;
        }
        return false;
    }

    void Judge_Created(bool directory) {
        if (directory || !Holds(detail_, u"CreationTime")) return Move_Sequence_Step();
        if (Is_Normal_CreationTime_Change(context_, i_, 1) == 1) return Record_Normal();
        if (Is_Paired_Time_Reversal(rows_, i_) == 1) {
            Record_Normal();
            return Move_Sequence_Step();
        }
        const bool gone = x_.Deleted_After(i_) || path_.empty();
        if (gone || Changed_Later_Or_Name_Taken() || Small_Write_Before()) {
            Record_Normal();
            if (gone) return;
            return Move_Sequence_Step();
        }
        if (Is_Significant_Time_Change(context_, i_) == 0) return Move_Sequence_Step();
        std::u16string first_step;
        if (const int before = Check_Move_Sequence_Before(context_, i_, first_step); before > 0)
            return Record(Timestamp_Message_Form::Detected, Sequence_Kind(before), first_step, u"Malware");
        if (Check_Move_Sequence_After(context_, i_) == 1)
            return Record(Timestamp_Message_Form::Moved, Change_Kind(), {}, u"Malware");
        Record(Timestamp_Message_Form::Plain, Change_Kind(), {}, u"Malware");
    }

    // Within seven check points after the change: the file's times were
    // updated again and not set back (a program finishing its copy), it was
    // renamed and then updated, or another file was renamed to its name.
    bool Changed_Later_Or_Name_Taken() const {
        const bool has_mft = Holds(detail_, u"MFTModifiedTime : ");
        const bool has_modified = Own_Modified_Label(detail_, u"ModifiedTime : ", u"MFTModifiedTime : ");
        const LogFile_Event_Index::Row last_cp = x_.Check_Point_After(i_, Later_Change_Check_Points);
        const std::size_t ceiling = last_cp == LogFile_Event_Index::No_Row ? x_.Size() - 1 : last_cp;

        // The first rename of another file to event i's name ends the walk.
        std::size_t name_taken_at = ceiling + 1;
        const std::u16string_view name = rows_.Field(i_, Log_Field::FileName);
        for (const LogFile_Event_Index::Row k : Rows_Between(x_.Renamed_To(name), i_ + 1, ceiling)) {
            if (!x_.Same_File(i_, k)) {
                name_taken_at = k;
                break;
            }
        }

        bool mft_updated = false, mft_reversed = false, modified_updated = false, modified_reversed = false;
        bool rename_then_update = false;
        bool previous_renamed = false;  // the previous event of the file was a rename
        const auto events = x_.File_Events(i_);
        for (std::size_t q = x_.Position_In_File(i_) + 1; q < events.size(); ++q) {
            const std::size_t k = events[q];
            if (k >= name_taken_at) break;
            const bool reversal = x_.Is(k, Holds_Time_Reversal);
            if (has_mft && x_.Is(k, Holds_Updating_MFTModified | Holds_Changing_Attribute)) mft_updated = true;
            if (mft_updated && reversal && Holds(rows_.Field(k, Log_Field::Detail), u"MFTModifiedTime :"))
                mft_reversed = true;
            if (has_modified && x_.Is(k, Holds_Updating_Modified)) modified_updated = true;
            if (modified_updated && reversal &&
                Own_Modified_Label(rows_.Field(k, Log_Field::Detail), u"ModifiedTime :", u"MFTModifiedTime :"))
                modified_reversed = true;
            if (x_.Is(k, Holds_Updating_MFTModified) && previous_renamed) {
                rename_then_update = true;
                break;
            }
            previous_renamed = x_.Is(k, Holds_Renaming_File);
        }
        if (name_taken_at <= ceiling && !rename_then_update) return true;

        const bool lacks_a_time = !(Holds(detail_, u"CreationTime : ") && Holds(detail_, u"ModifiedTime : ") &&
                                    Holds(detail_, u"AccessedTime : "));
        return rename_then_update || (mft_updated && !mft_reversed) ||
               (modified_updated && !modified_reversed && lacks_a_time);
    }

    // Within two check points before: a small write to the file's resident
    // content.
    bool Small_Write_Before() const {
        const LogFile_Event_Index::Row first_cp = x_.Check_Point_Before(i_, Small_Write_Check_Points);
        const std::size_t floor = first_cp == LogFile_Event_Index::No_Row ? 0 : first_cp;
        const auto events = x_.File_Events(i_);
        for (std::size_t q = x_.Position_In_File(i_); q-- > 0;) {
            const std::size_t j = events[q];
            if (j < floor) break;
            if (!x_.Is(j, Holds_Writing_Resident)) continue;
            const std::u16string_view detail = rows_.Field(j, Log_Field::Detail);
            if (Holds(detail, u"Writing Size : ") &&
                platform::Read_Decimal(detail.substr(std::min<std::size_t>(Writing_Size_Label_Length, detail.size()))) <
                    Small_Write_Bytes)
                return true;
        }
        return false;
    }

    // Only a time set back is followed into a move sequence.
    void Move_Sequence_Step() {
        if (!x_.Is(i_, Holds_Time_Reversal)) return;
        std::u16string first_step;
        if (const int before = Check_Move_Sequence_Before(context_, i_, first_step); before > 0)
            return Record(Timestamp_Message_Form::Detected_By_Move_Step, Sequence_Kind(before), first_step, u"Malware");
        if (Check_Move_Sequence_After(context_, i_) == 1)
            Record(Timestamp_Message_Form::Moved, Change_Kind(), {}, u"Malware");
    }

    Timestamp_Change_Kind Change_Kind() const {
        return x_.Is(i_, Holds_Time_Reversal) ? Timestamp_Change_Kind::Past : Timestamp_Change_Kind::Future;
    }
    static Timestamp_Change_Kind Sequence_Kind(int before) {
        return before == 1 ? Timestamp_Change_Kind::Reversal_First : Timestamp_Change_Kind::Update_First;
    }

    void Record_Normal() {
        const std::u16string_view name = rows_.Field(i_, Log_Field::FileName);
        context_.g_Normal_Time_Reversal_Array.push_back({std::u16string(path_), std::u16string(name)});
        // Creation times set forward are also kept apart, so that the
        // suppression can judge "changed to the future" findings the way it
        // judges "changed to the past" ones.
        if (Change_Kind() == Timestamp_Change_Kind::Future)
            context_.g_Normal_Creation_Time_Update_Array.push_back({std::u16string(path_), std::u16string(name)});
    }

    void Record(Timestamp_Message_Form form, Timestamp_Change_Kind kind, std::u16string_view first_step,
                std::u16string_view tool_kind) {
        const std::u16string_view file_name = rows_.Field(i_, Log_Field::FileName);
        const bool guessed = Holds(file_name, u"<Guessed>");
        Timestamp_Variant variant = Timestamp_Variant::None;
        if (Holds(detail_, u"(Zero in 100-nanoseconds)")) variant = Timestamp_Variant::Zero;
        else if (Holds(detail_, u"(same as")) variant = Timestamp_Variant::Using;
        const std::u16string_view format = Timestamp_Message_Format(form, kind, variant, guessed);
        const std::u16string_view name = Without_Guessed_Mark(file_name);
        const std::u16string_view lsn = rows_.Field(i_, Log_Field::LSN);
        const bool detected =
            form == Timestamp_Message_Form::Detected || form == Timestamp_Message_Form::Detected_By_Move_Step;
        AntiForneisc_Behavior_Detection_Detail& d = Record_Finding(
            context_.g_Detection_Overview_Array, Finding_Category::Timestamp_Manipulation, Finding_Source::LogFile,
            platform::Cut_At_Nul(lsn),
            detected ? platform::Format(format, {name, first_step, lsn}) : platform::Format(format, {name, detail_}));
        d.ToolKind = tool_kind;
        // The detected form speaks of a sequence of events, not of one path.
        if (!detected) d.FullPath = path_;
    }

    LogFile_Detection_State& context_;
    const Log_Info_Rows& rows_;
    const LogFile_Event_Index& x_;
    std::size_t i_;
    std::u16string_view detail_;
    std::u16string_view path_;
};

}  // namespace

int Is_Paired_Time_Reversal(const Log_Info_Rows& rows, std::size_t i) {
    if (!Holds(rows.Field(i, Log_Field::Event), LogFile_Event_Text(Log_Event::Time_Reversal_Event))) return 0;
    const auto reversal_with = [&](std::size_t j, bool (*shape)(std::u16string_view)) {
        return Holds(rows.Field(j, Log_Field::Event), LogFile_Event_Text(Log_Event::Time_Reversal_Event)) &&
               shape(rows.Field(j, Log_Field::Detail));
    };
    const std::u16string_view detail = rows.Field(i, Log_Field::Detail);
    if (Modified_Pair(detail)) return i + 1 < rows.size() && reversal_with(i + 1, Creation_Only) ? 1 : 0;
    if (Creation_Only(detail)) return i >= 1 && reversal_with(i - 1, Modified_Pair) ? 1 : 0;
    return 0;
}

int Is_Significant_Time_Change(const LogFile_Detection_State& context, std::size_t i) {
    const Log_Info_Rows& rows = context.g_Log_Info_Array;
    const std::u16string_view event = rows.Field(i, Log_Field::Event);
    const std::u16string_view detail = rows.Field(i, Log_Field::Detail);
    std::int64_t new_minus_old = 0;
    if (Holds(event, LogFile_Event_Text(Log_Event::Time_Reversal_Event))) {
        // A field moved forward never counts.
        for (const std::u16string_view label : Time_Labels)
            if (Label_Change(detail, label, new_minus_old) &&
                -new_minus_old >= static_cast<std::int64_t>(context.g_Time_Reversal_Threshold))
                return 1;
        return 0;
    }
    if (Holds(event, LogFile_Event_Text(Log_Event::CreationTime_Update_Event)))
        return Label_Change(detail, Creation_Label, new_minus_old) &&
                       new_minus_old >= static_cast<std::int64_t>(context.g_CreationTime_Update_Threshold)
                   ? 1
                   : 0;
    return 0;
}

void Detect_LogFile_Timestamp_Manipulation(LogFile_Detection_State& context, std::size_t i) {
    const LogFile_Event_Index& index = LogFile_Event_Index_Of(context);
    if (i >= index.Size() || !index.Is(i, Holds_Time_Reversal | Holds_CreationTime_Update)) return;
    // Files dragged into a virtual machine land in this temporary folder
    // with the times of their source.
    const std::u16string_view path = context.g_Log_Info_Array.Field(i, Log_Field::FullPath);
    if (Holds(path, u"\\AppData\\Local\\Temp\\") && Holds(path, u"\\VMwareDnD\\")) return;
    Timestamp_Judgement(context, index, i).Run();
}
