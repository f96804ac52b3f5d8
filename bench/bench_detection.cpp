// Times the two halves of the detection over generated input.
//
//   bench_detection [log events, default 300,000] [signature rows, default 1,000]
//                   [journal records, default 1,000,000]
//                   [records for the literal timestamp rules, default a tenth; 0: none]
//   bench_detection --findings <folder> [...]
//       also writes each shape's findings to <folder>/<shape>.txt, for a byte
//       comparison of two builds
//
// The $LogFile half: the per-event rules over a log whose events mix what a
// busy volume's log holds: creations and renames (which the trace rule
// compares with every trace row of their operation), prefetch updates (every
// execution row), deletions of documents and of wiped files (whose walk looks
// back over the 0x2000 LSN window), and the writes, time changes and check
// points around them. Half the signature rows are execution rows, half trace
// rows; a third of each match by "Include".
//
// The $UsnJrnl half: the per-record pass and the update periods over a
// journal of about 200,000 files in 2,000 folders (a quarter of them program
// folders under "\Program Files" and "\ProgramData", rewritten in bursts
// of a few hundred records as updaters do), with an $MFT of those files.
// The records are the reason words Windows writes for creating, writing,
// closing, renaming and deleting a file, prefetch files of programs that
// ran, program folders created, and a few clock changes. The signature rows
// are execution, trace, installation and update-path rows; one file in a
// hundred has its $MFT times set back to 2019, about half the files have
// their times changed, and a timestamp tool's prefetch file precedes the
// changes of stomped files. Then the timestamp rules over the tracked files,
// and the same rules as plain scans on a tenth of the journal, with their
// findings compared; and a burst of 300,000 records in two seconds in one
// folder of 100,000 files, every one of them judged. Reported: the time
// of the pass and of the periods, and the memory they take beyond the rows
// (heap and mapped blocks in use while the detection's objects live, and
// the growth of the peak resident size).
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "app/Signature_Loading.h"
#include "detection/Detect_Suspicious_Behavior.h"
#include "app/Signature_Loading.h"
#include "detection/usnjrnl/Program_Update_Periods.h"
#include "detection/usnjrnl/UsnJrnl_Record_Rules.h"
#include "detection/usnjrnl/UsnJrnl_Timestamp_Rules.h"
#include "detection/usnjrnl/Literal_Timestamp_Rules.h"
#include "output/Time_Text.h"
#include "platform/console.h"
#include "platform/large_memory.h"
#include "platform/text.h"
#include "support/Detection_Builders.h"

