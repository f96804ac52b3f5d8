// The page lists the carver builds for logs that lost restart pages (1.1 and
// 2.0 with one restart page) or both (no restart page), and for 2.0 logs.
#include "carving/Carved_Page_List.h"
#include "carving/Carving_Test_Support.h"

namespace {

using namespace carving_test;

constexpr std::uint64_t Log_At = 0x9000;  // where the logs lie in the carved files
constexpr std::uint64_t Page = 4096;

// ---- Version 1.1, one restart page ----

using Carve_V11_One_Restart = Carving_Fixture;

TEST_F(Carve_V11_One_Restart, Which_Restart_Page_Was_Lost) {
    // A log whose normal area holds sequence 2 and whose buffer page 1 is an
    // old page of sequence 1.
    Written_Log wrapped(4, 6, 2);
    wrapped.pages[3] = Record_Page_At(1, 9);
    const Written_Log plain(4, 6, 1);
    struct Case {
        const char* what;
        const Written_Log& log;
        std::size_t lost_restart;
        std::map<std::size_t, Bytes> changed;  // log pages replaced
        std::vector<long long> replay;         // in pages from the log's start
    };
    const auto whole = Concat(Page_Range(4, 9), {2});
    const Case cases[] = {
        {"the second lost, page 3 of an older sequence than page 4: first form", wrapped, 1, {}, whole},
        {"the first lost, pages 4 and 5 of one sequence: second form", plain, 0, {}, whole},
        // The writer wrapped onto page 4: it is one sequence above page 5,
        // which also means the first restart page was lost. Page 7 without
        // records keeps its place, as only the rebuilt normal area keeps it.
        {"the first lost, page 4 one sequence above page 5: second form", plain, 0,
         {{4, Record_Page_At(2, 4)}, {7, Bytes(4096, 0)}}, Concat(Page_Range(5, 9), {4})},
        {"the first lost, page 5 not scanned, the first scanned page right after the restart page: second form",
         plain, 0, {{5, Without_Magic(plain.pages.at(5))}}, whole},
        {"second form, page 3 read wins a tie against scanned page 2", plain, 0,
         {{3, Without_Magic(plain.pages.at(2))}}, Concat(Page_Range(4, 9), {3})},
        {"neither form: the pages from the first run of three, the buffer page read", plain, 0,
         {{2, Without_Magic(plain.pages.at(2))}, {5, Without_Magic(plain.pages.at(5))}}, whole},
        {"neither form, nothing found at base + 2 pages: no buffer page whatever base + 1 page holds", plain, 0,
         {{2, Without_Magic(plain.pages.at(2))}, {3, Bytes(4096, 0)}, {5, Without_Magic(plain.pages.at(5))}},
         Page_Range(4, 9)},
    };
    for (const Case& c : cases) {
        Log_Layout layout = c.log.Layout(Log_Version::V11, 16).Without_Restart_Page(c.lost_restart);
        for (const auto& [page, bytes] : c.changed) layout.Page(page, bytes);
        Carving_Image image(0x30000);
        image.Put(Log_At, layout);
        const auto lsns = Carve(image);
        EXPECT_EQ(Replay(Log_At), c.replay) << c.what;
        if (c.replay == whole) {
            EXPECT_EQ(lsns, c.log.lsns) << c.what;
        }
    }
}

TEST_F(Carve_V11_One_Restart, A_Fallback_Run_After_Two_Buffer_Pages) {
    // Restart page 1 lost; page 3 two sequences above page 4, so neither
    // form fits. The file-offset parts drop from page 2 to 3 and from 3 to 4,
    // so the first run of three starts at scanned page 2 (log page 4):
    // scanned pages 0 and 1 are the buffer candidates, and page 3 ends later.
    Written_Log log(4, 6, 1);
    log.pages[3] = Record_Page_At(3, 7);
    Carving_Image image(0x30000);
    image.Put(Log_At, log.Layout(Log_Version::V11, 16).Without_Restart_Page(1));
    Carve(image);
    EXPECT_EQ(Replay(Log_At), Concat(Page_Range(4, 9), {3}));
}

// ---- Version 2.0 ----

// A 2.0 log of 42 pages: normal pages 34-39 of sequence 2, the page being
// written copied into buffer page 2 (newer than the normal area), buffer page
// 7 a copy of page 38 (inside the normal area's LSNs), buffer page 5 an old
// page of sequence 1, buffer page 9 lost its magic but holds records of
// sequence 2 older than the normal area, buffer page 12 lost its magic and
// holds sequence 1 (not searched for).
Written_Log V20_Log() {
    Written_Log log(34, 6, 2, 2, 7);
    log.pages[5] = Record_Page_At(1, 20);
    log.pages[9] = Without_Magic(Record_Page_At(2, 33));
    log.pages[12] = Without_Magic(Record_Page_At(1, 25));
    return log;
}

using Carve_V20 = Carving_Fixture;

TEST_F(Carve_V20, Older_Buffer_Pages_Before_The_Runs_Newer_After) {
    const Written_Log log = V20_Log();
    Carving_Image image(0x40000);
    image.Put(Log_At, log.Layout(Log_Version::V20, 42));
    const auto lsns = Carve(image);
    EXPECT_EQ(Pages_From(context.Carved_Page_Array, Log_At), (std::vector<long long>{2, 5, 7, 9}));
    EXPECT_EQ(Pages_From(context.Older_Buffer_Page_Array, Log_At), (std::vector<long long>{5, 9}));
    EXPECT_EQ(Pages_From(context.Newer_Buffer_Page_Array, Log_At), (std::vector<long long>{2}));
    EXPECT_EQ(Replay(Log_At), Concat(Concat({5, 9}, Page_Range(34, 39)), {2}));
    // The normal records and those of the newer page end the walk, in order.
    ASSERT_GE(lsns.size(), log.lsns.size());
    EXPECT_EQ(std::vector<std::uint64_t>(lsns.end() - static_cast<std::ptrdiff_t>(log.lsns.size()), lsns.end()),
              log.lsns);
}

TEST_F(Carve_V20, One_Restart_Page) {
    const Written_Log log = V20_Log();
    const auto whole = Concat(Concat({5, 9}, Page_Range(34, 39)), {2});
    struct Case {
        const char* what;
        std::size_t lost_restart;
        std::map<std::size_t, Bytes> changed;
        std::vector<long long> replay;  // in pages from the log's start
    };
    const Case cases[] = {
        {"the first lost: page 34's last end LSN points into itself, second form", 0, {}, whole},
        {"the first lost, page 34 not scanned, the first scanned page right after the restart page: second form", 0,
         {{34, Without_Magic(log.pages.at(34))}}, whole},
        {"the second lost: page 33's last end LSN points into page 33, first form", 1,
         {{33, Record_Page_At(2, 33)}, {9, Bytes(4096, 0)}}, Concat(Concat({5, 33}, Page_Range(34, 39)), {2})},
    };
    for (const Case& c : cases) {
        Log_Layout layout = log.Layout(Log_Version::V20, 42).Without_Restart_Page(c.lost_restart);
        for (const auto& [page, bytes] : c.changed) layout.Page(page, bytes);
        Carving_Image image(0x40000);
        image.Put(Log_At, layout);
        Carve(image);
        EXPECT_EQ(Replay(Log_At), c.replay) << c.what;
    }
}

TEST_F(Carve_V20, One_Restart_Page_Neither_Form) {
    // Restart page 1 lost, nothing at log page 33, the first scanned page is
    // page 34: the buffer area follows from what pages 1, 2 and 3 hold. Page
    // 33, lost its magic, lies in only one of the areas.
    const Written_Log normal(34, 6, 2, 40, 41);
    const Bytes found_1 = Without_Magic(Record_Page_At(2, 1));
    const Bytes found_2 = Without_Magic(Record_Page_At(2, 2));
    const Bytes found_3 = Without_Magic(Record_Page_At(2, 3));
    const Bytes found_33 = Without_Magic(Record_Page_At(2, 33));
    const Bytes nothing(4096, 0);
    struct Case {
        const char* what;
        const Bytes& page_1;
        const Bytes& page_2;
        const Bytes& page_3;
        std::vector<long long> older;
    };
    const Case cases[] = {
        {"pages 1, 2 and 3 hold LSNs: the area of pages 1-32", found_1, found_2, found_3, {1, 2, 3}},
        {"pages 2 and 3 but not 1: the area of pages 2-33", nothing, found_2, found_3, {2, 3, 33}},
        {"page 3 holds none: pages 1 up to the first scanned page", found_1, found_2, nothing, {1, 2, 33}},
    };
    for (const Case& c : cases) {
        Log_Layout layout(Log_Version::V20, 42);
        for (std::size_t p = 34; p <= 39; ++p) layout.Page(p, normal.pages.at(p));
        layout.Page(2, c.page_2).Page(3, c.page_3).Page(33, found_33).Without_Restart_Page(1);
        Carving_Image image(0x40000);
        image.Put(Log_At, layout).Put(Log_At + Page, c.page_1);
        Carve(image);
        EXPECT_EQ(Pages_From(context.Older_Buffer_Page_Array, Log_At), c.older) << c.what;
        EXPECT_EQ(Replay(Log_At), Concat(c.older, Page_Range(34, 39))) << c.what;
    }
}

// ---- No restart page ----

using Carve_Without_Restart = Carving_Fixture;

TEST_F(Carve_Without_Restart, The_Start_Of_The_Normal_Area_Is_Found_From_The_Pages) {
    const Written_Log v11(4, 6, 1);
    Written_Log copies = v11;  // buffer page 1 a copy of buffer page 0 that ended earlier
    copies.pages[3] = With_Last_End_Lsn(v11.pages.at(2), 5);
    const Written_Log long_v11(4, 34, 1);
    const Bytes newest_long = long_v11.pages.at(2);
    Written_Log v20(34, 33, 2, 2, 9);  // page 9 a copy of page 65
    v20.pages[5] = Record_Page_At(1, 20);
    struct Case {
        const char* what;
        const Written_Log& log;
        std::map<std::size_t, Bytes> changed;
        std::vector<long long> replay;
    };
    const Case cases[] = {
        {"buffer copies: the normal area after them, one of them last", copies, {}, Concat(Page_Range(4, 9), {2})},
        {"no copies, no run of 32: every page, no buffer page", v11, {}, Concat(Page_Range(4, 9), {3, 2})},
        {"no copies, no run of 32, a gap that holds records filled", v11,
         {{2, Bytes(4096, 0xFF)}, {3, Bytes(4096, 0xFF)}, {6, Without_Magic(v11.pages.at(6))}}, Page_Range(4, 9)},
        {"a gap without records left out", v11,
         {{2, Bytes(4096, 0xFF)}, {3, Bytes(4096, 0xFF)}, {6, Bytes(4096, 0)}}, {4, 5, 7, 8, 9}},
        {"a run from page 1: page 0 last when it ends late enough", long_v11, {{3, Bytes(4096, 0)}},
         Concat(Page_Range(4, 37), {2})},
        {"a run from page 1: page 0 left out when it ends too early", long_v11,
         {{3, Bytes(4096, 0)}, {2, With_Last_End_Lsn(newest_long, 1)}}, Page_Range(4, 37)},
        {"a run from page 3: the pages before are buffer pages", v20, {}, Concat(Concat({5}, Page_Range(34, 66)), {2})},
    };
    for (const Case& c : cases) {
        Log_Layout layout = c.log.Layout(Log_Version::V11, 70).Without_Restart_Page(0).Without_Restart_Page(1);
        for (const auto& [page, bytes] : c.changed) layout.Page(page, bytes);
        Carving_Image image(0x50000);
        image.Put(Log_At, layout);
        Carve(image);
        EXPECT_EQ(Replay(Log_At), c.replay) << c.what;
    }
}

// Pages found at any sector: a gap between two scanned pages is searched
// only at whole pages that end before the next scanned page begins.
TEST_F(Carve_Without_Restart, Gap_Positions_End_Before_The_Next_Scanned_Page) {
    const Written_Log v11(4, 6, 1);
    Log_Layout layout = v11.Layout(Log_Version::V11, 10).Without_Restart_Page(0).Without_Restart_Page(1);
    layout.Page(2, Bytes(4096, 0xFF)).Page(3, Bytes(4096, 0xFF)).Page(6, Without_Magic(v11.pages.at(6)));
    // 512 other bytes before log page 7: pages 7 to 9 lie a sector later.
    const Bytes log = layout.Image();
    Carving_Image image(0x30000);
    image.Put(Log_At, std::span(log).first(7 * Page));
    image.Put(Log_At + 7 * Page + 512, std::span(log).subspan(7 * Page));
    Carve(image);
    std::vector<std::uint64_t> offsets;
    for (const _page_info& page : context.Record_Page_Array) offsets.push_back(page.FileOffset - Log_At);
    // Page 6 is found by its records; the position 7 pages in, whose page
    // would run 512 bytes into the scanned page after it, is not read.
    EXPECT_EQ(offsets, (std::vector<std::uint64_t>{4 * Page, 5 * Page, 6 * Page, 7 * Page + 512, 8 * Page + 512,
                                                   9 * Page + 512}));
}

TEST_F(Carve_Without_Restart, The_Walk_Uses_The_Inferred_Shift) {
    // Buffer copies, then the normal area: the whole log walked with a shift
    // inferred from where the pages lie.
    Written_Log log(4, 6, 1);
    log.pages[3] = With_Last_End_Lsn(log.pages.at(2), 5);
    Carving_Image image(0x30000);
    image.Put(Log_At, log.Layout(Log_Version::V11, 16).Without_Restart_Page(0).Without_Restart_Page(1));
    EXPECT_EQ(Carve(image), log.lsns);
}

TEST_F(Carve_Without_Restart, Too_Few_Pages_For_A_Log) {
    const Written_Log log(4, 2, 1);
    const Bytes& page = log.pages.at(4);
    struct Case {
        const char* what;
        std::vector<Bytes> pages;  // at consecutive pages
        std::size_t replayed;
    };
    const Case cases[] = {
        {"a single record page", {page}, 0},
        {"only two buffer copies", {page, With_Last_End_Lsn(page, 1)}, 0},
        {"two pages that are no copies", {page, log.pages.at(5)}, 2},
        {"two buffer copies and one more page", {page, With_Last_End_Lsn(page, 1), log.pages.at(5)}, 1},
    };
    for (const Case& c : cases) {
        Carving_Image image(0x20000);
        for (std::size_t i = 0; i < c.pages.size(); ++i) image.Put(Log_At + i * Page, c.pages[i]);
        Carve(image);
        EXPECT_EQ(result, 0) << c.what;
        EXPECT_EQ(context.Replay_Page_Array.size(), c.replayed) << c.what;
    }
}

// ---- The searches of a log without restart page ----

_page_info At(std::uint64_t page, std::uint64_t last_lsn) {
    _page_info info;
    info.FileOffset = page * Page;
    info.LastLSN = last_lsn;
    return info;
}

TEST(Carving_Searches, Start_Of_The_First_Ascending_Run) {
    constexpr std::uint64_t S1 = std::uint64_t{1} << 24, S2 = std::uint64_t{2} << 24;
    struct Case {
        const char* what;
        std::vector<_page_info> pages;
        std::size_t run;
        std::uint32_t bits;
        std::size_t k;
    };
    const Case cases[] = {
        {"no page", {}, 3, 0, 0},
        {"fewer pages than the run", {At(0, 1), At(1, 2)}, 3, 0, 0},
        {"a run from the start", {At(0, 1), At(1, 2), At(2, 2), At(3, 1)}, 3, 0, 0},
        {"a run after a drop", {At(0, 9), At(1, 1), At(2, 2), At(3, 3)}, 3, 0, 1},
        {"a run after two drops", {At(0, 9), At(1, 8), At(2, 2), At(3, 3), At(4, 4)}, 3, 0, 2},
        {"a run cut short by the last page", {At(0, 1), At(1, 0), At(2, 5)}, 3, 0, 0},
        {"the offset part drops where the sequence grows", {At(0, S1 | 100), At(1, S2 | 50), At(2, S2 | 60),
                                                            At(3, S2 | 70)}, 3, 40, 1},
        {"without restart page the whole LSN counts", {At(0, S1 | 100), At(1, S2 | 50), At(2, S2 | 60)}, 3, 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Find_Ascending_Run_Start(c.pages, c.run, c.bits), c.k) << c.what;
}

TEST(Carving_Searches, Shift_Inferred_From_The_Last_Drop) {
    auto wrap = [](unsigned shift) {
        // The log wrapped: the newest pages (sequence 2) lie before the oldest.
        return std::vector<_page_info>{At(0, (std::uint64_t{2} << shift) | 0x100),
                                       At(1, (std::uint64_t{2} << shift) | 0x300),
                                       At(2, (std::uint64_t{1} << shift) | 0x500)};
    };
    struct Case {
        const char* what;
        std::vector<_page_info> pages;
        std::size_t k;
        unsigned shift;
    };
    const Case cases[] = {
        {"a wrap with shift 24", wrap(24), 0, 24},
        {"a wrap with shift 19", wrap(19), 0, 19},
        {"a drop no shift explains", {At(0, 0x8000000000000001), At(1, 0x8000000000000000)}, 0, 24},
        {"no drop: the span of the pages", {At(0, 5), At(16, 6)}, 0, 14},      // (16 + 3) * 4096 / 8 = 0x2600
        {"equal LSNs do not drop", {At(0, 5), At(1, 5), At(2, 5)}, 0, 12},     // (2 + 3) * 4096 / 8 = 0xA00
        {"a drop to 0: the span", {At(0, 5), At(1, 0)}, 0, 12},                // (1 + 3) * 4096 / 8 = 0x800
        {"a drop before k does not count", {At(0, 9), At(1, 1), At(2, 2)}, 1, 12},
    };
    for (const Case& c : cases) EXPECT_EQ(Infer_Lsn_Shift(c.pages, c.k), c.shift) << c.what;
}

TEST(Carving_Searches, Path_By_Version_And_Restart_Pages) {
    struct Case {
        std::optional<Restart_Info> restart;
        std::uint64_t count;
        Carving_Path path;
    };
    const Restart_Info v11{.Major_Version = 1, .Minor_Version = 1};
    const Restart_Info v20{.Major_Version = 2, .Minor_Version = 0};
    const Case cases[] = {
        {v11, 2, Carving_Path::V11_Two_Restart_Pages},  {v11, 5, Carving_Path::V11_Two_Restart_Pages},
        {v11, 1, Carving_Path::V11_One_Restart_Page},   {v20, 2, Carving_Path::V20_Two_Restart_Pages},
        {v20, 1, Carving_Path::V20_One_Restart_Page},   {std::nullopt, 0, Carving_Path::Without_Restart_Page},
        {Restart_Info{.Major_Version = 1, .Minor_Version = 0}, 2, Carving_Path::Without_Restart_Page},
        {Restart_Info{.Major_Version = 3, .Minor_Version = 0}, 1, Carving_Path::Without_Restart_Page},
    };
    for (const Case& c : cases) {
        Carved_Log log;
        log.Restart = c.restart;
        log.Restart_Page_Count = c.count;
        EXPECT_EQ(Choose_Carving_Path(log), c.path);
    }
}

}  // namespace
