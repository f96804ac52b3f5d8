// The whole program run once over a real volume's $LogFile with its $MFT
// (-l -m -c, UTC), its stored rows and its LogFile CSV, shared by the suites
// that check the events of that volume.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/Run_Harness.h"
#include "support/Sqlite_Query.h"
#include "support/Temp_Dir.h"

namespace real_volume {

inline std::string Real(const std::string& relative) {
    return std::string(TREVALON_REAL_DATA_DIR) + "/" + relative;
}

struct Stored_Row {
    std::string event_time, event, detail, file_name, full_path, create_time;
};

class Volume_Run {
public:
    explicit Volume_Run(const std::string& folder) {
        const std::string log = Real(folder + "/LogFile");
        const std::string mft = Real(folder + "/MFT");
        if (!std::filesystem::exists(log) || !std::filesystem::exists(mft)) return;
        available_ = true;
        result_ = Run_Program({"-l", log, "-m", mft, "-o", out_.Path(), "-t", "0", "-c"});
        db_ = out_.Path() + "/QVM_" + Pinned_Stamp + ".db";
        for (const std::string& line :
             Query_Rows(db_, "select LSN, EventTime, Event, Detail, FileName, FullPath, CreateTime from LogFile")) {
            std::vector<std::string> f;
            std::size_t start = 0;
            for (std::size_t bar; (bar = line.find('|', start)) != std::string::npos; start = bar + 1)
                f.push_back(line.substr(start, bar - start));
            f.push_back(line.substr(start));
            if (f.size() != 7) continue;  // a "|" inside a long name: not among the rows checked
            rows_[std::stoull(f[0])] = Stored_Row{f[1], f[2], f[3], f[4], f[5], f[6]};
        }
        csv_ = Read_File(out_.Path() + "/QVM_LogFile_" + Pinned_Stamp + ".csv");
    }
    bool Available() const { return available_; }
    const Run_Result& Result() const { return result_; }
    const std::string& Db() const { return db_; }
    const std::string& Csv() const { return csv_; }
    // The row of `lsn` (an empty row with Event "<no row>" when there is none).
    Stored_Row Row(std::uint64_t lsn) const {
        const auto found = rows_.find(lsn);
        return found != rows_.end() ? found->second : Stored_Row{"", "<no row>", "", "", "", ""};
    }
    std::size_t Count(const std::string& event) const {
        std::size_t n = 0;
        for (const auto& [lsn, row] : rows_) n += row.event == event;
        return n;
    }

private:
    Temp_Dir out_;
    bool available_ = false;
    Run_Result result_;
    std::string db_;
    std::string csv_;
    std::map<std::uint64_t, Stored_Row> rows_;
};

// The run of `folder`, made by the first suite that asks for it; every
// suite of the test program reads the same one.
inline const Volume_Run& Shared_Run(const std::string& folder) {
    static std::map<std::string, std::unique_ptr<Volume_Run>> runs;
    std::unique_ptr<Volume_Run>& run = runs[folder];
    if (!run) run = std::make_unique<Volume_Run>(folder);
    return *run;
}

// The stored Event, Detail, FileName and FullPath of one row.
inline void Expect_Row(const Volume_Run& run, std::uint64_t lsn, const std::string& event, const std::string& detail,
                       const std::string& file_name, const std::string& full_path) {
    const Stored_Row r = run.Row(lsn);
    EXPECT_EQ(r.event, event) << "LSN " << lsn;
    EXPECT_EQ(r.detail, detail) << "LSN " << lsn;
    EXPECT_EQ(r.file_name, file_name) << "LSN " << lsn;
    EXPECT_EQ(r.full_path, full_path) << "LSN " << lsn;
}

// A suite over one volume's shared run, skipped with the reason when the
// sample is not there.
template <const char* Folder>
class Volume_Suite : public testing::Test {
protected:
    void SetUp() override {
        if (!Run().Available()) GTEST_SKIP() << "real sample " << Real(Folder) << " is not there";
    }
    static const Volume_Run& Run() { return Shared_Run(Folder); }
};

inline constexpr char Win10_Folder[] = "win10-20h1-volume";
inline constexpr char Tiny_Folder[] = "tiny-volume-2013";

}  // namespace real_volume