namespace {

using platform::Format;

// Where --findings writes each shape's findings, for a byte comparison of two
// builds; empty: nowhere.
std::string g_Findings_Folder;

void Write_Findings(const Program_State& state, const char* shape) {
    if (g_Findings_Folder.empty()) return;
    std::ofstream out(g_Findings_Folder + "/" + shape + ".txt", std::ios::binary);
    for (const auto& overview : state.g_Detection_Overview_Array)
        for (const auto& d : overview->Details)
            out << platform::Utf16_To_Utf8(overview->Category + u"|" + overview->Source + u"|" + d->DetectionLocation +
                                           u"|" + d->Message + u"|" + d->EventTime)
                << (d->Valid == 1 ? "" : "|suppressed") << "\n";
}

void Add_LogFile_Signatures(Program_State& state, long long rows) {
    for (long long i = 0; i < rows; ++i) {
        const char16_t* match = i % 3 == 0 ? u"Include" : u"Same";
        if (i % 2 == 0) {
            Add_Signature_Text(state, Format(u"Execution|Type %d|%s|TOOL%d|Tool %d", {i % 7, match, i, i}));
        } else {
            const char16_t* operation = i % 4 == 1 ? u"Creation" : u"Rename";
            Add_Signature_Text(state,
                               Format(u"Trace|Type %d|%s|%s|tool%d.exe|Tool %d", {i % 7, operation, match, i, i}));
        }
    }
}

void Add_Events(Program_State& state, long long events) {
    _log_info r;
    for (long long i = 0; i < events; ++i) {
        const long long file = i % 20000;
        r.LSN = platform::Unsigned_Decimal_Text(static_cast<std::uint64_t>(0x100000 + i * 0x58));
        r.TargetVCN = platform::Hex_Text(static_cast<std::uint32_t>(file / 4));
        r.ClusterIndex = platform::Unsigned_Decimal_Text(static_cast<std::uint64_t>(file % 4 * 2));
        r.FileName = Format(u"document_%d.txt", {file});
        r.FullPath = Format(u"\\Users\\examiner\\folder_%d\\", {file % 300}) + r.FileName;
        r.Detail = u"-";
        switch (i % 12) {
            case 0:
            case 1:
            case 2: r.Event = u"File Creation"; break;
            case 3: r.Event = u"Renaming File"; break;
            case 4:
                r.Event = u"Updating Modified Time";
                r.FileName = Format(u"TOOL%d.EXE-%.8X.pf", {file % 2000, static_cast<unsigned>(file * 2654435761u)});
                r.FullPath = u"\\Windows\\Prefetch\\" + r.FileName;
                break;
            case 5:
                r.Event = u"File Deletion";
                r.FileName = Format(u"Report %d.docx", {file});
                r.FullPath = u"\\Users\\examiner\\Documents\\" + r.FileName;
                break;
            case 6:
                r.Event = u"File Deletion";
                r.Detail = u"CreationTime : 2020-01-01 00:00:00 (Abnormal Timestamp)";
                break;
            case 7: r.Event = u"Time Reversal Event"; break;
            case 8: r.Event = u"# Check Point"; break;
            default: r.Event = u"Writing Content of Resident File"; break;
        }
        state.g_Log_Info_Array.push_back(r);
    }
}

void Bench_LogFile_Half(long long events, long long rows) {
    Program_State state;
    Add_LogFile_Signatures(state, rows);
    Add_Events(state, events);

    std::ostringstream console, messages;
    const auto start = std::chrono::steady_clock::now();
    {
        platform::Scoped_Output output(console, messages);
        Detect_Suspicious_Behavior(state);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::size_t findings = 0;
    for (const auto& overview : state.g_Detection_Overview_Array) findings += overview->Details.size();
    std::printf("detection: %zu $LogFile events, %zu execution + %zu trace rows: %zu findings in %.3f s\n",
                state.g_Log_Info_Array.size(), state.g_Execution_Signature_Array.size(),
                state.g_Trace_Signature_Array.size(), findings, seconds);
    Write_Findings(state, "logfile");
}

// ---- The journal ----

constexpr int Folders = 2000;
constexpr int Program_Folders = 500;  // the last 500 folders
constexpr int Files_Per_Folder = 100;
constexpr std::uint64_t Folder_Entry = 1000;  // entry numbers of the folders
constexpr std::uint64_t File_Entry = 10000;   // and of the files
constexpr std::uint64_t Users_Entry = 100, Examiner_Entry = 101, Program_Files_Entry = 102, Program_Data_Entry = 103,
                        Windows_Entry = 104, Prefetch_Entry = 105;

std::uint64_t Reference(std::uint64_t entry) { return test_support::Mft_Reference(entry, 1); }

bool Is_Program_Folder(int folder) { return folder >= Folders - Program_Folders; }

std::u16string Folder_Path(int folder) {
    if (!Is_Program_Folder(folder)) return Format(u"\\Users\\examiner\\folder_%d", {folder});
    if (folder % 2 == 0) return Format(u"\\Program Files\\Vendor %d", {folder});
    return Format(u"\\ProgramData\\Vendor %d", {folder});
}

std::uint64_t Folder_Parent(int folder) {
    if (!Is_Program_Folder(folder)) return Reference(Examiner_Entry);
    return Reference(folder % 2 == 0 ? Program_Files_Entry : Program_Data_Entry);
}

std::u16string File_Name(int file) {
    static const char16_t* const kinds[] = {u"report %d.docx", u"data_%d.dll", u"notes %d.txt", u"image_%d.png",
                                            u"module%d.exe", u"sheet %d.xlsx", u"cache_%d.bin"};
    return Format(kinds[file % 7], {file});
}

// What the journal did to each user and program file: the second of its
// creation record and of its last record (0: none), since 1601.
struct File_Times {
    std::vector<std::int64_t> Created = std::vector<std::int64_t>(Folders * Files_Per_Folder, 0);
    std::vector<std::int64_t> Last = std::vector<std::int64_t>(Folders * Files_Per_Folder, 0);
};

// One file in this many had its times set back by a tool: its $SI times
// say 2019, whatever the journal shows.
constexpr int Stomped_Every = 100;
constexpr std::uint64_t Stomped_Time = 131907744000000000ull;  // 2019-01-01 00:00:00 UTC

void Build_Mft(Program_State& state, const File_Times& times) {
    test_support::Mft_Entries mft;
    mft.Root()
        .Directory(Users_Entry, 1, test_support::Mft_Root_Reference, u"Users")
        .Directory(Examiner_Entry, 1, Reference(Users_Entry), u"examiner")
        .Directory(Program_Files_Entry, 1, test_support::Mft_Root_Reference, u"Program Files")
        .Directory(Program_Data_Entry, 1, test_support::Mft_Root_Reference, u"ProgramData")
        .Directory(Windows_Entry, 1, test_support::Mft_Root_Reference, u"Windows")
        .Directory(Prefetch_Entry, 1, Reference(Windows_Entry), u"Prefetch");
    for (int folder = 0; folder < Folders; ++folder) {
        const std::u16string path = Folder_Path(folder);
        mft.Directory(Folder_Entry + folder, 1, Folder_Parent(folder), path.substr(path.rfind(u'\\') + 1));
    }
    for (int file = 0; file < Folders * Files_Per_Folder; ++file) {
        mft.File(File_Entry + file, 1, Reference(Folder_Entry + file / Files_Per_Folder), File_Name(file));
        // The $SI times the journal's records leave, a little after each
        // second; a stomped file's are the tool's whole seconds.
        const auto filetime = [](std::int64_t second) {
            return static_cast<std::uint64_t>(second) * 10'000'000ull + 4'321'000ull;
        };
        const std::int64_t last = times.Last[file] != 0 ? times.Last[file] : 13'240'800'000;
        mft.Last().CreateTime = filetime(times.Created[file] != 0 ? times.Created[file] : last - 86400);
        mft.Last().ModifiedTime = filetime(last);
        mft.Last().MFT_ModifiedTime = filetime(last);
        mft.Last().DataSize = 1000 + static_cast<std::uint64_t>(file % 9000);
        if (file % Stomped_Every == 7) {
            mft.Last().CreateTime = Stomped_Time;
            mft.Last().ModifiedTime = Stomped_Time;
            mft.Last().MFT_ModifiedTime = Stomped_Time;
        }
    }
    mft.Install(state.g_Parsing_Context);
}

void Add_Journal_Signatures(Program_State& state, long long rows) {
    for (long long i = 0; i < rows; ++i) {
        const char16_t* match = i % 3 == 0 ? u"Include" : u"Same";
        switch (i % 20) {
            case 0:  // an update path of its own, seldom met
                Add_Signature_Text(state, Format(u"ProgramUpdatePath|\\Vendor Tools %d\\|%s|2", {i, match}));
                break;
            case 1:
            case 2:
            case 3:
                Add_Signature_Text(state, Format(u"Installation|Type %d|\\Tool %d|Tool %d", {i % 7, i, i}));
                break;
            default:
                if (i % 2 == 0) {
                    Add_Signature_Text(state, Format(u"Execution|Type %d|%s|TOOL%d|Tool %d", {i % 7, match, i, i}));
                } else {
                    const char16_t* operation = i % 4 == 1 ? u"Creation" : u"Rename";
                    Add_Signature_Text(state, Format(u"Trace|Type %d|%s|%s|tool%d.exe|Tool %d",
                                                     {i % 7, operation, match, i, i}));
                }
        }
    }
    Add_Signature_Text(state, u"Execution|Timestamp Manipulation|Same|TIMESTOMP|Timestomp");
    // The paths a real signature list names.
    Add_Signature_Text(state, u"ProgramUpdatePath|\\Program Files\\|Same|2");
    Add_Signature_Text(state, u"ProgramUpdatePath|\\Program Files (x86)\\|Same|2");
    Add_Signature_Text(state, u"ProgramUpdatePath|\\ProgramData\\|Same|2");
    Add_Signature_Text(state, u"ProgramUpdatePath|\\Windows\\SoftwareDistribution\\Download\\|Same|4");
}

class Journal_Writer {
public:
    Journal_Writer(Program_State& state, long long records, File_Times& times)
        : state_(state), target_(records), times_(times), text_(0) {}

    bool Full() const { return static_cast<long long>(state_.g_UsnJrnl_Info_Array.size()) >= target_; }
    std::uint64_t Next() {
        seed_ = seed_ * 6364136223846793005ull + 1442695040888963407ull;
        return seed_ >> 33;
    }
    void Wait(std::int64_t seconds) { second_ += seconds; }

    void Add(std::u16string_view name, std::u16string_view folder_path, std::u16string_view reasons,
             std::u16string_view attr, std::uint64_t file, std::uint64_t parent) {
        if (Full()) return;
        record_.USN = platform::Unsigned_Decimal_Text(usn_);
        usn_ += 96;
        record_.TimeStamp = text_.Text(static_cast<std::uint64_t>(second_) * 10'000'000ull);
        record_.FileName = name;
        record_.FullPath.assign(folder_path);
        record_.FullPath += u'\\';
        record_.FullPath += name;
        record_.Event = reasons;
        record_.SourceInfo = u"Normal";
        record_.FileAttr = attr;
        record_.FileReferenceNumber = Format(u"0x%.16llX", {static_cast<unsigned long long>(file)});
        record_.ParentFileReferenceNumber = Format(u"0x%.16llX", {static_cast<unsigned long long>(parent)});
        state_.g_UsnJrnl_Info_Array.push_back(record_);
        const std::uint64_t entry = file & 0xFFFFFFFFFFFFull;
        if (entry >= File_Entry && entry < File_Entry + Folders * Files_Per_Folder) {
            const std::size_t f = static_cast<std::size_t>(entry - File_Entry);
            times_.Last[f] = second_;
            if (times_.Created[f] == 0 && reasons.find(u"File_Created") != std::u16string_view::npos)
                times_.Created[f] = second_;
        }
    }

    // A user's file created, written, closed, changed, renamed or deleted.
    void File_Activity() {
        const int file = static_cast<int>(Next() % (Folders * Files_Per_Folder));
        const int folder = file / Files_Per_Folder;
        const std::u16string path = Folder_Path(folder);
        const std::u16string name = File_Name(file);
        const std::uint64_t ref = Reference(File_Entry + file), parent = Reference(Folder_Entry + folder);
        // Half the picks change a file's times (an editor's save, a copy, an
        // archiver), so that about half the files end up tracked.
        switch (Next() % 10) {
            case 0:
                Add(name, path, u"File_Created", u"Archive", ref, parent);
                Add(name, path, u"File_Created , File_Closed", u"Archive", ref, parent);
                break;
            case 1:
                Add(name, path, u"Data_Extend", u"Archive", ref, parent);
                Add(name, path, u"Data_Extend , Data_Overwrite", u"Archive", ref, parent);
                Add(name, path, u"Data_Extend , Data_Overwrite , File_Closed", u"Archive", ref, parent);
                break;
            case 2:
            case 6:
            case 7:
            case 8:
            case 9:
                // The tool that sets a stomped file's times ran just before.
                if (file % Stomped_Every == 7)
                    Add(u"TIMESTOMP.EXE-1A2B3C4D.pf", u"\\Windows\\Prefetch", u"Data_Truncated , File_Closed", u"Archive",
                        Reference(File_Entry + 400001), Reference(Prefetch_Entry));
                Add(name, path, u"Basic_Info_Changed", u"Archive", ref, parent);
                Add(name, path, u"Basic_Info_Changed , File_Closed", u"Archive", ref, parent);
                break;
            case 3:
                Add(name, path, u"File_Renamed_Old", u"Archive", ref, parent);
                Add(u"~" + name, path, u"File_Renamed_New", u"Archive", ref, parent);
                Add(u"~" + name, path, u"File_Renamed_New , File_Closed", u"Archive", ref, parent);
                break;
            case 4:
                // A wiping tool's renames before the deletion.
                Add(name, path, u"File_Renamed_Old", u"Archive", ref, parent);
                Add(u"ZZZZ.ZZZ", path, u"File_Renamed_New", u"Archive", ref, parent);
                Add(u"ZZZZ.ZZZ", path, u"File_Renamed_Old", u"Archive", ref, parent);
                Add(u"ZZZZ.ZZZ", path, u"File_Deleted , File_Closed", u"Archive", ref, parent);
                break;
            default: Add(name, path, u"File_Deleted , File_Closed", u"Archive", ref, parent); break;
        }
        Wait(static_cast<std::int64_t>(Next() % 3));
    }

    // Windows rewrites a program's prefetch file after it runs.
    void Prefetch_Write() {
        const unsigned program = static_cast<unsigned>(Next() % 3000);
        const std::u16string name = Format(u"TOOL%d.EXE-%.8X.pf", {program, program * 2654435761u});
        const std::uint64_t ref = Reference(File_Entry + Folders * Files_Per_Folder + program);
        Add(name, u"\\Windows\\Prefetch", u"Data_Truncated", u"Archive , Not_Content_Indexed", ref,
            Reference(Prefetch_Entry));
        Add(name, u"\\Windows\\Prefetch", u"Data_Truncated , Data_Extend , File_Closed", u"Archive , Not_Content_Indexed",
            ref, Reference(Prefetch_Entry));
        Wait(1);
    }

    // An updater rewriting a program folder: a burst of a few hundred records
    // within seconds, a new sub-folder now and then.
    void Update_Burst() {
        const int folder = Folders - Program_Folders + static_cast<int>(Next() % Program_Folders);
        const std::u16string path = Folder_Path(folder);
        const std::uint64_t parent = Reference(Folder_Entry + folder);
        const int records = 150 + static_cast<int>(Next() % 300);
        if (Next() % 4 == 0)
            Add(Format(u"update_%d", {static_cast<long long>(Next() % 1000)}), path, u"File_Created", u"Directory",
                Reference(Folder_Entry + folder), parent);
        for (int k = 0; k < records && !Full(); k += 3) {
            const int file = folder * Files_Per_Folder + static_cast<int>(Next() % Files_Per_Folder);
            const std::u16string name = File_Name(file);
            const std::uint64_t ref = Reference(File_Entry + file);
            Add(name, path, u"Data_Overwrite", u"Archive", ref, parent);
            Add(name, path, u"Data_Overwrite , Basic_Info_Changed", u"Archive", ref, parent);
            Add(name, path, u"Data_Overwrite , Basic_Info_Changed , File_Closed", u"Archive", ref, parent);
            if (k % 30 == 0) Wait(1);
        }
        Wait(150);
    }

    // A program folder created under a program files folder.
    void Installation() {
        const long long tool = static_cast<long long>(Next() % 1000);
        Add(Format(u"Tool %d", {tool}), u"\\Program Files", u"File_Created", u"Directory",
            Reference(File_Entry + 300000 + tool), Reference(Program_Files_Entry));
        Wait(1);
    }

    // The clock set back, or moved forward with the settings tool.
    void Clock_Change() {
        if (Next() % 2 == 0) {
            Wait(-3600);
        } else {
            Add(u"SYSTEMSETTINGSADMINFLOWS.EXE-4D8A1F2B.pf", u"\\Windows\\Prefetch", u"File_Created , File_Closed",
                u"Archive", Reference(File_Entry + 400000), Reference(Prefetch_Entry));
            Wait(3600);
        }
    }

private:
    Program_State& state_;
    long long target_;
    File_Times& times_;
    Shifted_Time_Text_Maker text_;
    _USNJRNLINFO record_;
    std::uint64_t seed_ = 42;
    std::uint64_t usn_ = 0;
    // 2020-08-02 00:00:00 UTC as seconds since 1601.
    std::int64_t second_ = 13'240'800'000;
};

void Add_Journal(Program_State& state, long long records, File_Times& times) {
    Journal_Writer writer(state, records, times);
    while (!writer.Full()) {
        // About a quarter of the records come from update bursts.
        const std::uint64_t pick = writer.Next() % 10000;
        if (pick < 8000) writer.File_Activity();
        else if (pick < 9870) writer.Prefetch_Write();
        else if (pick < 9900) writer.Update_Burst();
        else if (pick < 9990) writer.Installation();
        else writer.Clock_Change();
    }
}

// The heap in use and the large blocks mapped on their own.
std::size_t Heap_In_Use() { return mallinfo2().uordblks + platform::Large_Memory_Mapped_Bytes(); }

// A line of /proc/self/status in KiB, or 0.
long long Status_KiB(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0) return std::atoll(line.c_str() + std::char_traits<char>::length(field));
    return 0;
}

// Lets the peak resident size start again from the current one.
void Reset_Peak_Resident() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
}

