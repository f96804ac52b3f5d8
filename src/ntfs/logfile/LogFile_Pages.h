// What the $LogFile reader and carver keep per record page (RCRD), and the
// runs of ascending LSN that the replay order is built from.
#pragma once

#include <cstdint>
#include <vector>

// One record page: the values of its 64-byte header and where it lies.
struct _page_info {
    std::uint64_t PageIndex = 0;     // among the record pages of the file, file order, from 0
    std::uint64_t LastLSN = 0;       // header u64 at 0x08
    std::uint64_t LastEndLSN = 0;    // header u64 at 0x20
    std::uint64_t PageCount = 0;     // header u16 at 0x14
    std::uint64_t PagePosition = 0;  // header u16 at 0x16
    std::uint64_t FileOffset = 0;
    std::uint32_t FirstPageFlag = 0;  // 1 on the first normal page of the first run
    // Set by the carver on a page whose next page in the file was never
    // written (0xFF): what runs on from this page was lost there.
    bool Followed_By_Unwritten_Page = false;
};

// One run of pages whose last LSNs ascend, keyed by the last LSN of its first
// page; the pages stay in file order.
struct Page_Group {
    std::uint64_t KeyLSN = 0;
    std::vector<_page_info> Pages;
};
