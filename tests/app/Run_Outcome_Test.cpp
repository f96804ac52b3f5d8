// What a run's exit code and output files tell: exit code 0 and a file of a
// final name only for what was done and written in full.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>
#include <thread>
#include <tuple>
#include <utility>

#include "platform/file.h"
#include "support/Console_Hook.h"
#include "support/Failing_Allocation.h"
#include "support/Run_Harness.h"
#include "support/Signature_Db_Builder.h"
#include "support/Sqlite_Query.h"
#include "support/Temp_Dir.h"
#include "support/Usn_Record_Builder.h"
#include "support/Working_Directory.h"

namespace fs = std::filesystem;

namespace {

using test_support::Usn_Journal_Builder;
using test_support::Usn_Record_Builder;

// The harness's stamp `k` seconds after its pinned time (k below 48).
std::string Stamp_After(int k) { return std::string("2026-12-09 10-11-") + std::to_string(12 + k); }

// A journal of `records` records with distinct USNs from `first_usn` on, one
// per 8 bytes of names like "<prefix>17.txt".
std::string Journal(int records, std::uint64_t first_usn = 0x1000, const std::u16string& prefix = u"file_") {
    Usn_Journal_Builder journal;
    for (int i = 0; i < records; ++i) {
        std::u16string name = prefix;
        for (const char c : std::to_string(i)) name.push_back(static_cast<char16_t>(c));
        journal.Append(Usn_Record_Builder().Usn(first_usn + static_cast<std::uint64_t>(i) * 8).Name(name + u".txt"));
    }
    return std::string(journal.Bytes().begin(), journal.Bytes().end());
}

void Run_Sql(const std::string& db_path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(db_path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr), SQLITE_OK)
        << db_path;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    sqlite3_close(db);
}

// Runs the program with the harness's clock, running `action` when the
// console text first holds `marker`.
Run_Result Run_Hooked(std::vector<std::string> args, const std::string& marker, std::function<void()> action) {
    args.insert(args.begin(), "Trevalon_CMD");
    Console_Hook hook(marker, std::move(action));
    std::ostream console(&hook);
    std::ostringstream messages;
    Run_Result result;
    result.Exit_Code = Run_Main(args, Harness_Environment(console, messages));
    result.Console = hook.str();
    result.Messages = messages.str();
    return result;
}

// Files written while this lives cannot grow past `bytes`: a write beyond
// fails (the run ignores SIGXFSZ itself).
class File_Size_Limit {
public:
    explicit File_Size_Limit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~File_Size_Limit() { setrlimit(RLIMIT_FSIZE, &saved_); }

private:
    rlimit saved_{};
};

bool Is_Partial(const std::string& name) { return name.ends_with(".partial"); }

struct Folders {
    Temp_Dir dir;
    std::string source = dir.Make_Dir("source");
    std::string out = dir.Make_Dir("out");
    std::string db = out + "/QVM_" + Pinned_Stamp + ".db";
};

}  // namespace

// Runs in a loop into one folder within one second: each waits for a second
// of its own, so each writes its own database and CSV files, whole.
TEST(Run_Outcome, RunsWithinOneSecondEachWriteTheirOwnFiles) {
    Folders f;
    const std::string j = f.dir.Write("J", Journal(3));
    std::vector<std::string> expected;
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        const Run_Result r = Run_Program({"-u", j, "-o", f.out, "-c", "-t", "0"});
        EXPECT_EQ(r.Exit_Code, 0);
        EXPECT_EQ(r.Messages, "");
        const std::string stamp = Stamp_After(run);
        for (const std::string& name : {"QVM_" + stamp + ".db", "QVM_LogFile_" + stamp + ".csv",
                                        "QVM_UsnJrnl_" + stamp + ".csv"})
            expected.push_back(name);
        EXPECT_EQ(Query_Rows(f.out + "/QVM_" + stamp + ".db", "select count(*) from UsnJrnl"),
                  (std::vector<std::string>{"3"}));
        EXPECT_EQ(Query_Rows(f.out + "/QVM_" + stamp + ".db", "select UTC, DST from TimeZone"),
                  (std::vector<std::string>{"0|0"}));
        const std::string csv = Read_File(f.out + "/QVM_UsnJrnl_" + stamp + ".csv");
        EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 4);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(List_Folder(f.out), expected);
}

