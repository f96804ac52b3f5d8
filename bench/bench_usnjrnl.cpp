// Benchmark of the $UsnJrnl:$J stage: writes a synthetic journal (1 GiB by
// default: about ten million version 2.0 records with realistic names under a
// few thousand directories) and an $MFT for those directories, then runs
// `Trevalon_CMD -u <J> -m <MFT> -o <folder>` in a child process and reports
// its wall time, its peak memory and the rows it stored.
//
// Two spacings of the record times, since consecutive records of one second
// share their time text: "dense" (up to 0.2 s apart, a busy volume: most
// records repeat the second before) and "seconds" (exactly one second apart:
// every record has a time text of its own).
//
//   bench_usnjrnl [MiB of journal, default 1024] [work folder, default /tmp]
//                 [dense | seconds | both, default both]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/Trevalon_CMD.h"
#include "db/CppSQLite3.h"
#include "support/Mft_Record_Builder.h"

namespace {

using namespace test_support;

constexpr std::uint64_t First_Directory_Entry = 64;
constexpr int Top_Directories = 60;
constexpr int Sub_Directories = 60;  // under each top directory: 3,660 directories in all
constexpr std::uint16_t Directory_Sequence = 3;

std::uint64_t Directory_Reference(std::uint64_t index) {
    return Mft_Reference(First_Directory_Entry + index, Directory_Sequence);
}

// Root, $MFT, 60 top directories under the root and 60 below each of them.
std::uint64_t Write_Mft(const std::string& path) {
    Mft_Image_Builder image;
    Put_Volume_Skeleton(image);
    const std::uint64_t count = Top_Directories + Top_Directories * Sub_Directories;
    for (std::uint64_t i = 0; i < count; ++i) {
        const bool top = i < static_cast<std::uint64_t>(Top_Directories);
        const std::uint64_t parent =
            top ? Mft_Reference(5, 5) : Directory_Reference((i - Top_Directories) / Sub_Directories);
        const std::u16string name = top ? u"Project " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                                              static_cast<char16_t>(u'0' + i / 26)
                                        : u"folder_" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) +
                                              static_cast<char16_t>(u'a' + (i / 26) % 26) +
                                              static_cast<char16_t>(u'a' + (i / 676) % 26);
        image.Put(First_Directory_Entry + i, Mft_Record_Builder()
                                                 .Flags(Record_Flags::Directory)
                                                 .Sequence(Directory_Sequence)
                                                 .Standard_Information(0x01D66736FF1D1800ull)
                                                 .File_Name(parent, name));
    }
    image.Write_File(path);
    return count;
}

