// Times the CSV export of the UsnJrnl table twice, each in a child process so
// that its peak memory is its own: once keeping the reloaded rows (as a run
// with -b does) and once streaming them (a run without -b).
//
//   bench_csv_export [rows, default 1,000,000]
//       fills a database with that many rows of distinct names and paths
//   bench_csv_export --db <database>
//       exports the tables of an existing output database (for example one
//       that `Trevalon_CMD -u` wrote from bench_usnjrnl's journal)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "app/Csv_Export.h"
#include "db/CppSQLite3.h"
#include "db/Scoped_Transaction.h"
#include "output/Event_Tables.h"
#include "platform/console.h"
#include "platform/text.h"

namespace {

void Fill(const std::string& db_path, long long rows) {
    CppSQLite3DB db;
    db.Open_With_Pragmas(db_path);
    db.Run_Query(Event_Table_Sql::Create_LogFile);
    db.Run_Query(Event_Table_Sql::Create_UsnJrnl);
    Scoped_Transaction transaction(db);
    _USNJRNLINFO r;
    r.Event = u"File_Created / File_Closed";
    r.SourceInfo = u"Normal";
    r.FileAttr = u"Archive";
    for (long long i = 0; i < rows; ++i) {
        r.TimeStamp = platform::Format(u"2020-08-02 10:%0.2d:%0.2d", {i / 600 % 60, i / 10 % 60});
        r.USN = platform::Format(u"%I64u", {static_cast<unsigned long long>(i * 96)});
        r.FileName = platform::Format(u"document_%d.txt", {i});
        r.FullPath = platform::Format(u"\\Users\\examiner\\folder_%d\\", {i % 3000}) + r.FileName;
        r.FileReferenceNumber = platform::Format(u"0x%.16llX", {static_cast<unsigned long long>(i % 900000 + 64)});
        r.ParentFileReferenceNumber = platform::Format(u"0x%.16llX", {static_cast<unsigned long long>(i % 3000 + 64)});
        Insert_UsnJrnl_Row(db, r);
    }
    transaction.Commit();
}

// Exports in a child; prints its time and peak memory.
void Export_In_Child(const std::string& db_path, bool keep) {
    char folder_pattern[] = "/tmp/bench-csv-out-XXXXXX";
    const std::string folder = mkdtemp(folder_pattern);
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        Program_State state;
        state.Reload_Event_Rows = keep;
        std::ostringstream console, messages;
        {
            platform::Scoped_Output output(console, messages);
            Export_CSV_And_Detect(state, db_path, folder, "bench", 0, 0, 0);
        }
        std::printf("  %s: reloaded %zu UsnJrnl rows in %zu MB of rows\n", keep ? "kept" : "streamed",
                    state.g_UsnJrnl_Info_Array.size(), state.g_UsnJrnl_Info_Array.Memory_Bytes() >> 20);
        std::fflush(stdout);
        std::_Exit(console.str().find("[ERROR]") == std::string::npos ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("  %s: exit %d, %.2f s, peak RSS %ld MB\n", keep ? "kept" : "streamed",
                WIFEXITED(status) ? WEXITSTATUS(status) : -1, seconds, usage.ru_maxrss / 1024);
    std::filesystem::remove_all(folder);
}

}  // namespace

int main(int argc, char** argv) {
    std::string db_path;
    std::string made;
    if (argc > 2 && std::string(argv[1]) == "--db") {
        db_path = argv[2];
    } else {
        const long long rows = argc > 1 ? std::atoll(argv[1]) : 1000000;
        char folder_pattern[] = "/tmp/bench-csv-XXXXXX";
        made = mkdtemp(folder_pattern);
        db_path = made + "/QVM_bench.db";
        const auto t0 = std::chrono::steady_clock::now();
        Fill(db_path, rows);
        std::printf("filled %lld rows in %.2f s\n", rows,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::printf("export of %s\n", db_path.c_str());
    std::fflush(stdout);
    Export_In_Child(db_path, false);
    Export_In_Child(db_path, true);
    if (!made.empty()) std::filesystem::remove_all(made);
    return 0;
}
