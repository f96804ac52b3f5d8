#include "detection/UsnJrnl_Record_Rules.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "detection/Match_Modes.h"
#include "detection/Program_Update_Periods.h"
#include "detection/Rule_Numbers.h"
#include "detection/Rule_Terms.h"
#include "detection/UsnJrnl_Basic_Info_Tracking.h"
#include "platform/text.h"

namespace {

using Usn_Reason::Data_Truncated;
using Usn_Reason::File_Closed;
using Usn_Reason::File_Created;
using Usn_Reason::File_Deleted;
using Usn_Reason::File_Renamed_New;
using Usn_Reason::File_Renamed_Old;

// The time before the first record: a first record dated earlier is a
// reversal.
constexpr std::u16string_view Initial_Previous_Time = u"1970-01-01 00:00:00";

// A clock moved by less than this either way is no manipulation.
constexpr std::uint64_t System_Time_Change_Seconds = 60;
// The settings tool's prefetch file counts as evidence of a forward jump when
// it was written at most this long before the record before the jump...
constexpr std::uint64_t Settings_Tool_Before_Seconds = 60;
// ...or at most this long after the record after it.
constexpr std::uint64_t Settings_Tool_After_Seconds = 5;
// Windows' date and time settings page runs as this program.
constexpr std::u16string_view Settings_Tool_Name = u"SYSTEMSETTINGSADMINFLOWS.EXE";

// A wiping tool renames a file over and over just before it deletes it.
constexpr std::size_t Wiping_Rename_Window = 50;
constexpr std::size_t Wiping_Rename_Count = 2;

// Windows itself renames and deletes in its own folder as well.
constexpr std::u16string_view Windows_Folder = u"\\Windows\\";

// Windows writes a program's prefetch file when the program has run: created
// or truncated and rewritten, then closed.
bool Is_Prefetch_Write(std::u16string_view file_name, std::u16string_view event) {
    return Is_Prefetch_Name(file_name) && Holds(event, File_Closed) &&
           (Holds(event, File_Created) || Holds(event, Data_Truncated));
}


// The three folders an installation row names, made once per run.
struct Installation_Folders {
    explicit Installation_Folders(const std::vector<_anti_forensic_program_installation_info>& rows) {
        for (const _anti_forensic_program_installation_info& row : rows)
            Of_Row.push_back({u"\\Program Files" + row.FolderName, u"\\Program Files (x86)" + row.FolderName,
                              u"\\AppData\\Roaming" + row.FolderName});
    }
    std::vector<std::array<std::u16string, 3>> Of_Row;
};

// One run of the pass: the rows, what it prepared from the signatures, and
// the time of the record before the current one.
class Record_Pass {
public:
    explicit Record_Pass(Detection_Context& context)
        : context_(context),
          rows_(context.g_UsnJrnl_Info_Array),
          seconds_(context.UsnJrnl_Record_Seconds),
          count_(rows_.size()),
          trace_rows_(context.g_Trace_Signature_Array),
          installation_folders_(context.g_Installation_Signature_Array),
          previous_time_(Initial_Previous_Time),
          previous_seconds_(Time_Text_Seconds(Initial_Previous_Time)) {}

    void Run() {
        for (std::size_t i = 0; i < count_; ++i) {
            Group_By_Update_Path(context_, i);
            if (!Detect_System_Time_Reversal(i)) Detect_System_Time_Forward_Jump(i);
            Track_Basic_Info_Changed(context_, i);
            Detect_Installation(i);
            Detect_Execution(i);
            Detect_Wiping_By_Renames(i);
            Detect_Trace(i);
            Detect_Document_Deletion(i);
            Add_To_Lifecycle_Maps(context_, i);
            previous_time_ = rows_.Field(i, Usn_Field::TimeStamp);
            previous_seconds_ = seconds_[i];
        }
    }

private:
    std::u16string_view Field(std::size_t i, Usn_Field field) const { return rows_.Field(i, field); }

    AntiForneisc_Behavior_Detection_Detail& Record(std::u16string_view category, std::size_t i,
                                                   std::u16string_view message) {
        AntiForneisc_Behavior_Detection_Detail& detail =
            Record_Finding(context_.g_Detection_Overview_Array, category, Finding_Source::UsnJrnl,
                           platform::Cut_At_Nul(Field(i, Usn_Field::USN)), message);
        detail.EventTime = Field(i, Usn_Field::TimeStamp);
        return detail;
    }

    bool Is_Carved(std::size_t i) const { return Field(i, Usn_Field::CarvingFlag) == u"Y"; }

