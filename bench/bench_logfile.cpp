// Times the $LogFile reader on a real log: the page scan, the replay order,
// the record walk with the analysis and the rows, and the EventTime back-fill,
// into a fresh database. Also times the walk alone (no analysis).
//   bench_logfile [LogFile]   (default: the real Windows 10 volume's 64 MiB log)
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <string>

#include "db/CppSQLite3.h"
#include "ntfs/logfile/Parse_LogFile.h"
#include "output/Event_Tables.h"

namespace {

// The real samples sit beside the project; TREVALON_REAL_DATA_DIR in the
// environment points elsewhere.
std::string Default_Log() {
    const char* folder = std::getenv("TREVALON_REAL_DATA_DIR");
    const std::filesystem::path real =
        folder ? std::filesystem::path(folder)
               : std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "shared" / "testdata" / "real";
    return (real / "win10-20h1-volume" / "LogFile").lexically_normal().string();
}

double Run(const std::string& log, bool analyse, std::size_t* records, std::size_t* rows) {
    const std::string db_path =
        (std::filesystem::temp_directory_path() / ("bench_logfile_" + std::to_string(analyse) + ".db")).string();
    std::filesystem::remove(db_path);
    CppSQLite3DB db;
    db.Open_With_Pragmas(db_path);
    db.Run_Query(Event_Table_Sql::Create_LogFile);
    Global_Parsing_Context context;
    *records = 0;
    const auto start = std::chrono::steady_clock::now();
    if (analyse)
        Parse_LogFile(context, log, db, 0);
    else
        Parse_LogFile_With(
            context, log, db, 0, [](const Log_Record_Header&, _log_info&, const _log_info&, const Client_Data_View&) {},
            [&](const _log_info&, bool) { ++*records; });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    *rows = context.LogFile_Row_Array.size();
    db.Close_Database();
    std::filesystem::remove(db_path);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string log = argc > 1 ? argv[1] : Default_Log();
    if (!std::filesystem::exists(log)) {
        std::fprintf(stderr, "no such log: %s\n", log.c_str());
        return 1;
    }
    std::size_t records = 0, rows = 0;
    double best_walk = 1e9, best_full = 1e9;
    for (int round = 0; round < 3; ++round) {
        best_walk = std::min(best_walk, Run(log, false, &records, &rows));
        std::size_t ignored = 0;
        best_full = std::min(best_full, Run(log, true, &ignored, &rows));
    }
    std::printf("%s: %llu bytes\n", log.c_str(), static_cast<unsigned long long>(std::filesystem::file_size(log)));
    std::printf("walk without analysis: %.3f s (%zu records)\n", best_walk, records);
    std::printf("Parse_LogFile with analysis, rows and back-fill: %.3f s (%zu rows)\n", best_full, rows);
    return 0;
}
