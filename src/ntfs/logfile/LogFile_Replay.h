// The replay order of a $LogFile: the normal page area cut into runs of
// ascending LSN, the runs ordered by their first LSN, and the buffer pages
// placed before or after them.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "ntfs/Parsing_Context.h"
#include "ntfs/logfile/LogFile_Format.h"
#include "ntfs/logfile/LogFile_Pages.h"

// The normal page area starts at a fixed file page: 4 for version 1.1 (two
// restart pages and two buffer pages) and 34 for version 2.0 (two restart
// pages and 32 buffer pages). Windows leaves some buffer pages unwritten
// (0xFF), so the area cannot be found by counting record pages.
inline constexpr std::uint64_t Normal_Area_Start_V11 = 4 * LogFile_Page_Size;
inline constexpr std::uint64_t Normal_Area_Start_V20 = 34 * LogFile_Page_Size;

// The largest and smallest last LSN of the pages that were grouped (zeros
// included); with no page, 0 and all ones.
struct Run_Bounds {
    std::uint64_t Largest_LSN = 0;
    std::uint64_t Smallest_LSN = ~std::uint64_t{0};
};

// Cuts `pages` (file order) into runs: the first page opens the first run and
// gets FirstPageFlag 1; a later page whose last LSN is below the reference
// page's (and not 0) opens a new run; a page with last LSN 0 joins the current
// run without becoming the reference. Each run is appended to `groups`.
Run_Bounds Group_Pages_Into_Runs(std::span<_page_info> pages, std::vector<std::unique_ptr<Page_Group>>& groups);

// Appends the pages of every run to `replay`, runs ordered by KeyLSN (equal
// keys keep their file order), pages in file order, then deletes the runs.
void Append_Runs_In_Replay_Order(std::vector<std::unique_ptr<Page_Group>>& groups, std::vector<_page_info>& replay);

// Of two buffer-page candidates valued e0 and e1 against the largest normal
// LSN m: 0 (the first), 1 (the second) or -1 (none). Both below m: none; one
// above m and the other below: that one; otherwise the larger, the first on
// a tie.
int Choose_Buffer_Page(std::uint64_t e0, std::uint64_t e1, std::uint64_t m);

// Appends to context.Replay_Page_Array the version 2.0 order: the buffer pages
// older than every normal page (by last LSN), the runs of
// context.Page_Group_Array, then the buffer pages newer than every normal
// page; a buffer page between the two is left out.
void Append_V20_Replay_Order(Global_Parsing_Context& context, std::span<const _page_info> buffer,
                             const Run_Bounds& bounds);

// Builds context.Replay_Page_Array from context.Record_Page_Array (every
// record page of the log, file order) for a version 1.1 or 2.0 log.
void Build_Replay_Order(Global_Parsing_Context& context, const Restart_Info& version);
