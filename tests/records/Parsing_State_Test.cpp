#include <gtest/gtest.h>

#include "records/Parsing_State.h"

TEST(Parsing_State, ResetCarvingStateEmptiesThePerFilePartOnly) {
    Global_Parsing_Context context;
    EXPECT_EQ(Reset_Carving_State(context), 0);  // an empty state resets too
    context.LogFile_Row_Array.resize(3);
    context.MFT_Creation_Time = u"2020-08-02 10:00:00";
    context.Full_Path = u"\\test_dir";
    context.Hour_Offset = 9;
    context.MFT_Unavailable = 1;
    EXPECT_EQ(Reset_Carving_State(context), 0);
    EXPECT_TRUE(context.LogFile_Row_Array.empty());
    EXPECT_TRUE(context.MFT_Creation_Time.empty());
    EXPECT_EQ(context.Full_Path, u"\\test_dir");
    EXPECT_EQ(context.Hour_Offset, 9);
    EXPECT_EQ(context.MFT_Unavailable, 1);
}

TEST(Parsing_State, RecordsStartZeroed) {
    const _log_info log;
    EXPECT_EQ(log.ThisLSN, 0u);
    EXPECT_EQ(log.MFT_ClusterIndex, 0u);
    EXPECT_EQ(log.AbnormalTimestamp, 0u);
    const _ENTRYINFO_2 entry;
    EXPECT_EQ(entry.FileReference, 0u);
    EXPECT_EQ(entry.IsDirectory, 0);
    const Run_Options options;
    EXPECT_EQ(options.g_Carving_Alignment, 8);
}
