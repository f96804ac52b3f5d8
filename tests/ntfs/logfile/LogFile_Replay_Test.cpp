#include <gtest/gtest.h>

#include <vector>

#include "ntfs/logfile/LogFile_Replay.h"
#include "support/LogFile_Builder.h"

namespace {

_page_info Page_At(std::uint64_t file_page, std::uint64_t last_lsn, std::uint64_t last_end_lsn = 0) {
    _page_info p;
    p.FileOffset = file_page * 4096;
    p.LastLSN = last_lsn;
    p.LastEndLSN = last_end_lsn;
    return p;
}

std::vector<std::uint64_t> Last_Lsns(const std::vector<_page_info>& pages) {
    std::vector<std::uint64_t> lsns;
    for (const _page_info& p : pages) lsns.push_back(p.LastLSN);
    return lsns;
}

std::vector<std::uint64_t> File_Pages(const std::vector<_page_info>& pages) {
    std::vector<std::uint64_t> numbers;
    for (const _page_info& p : pages) numbers.push_back(p.FileOffset / 4096);
    return numbers;
}

TEST(LogFile_Runs, A_Zero_Last_Lsn_Never_Cuts_A_Run) {
    std::vector<_page_info> pages = {Page_At(4, 100), Page_At(5, 200), Page_At(6, 0), Page_At(7, 150), Page_At(8, 300)};
    std::vector<std::unique_ptr<Page_Group>> groups;
    const Run_Bounds bounds = Group_Pages_Into_Runs(pages, groups);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0]->KeyLSN, 100u);
    EXPECT_EQ(Last_Lsns(groups[0]->Pages), (std::vector<std::uint64_t>{100, 200, 0}));
    EXPECT_EQ(groups[1]->KeyLSN, 150u);
    EXPECT_EQ(Last_Lsns(groups[1]->Pages), (std::vector<std::uint64_t>{150, 300}));
    EXPECT_EQ(bounds.Largest_LSN, 300u);
    EXPECT_EQ(bounds.Smallest_LSN, 0u);  // zeros count
    EXPECT_EQ(groups[0]->Pages[0].FirstPageFlag, 1u);
    EXPECT_EQ(groups[0]->Pages[1].FirstPageFlag, 0u);
    EXPECT_EQ(groups[1]->Pages[0].FirstPageFlag, 0u);
}

TEST(LogFile_Runs, A_Wrapped_Log_Is_Replayed_From_Its_Oldest_Run) {
    // The writer wrapped after page 6: pages 7 and 8 still hold the older records.
    std::vector<_page_info> pages = {Page_At(4, 900), Page_At(5, 950), Page_At(6, 990), Page_At(7, 500),
                                     Page_At(8, 600), Page_At(9, 700)};
    std::vector<std::unique_ptr<Page_Group>> groups;
    Group_Pages_Into_Runs(pages, groups);
    std::vector<_page_info> replay;
    Append_Runs_In_Replay_Order(groups, replay);
    EXPECT_TRUE(groups.empty());
    EXPECT_EQ(File_Pages(replay), (std::vector<std::uint64_t>{7, 8, 9, 4, 5, 6}));
    EXPECT_EQ(replay[3].FirstPageFlag, 1u);  // the flag stays with the first normal page in file order
}

TEST(LogFile_Runs, Runs_With_Equal_Keys_Keep_Their_File_Order) {
    std::vector<_page_info> pages = {Page_At(4, 500), Page_At(5, 100), Page_At(6, 100)};
    pages[2].LastLSN = 100;
    std::vector<std::unique_ptr<Page_Group>> groups;
    Group_Pages_Into_Runs(pages, groups);  // {500}, {100, 100}
    std::vector<_page_info> replay;
    Append_Runs_In_Replay_Order(groups, replay);
    EXPECT_EQ(File_Pages(replay), (std::vector<std::uint64_t>{5, 6, 4}));
}

