// Times the whole command on a given journal and $MFT, with and without the
// detection, each run in a child process so that its peak memory is its own:
//
//   Trevalon_CMD -u <journal> -m <$MFT> -o <folder> -c [-b] -t 0
//
//   bench_whole_run <journal> <$MFT> [--cmd <Trevalon_CMD>] [--keep <folder>]
//                   [--runs <n>] [--detection-only] [--phases]
//
// The runs take place in a scratch folder holding an empty signature list
// (Signature.db of no rows), so that the detection's own rules run and no
// signature adds findings of its own. Reported for each run: the wall time,
// the time from the last "[Done]" the command printed to its exit (what a
// user waits for after the work is done), the longest wait from any
// "[Done]" to the next output, and the peak resident size.
// --cmd times another build of the command (by default the one beside this
// program), so two builds compare on the same machine; --keep copies the
// findings file of the detection run there, for a byte comparison of two
// builds' findings; --runs repeats each run and reports the fastest;
// --phases lists when each step printed its "[Done]".
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/Signature_Db_Builder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Run_Figures {
    double Wall_Seconds = 0;
    double After_Done_Seconds = 0;
    // The longest wait from a "[Done]" to the next output (or the exit).
    double Longest_Silence_Seconds = 0;
    long long Peak_KiB = 0;
    // User and system time of all the command's threads.
    double Cpu_Seconds = 0;
    int Exit_Code = -1;
    // Each "[Done]" with the seconds from the start to it and the line it ends.
    std::vector<std::pair<double, std::string>> Done_Lines;
};

// Runs the command with its standard output on a pipe, noting when the last
// "[Done]" arrived.
Run_Figures Run(const std::vector<std::string>& args, const fs::path& working_folder) {
    int out[2];
    if (pipe(out) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(working_folder.c_str()) != 0) _exit(126);
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    Run_Figures figures;
    Clock::time_point last_done = start;
    // The wait after the last "[Done]" counts from the last read that held one.
    bool after_done = false;
    // The tail of the previous read, so a mark split across two reads is seen.
    std::string carry, line;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        const Clock::time_point now = Clock::now();
        if (after_done)
            figures.Longest_Silence_Seconds = std::max(figures.Longest_Silence_Seconds,
                                                       std::chrono::duration<double>(now - last_done).count());
        if (n <= 0) break;
        std::string text = carry + std::string(buffer, static_cast<std::size_t>(n));
        if (text.find("[Done]") != std::string::npos) last_done = now;
        for (const char c : std::string(buffer, static_cast<std::size_t>(n))) {
            if (c == '\r' || c == '\n') {
                line.clear();
                continue;
            }
            line += c;
            if (line.ends_with("[Done]"))
                figures.Done_Lines.emplace_back(std::chrono::duration<double>(now - start).count(), line);
        }
        // A wait counts from a "[Done]" that is the last output so far.
        after_done = text.ends_with("[Done]");
        carry = text.size() > 5 ? text.substr(text.size() - 5) : text;
    }
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    const Clock::time_point end = Clock::now();
    figures.Wall_Seconds = std::chrono::duration<double>(end - start).count();
    figures.After_Done_Seconds = std::chrono::duration<double>(end - last_done).count();
    figures.Peak_KiB = usage.ru_maxrss;
    figures.Cpu_Seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                          static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    figures.Exit_Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return figures;
}

fs::path Findings_File(const fs::path& folder) {
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().starts_with("QVM_SuspiciousBehaviorDetection_")) return entry.path();
    return {};
}

fs::path Default_Command() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path("Trevalon_CMD") : self.parent_path() / "Trevalon_CMD";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: bench_whole_run <journal> <$MFT> [--cmd <Trevalon_CMD>] [--keep <folder>] [--runs <n>] "
                     "[--detection-only] [--phases]\n");
        return 2;
    }
    const fs::path journal = fs::absolute(argv[1]);
    const fs::path mft = fs::absolute(argv[2]);
    fs::path command = Default_Command();
    fs::path keep;
    int runs = 1;
    bool plain = true;
    bool phases = false;
    for (int a = 3; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "--cmd" && a + 1 < argc) command = fs::absolute(argv[++a]);
        else if (arg == "--keep" && a + 1 < argc) keep = fs::absolute(argv[++a]);
        else if (arg == "--runs" && a + 1 < argc) runs = std::max(1, std::atoi(argv[++a]));
        else if (arg == "--detection-only") plain = false;
        else if (arg == "--phases") phases = true;
        else {
            std::fprintf(stderr, "unknown argument: %s\n", arg.c_str());
            return 2;
        }
    }

    char scratch_template[] = "/tmp/bench_whole_run_XXXXXX";
    if (mkdtemp(scratch_template) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path scratch = scratch_template;
    if (!Signature_Db_Builder().Write_File((scratch / "Signature.db").string())) {
        std::fprintf(stderr, "Signature.db could not be written\n");
        return 1;
    }
    std::printf("%s\n  journal %s (%.1f MiB), $MFT %s\n", command.c_str(), journal.c_str(),
                static_cast<double>(fs::file_size(journal)) / (1024.0 * 1024.0), mft.c_str());

    int failures = 0;
    for (const bool detect : {true, false}) {
        if (!detect && !plain) continue;
        Run_Figures best;
        for (int r = 0; r < runs; ++r) {
            const fs::path out = scratch / "out";
            fs::remove_all(out);
            fs::create_directory(out);
            std::vector<std::string> args = {command.string(), "-u", journal.string(), "-m", mft.string(),
                                             "-o", out.string(), "-c"};
            if (detect) args.push_back("-b");
            args.insert(args.end(), {"-t", "0"});
            const Run_Figures figures = Run(args, scratch);
            if (figures.Exit_Code != 0) {
                std::fprintf(stderr, "the command exited with %d\n", figures.Exit_Code);
                ++failures;
            }
            if (r == 0 || figures.Wall_Seconds < best.Wall_Seconds) best = figures;
            if (detect && r == 0 && !keep.empty()) {
                const fs::path findings = Findings_File(out);
                if (findings.empty()) {
                    std::fprintf(stderr, "no findings file\n");
                    ++failures;
                } else {
                    fs::create_directories(keep);
                    fs::copy_file(findings, keep / "findings.csv", fs::copy_options::overwrite_existing);
                }
            }
            fs::remove_all(out);
        }
        if (phases)
            for (const auto& [at, text] : best.Done_Lines) std::printf("    %7.2f s  %s\n", at, text.c_str());
        std::printf("  %-9s wall %7.2f s (cpu %7.2f s), after the last [Done] %5.2f s (longest wait after a [Done] "
                    "%5.2f s), peak %8.1f MB (%.1f MiB)\n",
                    detect ? "with -b" : "without", best.Wall_Seconds, best.Cpu_Seconds, best.After_Done_Seconds,
                    best.Longest_Silence_Seconds, static_cast<double>(best.Peak_KiB) * 1024.0 / 1e6,
                    static_cast<double>(best.Peak_KiB) / 1024.0);
    }
    fs::remove_all(scratch);
    return failures == 0 ? 0 : 1;
}
