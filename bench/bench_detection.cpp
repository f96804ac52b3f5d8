// Times the $LogFile half of the detection (the per-event rules) over a
// generated log and signature list.
//
//   bench_detection [events, default 300,000] [signature rows, default 1,000]
//
// The events mix what a busy volume's log holds: creations and renames (which
// the trace rule compares with every trace row of their operation), prefetch
// updates (every execution row), deletions of documents and of wiped files
// (whose walk looks back over the 0x2000 LSN window), and the writes, time
// changes and check points around them. Half the signature rows are execution
// rows, half trace rows; a third of each match by "Include".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "app/Signature_Loading.h"
#include "detection/Detect_Suspicious_Behavior.h"
#include "platform/console.h"
#include "platform/text.h"

namespace {

using platform::Format;

void Add_Signatures(Program_State& state, long long rows) {
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

}  // namespace

int main(int argc, char** argv) {
    const long long events = argc > 1 ? std::atoll(argv[1]) : 300000;
    const long long rows = argc > 2 ? std::atoll(argv[2]) : 1000;
    Program_State state;
    Add_Signatures(state, rows);
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
    return 0;
}