// A file, a hard link or a symbolic link at a database name of the run, final
// or ".partial", is never opened: the run takes the next second's names.
// When every name it may wait for is taken, it fails without a database.
TEST(Run_Outcome, PlantedFilesAndLinksAtTheDatabaseNamesAreNeverTouched) {
    Folders f;
    const std::string outside = f.dir.Make_Dir("outside");
    const std::string linked = f.dir.Write("outside/linked.db", "linked");
    const std::string pointed = f.dir.Write("outside/pointed.db", "pointed");
    f.dir.Write("out/QVM_" + Stamp_After(0) + ".db", "earlier run");
    fs::create_hard_link(linked, f.out + "/QVM_" + Stamp_After(1) + ".db.partial");
    fs::create_symlink(pointed, f.out + "/QVM_" + Stamp_After(2) + ".db");
    fs::create_symlink(outside + "/missing.db", f.out + "/QVM_" + Stamp_After(3) + ".db.partial");
    const auto planted = List_Folder(f.out);

    Run_Result r = Run_Program({"-s", f.source, "-o", f.out, "-t", "0", "-c"});
    EXPECT_EQ(r.Exit_Code, 0);
    const std::string stamp = Stamp_After(4);
    EXPECT_EQ(Query_Rows(f.out + "/QVM_" + stamp + ".db", "select UTC, DST from TimeZone"),
              (std::vector<std::string>{"0|0"}));
    EXPECT_TRUE(fs::exists(f.out + "/QVM_LogFile_" + stamp + ".csv"));
    EXPECT_EQ(Read_File(f.out + "/QVM_" + Stamp_After(0) + ".db"), "earlier run");
    EXPECT_EQ(Read_File(linked), "linked");
    EXPECT_EQ(Read_File(pointed), "pointed");
    EXPECT_EQ(List_Folder(outside), (std::vector<std::string>{"linked.db", "pointed.db"}));
    const auto after = List_Folder(f.out);
    for (const std::string& name : planted) EXPECT_NE(std::find(after.begin(), after.end(), name), after.end()) << name;

    // Names for the pinned second and all five it may wait for: taken.
    Folders g;
    for (int k = 0; k <= Max_Database_Name_Waits; ++k) g.dir.Write("out/QVM_" + Stamp_After(k) + ".db", "taken");
    const auto taken = List_Folder(g.out);
    r = Run_Program({"-s", g.source, "-o", g.out, "-t", "0"});
    EXPECT_EQ(r.Exit_Code, 1);
    EXPECT_EQ(r.Console, "Opening DB file fails.");
    EXPECT_EQ(List_Folder(g.out), taken);
    for (int k = 0; k <= Max_Database_Name_Waits; ++k) EXPECT_EQ(Read_File(g.out + "/QVM_" + Stamp_After(k) + ".db"), "taken");
}