void Bench_UsnJrnl_Half(long long records, long long rows) {
    Program_State state;
    File_Times times;
    Add_Journal_Signatures(state, rows);
    Add_Journal(state, records, times);
    Build_Mft(state, times);

    malloc_trim(0);
    Reset_Peak_Resident();
    const long long resident_before = Status_KiB("VmRSS:");
    const std::size_t heap_before = Heap_In_Use();
    double pass_seconds = 0, periods_seconds = 0, timestamp_seconds = 0, half_seconds = 0;
    std::size_t heap_during = 0, heap_judging = 0;
    std::size_t groups = 0, periods = 0, grouped = 0, findings = 0, tracked = 0, paired = 0;
    {
        Detection_Context context(state);
        const auto start = std::chrono::steady_clock::now();
        Detect_UsnJrnl_Record_Rules(context);
        const auto pass_end = std::chrono::steady_clock::now();
        Build_Program_Periods(context);
        Index_Period_Events(context);
        const auto end = std::chrono::steady_clock::now();
        pass_seconds = std::chrono::duration<double>(pass_end - start).count();
        periods_seconds = std::chrono::duration<double>(end - pass_end).count();
        heap_during = Heap_In_Use();
        groups = context.Program_Operation_Candidate_Group_Array.size();
        for (const auto& group : context.Program_Operation_Candidate_Group_Array) grouped += group->Records.size();
        for (const auto& group : context.Program_Update_Period_Group_Array) periods += group->Periods.size();
        Classify_Basic_Info_Changed_Entries(context);
        Detect_UsnJrnl_Timestamp_Manipulation(context);
        heap_judging = Heap_In_Use();
        Free_UsnJrnl_Working_Objects(context);
        Link_UsnJrnl_Timestamp_Tool_Execution(context);
        const auto half_end = std::chrono::steady_clock::now();
        timestamp_seconds = std::chrono::duration<double>(half_end - end).count();
        half_seconds = std::chrono::duration<double>(half_end - start).count();
        for (const auto& entry : context.g_Basic_Info_Changed_Array) {
            if (entry.Removed) continue;
            ++tracked;
            if (!entry.LastUSN(state.g_UsnJrnl_Info_Array).empty()) ++paired;
        }
    }
    const long long resident_peak = Status_KiB("VmHWM:");
    std::size_t timestamp_findings = 0;
    for (const auto& overview : state.g_Detection_Overview_Array) {
        findings += overview->Details.size();
        if (overview->Category == Finding_Category::Timestamp_Manipulation) timestamp_findings += overview->Details.size();
    }

    std::printf("detection: %zu $UsnJrnl records (rows %.1f MB), %zu $MFT entries, %zu signature rows\n",
                state.g_UsnJrnl_Info_Array.size(), state.g_UsnJrnl_Info_Array.Memory_Bytes() / 1e6,
                state.g_Parsing_Context.Mft.Entry_Count(),
                state.g_Installation_Signature_Array.size() + state.g_Execution_Signature_Array.size() +
                    state.g_Trace_Signature_Array.size() + state.g_Update_Path_Signature_Array.size());
    std::printf("  per-record pass: %.3f s, %zu findings; %zu records in %zu program folders\n", pass_seconds,
                findings, grouped, groups);
    std::printf("  update periods: %.3f s, %zu periods\n", periods_seconds, periods);
    std::printf("  pass + periods: %.3f s; memory beyond the rows: %.1f MB heap in use\n",
                pass_seconds + periods_seconds, (heap_during - heap_before) / 1e6);
    std::printf("  timestamp rules (classify, judge, free, link): %.3f s; %zu tracked files (%zu paired), %zu "
                "timestamp findings\n",
                timestamp_seconds, tracked, paired, timestamp_findings);
    std::printf("  whole $UsnJrnl half: %.3f s; memory beyond the rows: %.1f MB heap in use while judging, %.1f MB "
                "peak resident growth\n",
                half_seconds, (heap_judging - heap_before) / 1e6, (resident_peak - resident_before) / 1024.0);
    Write_Findings(state, "usnjrnl");
}

