// A fixture that carves built images and reads back what the carver made of
// them: the replay list as log pages, and the LSNs the walk went through.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "carving/Carve_LogFile_Records.h"
#include "db/CppSQLite3.h"
#include "output/Event_Tables.h"
#include "support/Carving_Image_Builder.h"
#include "support/Temp_Dir.h"

namespace carving_test {

// The pages of a whole log as Windows wrote them: normal pages from
// `first_normal` laid with records of `sequence`, the page being written
// (the one after the last normal page) copied into buffer page 0, and the
// normal page before the last one copied into buffer page 1 (an older copy,
// ending before the normal area does).
struct Written_Log {
    std::map<std::size_t, Bytes> pages;  // by log page
    std::vector<std::uint64_t> lsns;     // every record, in LSN order
    std::size_t last_normal = 0;

    Written_Log(std::size_t first_normal, std::size_t normal_pages, std::uint64_t sequence, std::size_t buffer_0 = 2,
                std::size_t buffer_1 = 3) {
        // Records of 0x98 bytes, some crossing page ends; the page being
        // written is about half full.
        const std::size_t count = (normal_pages * 4032 + 2000) / 0x98;
        const auto records = Plain_Records(count, 0x98);
        const Laid_Log laid = Lay_Numbered(records, sequence, first_normal);
        lsns = Lsns_Of(records, laid, sequence, first_normal);
        for (std::size_t i = 0; i < normal_pages; ++i) pages[first_normal + i] = laid.pages[i];
        last_normal = first_normal + normal_pages - 1;
        pages[buffer_0] = laid.pages[normal_pages];
        pages[buffer_1] = laid.pages[normal_pages >= 2 ? normal_pages - 2 : 0];
    }

    Log_Layout Layout(Log_Version version, std::size_t page_count) const {
        Log_Layout layout(version, page_count);
        for (const auto& [page, bytes] : pages) layout.Page(page, bytes);
        return layout;
    }
};

// A record page holding a few records of `sequence`, numbered as if it stood
// at `log_page`.
inline Bytes Record_Page_At(std::uint64_t sequence, std::size_t log_page) {
    return Lay_Numbered(Plain_Records(12, 0x98), sequence, log_page).pages[0];
}

class Carving_Fixture : public ::testing::Test {
protected:
    void SetUp() override {
        db.Open_With_Pragmas(dir.File("out.db"));
        db.Run_Query(Event_Table_Sql::Create_LogFile);
    }

    // Carves `image` with an analysis that does nothing; the LSNs walked.
    std::vector<std::uint64_t> Carve(const Carving_Image& image, bool quick = false) {
        context = Global_Parsing_Context{};
        std::vector<std::uint64_t> lsns;
        result = Carve_LogFile_Records_With(
            context, image.Write(dir.File("carved.bin")), db, 0, quick,
            [](const Log_Record_Header&, _log_info&, const _log_info&, const Client_Data_View&) {},
            [&](const _log_info& record, bool) { lsns.push_back(record.ThisLSN); });
        return lsns;
    }

    // Where the pages of a list lie, in pages from `base` (a page before
    // `base` is negative).
    static std::vector<long long> Pages_From(const std::vector<_page_info>& list, std::uint64_t base) {
        std::vector<long long> pages;
        for (const _page_info& page : list)
            pages.push_back((static_cast<long long>(page.FileOffset) - static_cast<long long>(base)) / 4096);
        return pages;
    }
    std::vector<long long> Replay(std::uint64_t base) const { return Pages_From(context.Replay_Page_Array, base); }

    Temp_Dir dir;
    CppSQLite3DB db;
    Global_Parsing_Context context;
    int result = -1;
};

// Log pages first..last.
inline std::vector<long long> Page_Range(long long first, long long last) {
    std::vector<long long> pages;
    for (long long p = first; p <= last; ++p) pages.push_back(p);
    return pages;
}

inline std::vector<long long> Concat(std::vector<long long> a, const std::vector<long long>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace carving_test