// Every failure that the run reports ends it with exit code 1; a file that
// failed stays under its ".partial" name, and the database does so unless
// it holds its TimeZone row.
TEST(Run_Outcome, EveryReportedFailureEndsWithExitCodeOne) {
    const std::string banner_end = "\r\n[+] Suspicious Behavior Detection : No";
    struct Case {
        const char* what;
        std::vector<std::string> args;  // after the sources: "-o <out> -t 0"
        std::string marker;             // the action runs when the console first holds it
        std::function<void(Folders&)> action;
        std::string console_end;
        int exit_code;
        bool database_complete;
        rlim_t file_size_limit = RLIM_INFINITY;
    };
    const std::string partial = std::string("/QVM_") + Pinned_Stamp + ".db.partial";
    const auto sql = [partial](std::string statement) {
        return [partial, statement](Folders& f) { Run_Sql(f.out + partial, statement); };
    };
    const std::vector<Case> cases = {
        {"clean run", {"-u", "J", "-c"}, "", {}, "\r\nExporting $UsnJrnl:$J info to CSV file...[Done]\r\n", 0, true},
        {"tables cannot be written", {"-u", "J"}, "", {}, "[ERR0R] Creating DB Tables fails.", 1, false, 0},
        {"placeholder rows cannot be deleted", {"-l", "J"}, "\r\nParsing $LogFile...", sql("DROP TABLE LogFile"),
         "\r\nParsing $LogFile...[ERR0R] Deleting Temp Event rows fails.", 1, false},
        {"event table cannot be read", {"-u", "J", "-c"}, "\r\nExporting $UsnJrnl:$J info to CSV file...",
         sql("DROP TABLE UsnJrnl"), "...[ERROR] Acquiring $UsnJrnl:$J Information fails...\r\n", 1, true},
        {"TimeZone row refused", {"-u", "J"}, banner_end,
         sql("CREATE TRIGGER refuse BEFORE INSERT ON TimeZone BEGIN SELECT RAISE(FAIL, 'no'); END"),
         "[Done][ERR0R] Inserting TimeZone information to DB fails.", 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Folders f;
        const std::string j = f.dir.Write("J", Journal(2));
        std::vector<std::string> args;
        for (const std::string& a : c.args) args.push_back(a == "J" ? j : a);
        for (const char* a : {"-o", "", "-t", "0"}) args.push_back(*a ? a : f.out);
        Run_Result r;
        {
            File_Size_Limit limit(c.file_size_limit);
            r = Run_Hooked(args, c.marker.empty() ? std::string(1, '\x01') : c.marker, [&] {
                if (c.action) c.action(f);
            });
        }
        EXPECT_EQ(r.Exit_Code, c.exit_code);
        EXPECT_TRUE(r.Console.ends_with(c.console_end)) << r.Console;
        EXPECT_EQ(fs::exists(f.db), c.database_complete);
        EXPECT_EQ(fs::exists(f.db + ".partial"), !c.database_complete);
    }
}

namespace {

// Runs the program in a child process (the system's clock), its output
// dropped; returns the child's id.
pid_t Start_Child_Run(const std::vector<std::string>& args) {
    const pid_t child = ::fork();
    if (child == 0) {
        std::ostringstream console, messages;
        Run_Environment environment = Run_Environment::System();
        environment.Console = &console;
        environment.Messages = &messages;
        std::vector<std::string> all{"Trevalon_CMD"};
        all.insert(all.end(), args.begin(), args.end());
        std::_Exit(Run_Main(all, environment));
    }
    return child;
}

}  // namespace

// A run killed at any moment leaves nothing of a final name: only ".partial"
// files, which no reader takes for a finished run's.
TEST(Run_Outcome, AKilledRunLeavesOnlyPartialFiles) {
    Temp_Dir dir;
    const std::string j = dir.Write("J", Journal(60000));
    auto whole = std::chrono::steady_clock::duration::max();
    for (int run = 0; run < 2; ++run) {
        const auto started = std::chrono::steady_clock::now();
        const std::string out = dir.Make_Dir("whole" + std::to_string(run));
        const pid_t child = Start_Child_Run({"-u", j, "-o", out, "-c", "-t", "0"});
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        whole = std::min(whole, std::chrono::steady_clock::now() - started);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        const auto names = List_Folder(out);
        EXPECT_EQ(names.size(), 3u);
        EXPECT_EQ(std::count_if(names.begin(), names.end(), Is_Partial), 0);
    }
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    // In the first half of the quicker whole run, so that the kill never
    // lands among the last renames.
    std::uniform_int_distribution<long long> moment(
        0, std::chrono::duration_cast<std::chrono::microseconds>(whole).count() / 2);
    for (int kill = 0; kill < 4; ++kill) {
        const std::string out = dir.Make_Dir("killed" + std::to_string(kill));
        const pid_t child = Start_Child_Run({"-u", j, "-o", out, "-c", "-t", "0"});
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status));
        for (const std::string& name : List_Folder(out)) EXPECT_TRUE(Is_Partial(name)) << name;
    }
}

