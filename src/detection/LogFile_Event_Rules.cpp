#include "detection/LogFile_Event_Rules.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "detection/LogFile_Event_Terms.h"
#include "detection/LogFile_Timestamp_Rule.h"
#include "detection/Match_Modes.h"
#include "platform/text.h"

namespace {

constexpr std::u16string_view File_Creation = u"File Creation";
constexpr std::u16string_view Renaming_File = u"Renaming File";
constexpr std::u16string_view File_Deletion = u"File Deletion";

// Earlier events further than this below a wiped file's deletion no longer
// count as part of the wipe (the first one beyond still does).
constexpr std::uint64_t Wiping_Lsn_Window = 0x2000;

void Record(Detection_Context& context, std::u16string_view category, std::size_t i, std::u16string_view message) {
    Record_Finding(context.g_Detection_Overview_Array, category, Finding_Source::LogFile,
                   platform::Cut_At_Nul(context.g_Log_Info_Array.Field(i, Log_Field::LSN)), message);
}

// A prefetch file's name ends with ".pf" and holds it nowhere earlier.
bool Is_Prefetch_Name(std::u16string_view name) {
    const std::size_t pf = name.find(u".pf");
    return pf != std::u16string_view::npos && pf + 3 == name.size();
}

constexpr std::array<std::u16string_view, 9> Document_Extensions = {u"doc", u"docx", u"xls",  u"xlsx", u"ppt",
                                                                    u"pptx", u"hwp",  u"hwpx", u"pdf"};

// Folders whose documents come and go with the programs that keep them there.
constexpr std::array<std::u16string_view, 6> Program_Folders = {
    u"\\AppData\\Local\\",       u"\\AppData\\LocalLow\\", u"\\AppData\\Roaming\\",
    u"\\Program Files (x86)\\", u"\\Program Files\\",     u"\\ProgramData\\"};

// Office and editors begin their temporary and owner files so.
constexpr std::array<std::u16string_view, 3> Temporary_Name_Starts = {u"~", u"&_", u"(neme"};
// Names of unsaved, recovered or downloaded copies.
constexpr std::array<std::u16string_view, 3> Temporary_Name_Parts = {u"%20", u"(unsaved-", u"(autorecovered-"};

// A base name of hexadecimal digits only (or none at all) is a program's
// generated temporary file, not a user's document.
bool Is_Generated_Base_Name(std::u16string_view lowered_base) {
    for (const char16_t c : lowered_base)
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) return false;
    return true;
}

template <std::size_t N>
bool Holds_Any(std::u16string_view text, const std::array<std::u16string_view, N>& parts) {
    for (const std::u16string_view part : parts)
        if (Holds(text, part)) return true;
    return false;
}

// The trace rows by the event their operation stands for, each list in load
// order, so that an event is compared only with the rows of its kind. Any
// other operation word stands for no event: its rows match nothing.
struct Trace_Rows_By_Event {
    explicit Trace_Rows_By_Event(const std::vector<_anti_forensic_program_trace_info>& rows) {
        for (const _anti_forensic_program_trace_info& row : rows) {
            if (row.Operation == u"Creation") Creation.push_back(&row);
            else if (row.Operation == u"Rename") Rename.push_back(&row);
        }
    }
    std::vector<const _anti_forensic_program_trace_info*> Creation;  // "File Creation"
    std::vector<const _anti_forensic_program_trace_info*> Rename;    // "Renaming File"
};

void Detect_LogFile_Execution(Detection_Context& context, std::size_t i) {
    const Log_Info_Rows& rows = context.g_Log_Info_Array;
    const std::u16string_view event = rows.Field(i, Log_Field::Event);
    if (event != File_Creation && !Holds(event, u"Updating Modified Time")) return;
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

void Detect_LogFile_Trace(Detection_Context& context, const Trace_Rows_By_Event& trace_rows, std::size_t i) {
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

void Detect_LogFile_Data_Wiping(Detection_Context& context, std::size_t i) {
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
            if (Holds(event, u"Time Reversal Event")) reversed = true;
        }
        // Unsigned: an earlier event with a larger LSN ends the walk too.
        if (deletion_lsn - Lsn_Of(rows, j) > Wiping_Lsn_Window) break;
    }
    if (renamed && reversed)
        Record(context, Finding_Category::Traces, i,
               u"The Trace of Typical Data Wiping : Deletion after Renaming and Timestamp Manipulation");
}

void Detect_LogFile_Document_Deletion(Detection_Context& context, std::size_t i) {
    const Log_Info_Rows& rows = context.g_Log_Info_Array;
    if (rows.Field(i, Log_Field::Event) != File_Deletion) return;
    const std::u16string_view file_name = rows.Field(i, Log_Field::FileName);
    const std::u16string lowered = platform::MakeLower(file_name);
    const std::size_t dot = lowered.rfind(u'.');
    if (dot == std::u16string::npos || dot + 1 == lowered.size()) return;
    const std::u16string_view extension = std::u16string_view(lowered).substr(dot + 1);
    bool document = false;
    for (const std::u16string_view e : Document_Extensions) document = document || extension == e;
    if (!document) return;

    if (Holds_Any(rows.Field(i, Log_Field::FullPath), Program_Folders)) return;
    for (const std::u16string_view start : Temporary_Name_Starts)
        if (Begins_With(file_name, start)) return;
    if (Holds_Any(std::u16string_view(lowered), Temporary_Name_Parts)) return;
    const std::u16string_view base = std::u16string_view(lowered).substr(0, dot);
    if (Is_Generated_Base_Name(base) || base == u"empty") return;

    Record(context, Finding_Category::Document_Deletion, i, platform::Format(u"\"%s\" has been deleted.", {file_name}));
}

}  // namespace

void Detect_LogFile_Event_Rules(Detection_Context& context) {
    const Trace_Rows_By_Event trace_rows(context.g_Trace_Signature_Array);
    const std::size_t count = context.g_Log_Info_Array.size();
    for (std::size_t i = 0; i < count; ++i) {
        Detect_LogFile_Execution(context, i);
        Detect_LogFile_Trace(context, trace_rows, i);
        Detect_LogFile_Data_Wiping(context, i);
        Detect_LogFile_Document_Deletion(context, i);
        Detect_LogFile_Timestamp_Manipulation(context, i);
    }
}