    bool Detect_System_Time_Reversal(std::size_t i) {
        const std::u16string_view time = Field(i, Usn_Field::TimeStamp);
        if (!(previous_time_ > time)) return false;
        // A carved record may come from any time; it says nothing about the
        // clock.
        if (Is_Carved(i)) return false;
        if (As_Unsigned(previous_seconds_ - seconds_[i]) < System_Time_Change_Seconds) return false;
        Record(Finding_Category::System_Time_Manipulation, i,
               platform::Format(u"The system time reversal has occurred. (%s -> %s)", {previous_time_, time}));
        return true;
    }

    bool Shows_Settings_Tool(std::size_t j) const {
        const std::u16string_view name = Field(j, Usn_Field::FileName);
        return Holds(name, Settings_Tool_Name) && Is_Prefetch_Write(name, Field(j, Usn_Field::Event));
    }

    // The settings tool ran around a forward jump: the record itself is its
    // prefetch file, or the tool's prefetch file was written shortly before
    // the record before the jump or shortly after the record after it.
    bool Settings_Tool_Ran_Around(std::size_t i) const {
        const std::u16string_view name = Field(i, Usn_Field::FileName);
        if (Is_Prefetch_Name(name) && Holds(name, Settings_Tool_Name)) return true;
        const std::int64_t before = seconds_[i - 1];
        for (std::size_t j = i; j-- > 0;) {
            if (As_Unsigned(before - seconds_[j]) > Settings_Tool_Before_Seconds) break;
            if (Shows_Settings_Tool(j)) return true;
        }
        if (i + 1 == count_) return false;
        const std::int64_t after = seconds_[i + 1];
        for (std::size_t j = i + 1; j < count_; ++j) {
            if (As_Unsigned(seconds_[j] - after) > Settings_Tool_After_Seconds) break;
            if (Shows_Settings_Tool(j)) return true;
        }
        return false;
    }

    void Detect_System_Time_Forward_Jump(std::size_t i) {
        const std::u16string_view time = Field(i, Usn_Field::TimeStamp);
        if (!(previous_time_ < time) || i == 0 || Is_Carved(i)) return;
        if (As_Unsigned(seconds_[i] - previous_seconds_) < System_Time_Change_Seconds) return;
        // A jump at the last record without evidence before it ends only this
        // rule; the record still gets its later steps.
        if (!Settings_Tool_Ran_Around(i)) return;
        Record(Finding_Category::System_Time_Manipulation, i,
               platform::Format(u"The system time has moved forward more than 1 minute with running "
                                u"SystemSettingsAdminFlows.exe. (%s -> %s)",
                                {previous_time_, time}));
    }

    void Detect_Installation(std::size_t i) {
        if (Field(i, Usn_Field::FileAttr) != u"Directory" || !Event_Equals(Field(i, Usn_Field::Event), File_Created))
            return;
        const std::u16string_view full_path = Field(i, Usn_Field::FullPath);
        const auto& rows = context_.g_Installation_Signature_Array;
        for (std::size_t r = 0; r < rows.size(); ++r) {
            for (const std::u16string& folder : installation_folders_.Of_Row[r]) {
                const std::size_t at = full_path.find(folder);
                if (at == std::u16string_view::npos) continue;
                // The program's own folder, not one below it: no "\" follows
                // the folder text where it was found. Counted from the start
                // of the path instead, a folder found further in (below
                // \Users\<name>\AppData\Roaming) could never pass.
                if (full_path.find(u'\\', at + folder.size()) == std::u16string_view::npos)
                    Record(Finding_Category::Installation, i,
                           platform::Format(u"%s (%s) has been installed.", {rows[r].ProgramName, rows[r].ProgramType}));
                break;
            }
        }
    }

    void Detect_Execution(std::size_t i) {
        const std::u16string_view file_name = Field(i, Usn_Field::FileName);
        if (!Is_Prefetch_Write(file_name, Field(i, Usn_Field::Event))) return;
        // A prefetch name is "<PROGRAM>.EXE-<hash>.pf".
        const std::size_t ex = file_name.find(u".EX");
        if (ex == std::u16string_view::npos) return;
        const std::u16string_view key = file_name.substr(0, ex);
        for (const _anti_forensic_program_execution_info& row : context_.g_Execution_Signature_Array) {
            if (!Signature_Matches(row, key)) continue;
            Record(Finding_Category::Execution, i,
                   platform::Format(u"%s (%s) has been executed.", {row.ProgramName, row.ProgramType}))
                .RecordIndex = static_cast<std::uint32_t>(i);
        }
    }