// An input that cannot be read to its end (a read error, or a file that
// shrinks while it is read) is named on standard error with the byte where
// reading stopped; the rows before it are kept and the run fails.
TEST(Run_Outcome, AnInputNotReadToItsEndIsNamedWithItsOffset) {
    struct Case {
        const char* what;
        bool shrink;
        std::string reason;
    };
    const Case cases[] = {{"read error", false, "Input/output error"},
                          {"shrinks", true, "the file became shorter while it was read"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Folders f;
        const std::string journal = Journal(40);
        const std::string j = f.dir.Write("J", journal);
        // Twenty records lie before the cut.
        const std::uint64_t cut = Journal(20).size();
        platform::Scoped_Input_Reads reads([&](const std::string& path, int fd, void* buffer, std::size_t length,
                                               std::uint64_t offset) -> ssize_t {
            if (path == j && c.shrink) {
                if (fs::file_size(j) > cut) fs::resize_file(j, cut);
            } else if (path == j && offset + length > cut) {
                if (offset >= cut) {
                    errno = EIO;
                    return -1;
                }
                length = static_cast<std::size_t>(cut - offset);
            }
            return ::pread(fd, buffer, length, static_cast<off_t>(offset));
        });
        const Run_Result r = Run_Program({"-u", j, "-o", f.out, "-t", "0"});
        EXPECT_EQ(r.Exit_Code, 1);
        EXPECT_EQ(r.Messages, "[ERROR] " + j + " is not read to its end: reading stops at byte " + std::to_string(cut) +
                                  " (" + c.reason + ").\n");
        EXPECT_TRUE(r.Console.ends_with("\r\nParsing $UsnJrnl:$J...[Done]\r\n")) << r.Console;
        EXPECT_EQ(Query_Rows(f.db, "select count(*) from UsnJrnl"), (std::vector<std::string>{"20"}));
    }
}

// Under a file-size limit a CSV file that cannot grow is a failed write, as
// on a full disk: its message, exit code 1, and the file stays ".partial".
TEST(Run_Outcome, AFileSizeLimitIsReportedAsAFailedWrite) {
    Folders f;
    const std::string j = f.dir.Write("J", Journal(600, 0x1000, u"a_rather_long_file_name_of_the_journal_"));
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe_fds[0]);
        // The run must not die of the signal that a limit raises.
        std::signal(SIGXFSZ, SIG_DFL);
        // Limited from the export on: the database then holds all its rows.
        Console_Hook hook("\r\nExporting $LogFile info to CSV file...", [] {
            rlimit limit{};
            getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = 64 * 1024;
            setrlimit(RLIMIT_FSIZE, &limit);
        });
        std::ostream console(&hook);
        std::ostringstream messages;
        const int code = Run_Main({"Trevalon_CMD", "-u", j, "-o", f.out, "-c", "-t", "0"},
                                  Harness_Environment(console, messages));
        const std::string text = hook.str();
        const ssize_t written = ::write(pipe_fds[1], text.data(), text.size());
        std::_Exit(written == static_cast<ssize_t>(text.size()) ? code : 99);
    }
    ::close(pipe_fds[1]);
    std::string console;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;) console.append(buffer, static_cast<std::size_t>(n));
    ::close(pipe_fds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_TRUE(console.ends_with("\r\nExporting $LogFile info to CSV file...[Done]"
                                  "\r\nExporting $UsnJrnl:$J info to CSV file...[ERROR] Writing CSV file fails.\r\n"))
        << console;
    const std::string usn_csv = f.out + "/QVM_UsnJrnl_" + Pinned_Stamp + ".csv";
    EXPECT_FALSE(fs::exists(usn_csv));
    EXPECT_EQ(fs::file_size(usn_csv + ".partial"), 64u * 1024);
    EXPECT_EQ(Query_Rows(f.db, "select count(*) from UsnJrnl"), (std::vector<std::string>{"600"}));
}

// Signature.db is only read: a database in WAL mode comes out of the run
// byte for byte as it went in, with nothing added beside it; a view in place
// of the table (here an endless recursive one) is refused at once.
TEST(Run_Outcome, SignatureDbIsOnlyRead) {
    Folders f;
    const std::string cwd = f.dir.Make_Dir("cwd");
    ASSERT_TRUE(Signature_Db_Builder().Add("KeyTempPath|\\Temp|Same").Write(cwd));
    Run_Sql(cwd + "/Signature.db", "PRAGMA journal_mode=WAL");
    const std::string bytes = Read_File(cwd + "/Signature.db");
    ASSERT_EQ(bytes[18], 2);  // the header's WAL mark
    Run_Result r;
    {
        Scoped_Working_Directory in(cwd);
        r = Run_Program({"-s", f.source, "-o", f.out, "-c", "-b"});
    }
    EXPECT_EQ(r.Exit_Code, 0) << r.Console;
    EXPECT_NE(r.Console.find("\r\nLoading Suspicious Behavior Signature Info...[Done]"), std::string::npos);
    EXPECT_EQ(Read_File(cwd + "/Signature.db"), bytes);
    EXPECT_EQ(List_Folder(cwd), (std::vector<std::string>{"Signature.db"}));

    Folders g;
    const std::string view_cwd = g.dir.Make_Dir("cwd");
    Run_Sql(view_cwd + "/Signature.db",
            "CREATE VIEW SignatureTable AS WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r) "
            "SELECT n AS No, 1 AS Value, x'00' AS Signature FROM r");
    const auto started = std::chrono::steady_clock::now();
    {
        Scoped_Working_Directory in(view_cwd);
        r = Run_Program({"-s", g.source, "-o", g.out, "-c", "-b"});
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(r.Exit_Code, 1);
    EXPECT_NE(r.Console.find("\r\nLoading Suspicious Behavior Signature Info...\r\nGetting table fails.\r\n"),
              std::string::npos)
        << r.Console;
}

// An allocation that fails anywhere in a run, inside a database call too,
// reaches the entry point: one line on standard error and exit code 1, never
// a refused row or a database message taken for success.
TEST(Run_Outcome, AnAllocationFailureEndsTheRunWithFailure) {
    Folders f;
    const std::string j = f.dir.Write("J", Journal(3));
    const std::string l = f.dir.Write("L", std::string(8192, '\0'));
    const std::vector<std::string> args = {"Trevalon_CMD", "-l", l, "-u", j, "-o", "", "-c", "-t", "0"};
    // Streams with room for all their text, so that writing to them
    // allocates nothing.
    const auto run = [&](const std::string& out, std::int64_t failing) {
        std::ostringstream console(std::string(1 << 16, ' ')), messages(std::string(1 << 12, ' '));
        std::vector<std::string> with_out = args;
        with_out[6] = out;
        const Run_Environment environment = Harness_Environment(console, messages);
        if (failing >= 0) test_support::Fail_Allocation(failing);
        const std::int64_t before = test_support::Allocations_Made();
        const int code = Run_Main(with_out, environment);
        const std::int64_t made = test_support::Allocations_Made() - before;
        test_support::Stop_Failing_Allocations();
        const std::string text = messages.str().substr(0, static_cast<std::size_t>(messages.tellp()));
        return std::make_tuple(code, made, text);
    };
    const auto [clean_code, allocations, clean_messages] = run(f.dir.Make_Dir("clean"), -1);
    ASSERT_EQ(clean_code, 0) << clean_messages;
    ASSERT_GT(allocations, 100);
    // Each allocation of the run in turn (the database calls' among them).
    int failed = 0;
    for (std::int64_t n = 0; n < allocations; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(allocations));
        const auto [code, made, messages] = run(f.dir.Make_Dir("run" + std::to_string(n)), n);
        if (!test_support::Allocation_Failed()) continue;
        ++failed;
        EXPECT_EQ(code, 1);
        EXPECT_EQ(messages, "[ERROR] std::bad_alloc\n");
    }
    EXPECT_GT(failed, allocations / 2);
}

