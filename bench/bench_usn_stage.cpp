// Benchmark of the $UsnJrnl:$J stage alone, with its records decoded on the
// inserting thread or on a thread of their own: parses one journal into a
// fresh database (no $MFT, so no full paths) and reports the wall time and
// the rows stored, once per round.
//
//   bench_usn_stage <journal> <one | two> [rounds, default 3] [work folder, default /tmp]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "db/CppSQLite3.h"
#include "ntfs/Parsing_Context.h"
#include "ntfs/usnjrnl/Parse_UsnJrnl.h"
#include "output/Event_Tables.h"

int main(int argc, char** argv) {
    if (argc < 3 || (std::string(argv[2]) != "one" && std::string(argv[2]) != "two")) {
        std::fprintf(stderr, "usage: bench_usn_stage <journal> <one | two> [rounds] [work folder]\n");
        return 2;
    }
    const std::string journal = argv[1];
    const bool own_thread = std::string(argv[2]) == "two";
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    const std::filesystem::path base = argc > 4 ? argv[4] : "/tmp";
    Usn_Stage_Options options;
    options.Decode_On_Own_Thread = own_thread;
    for (int round = 1; round <= rounds; ++round) {
        const std::string db_path = (base / ("bench_usn_stage_" + std::to_string(::getpid()) + ".db")).string();
        std::filesystem::remove(db_path);
        CppSQLite3DB db;
        if (!Open_Database(db, db_path)) return 1;
        db.Run_Query(Event_Table_Sql::Create_UsnJrnl);
        Global_Parsing_Context context;
        context.MFT_Unavailable = 1;
        const auto start = std::chrono::steady_clock::now();
        Parse_UsnJrnl(context, journal, db, 0, options);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        CppSQLite3Table rows = db.Fetch_Table("select count(*) from UsnJrnl");
        rows.Select_Row(0);
        std::printf("%s thread%s, round %d: %.2f s, %s rows\n", own_thread ? "two" : "one", own_thread ? "s" : "",
                    round, seconds, rows.Text_At(0));
        std::fflush(stdout);
        db.Close_Database();
        std::filesystem::remove(db_path);
    }
    return 0;
}
