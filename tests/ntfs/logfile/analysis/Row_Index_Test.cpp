// The index of the stored rows against the plain newest-first search it
// stands in for, over random row sequences: rows appended as the walk
// appends them, events rewritten in place as a directory's time rewrites
// them, and the array emptied between carved files (also without telling
// the index, and filled again before the next look-up).
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ntfs/logfile/analysis/LogFile_Analysis_Row_Index.h"

namespace {

bool Has(const std::u16string& text, const char16_t* part) { return text.find(part) != std::u16string::npos; }

// The searches as the analysis states them, row by row from the newest.
std::optional<std::size_t> Linear_Naming_Row(const std::vector<_log_info>& rows, const std::u16string& vcn,
                                             const std::u16string& cluster_index) {
    for (std::size_t k = rows.size(); k-- > 0;) {
        const _log_info& r = rows[k];
        if (r.TargetVCN != vcn || r.ClusterIndex != cluster_index || r.Event == u"Temp Event") continue;
        if (Has(r.Event, u"File Deletion")) return k;
        if (Has(r.Event, u"File Creation") || Has(r.Event, u"Directory Creation") || Has(r.Event, u"Renaming File") ||
            Has(r.Event, u"Move(After)"))
            return k;
    }
    return std::nullopt;
}

std::optional<std::size_t> Linear_Creation_Row(const std::vector<_log_info>& rows, const std::u16string& vcn,
                                               const std::u16string& cluster_index) {
    for (std::size_t k = rows.size(); k-- > 0;) {
        const _log_info& r = rows[k];
        if (r.TargetVCN == vcn && r.ClusterIndex == cluster_index && Has(r.Event, u"Creation") && !r.FileName.empty())
            return k;
    }
    return std::nullopt;
}

std::vector<std::size_t> Linear_Event_Rows(const std::vector<_log_info>& rows) {
    std::vector<std::size_t> positions;
    for (std::size_t k = 0; k < rows.size(); ++k)
        if (!rows[k].Event.empty()) positions.push_back(k);
    return positions;
}

const std::vector<std::u16string> Events = {
    u"",
    u"Temp Event",
    u"# Check Point",
    u"File Creation",
    u"File Creation(File System Tunneling)",
    u"Directory Creation",
    u"File Deletion",
    u"Directory Deletion",
    u"Renaming File",
    u"Renaming Directory",
    u"Move(After)",
    u"Time Reversal Event",
    u"CreationTime Update Event",
    u"Updating Modified Time & Changing FileAttribute",
    u"Writing Content of Resident File",
};
const std::vector<std::u16string> Vcns = {u"0x1", u"0x2", u"0x3", u"0xC"};
const std::vector<std::u16string> Cluster_Indexes = {u"0x0", u"0x2", u"0x4", u"0x3"};

TEST(LogFile_Row_Index, SameRowAsTheNewestFirstSearch) {
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::mt19937_64 random(seed);
        const auto pick = [&](const std::vector<std::u16string>& from) { return from[random() % from.size()]; };
        const auto new_row = [&] {
            _log_info r;
            r.ThisLSN = random();
            r.TargetVCN = pick(Vcns);
            r.ClusterIndex = pick(Cluster_Indexes);
            r.Event = pick(Events);
            r.FileName = random() % 4 == 0 ? u"" : u"f.txt";
            return r;
        };
        std::vector<_log_info> rows;
        LogFile_Row_Index index;
        for (int step = 0; step < 1500; ++step) {
            const unsigned op = random() % 100;
            if (op < 70) {
                rows.push_back(new_row());
            } else if (op < 75 && !rows.empty()) {
                // A creation found tunnelled is rewritten in place.
                _log_info& r = rows[random() % rows.size()];
                if (r.Event == u"File Creation") r.Event = u"File Creation(File System Tunneling)";
            } else if (op < 77) {
                // The next carved file: emptied, then filled before the next look-up.
                rows.clear();
                for (int n = static_cast<int>(random() % 40); n > 0; --n) rows.push_back(new_row());
            } else if (op < 78) {
                rows.clear();
                index.Clear();
            }
            const std::u16string vcn = pick(Vcns);
            const std::u16string cluster_index = pick(Cluster_Indexes);
            ASSERT_EQ(index.Newest_Naming_Row(rows, vcn, cluster_index), Linear_Naming_Row(rows, vcn, cluster_index))
                << "seed " << seed << " step " << step;
            ASSERT_EQ(index.Newest_Creation_Row(rows, vcn, cluster_index), Linear_Creation_Row(rows, vcn, cluster_index))
                << "seed " << seed << " step " << step;
            if (step % 10 == 0) {
                ASSERT_EQ(index.Event_Rows(rows), Linear_Event_Rows(rows)) << "seed " << seed;
            }
        }
    }
}

TEST(LogFile_Row_Index, ARowNoLongerFittingIsNotReturned) {
    std::vector<_log_info> rows(3);
    for (std::size_t k = 0; k < rows.size(); ++k) {
        rows[k].ThisLSN = 100 + k;
        rows[k].TargetVCN = u"0x5";
        rows[k].ClusterIndex = u"0x2";
        rows[k].Event = u"File Creation";
        rows[k].FileName = u"a.txt";
    }
    LogFile_Row_Index index;
    EXPECT_EQ(index.Newest_Naming_Row(rows, u"0x5", u"0x2"), std::optional<std::size_t>(2));
    rows[2].Event = u"Temp Event";
    rows[2].FileName.clear();
    EXPECT_EQ(index.Newest_Naming_Row(rows, u"0x5", u"0x2"), std::optional<std::size_t>(1));
    EXPECT_EQ(index.Newest_Creation_Row(rows, u"0x5", u"0x2"), std::optional<std::size_t>(1));
    index.Clear();
    rows.clear();
    EXPECT_EQ(index.Newest_Naming_Row(rows, u"0x5", u"0x2"), std::nullopt);
    EXPECT_TRUE(index.Event_Rows(rows).empty());
}

}  // namespace
