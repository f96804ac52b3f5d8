#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/Run_Harness.h"
#include "support/Signature_Db_Builder.h"
#include "support/Sqlite_Query.h"
#include "support/Temp_Dir.h"
#include "support/Working_Directory.h"

// The tiny 2013 volume: ten files copied onto it, each created, written and
// given back the modified time of its source ("Time Reversal Event" of the
// modified time alone, right after the creation). A copy, not a
// manipulation: the rule takes these changes, which do not name the creation
// time, only to the move sequences, and finds none.
TEST(LogFile_Timestamp_Real, CopiedFilesOnTheTinyVolumeAreNoFindings) {
    const std::string data = std::string(TREVALON_REAL_DATA_DIR) + "/tiny-volume-2013";
    if (!std::filesystem::exists(data + "/LogFile") || !std::filesystem::exists(data + "/MFT"))
        GTEST_SKIP() << "real sample folder absent: " << data;
    Temp_Dir dir;
    const std::string out = dir.Make_Dir("out");
    const std::string cwd = dir.Make_Dir("cwd");
    ASSERT_TRUE(Signature_Db_Builder().Add("Execution|Timestamp Manipulation|Same|TIMESTOMP|TimeStomp").Write(cwd));
    Run_Result r;
    {
        Scoped_Working_Directory in(cwd);
        r = Run_Program({"-l", data + "/LogFile", "-m", data + "/MFT", "-o", out, "-c", "-b"});
    }
    ASSERT_EQ(r.Exit_Code, 0) << r.Console;

    const std::vector<std::string> reversals =
        Query_Rows(out + "/QVM_" + Pinned_Stamp + ".db",
                   "select FileName || ': ' || Detail from LogFile where Event = 'Time Reversal Event' order by LSN");
    ASSERT_EQ(reversals.size(), 10u);
    for (const std::string& reversal : reversals) EXPECT_EQ(reversal.find("CreationTime"), std::string::npos) << reversal;
    const std::string findings = Read_File(out + "/QVM_SuspiciousBehaviorDetection_" + Pinned_Stamp + ".csv");
    EXPECT_EQ(findings.find("Timestamp Manipulation"), std::string::npos) << findings;
}
