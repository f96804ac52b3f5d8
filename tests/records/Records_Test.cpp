#include <gtest/gtest.h>

#include "records/Records.h"
#include "records/Run_Options.h"

TEST(Records, RecordsStartZeroed) {
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
