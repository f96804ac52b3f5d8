// Fills the UsnJrnl table with 1,000,000 rows and times the CSV export
// (three page files and the reload into the event array).
//   bench_csv_export [rows]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "db/CppSQLite3.h"
#include "output/Csv_Export.h"
#include "output/Event_Tables.h"
#include "platform/console.h"
#include "platform/text.h"

int main(int argc, char** argv) {
    const long long rows = argc > 1 ? std::atoll(argv[1]) : 1000000;
    char folder_pattern[] = "/tmp/bench-csv-XXXXXX";
    const std::string folder = mkdtemp(folder_pattern);
    const std::string db_path = folder + "/QVM_bench.db";

    using Clock = std::chrono::steady_clock;
    auto t0 = Clock::now();
    {
        CppSQLite3DB db;
        db.Open_With_Pragmas(db_path);
        db.Run_Query(Event_Table_Sql::Create_LogFile);
        db.Run_Query(Event_Table_Sql::Create_UsnJrnl);
        sqlite3_exec(db.Connection(), "BEGIN;", nullptr, nullptr, nullptr);
        _USNJRNLINFO r;
        r.TimeStamp = u"2020-08-02 10:00:00";
        r.Event = u"File_Created / File_Closed";
        r.SourceInfo = u"0";
        r.FileAttr = u"Archive";
        r.ParentFileReferenceNumber = u"1000000000032";
        for (long long i = 0; i < rows; ++i) {
            r.USN = platform::Format(u"%I64u", {static_cast<unsigned long long>(i * 96)});
            r.FileName = platform::Format(u"document_%d.txt", {i});
            r.FullPath = u"\\Users\\examiner\\Documents\\" + r.FileName;
            r.FileReferenceNumber = platform::Format(u"%X", {static_cast<unsigned long long>(i + 64)});
            Insert_UsnJrnl_Row(db, r);
        }
        sqlite3_exec(db.Connection(), "COMMIT;", nullptr, nullptr, nullptr);
    }
    auto t1 = Clock::now();
    Program_State state;
    std::ostringstream console, messages;
    {
        platform::Scoped_Output output(console, messages);
        Export_CSV_And_Detect(state, db_path, folder, "bench", 0, 0, 0);
    }
    auto t2 = Clock::now();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("rows %lld: fill %.2f s, export %.2f s, reloaded %zu, peak RSS %ld MB\n", rows,
                std::chrono::duration<double>(t1 - t0).count(), std::chrono::duration<double>(t2 - t1).count(),
                state.g_UsnJrnl_Info_Array.size(), usage.ru_maxrss / 1024);
    std::filesystem::remove_all(folder);
    return state.g_UsnJrnl_Info_Array.size() == static_cast<std::size_t>(rows) ? 0 : 1;
}
