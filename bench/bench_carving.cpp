// Benchmark of the source-folder carving over a file that holds neither log
// pages nor journal records: writes a random file (1 GiB by default) alone in
// a source folder and carves the folder with -g, -g -q, -n, -n -a 1 and
// -g -q -n, reporting the scan rate of each. The $LogFile scan tests every
// 512-byte step of the file. The journal carver is then run again over a file
// of small little-endian integers and zero runs, the structured bytes of a
// volume image, in which the journal record's leading bytes (a small length,
// then 2 and zeros) turn up far more often than in random bytes. The files
// were just written, so they are read from the page cache: the figures are
// those of the carvers, not of a disk.
//
//   bench_carving [MiB, default 1024] [work folder, default /tmp]
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "carving/Carve_Source_Folder.h"
#include "db/CppSQLite3.h"
#include "ntfs/Parsing_Context.h"
#include "output/Event_Tables.h"
#include "platform/console.h"
#include "records/Run_Options.h"

namespace {

void Write_Random(const std::string& path, std::uint64_t bytes) {
    std::mt19937_64 random(20260309);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<std::uint64_t> block(1 << 17);  // 1 MiB
    for (std::uint64_t written = 0; written < bytes; written += block.size() * 8) {
        for (auto& word : block) word = random();
        const std::uint64_t n = std::min<std::uint64_t>(block.size() * 8, bytes - written);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
    }
}

// Tables of 32-bit counters, flags and sizes (mostly below 16, every
// eighth one a larger value) between runs of zeros, none of them a record.
void Write_Structured(const std::string& path, std::uint64_t bytes) {
    std::mt19937_64 random(20260310);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<std::uint32_t> block(1 << 18);  // 1 MiB
    for (std::uint64_t written = 0; written < bytes; written += block.size() * 4) {
        std::size_t i = 0;
        while (i < block.size()) {
            const std::uint64_t draw = random();
            const std::size_t run = std::min<std::size_t>(block.size() - i, 16 + draw % 240);
            if (draw % 4 == 0) {
                std::fill_n(block.begin() + static_cast<std::ptrdiff_t>(i), run, 0u);
            } else {
                for (std::size_t k = 0; k < run; ++k) {
                    const std::uint64_t v = random();
                    block[i + k] = v % 8 == 0 ? static_cast<std::uint32_t>(v >> 40) : static_cast<std::uint32_t>(v % 16);
                }
            }
            i += run;
        }
        const std::uint64_t n = std::min<std::uint64_t>(block.size() * 4, bytes - written);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
    }
}

struct Setting {
    const char* name;
    bool logfile, quick, usnjrnl;
    int alignment;
    double target;  // MB/s the setting is held to; 0: reported only
};

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const std::filesystem::path base = argc > 2 ? argv[2] : "/tmp";
    const std::filesystem::path folder = base / ("bench_carving_" + std::to_string(::getpid()));
    const struct {
        const char* name;
        void (*write)(const std::string&, std::uint64_t);
        bool journal_only;
    } sources[] = {{"random", Write_Random, false}, {"structured", Write_Structured, true}};

    CppSQLite3DB db;
    std::filesystem::create_directories(folder);
    db.Open_With_Pragmas((folder / "out.db").string());
    db.Run_Query(Event_Table_Sql::Create_LogFile);
    db.Run_Query(Event_Table_Sql::Create_UsnJrnl);
    std::ostringstream quiet;

    const Setting settings[] = {
        {"-g", true, false, false, 8, 2000},
        {"-g -q", true, true, false, 8, 2000},
        {"-n", false, false, true, 8, 0},
        {"-n -a 1", false, false, true, 1, 1000},
        {"-g -q -n", true, true, true, 8, 0},
    };
    bool met = true;
    for (const auto& source : sources) {
        const std::filesystem::path source_folder = folder / source.name;
        std::filesystem::create_directories(source_folder);
        const auto t0 = std::chrono::steady_clock::now();
        source.write((source_folder / "source.bin").string(), mib << 20);
        std::printf("source: %llu MiB of %s bytes (written in %.1f s)\n", static_cast<unsigned long long>(mib),
                    source.name, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        std::fflush(stdout);
        for (const Setting& s : settings) {
            if (source.journal_only && s.logfile) continue;
            Run_Options options;
            options.g_LogFile_Carving = s.logfile ? 1 : 0;
            options.g_Quick_Mode = s.quick ? 1 : 0;
            options.g_UsnJrnl_Carving = s.usnjrnl ? 1 : 0;
            options.g_Carving_Alignment = s.alignment;
            Global_Parsing_Context context;
            double seconds = 0;
            {
                platform::Scoped_Output capture(quiet, quiet);
                const auto start = std::chrono::steady_clock::now();
                Carve_Source_Folder(context, options, source_folder.string(), db, 0);
                seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            }
            const double rate = static_cast<double>(mib << 20) / 1e6 / seconds;
            if (s.target > 0 && rate < s.target) met = false;
            std::printf("  %-10s %6.2f s  %7.0f MB/s  (%zu record pages)\n", s.name, seconds, rate,
                        context.Scanned_Page_Array.size());
            std::fflush(stdout);
        }
        std::filesystem::remove_all(source_folder);
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("peak RSS %.0f MB\ntarget: -g and -g -q at 2000 MB/s or more, -n -a 1 at 1000 MB/s or more; %s\n",
                usage.ru_maxrss / 1024.0, met ? "met" : "NOT met");
    std::filesystem::remove_all(folder);
    return 0;
}
