#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <sstream>

#include "app/Findings_Csv.h"
#include "platform/console.h"
#include "support/Temp_Dir.h"

namespace {

constexpr char Stamp[] = "2026-12-09 10-11-12";
constexpr char Header[] = "\"Category\",\"Detail\",\"Source\",\"DetectionLocation (LSN / USN)\"\r\n";
constexpr char Exporting[] = "\r\nExporting Suspicious Behavior Detection info to CSV file...";

struct Findings_Fixture {
    Temp_Dir dir;
    Program_State state;
    std::ostringstream console, messages;

    void Export() {
        platform::Scoped_Output output(console, messages);
        Export_Findings_Csv(state, dir.Path(), Stamp);
    }
    std::string Csv(const std::string& prefix = "QVM") const {
        return Read_File(dir.File(prefix + "_SuspiciousBehaviorDetection_" + Stamp + ".csv"));
    }
};

}  // namespace

TEST(Findings_Csv, ValidFindingsInOrderWithQuotesTurnedIntoSingleQuotes) {
    Findings_Fixture f;
    auto& overviews = f.state.g_Detection_Overview_Array;
    Record_Finding(overviews, Finding_Category::Execution, Finding_Source::LogFile, u"1000",
                   u"\"SDelete\" (Wiper) was executed, \u00E9");
    Record_Finding(overviews, Finding_Category::Timestamp_Manipulation, Finding_Source::UsnJrnl, u"77", u"hidden").Valid =
        0;
    Record_Finding(overviews, Finding_Category::Execution, Finding_Source::LogFile, u"2000", u"second");
    // The other columns keep their quotes, doubled by the CSV quoting.
    Record_Finding(overviews, Finding_Category::Installation, u"$Usn\"Jrnl", u"5\"5", u"it's");
    f.Export();
    EXPECT_EQ(f.console.str(), std::string(Exporting) + "[Done]");
    EXPECT_EQ(f.Csv(), std::string(Header) +
                           "\"Execution of Suspicious Programs\",\"'SDelete' (Wiper) was executed, \xC3\xA9\","
                           "\"$LogFile\",\"1000\"\r\n"
                           "\"Execution of Suspicious Programs\",\"second\",\"$LogFile\",\"2000\"\r\n"
                           "\"Installation of Suspicious Programs\",\"it's\",\"$Usn\"\"Jrnl\",\"5\"\"5\"\r\n");
    // The findings are deleted once written.
    EXPECT_TRUE(overviews.empty());
}

TEST(Findings_Csv, NoFindingsGiveTheHeaderOnlyAndTheOutputNameNamesTheFile) {
    Findings_Fixture f;
    f.state.Options.g_Output_Name = "case7";
    f.Export();
    EXPECT_EQ(f.Csv("case7"), Header);
    EXPECT_EQ(f.dir.List(), (std::vector<std::string>{"case7_SuspiciousBehaviorDetection_" + std::string(Stamp) + ".csv"}));
}

TEST(Findings_Csv, FileThatCannotBeCreated) {
    Findings_Fixture f;
    f.dir.Make_Dir("QVM_SuspiciousBehaviorDetection_" + std::string(Stamp) + ".csv");
    Record_Finding(f.state.g_Detection_Overview_Array, Finding_Category::Execution, Finding_Source::LogFile, u"1", u"m");
    f.Export();
    EXPECT_EQ(f.console.str(), std::string(Exporting) + "[ERROR] Creating CSV file fails...");
    EXPECT_TRUE(f.state.g_Detection_Overview_Array.empty());
}

// A findings file that cannot be written to its end is reported in place of
// "[Done]", and the findings are still deleted.
TEST(Findings_Csv, FileCutShortIsReported) {
    Findings_Fixture f;
    for (int i = 0; i < 200; ++i)
        Record_Finding(f.state.g_Detection_Overview_Array, Finding_Category::Execution, Finding_Source::LogFile, u"1",
                       std::u16string(100, u'm'));
    const auto saved_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limit = saved;
    limit.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &limit);
    bool written = true;
    {
        platform::Scoped_Output output(f.console, f.messages);
        written = Export_Findings_Csv(f.state, f.dir.Path(), Stamp);
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, saved_handler);
    EXPECT_FALSE(written);
    EXPECT_EQ(f.console.str(), std::string(Exporting) + "[ERROR] Writing CSV file fails.");
    EXPECT_TRUE(f.state.g_Detection_Overview_Array.empty());
}
