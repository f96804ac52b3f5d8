// Writes a synthetic $MFT of 1,000,000 FILE records (a random directory tree,
// about one record in ten a directory, names of 8-60 characters, some with a
// DOS alias) to a temporary file, then times Parse_MFT and one Build_Full_Path
// per indexed entry, and prints the peak resident memory of the process.
//   bench_mft [records]
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "ntfs/mft/Parse_MFT.h"
#include "support/Mft_Record_Builder.h"

namespace {

using namespace test_support;

struct Random {
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    std::uint32_t Next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::uint32_t>(state >> 33);
    }
    std::uint32_t Below(std::uint32_t n) { return Next() % n; }
};

const char* const Words[] = {"Document", "Report",  "Invoice", "Photo",   "Backup", "Project", "Setup",
                             "Microsoft", "Windows", "Program", "Update",  "Cache",  "Profile", "Settings",
                             "Temporary", "Archive", "Quarterly", "Meeting", "Notes", "Library", "Resources"};
const char* const Extensions[] = {".txt", ".docx", ".jpg", ".dll", ".exe", ".xml", ".log", ".png", ".pdf", ".dat"};

std::u16string Make_Name(Random& rng, std::uint64_t n, bool directory) {
    std::string name;
    const std::uint32_t words = 1 + rng.Below(4);
    for (std::uint32_t w = 0; w < words; ++w) {
        if (w) name += rng.Below(2) ? " " : "_";
        name += Words[rng.Below(sizeof Words / sizeof *Words)];
    }
    name += "_" + std::to_string(n);
    if (!directory) name += Extensions[rng.Below(sizeof Extensions / sizeof *Extensions)];
    return std::u16string(name.begin(), name.end());
}

double Peak_Rss_Mb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t records = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    char path_pattern[] = "/tmp/bench-mft-XXXXXX";
    const int fd = mkstemp(path_pattern);
    if (fd < 0) return 1;
    close(fd);
    const std::string path = path_pattern;

    {
        // Streamed record by record so the generator adds nothing to the peak.
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        Random rng;
        std::vector<std::uint64_t> directories{5};
        const std::uint64_t time = 0x01D6628AB3A2C000ull;
        const std::vector<std::uint8_t> empty(1024, 0);
        for (std::uint64_t i = 0; i < records; ++i) {
            Mft_Record_Builder record;
            if (i == 0) {
                record.Standard_Information(time).File_Name(Mft_Reference(5, 5), u"$MFT").Data(records * 1024, false);
            } else if (i == 5) {
                record.Flags(Record_Flags::Directory).Sequence(5).Standard_Information(time).File_Name(
                    Mft_Reference(5, 5), u".", File_Name_Space::Win32_And_Dos);
            } else if (i < 16) {
                record.Standard_Information(time).File_Name(Mft_Reference(5, 5), u"$System" + std::u16string(1, u'A' + i));
            } else if (i < 24) {
                out.write(reinterpret_cast<const char*>(empty.data()), 1024);
                continue;
            } else {
                const bool directory = rng.Below(10) == 0;
                const std::uint64_t parent = directories[rng.Below(static_cast<std::uint32_t>(directories.size()))];
                const std::uint16_t sequence = static_cast<std::uint16_t>(1 + rng.Below(3));
                const std::uint64_t parent_reference = Mft_Reference(parent, parent == 5 ? 5 : 1);
                record.Flags(directory ? Record_Flags::Directory : Record_Flags::File)
                    .Sequence(directory ? 1 : sequence)
                    .Lsn(1000000 + i * 88)
                    .Standard_Information(time + i, time + i, time + i, time + i);
                if (rng.Below(3) == 0) record.File_Name(parent_reference, u"ABCDEF~1.TXT", File_Name_Space::Dos);
                record.File_Name(parent_reference, Make_Name(rng, i, directory));
                if (!directory) record.Data(1 + rng.Below(1 << 20), false);
                if (directory) directories.push_back(i);
            }
            const auto bytes = record.Build();
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    const double generate_peak = Peak_Rss_Mb();

    using Clock = std::chrono::steady_clock;
    Global_Parsing_Context context;
    const auto t0 = Clock::now();
    Parse_MFT(context, path);
    const auto t1 = Clock::now();
    std::size_t resolved = 0, total_length = 0;
    for (const _ENTRYINFO_2& e : context.Mft.Entry_List()) {
        Build_Full_Path(context, e.FileReference, e.Name);
        resolved += !context.Full_Path.empty();
        total_length += context.Full_Path.size();
    }
    const auto t2 = Clock::now();
    std::remove(path.c_str());

    const double parse_s = std::chrono::duration<double>(t1 - t0).count();
    const double paths_s = std::chrono::duration<double>(t2 - t1).count();
    std::printf("records %llu, entries %zu, path nodes %zu, resolved %zu, mean path %.1f units\n",
                static_cast<unsigned long long>(records), context.Mft.Entry_Count(), context.Mft.Path_Node_Count(),
                resolved, resolved ? static_cast<double>(total_length) / resolved : 0.0);
    std::printf("Parse_MFT %.3f s, Build_Full_Path pass %.3f s, total %.3f s\n", parse_s, paths_s, parse_s + paths_s);
    std::printf("peak RSS %.1f MB (after generating: %.1f MB)\n", Peak_Rss_Mb(), generate_peak);
    return 0;
}