    void Detect_Wiping_By_Renames(std::size_t i) {
        if (!Holds(Field(i, Usn_Field::Event), File_Deleted)) return;
        const std::u16string_view full_path = Field(i, Usn_Field::FullPath);
        if (full_path.empty() || Holds_Any(full_path, Program_Owned_Folders) || Holds(full_path, Windows_Folder)) return;
        const std::u16string_view reference = Field(i, Usn_Field::FileReferenceNumber);
        const std::u16string_view parent = Field(i, Usn_Field::ParentFileReferenceNumber);
        // The first record has none before it: no renames, and its later
        // steps still run.
        const std::size_t first = i > Wiping_Rename_Window ? i - Wiping_Rename_Window : 0;
        std::size_t renames = 0;
        for (std::size_t j = first; j < i; ++j) {
            if (Field(j, Usn_Field::FileReferenceNumber) == reference &&
                Field(j, Usn_Field::ParentFileReferenceNumber) == parent &&
                Event_Equals(Field(j, Usn_Field::Event), File_Renamed_Old))
                ++renames;
        }
        if (renames >= Wiping_Rename_Count)
            Record(Finding_Category::Traces, i, u"The Trace of Typical Data Wiping : Deletion after renaming more than 2 times");
    }

    void Detect_Trace(std::size_t i) {
        const std::u16string_view event = Field(i, Usn_Field::Event);
        const std::vector<const _anti_forensic_program_trace_info*>* candidates = nullptr;
        if (Event_Equals(event, File_Created)) candidates = &trace_rows_.Creation;
        else if (Event_Equals(event, File_Renamed_New)) candidates = &trace_rows_.Rename;
        else return;
        const std::u16string_view file_name = Field(i, Usn_Field::FileName);
        for (const _anti_forensic_program_trace_info* row : *candidates) {
            if (!Signature_Matches(*row, file_name)) continue;
            Record(Finding_Category::Traces, i,
                   platform::Format(u"%s (%s)'s trace has been remained.", {row->ProgramName, row->ProgramType}));
            return;
        }
    }

    // Every way out of this rule ends only the rule: a deletion of a file
    // without an extension, of a temporary document or of one in a program's
    // folder is still a deletion for the lifecycle maps that follow.
    void Detect_Document_Deletion(std::size_t i) {
        if (!Holds(Field(i, Usn_Field::Event), File_Deleted)) return;
        const std::u16string_view file_name = Field(i, Usn_Field::FileName);
        if (!Is_Reported_Document(file_name, Field(i, Usn_Field::FullPath))) return;

        Record(Finding_Category::Document_Deletion, i, platform::Format(u"\"%s\" has been deleted.", {file_name}));
    }

    Detection_Context& context_;
    const UsnJrnl_Info_Rows& rows_;
    const std::vector<std::int64_t>& seconds_;
    const std::size_t count_;
    const Trace_Rows_By_Operation trace_rows_;
    const Installation_Folders installation_folders_;
    std::u16string_view previous_time_;
    std::int64_t previous_seconds_;
};

}  // namespace

void Read_UsnJrnl_Record_Seconds(Detection_Context& context) {
    const UsnJrnl_Info_Rows& rows = context.g_UsnJrnl_Info_Array;
    std::vector<std::int64_t>& seconds = context.UsnJrnl_Record_Seconds;
    if (seconds.size() == rows.size()) return;
    seconds.clear();
    seconds.reserve(rows.size());
    // Records of one second share one stored time text; a run of them is
    // read once.
    std::u16string_view last_text;
    std::int64_t last_seconds = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::u16string_view text = rows.Field(i, Usn_Field::TimeStamp);
        if (i == 0 || text.data() != last_text.data() || text.size() != last_text.size()) {
            last_text = text;
            last_seconds = Time_Text_Seconds(text);
        }
        seconds.push_back(last_seconds);
    }
}

void Detect_UsnJrnl_Record_Rules(Detection_Context& context) {
    context.g_File_Created_Map.clear();
    context.g_File_Renamed_New_Map.clear();
    context.g_File_Deleted_Map.clear();
    context.g_File_Renamed_Old_Map.clear();
    context.g_Basic_Info_Changed_Array.clear();
    context.Basic_Info_Changed_Of_Reference.clear();
    Read_UsnJrnl_Record_Seconds(context);
    Prepare_Basic_Info_Tracking(context);
    Record_Pass(context).Run();
}