void Put(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

enum class Spacing { Dense, Seconds };

// Writes `target` bytes of journal; records never cross a 4096-byte page,
// whose end is zero-padded, as Windows writes them. Returns the record count.
std::uint64_t Write_Journal(const std::string& path, std::uint64_t target, Spacing spacing) {
    static const char* const stems[] = {"Document", "IMG_2020", "report-final", "setup", "New Text Document",
                                        "invoice", "~$budget", "thumbcache_idx", "chrome_debug", "data"};
    static const char* const extensions[] = {".docx", ".jpg", ".tmp", ".exe", ".txt", ".pdf", ".xlsx", ".db", ".log", ".dat"};
    static const std::uint32_t reasons[] = {0x00000100, 0x80000100, 0x00000002, 0x80000002, 0x00008000,
                                            0x80008000, 0x00001000, 0x00002000, 0x80002000, 0x80000200};
    std::mt19937_64 random(20200731);
    const std::uint64_t directories = Top_Directories + Top_Directories * Sub_Directories;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<std::uint8_t> page(4096);
    std::vector<std::uint8_t> block;
    block.reserve(1 << 22);
    std::uint64_t written = 0, records = 0, time = 0x01D66736FF1D1800ull;
    std::size_t used = 0;
    std::fill(page.begin(), page.end(), 0);
    const auto flush_page = [&] {
        block.insert(block.end(), page.begin(), page.end());
        std::fill(page.begin(), page.end(), 0);
        used = 0;
        written += 4096;
        if (block.size() >= (1u << 22)) {
            out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
            block.clear();
        }
    };
    while (written < target) {
        std::string name = stems[random() % 10];
        name += "_" + std::to_string(random() % 100000) + extensions[random() % 10];
        const std::size_t length = (60 + 2 * name.size() + 7) & ~std::size_t{7};
        if (used + length > page.size()) {
            flush_page();
            continue;
        }
        const std::uint64_t parent = random() % 16 == 0 ? Mft_Reference(5, 5) : Directory_Reference(random() % directories);
        // The draw is made in both modes, so both journals hold the same names.
        const std::uint64_t step = random() % 2000000;  // up to 0.2 s apart
        time += spacing == Spacing::Dense ? step : 10000000;
        std::uint8_t* r = page.data() + used;
        std::vector<std::uint8_t> record(length, 0);
        Put(record, 0, length, 4);                                      // RecordLength
        Put(record, 4, 2, 2);                                           // MajorVersion
        Put(record, 6, 0, 2);                                           // MinorVersion
        Put(record, 8, Mft_Reference(100000 + random() % 900000, 1), 8);  // FileReferenceNumber
        Put(record, 16, parent, 8);                                     // ParentFileReferenceNumber
        Put(record, 24, written + used, 8);                             // Usn: the record's offset
        Put(record, 32, time, 8);                                       // TimeStamp
        Put(record, 40, reasons[random() % 10], 4);                     // Reason
        Put(record, 52, random() % 4 == 0 ? 0x2020 : 0x20, 4);          // FileAttributes
        Put(record, 56, 2 * name.size(), 2);                            // FileNameLength
        Put(record, 58, 60, 2);                                         // FileNameOffset
        for (std::size_t i = 0; i < name.size(); ++i) record[60 + 2 * i] = static_cast<std::uint8_t>(name[i]);
        std::copy(record.begin(), record.end(), r);
        used += length;
        ++records;
    }
    if (used != 0) flush_page();
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
    return records;
}

std::string Query_One(const std::string& db_path, const char* sql) {
    try {
        CppSQLite3DB db;
        db.Open_Read_Only(db_path);
        CppSQLite3Statement statement(db, sql);
        return statement.Step() ? std::string(statement.Column_Text(0)) : std::string();
    } catch (const CppSQLite3Exception&) {
        return {};
    }
}

struct Result {
    double seconds = 0;
    bool met = false;
};

Result Run_Mode(const std::filesystem::path& base, std::uint64_t mib, Spacing spacing) {
    const char* mode = spacing == Spacing::Dense ? "dense" : "seconds";
    const std::filesystem::path folder =
        base / ("bench_usnjrnl_" + std::to_string(::getpid()) + "_" + mode);
    std::filesystem::create_directories(folder / "out");
    const std::string journal = (folder / "J").string(), mft = (folder / "MFT").string();

    const auto t0 = std::chrono::steady_clock::now();
    const std::uint64_t directories = Write_Mft(mft);
    const std::uint64_t records = Write_Journal(journal, mib << 20, spacing);
    const auto t1 = std::chrono::steady_clock::now();
    std::printf("[%s] journal: %llu MiB, %llu records under %llu directories (written in %.1f s)\n", mode,
                static_cast<unsigned long long>(std::filesystem::file_size(journal) >> 20),
                static_cast<unsigned long long>(records), static_cast<unsigned long long>(directories),
                std::chrono::duration<double>(t1 - t0).count());
    std::fflush(stdout);

    // The run in a child, so its peak memory is its own.
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        Run_Environment environment = Run_Environment::System();
        std::ofstream quiet("/dev/null");
        environment.Console = &quiet;
        std::_Exit(Run_Main({"Trevalon_CMD", "-u", journal, "-m", mft, "-o", (folder / "out").string(), "-t", "0"},
                            environment));
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::string db_path;
    for (const auto& e : std::filesystem::directory_iterator(folder / "out"))
        if (e.path().extension() == ".db") db_path = e.path().string();
    const std::string rows = Query_One(db_path, "select count(*) from UsnJrnl");
    const std::string with_path = Query_One(db_path, "select count(*) from UsnJrnl where FullPath <> ''");
    const std::string times = Query_One(db_path, "select count(distinct TimeStamp) from UsnJrnl");
    std::printf("[%s] run: exit %d, %.1f s (%.0f k records/s), peak RSS %.0f MB, %s rows (%s with a full path, "
                "%s distinct times)\n",
                mode, WIFEXITED(status) ? WEXITSTATUS(status) : -1, seconds, static_cast<double>(records) / seconds / 1e3,
                usage.ru_maxrss / 1024.0, rows.c_str(), with_path.c_str(), times.c_str());
    std::fflush(stdout);
    std::filesystem::remove_all(folder);
    return Result{seconds, seconds <= 12 && usage.ru_maxrss < 300 * 1024 && rows == std::to_string(records)};
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const std::filesystem::path base = argc > 2 ? argv[2] : "/tmp";
    const std::string which = argc > 3 ? argv[3] : "both";
    if (which != "dense" && which != "seconds" && which != "both") {
        std::fprintf(stderr, "mode must be dense, seconds or both\n");
        return 2;
    }
    bool met = true;
    if (which != "seconds") met = Run_Mode(base, mib, Spacing::Dense).met && met;
    if (which != "dense") met = Run_Mode(base, mib, Spacing::Seconds).met && met;
    // For the default 1 GiB journal: about a million records a second.
    std::printf("target: 12 s or less and under 300 MB in each mode; %s\n", met ? "met" : "NOT met");
    return 0;
}
