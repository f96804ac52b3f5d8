#include "detection/logfile/LogFile_Event_Rules.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "detection/logfile/LogFile_Event_Terms.h"
#include "detection/logfile/LogFile_Timestamp_Rule.h"
#include "detection/Match_Modes.h"
#include "platform/text.h"

namespace {

constexpr std::u16string_view File_Creation = LogFile_Event_Text(Log_Event::File_Creation);
constexpr std::u16string_view Renaming_File = LogFile_Event_Text(Log_Event::Renaming_File);
constexpr std::u16string_view File_Deletion = LogFile_Event_Text(Log_Event::File_Deletion);

// Earlier events further than this below a wiped file's deletion no longer
// count as part of the wipe (the first one beyond still does).
constexpr std::uint64_t Wiping_Lsn_Window = 0x2000;

void Record(LogFile_Detection_State& context, std::u16string_view category, std::size_t i,
            std::u16string_view message) {
    Record_Finding(context.g_Detection_Overview_Array, category, Finding_Source::LogFile,
                   platform::Cut_At_Nul(context.g_Log_Info_Array.Field(i, Log_Field::LSN)), message);
}

void Detect_LogFile_Execution(LogFile_Detection_State& context, std::size_t i) {
    const Log_Info_Rows& rows = context.g_Log_Info_Array;
    const std::u16string_view event = rows.Field(i, Log_Field::Event);
    if (event != File_Creation && !Holds(event, LogFile_Event_Text(Log_Event::Updating_Modified_Time))) return;
    const std::u16string_view file_name = rows.Field(i, Log_Field::FileName);
    if (!Is_Prefetch_Name(Without_Guessed_Mark(file_name))) return;
    // The key is cut from the whole name, mark included: a prefetch name is
    // "<PROGRAM>.EXE-<hash>.pf".
    const std::size_t ex = file_name.find(u".EX");
    if (ex == std::u16string_view::npos) return;
    const std::u16string_view key = file_name.substr(0, ex);
    for (const _anti_forensic_program_execution_info& row : context.g_Execution_Signature_Array) {
        if (!Signature_Matches(row, key)) continue;
        Record(context, Finding_Category::Execution, i,
               platform::Format(u"%s (%s) has been executed.", {row.ProgramName, row.ProgramType}));
    }
}

void Detect_LogFile_Trace(LogFile_Detection_State& context, const Trace_Rows_By_Operation& trace_rows, std::size_t i) {
    const Log_Info_Rows& rows = context.g_Log_Info_Array;
    const std::u16string_view event = rows.Field(i, Log_Field::Event);
    const std::vector<const _anti_forensic_program_trace_info*>* candidates = nullptr;
    if (event == File_Creation) candidates = &trace_rows.Creation;
    else if (event == Renaming_File) candidates = &trace_rows.Rename;
    else return;
    const std::u16string_view file_name = rows.Field(i, Log_Field::FileName);
    for (const _anti_forensic_program_trace_info* row : *candidates) {
        if (!Signature_Matches(*row, file_name)) continue;
        Record(context, Finding_Category::Traces, i,
               platform::Format(u"%s (%s)'s trace has been remained.", {row->ProgramName, row->ProgramType}));
        return;
    }
}

void Detect_LogFile_Data_Wiping(LogFile_Detection_State& context, std::size_t i) {
    const Log_Info_Rows& rows = context.g_Log_Info_Array;
    if (!Holds(rows.Field(i, Log_Field::Event), File_Deletion)) return;
    if (!Holds(rows.Field(i, Log_Field::Detail), u"Abnormal Timestamp")) return;
    const std::uint64_t deletion_lsn = Lsn_Of(rows, i);
    bool renamed = false;
    bool reversed = false;
    for (std::size_t j = i; j-- > 0;) {
        if (Same_File(rows, i, j)) {
            const std::u16string_view event = rows.Field(j, Log_Field::Event);
            // An earlier deletion of the file: what came before it belongs to
            // a file that no longer exists.
            if (Holds(event, File_Deletion)) break;
            if (Holds(event, Renaming_File)) renamed = true;
            if (Holds(event, LogFile_Event_Text(Log_Event::Time_Reversal_Event))) reversed = true;
        }
        // Unsigned: an earlier event with a larger LSN ends the walk too.
        if (deletion_lsn - Lsn_Of(rows, j) > Wiping_Lsn_Window) break;
    }
    if (renamed && reversed)
        Record(context, Finding_Category::Traces, i,
               u"The Trace of Typical Data Wiping : Deletion after Renaming and Timestamp Manipulation");
}

void Detect_LogFile_Document_Deletion(LogFile_Detection_State& context, std::size_t i) {
    const Log_Info_Rows& rows = context.g_Log_Info_Array;
    if (rows.Field(i, Log_Field::Event) != File_Deletion) return;
    const std::u16string_view file_name = rows.Field(i, Log_Field::FileName);
    if (!Is_Reported_Document(file_name, rows.Field(i, Log_Field::FullPath))) return;

    Record(context, Finding_Category::Document_Deletion, i, platform::Format(u"\"%s\" has been deleted.", {file_name}));
}

}  // namespace

void Detect_LogFile_Event_Rules(LogFile_Detection_State& context) {
    const Trace_Rows_By_Operation trace_rows(context.g_Trace_Signature_Array);
    const std::size_t count = context.g_Log_Info_Array.size();
    for (std::size_t i = 0; i < count; ++i) {
        Detect_LogFile_Execution(context, i);
        Detect_LogFile_Trace(context, trace_rows, i);
        Detect_LogFile_Data_Wiping(context, i);
        Detect_LogFile_Document_Deletion(context, i);
        Detect_LogFile_Timestamp_Manipulation(context, i);
    }
}
