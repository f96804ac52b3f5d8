#include <gtest/gtest.h>

#include "ntfs/Parsing_Context.h"

TEST(Parsing_Context, ResetCarvingStateEmptiesThePerFilePartOnly) {
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