// Two journals in one source folder whose USNs overlap: the later file's
// records under a USN already stored are not stored again, and the examiner
// is told how many, for that file.
TEST(Run_Outcome, OverlappingJournalsInOneSourceFolderAreCounted) {
    Folders f;
    f.dir.Write("source/J1", Journal(5, 0x1000));
    f.dir.Write("source/J2", Journal(5, 0x1000 + 2 * 8, u"other_"));
    const Run_Result r = Run_Program({"-s", f.source, "-n", "-o", f.out, "-t", "0"});
    EXPECT_EQ(r.Exit_Code, 0);
    EXPECT_EQ(r.Messages, f.source +
                              "/J2: 3 $UsnJrnl records and 0 $LogFile records not stored: their USN/LSN is already in "
                              "the database.\n");
    EXPECT_EQ(Query_Rows(f.db, "select count(*) from UsnJrnl"), (std::vector<std::string>{"7"}));
}

// The output folder is the one the run started with: a link in its path that
// is changed during the run, or the folder itself replaced by a link, never
// sends a later file elsewhere.
TEST(Run_Outcome, TheOutputFolderIsResolvedOnce) {
    const std::string usn_line = "\r\nExporting $UsnJrnl:$J info to CSV file...";
    {
        Temp_Dir dir;
        const std::string first = dir.Make_Dir("first"), second = dir.Make_Dir("second");
        const std::string link = dir.File("out");
        fs::create_symlink(first, link);
        const std::string j = dir.Write("J", Journal(2));
        const Run_Result r = Run_Hooked({"-u", j, "-o", link, "-c", "-t", "0"}, usn_line, [&] {
            fs::remove(link);
            fs::create_symlink(second, link);
        });
        EXPECT_EQ(r.Exit_Code, 0);
        EXPECT_EQ(List_Folder(first).size(), 3u);
        EXPECT_TRUE(fs::is_empty(second));
    }
    {
        Temp_Dir dir;
        const std::string out = dir.Make_Dir("out"), elsewhere = dir.Make_Dir("elsewhere");
        const std::string j = dir.Write("J", Journal(2));
        const Run_Result r = Run_Hooked({"-u", j, "-o", out, "-c", "-t", "0"}, usn_line, [&] {
            fs::rename(out, dir.File("moved"));
            fs::create_symlink(elsewhere, out);
        });
        // The database is no longer where its path leads: the export cannot
        // reopen it, and says so.
        EXPECT_EQ(r.Exit_Code, 1);
        EXPECT_TRUE(r.Console.ends_with(usn_line + "[ERROR] Opening DB file fails...\r\n")) << r.Console;
        EXPECT_TRUE(fs::is_empty(elsewhere));
        const std::string stamp = Pinned_Stamp;
        EXPECT_EQ(List_Folder(dir.File("moved")),
                  (std::vector<std::string>{"QVM_" + stamp + ".db", "QVM_LogFile_" + stamp + ".csv"}));
    }
}