TEST(LogFile_Replay_V11, One_Buffer_Page_At_Most_After_The_Runs) {
    struct Case {
        std::uint64_t e0, e1;
        int chosen;  // file page of the buffer page replayed last, or -1
    };
    // The largest LSN of the normal area is 500.
    const Case cases[] = {
        {600, 400, 2}, {400, 600, 3}, {600, 600, 2}, {400, 450, -1}, {700, 800, 3}, {800, 700, 2}, {500, 400, 2},
        {400, 500, 3},
    };
    for (const Case& c : cases) {
        Global_Parsing_Context context;
        context.Record_Page_Array = {Page_At(2, 1, c.e0), Page_At(3, 1, c.e1), Page_At(4, 300), Page_At(5, 500)};
        Build_Replay_Order(context, Restart_Info{.Major_Version = 1, .Minor_Version = 1});
        std::vector<std::uint64_t> expected = {4, 5};
        if (c.chosen >= 0) expected.push_back(static_cast<std::uint64_t>(c.chosen));
        EXPECT_EQ(File_Pages(context.Replay_Page_Array), expected) << c.e0 << " " << c.e1;
        EXPECT_TRUE(context.Page_Group_Array.empty());
    }
    EXPECT_EQ(Choose_Buffer_Page(600, 400, 500), 0);
    EXPECT_EQ(Choose_Buffer_Page(400, 450, 500), -1);
}

TEST(LogFile_Replay, Where_The_Normal_Area_Starts_And_Logs_Shorter_Than_It) {
    const Restart_Info v11{.Major_Version = 1, .Minor_Version = 1};
    const Restart_Info v20{.Major_Version = 2, .Minor_Version = 0};
    const struct {
        const char* what;
        Restart_Info version;
        std::vector<_page_info> pages;
        std::vector<std::uint64_t> replay;
    } cases[] = {
        // File page 3 is no record page: page 2 is the only buffer page and
        // page 4 the first normal page (counting record pages would make
        // page 4 a buffer page).
        {"1.1, one buffer page that ends after the normal area", v11,
         {Page_At(2, 1, 900), Page_At(4, 300), Page_At(5, 500)}, {4, 5, 2}},
        {"1.1, a single buffer page that ends before the normal area is left out", v11,
         {Page_At(2, 1, 100), Page_At(4, 300), Page_At(5, 500)}, {4, 5}},
        {"1.1, a log that ends inside the buffer area: the buffer pages alone", v11,
         {Page_At(2, 1, 100), Page_At(3, 1, 90)}, {2}},
        {"2.0, a log shorter than its buffer area", v20, {Page_At(2, 300), Page_At(3, 100), Page_At(5, 200)},
         {3, 5, 2}},
        {"2.0, no record page", v20, {}, {}},
    };
    for (const auto& c : cases) {
        Global_Parsing_Context context;
        context.Record_Page_Array = c.pages;
        Build_Replay_Order(context, c.version);
        EXPECT_EQ(File_Pages(context.Replay_Page_Array), c.replay) << c.what;
    }
}

TEST(LogFile_Replay_V20, Older_Buffer_Pages_First_Newer_Last_Others_Left_Out) {
    Global_Parsing_Context context;
    context.Record_Page_Array = {
        Page_At(2, 950),   // newer
        Page_At(3, 50),    // older
        Page_At(9, 0),     // older: 0 is below the smallest normal LSN
        Page_At(13, 400),  // between the smallest and largest: left out
        Page_At(14, 700),  // equal to the largest normal LSN: left out
        Page_At(15, 300),  // equal to the smallest normal LSN: left out
        Page_At(20, 20),   // older
        Page_At(33, 920),  // newer
        Page_At(34, 600),  // normal area from file page 34, though only 6 record pages precede it
        Page_At(35, 700),
        Page_At(36, 300),  // the log wrapped here
        Page_At(37, 350),
    };
    Build_Replay_Order(context, Restart_Info{.Major_Version = 2, .Minor_Version = 0});
    EXPECT_EQ(Last_Lsns(context.Older_Buffer_Page_Array), (std::vector<std::uint64_t>{0, 20, 50}));
    EXPECT_EQ(Last_Lsns(context.Newer_Buffer_Page_Array), (std::vector<std::uint64_t>{920, 950}));
    EXPECT_EQ(File_Pages(context.Replay_Page_Array),
              (std::vector<std::uint64_t>{9, 20, 3, 36, 37, 34, 35, 33, 2}));
    EXPECT_EQ(context.Replay_Page_Array[5].FirstPageFlag, 1u);
}

}  // namespace