// The worst shape for look-backs: one folder of `files` files whose times
// were all changed within two seconds (a change and its close each), with
// as many lone closes of other files among them, and an $MFT whose
// MFT-modified times differ from the journal for every file. Every change
// is judged; none may cost a scan of the burst or of the folder.
void Bench_Burst(long long files) {
    Program_State state;
    test_support::Mft_Entries mft;
    mft.Root().Directory(Folder_Entry, 1, test_support::Mft_Root_Reference, u"burst");
    Shifted_Time_Text_Maker text(0);
    const std::u16string first = text.Text(13'240'800'000ull * 10'000'000ull);
    const std::u16string second = text.Text(13'240'800'001ull * 10'000'000ull);
    _USNJRNLINFO row;
    row.SourceInfo = u"Normal";
    row.FileAttr = u"Archive";
    row.ParentFileReferenceNumber = Format(u"0x%.16llX", {static_cast<unsigned long long>(Reference(Folder_Entry))});
    std::uint64_t usn = 0;
    const auto add = [&](long long file, const std::u16string& time, std::u16string_view reasons) {
        row.USN = platform::Unsigned_Decimal_Text(usn);
        usn += 96;
        row.TimeStamp = time;
        row.FileName = Format(u"file_%d.txt", {file});
        row.FullPath = u"\\burst\\" + row.FileName;
        row.Event = reasons;
        row.FileReferenceNumber = Format(u"0x%.16llX", {static_cast<unsigned long long>(Reference(File_Entry + file))});
        state.g_UsnJrnl_Info_Array.push_back(row);
    };
    for (long long f = 0; f < files; ++f) {
        const std::u16string& time = f < files / 2 ? first : second;
        add(f, time, u"Basic_Info_Changed");
        add(f, time, u"Basic_Info_Changed , File_Closed");
        add(files + f, time, u"Basic_Info_Changed , File_Closed");
    }
    for (long long f = 0; f < files; ++f) {
        mft.File(File_Entry + f, 1, Reference(Folder_Entry), Format(u"file_%d.txt", {f}));
        mft.Last().CreateTime = Stomped_Time + static_cast<std::uint64_t>(f) * 10'000'000ull;
        mft.Last().ModifiedTime = mft.Last().CreateTime;
        mft.Last().MFT_ModifiedTime = mft.Last().CreateTime;
    }
    mft.Install(state.g_Parsing_Context);

    std::ostringstream console, messages;
    const auto start = std::chrono::steady_clock::now();
    {
        platform::Scoped_Output output(console, messages);
        Detect_Suspicious_Behavior(state);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::size_t findings = 0;
    for (const auto& overview : state.g_Detection_Overview_Array) findings += overview->Details.size();
    std::printf("burst: %zu $UsnJrnl records in 2 s, one folder of %lld files, all judged: %zu findings in %.3f s\n",
                state.g_UsnJrnl_Info_Array.size(), files, findings, seconds);
    Write_Findings(state, "burst");
}

// The timestamp rules as plain scans (the test tree's reference) against the
// indexed ones, on the same generated journal: the tracking, the judging and
// the link of each, after the same pass and periods. The findings must agree.
void Bench_Literal_Timestamp_Rules(long long records, long long rows) {
    Program_State indexed_state, literal_state;
    for (Program_State* state : {&indexed_state, &literal_state}) {
        File_Times times;
        Add_Journal_Signatures(*state, rows);
        Add_Journal(*state, records, times);
        Build_Mft(*state, times);
    }
    Detection_Context indexed(indexed_state), literal(literal_state);
    Detect_UsnJrnl_Record_Rules(indexed);
    Build_Program_Periods(indexed);
    Index_Period_Events(indexed);
    auto start = std::chrono::steady_clock::now();
    Classify_Basic_Info_Changed_Entries(indexed);
    Detect_UsnJrnl_Timestamp_Manipulation(indexed);
    Free_UsnJrnl_Working_Objects(indexed);
    Link_UsnJrnl_Timestamp_Tool_Execution(indexed);
    const double indexed_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    Detect_UsnJrnl_Record_Rules(literal);
    Build_Program_Periods(literal);
    Index_Period_Events(literal);
    start = std::chrono::steady_clock::now();
    test_support::literal::Rules rules(literal);
    rules.Track_All();
    const auto tracked = std::chrono::steady_clock::now();
    rules.Classify();
    rules.Detect();
    Free_UsnJrnl_Working_Objects(literal);
    rules.Link();
    const auto end = std::chrono::steady_clock::now();

    const auto findings = [](const Program_State& state) {
        std::vector<std::u16string> out;
        for (const auto& overview : state.g_Detection_Overview_Array)
            if (overview->Category == Finding_Category::Timestamp_Manipulation)
                for (const auto& d : overview->Details) out.push_back(d->DetectionLocation + u"|" + d->Message);
        return out;
    };
    const auto a = findings(indexed_state), b = findings(literal_state);
    std::printf("timestamp rules on %zu records: indexed %.3f s (tracking in the pass); literal scans %.3f s "
                "(tracking %.3f s, judging and link %.3f s); %zu findings, %s\n",
                literal_state.g_UsnJrnl_Info_Array.size(), indexed_seconds,
                std::chrono::duration<double>(end - start).count(), std::chrono::duration<double>(tracked - start).count(),
                std::chrono::duration<double>(end - tracked).count(), a.size(), a == b ? "identical" : "DIFFERENT");
    Write_Findings(indexed_state, "literal_indexed");
    Write_Findings(literal_state, "literal_literal");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "--findings") {
        g_Findings_Folder = argv[2];
        argv += 2;
        argc -= 2;
    }
    const long long events = argc > 1 ? std::atoll(argv[1]) : 300000;
    const long long rows = argc > 2 ? std::atoll(argv[2]) : 1000;
    const long long records = argc > 3 ? std::atoll(argv[3]) : 1000000;
    Bench_LogFile_Half(events, rows);
    const long long literal_records = argc > 4 ? std::atoll(argv[4]) : records / 10;
    Bench_UsnJrnl_Half(records, rows);
    if (literal_records > 0) Bench_Literal_Timestamp_Rules(literal_records, rows);
    Bench_Burst(100000);
    return 0;
}
