#include "ntfs/logfile/LogFile_Replay.h"

#include <algorithm>

Run_Bounds Group_Pages_Into_Runs(std::span<_page_info> pages, std::vector<std::unique_ptr<Page_Group>>& groups) {
    Run_Bounds bounds;
    Page_Group* current = nullptr;
    std::uint64_t reference = 0;
    for (std::size_t p = 0; p < pages.size(); ++p) {
        _page_info& page = pages[p];
        const std::uint64_t lsn = page.LastLSN;
        bounds.Largest_LSN = std::max(bounds.Largest_LSN, lsn);
        bounds.Smallest_LSN = std::min(bounds.Smallest_LSN, lsn);
        page.FirstPageFlag = p == 0 ? 1 : 0;
        if (p == 0 || (lsn != 0 && lsn < reference)) {
            groups.push_back(std::make_unique<Page_Group>());
            current = groups.back().get();
            current->KeyLSN = lsn;
            reference = lsn;
        } else if (lsn != 0) {
            reference = lsn;
        }
        // A page whose last LSN is 0 joins the current run without becoming
        // the reference, so it never cuts a run.
        current->Pages.push_back(page);
    }
    return bounds;
}

void Append_Runs_In_Replay_Order(std::vector<std::unique_ptr<Page_Group>>& groups, std::vector<_page_info>& replay) {
    std::stable_sort(groups.begin(), groups.end(), [](const std::unique_ptr<Page_Group>& a, const std::unique_ptr<Page_Group>& b) {
        return Compare_Page_Group_By_LSN(*a, *b) < 0;
    });
    for (const auto& group : groups) replay.insert(replay.end(), group->Pages.begin(), group->Pages.end());
    groups.clear();
}

int Choose_Buffer_Page(std::uint64_t e0, std::uint64_t e1, std::uint64_t m) {
    if (e0 < m && e1 < m) return -1;
    if (e0 > m && e1 < m) return 0;
    if (e1 > m && e0 < m) return 1;
    return e1 > e0 ? 1 : 0;
}

namespace {

void Sort_By_Last_Lsn(std::vector<_page_info>& pages) {
    std::stable_sort(pages.begin(), pages.end(),
                     [](const _page_info& a, const _page_info& b) { return Compare_Page_Info_By_LSN(a, b) < 0; });
}

}  // namespace

void Build_Replay_Order(Global_Parsing_Context& context, const Restart_Info& version) {
    const bool v20 = version.Major_Version == 2;
    const std::uint64_t normal_start = v20 ? Normal_Area_Start_V20 : Normal_Area_Start_V11;
    std::vector<_page_info>& records = context.Record_Page_Array;
    const auto first_normal = std::find_if(records.begin(), records.end(),
                                           [&](const _page_info& page) { return page.FileOffset >= normal_start; });
    const std::span<_page_info> buffer(records.begin(), first_normal);
    const std::span<_page_info> normal(first_normal, records.end());

    const Run_Bounds bounds = Group_Pages_Into_Runs(normal, context.Page_Group_Array);
    std::vector<_page_info>& replay = context.Replay_Page_Array;

    if (!v20) {
        Append_Runs_In_Replay_Order(context.Page_Group_Array, replay);
        // At most one of the two buffer pages (file pages 2 and 3) follows the
        // runs: the one that ends later than the normal area.
        if (buffer.size() >= 2) {
            const int chosen = Choose_Buffer_Page(buffer[0].LastEndLSN, buffer[1].LastEndLSN, bounds.Largest_LSN);
            if (chosen >= 0) replay.push_back(buffer[static_cast<std::size_t>(chosen)]);
        } else if (buffer.size() == 1 && buffer[0].LastEndLSN >= bounds.Largest_LSN) {
            replay.push_back(buffer[0]);
        }
        return;
    }

    Append_V20_Replay_Order(context, buffer, bounds);
}

void Append_V20_Replay_Order(Global_Parsing_Context& context, std::span<const _page_info> buffer,
                             const Run_Bounds& bounds) {
    for (const _page_info& page : buffer) {
        if (page.LastLSN > bounds.Largest_LSN)
            context.Newer_Buffer_Page_Array.push_back(page);
        else if (page.LastLSN < bounds.Smallest_LSN)
            context.Older_Buffer_Page_Array.push_back(page);
    }
    Sort_By_Last_Lsn(context.Older_Buffer_Page_Array);
    Sort_By_Last_Lsn(context.Newer_Buffer_Page_Array);
    std::vector<_page_info>& replay = context.Replay_Page_Array;
    replay.insert(replay.end(), context.Older_Buffer_Page_Array.begin(), context.Older_Buffer_Page_Array.end());
    Append_Runs_In_Replay_Order(context.Page_Group_Array, replay);
    replay.insert(replay.end(), context.Newer_Buffer_Page_Array.begin(), context.Newer_Buffer_Page_Array.end());
}
