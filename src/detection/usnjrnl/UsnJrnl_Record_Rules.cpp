#include "detection/usnjrnl/UsnJrnl_Record_Rules.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "detection/Match_Modes.h"
#include "detection/usnjrnl/Program_Update_Periods.h"
#include "detection/Rule_Numbers.h"
#include "detection/Rule_Terms.h"
#include "detection/usnjrnl/UsnJrnl_Basic_Info_Tracking.h"
#include "platform/text.h"

namespace {

namespace Bit = Usn_Reason_Bit;

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
bool Is_Prefetch_Write(const UsnJrnl_Facts& facts, std::size_t i) {
    return facts.Holds(i, Bit::File_Closed) && facts.Holds(i, Bit::File_Created | Bit::Data_Truncated);
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
    explicit Record_Pass(UsnJrnl_Detection_State& context)
        : context_(context),
          rows_(context.g_UsnJrnl_Info_Array),
          facts_(*context.UsnJrnl_Record_Facts),
          count_(rows_.size()),
          trace_rows_(context.g_Trace_Signature_Array),
          installation_folders_(context.g_Installation_Signature_Array),
          initial_seconds_(Time_Text_Seconds(Initial_Previous_Time)) {}

    void Run() {
        std::size_t next_candidate = 0;
        for (std::size_t i = 0; i < count_; ++i) {
            Group_By_Update_Path(context_, i);
            const int order = Previous_Time_Order(i);
            if (order > 0) Detect_System_Time_Reversal(i);
            else if (order < 0) Detect_System_Time_Forward_Jump(i);
            Track_Basic_Info_Changed(context_, i, next_candidate);
            Detect_Installation(i);
            Detect_Execution(i);
            Detect_Wiping_By_Renames(i);
            Detect_Trace(i);
            Detect_Document_Deletion(i);
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

    // The time of the record before i (of none before the first), and its
    // text order against record i's.
    std::int64_t Previous_Seconds(std::size_t i) const { return i == 0 ? initial_seconds_ : facts_.Seconds(i - 1); }
    std::u16string_view Previous_Time(std::size_t i) const {
        return i == 0 ? Initial_Previous_Time : Field(i - 1, Usn_Field::TimeStamp);
    }
    // Positive when the time text before record i comes after its own,
    // negative when before.
    int Previous_Time_Order(std::size_t i) const {
        return i == 0 ? facts_.Compare_Time_Texts(Initial_Previous_Time, initial_seconds_, i)
                      : facts_.Compare_Time_Texts(i - 1, i);
    }

    // Runs when the time before record i comes after its own.
    void Detect_System_Time_Reversal(std::size_t i) {
        // A carved record may come from any time; it says nothing about the
        // clock.
        if (facts_.Carved(i)) return;
        if (As_Unsigned(Previous_Seconds(i) - facts_.Seconds(i)) < System_Time_Change_Seconds) return;
        Record(Finding_Category::System_Time_Manipulation, i,
               platform::Format(u"The system time reversal has occurred. (%s -> %s)",
                                {Previous_Time(i), Field(i, Usn_Field::TimeStamp)}));
    }

    bool Shows_Settings_Tool(std::size_t j) const {
        if (!Is_Prefetch_Write(facts_, j)) return false;
        const std::u16string_view name = Field(j, Usn_Field::FileName);
        return Holds(name, Settings_Tool_Name) && Is_Prefetch_Name(name);
    }

    // The settings tool ran around a forward jump: the record itself is its
    // prefetch file, or the tool's prefetch file was written shortly before
    // the record before the jump or shortly after the record after it.
    bool Settings_Tool_Ran_Around(std::size_t i) const {
        const std::u16string_view name = Field(i, Usn_Field::FileName);
        if (Is_Prefetch_Name(name) && Holds(name, Settings_Tool_Name)) return true;
        const std::int64_t before = facts_.Seconds(i - 1);
        for (std::size_t j = i; j-- > 0;) {
            if (As_Unsigned(before - facts_.Seconds(j)) > Settings_Tool_Before_Seconds) break;
            if (Shows_Settings_Tool(j)) return true;
        }
        if (i + 1 == count_) return false;
        const std::int64_t after = facts_.Seconds(i + 1);
        for (std::size_t j = i + 1; j < count_; ++j) {
            if (As_Unsigned(facts_.Seconds(j) - after) > Settings_Tool_After_Seconds) break;
            if (Shows_Settings_Tool(j)) return true;
        }
        return false;
    }

    // Runs when the time before record i comes before its own.
    void Detect_System_Time_Forward_Jump(std::size_t i) {
        if (i == 0 || facts_.Carved(i)) return;
        if (As_Unsigned(facts_.Seconds(i) - Previous_Seconds(i)) < System_Time_Change_Seconds) return;
        // A jump at the last record without evidence before it ends only this
        // rule; the record still gets its later steps.
        if (!Settings_Tool_Ran_Around(i)) return;
        Record(Finding_Category::System_Time_Manipulation, i,
               platform::Format(u"The system time has moved forward more than 1 minute with running "
                                u"SystemSettingsAdminFlows.exe. (%s -> %s)",
                                {Previous_Time(i), Field(i, Usn_Field::TimeStamp)}));
    }

    void Detect_Installation(std::size_t i) {
        if (!facts_.Attributes_Are_Directory(i) || !facts_.Event_Is(i, Bit::File_Created)) return;
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
        if (!Is_Prefetch_Write(facts_, i)) return;
        const std::u16string_view file_name = Field(i, Usn_Field::FileName);
        if (!Is_Prefetch_Name(file_name)) return;
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
        if (!facts_.Holds(i, Bit::File_Deleted)) return;
        const std::u16string_view full_path = Field(i, Usn_Field::FullPath);
        if (full_path.empty() || Holds_Any(full_path, Program_Owned_Folders) || Holds(full_path, Windows_Folder)) return;
        const std::uint32_t file = facts_.File(i);
        const std::uint32_t parent = facts_.Parent(i);
        // The first record has none before it: no renames, and its later
        // steps still run.
        const std::size_t first = i > Wiping_Rename_Window ? i - Wiping_Rename_Window : 0;
        std::size_t renames = 0;
        for (std::size_t j = first; j < i; ++j) {
            if (facts_.File(j) == file && facts_.Parent(j) == parent && facts_.Event_Is(j, Bit::File_Renamed_Old))
                ++renames;
        }
        if (renames >= Wiping_Rename_Count)
            Record(Finding_Category::Traces, i, u"The Trace of Typical Data Wiping : Deletion after renaming more than 2 times");
    }

    void Detect_Trace(std::size_t i) {
        const std::vector<const _anti_forensic_program_trace_info*>* candidates = nullptr;
        if (facts_.Event_Is(i, Bit::File_Created)) candidates = &trace_rows_.Creation;
        else if (facts_.Event_Is(i, Bit::File_Renamed_New)) candidates = &trace_rows_.Rename;
        else return;
        if (candidates->empty()) return;
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
        if (!facts_.Holds(i, Bit::File_Deleted)) return;
        const std::u16string_view file_name = Field(i, Usn_Field::FileName);
        if (!Is_Reported_Document(file_name, Field(i, Usn_Field::FullPath))) return;

        Record(Finding_Category::Document_Deletion, i, platform::Format(u"\"%s\" has been deleted.", {file_name}));
    }

    UsnJrnl_Detection_State& context_;
    const UsnJrnl_Info_Rows& rows_;
    const UsnJrnl_Facts& facts_;
    const std::size_t count_;
    const Trace_Rows_By_Operation trace_rows_;
    const Installation_Folders installation_folders_;
    const std::int64_t initial_seconds_;
};

}  // namespace

void Read_UsnJrnl_Facts(UsnJrnl_Detection_State& context) {
    const UsnJrnl_Info_Rows& rows = context.g_UsnJrnl_Info_Array;
    if (context.UsnJrnl_Record_Facts && context.UsnJrnl_Record_Facts->size() == rows.size()) return;
    context.UsnJrnl_Records_By_File.reset();
    context.UsnJrnl_Record_Facts.reset();
    context.UsnJrnl_Record_Facts = std::make_unique<UsnJrnl_Facts>(rows);
}

const Record_Lists& Records_By_File(UsnJrnl_Detection_State& context) {
    if (!context.UsnJrnl_Records_By_File) {
        Read_UsnJrnl_Facts(context);
        const UsnJrnl_Facts& facts = *context.UsnJrnl_Record_Facts;
        context.UsnJrnl_Records_By_File = std::make_unique<Record_Lists>(
            facts.size(), facts.File_Count(), [&](std::size_t i) { return facts.File(i); });
    }
    return *context.UsnJrnl_Records_By_File;
}

void Detect_UsnJrnl_Record_Rules(UsnJrnl_Detection_State& context) {
    context.g_Basic_Info_Changed_Array.clear();
    context.Basic_Info_Changed_Event_Times.clear();
    context.UsnJrnl_Records_By_File.reset();
    Read_UsnJrnl_Facts(context);
    Prepare_Basic_Info_Tracking(context);
    // The tracking looks up creations before each record; the other maps
    // are read only after the pass.
    Build_Creation_Map(context);
    Record_Pass(context).Run();
    Finish_Basic_Info_Tracking(context);
    Build_Lifecycle_Maps(context);
}
