// Times the $LogFile half of the detection on a log full of time changes:
// the per-event rules (timestamp rule included) and the four refinement
// phases, over a generated log with few check points, then the literal
// event-by-event implementation kept in the test tree on a tenth of it.
//
//   bench_timestamp_detection [events, default 300,000] [time changes, default 10,000]
//
// The log: 20,000 files under 300 folders (a tenth of them under program
// folders), whose names repeat across folders; creations, resident and
// non-resident writes, modified and MFT-modified time updates, attribute
// changes, renames, moves and deletions around the time changes; a check
// point every 3,000 events, so that the walks bounded by check points reach
// far; EventTimes on most events, a second apart every 50 events, so that the
// same-second walk has events to look at.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>

#include "detection/Detect_Suspicious_Behavior.h"
#include "detection/logfile/Literal_LogFile_Timestamp.h"
#include "detection/logfile/LogFile_Event_Rules.h"
#include "detection/logfile/LogFile_Refinement.h"
#include "app/Signature_Loading.h"
#include "platform/text.h"

namespace {

using platform::Format;

constexpr long long Files = 20000;
constexpr long long Check_Point_Every = 3000;

void Add_Signatures(Program_State& state) {
    for (long long i = 0; i < 500; ++i) {
        Add_Signature_Text(state, Format(u"Execution|%s|Same|TOOL%d|Tool %d",
                                         {i % 5 == 0 ? u"Timestamp Manipulation" : u"Other", i, i}));
        Add_Signature_Text(state, Format(u"Trace|Type|%s|Include|tool%d.exe|Tool %d",
                                         {i % 2 == 0 ? u"Creation" : u"Rename", i, i}));
    }
}

std::u16string Time_Text(long long second) {
    const long long s = second % 86400;
    return Format(u"2020-08-%0.2d %0.2d:%0.2d:%0.2d", {1 + second / 86400 % 28, s / 3600, s / 60 % 60, s % 60});
}

Log_Info_Rows Make_Log(long long events, long long changes) {
    std::mt19937 random(7);
    const auto pick = [&](long long n) { return static_cast<long long>(random() % static_cast<unsigned>(n)); };
    Log_Info_Rows rows;
    _log_info r;
    std::uint64_t lsn = 0x100000;
    const long long change_every = changes > 0 ? events / changes : events + 1;
    for (long long i = 0; i < events; ++i) {
        lsn += 0x20 + static_cast<std::uint64_t>(pick(0xE0));
        const long long file = pick(Files);
        const long long second = 1000000 + i / 50;
        r.LSN = platform::Unsigned_Decimal_Text(lsn);
        r.TargetVCN = platform::Hex_Text(static_cast<std::uint32_t>(file / 4));
        r.ClusterIndex = platform::Unsigned_Decimal_Text(static_cast<std::uint64_t>(file % 4 * 2));
        r.FileName = Format(u"file_%d.dat", {file % 5000});
        const std::u16string folder = file % 10 == 0 ? Format(u"\\Program Files\\App %d\\", {file % 40})
                                                     : Format(u"\\Users\\examiner\\folder_%d\\", {file % 300});
        r.FullPath = folder + r.FileName;
        r.EventTime = pick(8) == 0 ? u"" : Time_Text(second);
        r.Detail.clear();
        const std::u16string before = Time_Text(second);
        if (i % Check_Point_Every == Check_Point_Every - 1) {
            r.Event = u"# Check Point";
            r.FileName.clear();
            r.FullPath.clear();
        } else if (i % change_every == change_every / 2) {
            const long long shape = pick(10);
            const std::u16string back = Time_Text(second - 30 - pick(100000));
            if (shape < 3) {
                r.Event = u"CreationTime Update Event";
                r.Detail = u"CreationTime : " + before + u" -> " + Time_Text(second + 60 + pick(1000));
            } else {
                r.Event = u"Time Reversal Event";
                r.Detail = u"CreationTime : " + before + u" -> " + back;
                if (shape >= 6) r.Detail += u", ModifiedTime : " + before + u" -> " + back;
                if (shape == 8) r.Detail += u"(same as file_1.dat, file_2.dat)";
                if (shape == 9) r.Detail = u"ModifiedTime : " + before + u" -> " + back + u"(Zero in 100-nanoseconds)";
            }
        } else {
            switch (pick(20)) {
                case 0:
                case 1: r.Event = u"File Creation"; break;
                case 2:
                    r.Event = u"Renaming File";
                    r.Detail = Format(u"file_%d.dat -> ", {pick(5000)}) + r.FileName;
                    break;
                case 3: r.Event = u"Move(Before)"; break;
                case 4: r.Event = u"Move(After)"; break;
                case 5: r.Event = u"File Deletion"; break;
                case 6:
                case 7:
                    r.Event = u"Writing Content of Resident File";
                    r.Detail = Format(u"Writing Size : %d", {pick(400)});
                    break;
                case 8: r.Event = u"Writing Content of Non-Resident File"; break;
                case 9: r.Event = u"Updating Modified Time"; break;
                case 10: r.Event = u"Updating MFTModified Time"; break;
                case 11: r.Event = u"Changing FileAttribute"; break;
                default: r.Event.clear(); break;
            }
        }
        rows.push_back(r);
    }
    return rows;
}

struct Figures {
    double Seconds = 0;
    std::size_t Timestamp_Findings = 0;
    std::size_t Valid = 0;
    std::size_t Normal = 0;
};

template <class Overviews>
void Count(const Overviews& overviews, Figures& f) {
    for (const auto& o : overviews) {
        if (o->Category != u"Timestamp Manipulation") continue;
        f.Timestamp_Findings += o->Details.size();
        for (const auto& d : o->Details) f.Valid += d->Valid;
    }
}

// The detection's $LogFile half as the driver runs it.
Figures Run_Indexed(Program_State& state) {
    Figures f;
    const auto start = std::chrono::steady_clock::now();
    Detection_Context context(state);
    context.g_Time_Reversal_Threshold = 20;
    context.g_CreationTime_Update_Threshold = 120;
    Detect_LogFile_Event_Rules(context);
    Link_LogFile_Timestamp_Tool_Execution(context);
    Verify_Same_As_Normal_File_Claims(context);
    Suppress_Normal_Time_Change_Findings(context);
    Suppress_Program_Folder_Timestamp_Groups(context);
    f.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Count(state.g_Detection_Overview_Array, f);
    f.Normal = context.g_Normal_Time_Reversal_Array.size();
    return f;
}

// The literal timestamp rule and refinement alone (no rules 1 to 4).
Figures Run_Literal(const Log_Info_Rows& rows) {
    Figures f;
    literal_rule::Outcome out;
    const auto start = std::chrono::steady_clock::now();
    literal_rule::Run(rows, out);
    f.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Count(out.Overviews, f);
    f.Normal = out.Normal_Reversals.size();
    return f;
}

void Print(const char* what, long long events, const Figures& f) {
    std::printf("%-44s %7lld events: %6zu timestamp findings (%zu valid), %6zu normal, %8.3f s\n", what, events,
                f.Timestamp_Findings, f.Valid, f.Normal, f.Seconds);
}

}  // namespace

int main(int argc, char** argv) {
    const long long events = argc > 1 ? std::atoll(argv[1]) : 300000;
    const long long changes = argc > 2 ? std::atoll(argv[2]) : 10000;

    Program_State state;
    Add_Signatures(state);
    state.g_Log_Info_Array = Make_Log(events, changes);
    Print("$LogFile half, indexed (all five rules)", events, Run_Indexed(state));

    // A tenth, for the literal implementation, whose walks bounded by check
    // points cover most of a log with few of them.
    Program_State tenth;
    tenth.g_Log_Info_Array = Make_Log(events / 10, changes / 10);
    Print("timestamp rule + refinement, literal", events / 10, Run_Literal(tenth.g_Log_Info_Array));
    Print("$LogFile half, indexed, same tenth", events / 10, Run_Indexed(tenth));
    return 0;
}
