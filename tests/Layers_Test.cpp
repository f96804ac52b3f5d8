// The floors of the source tree, lowest first: a file includes headers of its
// own part and the floors below it, never one above, and never another part of
// its own floor (the two halves of the detection know nothing of each other,
// nor do the carving and the detection).
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace {

// A part is a folder under src/, or a single file named without its extension;
// a file belongs to the longest part that holds it.
const std::map<std::string, int> Floor_Of = {
    {"platform", 0},
    {"records", 1},
    {"db", 1},
    {"output", 2},
    {"ntfs", 3},
    {"carving", 4},
    {"detection", 4},
    {"detection/logfile", 5},
    {"detection/usnjrnl", 5},
    // The stage itself runs both halves.
    {"detection/Detect_Suspicious_Behavior", 6},
    {"app", 7},
};

// The part of a path relative to src/, or "" for none.
std::string Part_Of(const std::string& relative) {
    std::string path = relative;
    const auto dot = path.rfind('.');
    if (dot != std::string::npos && path.find('/', dot) == std::string::npos) path.erase(dot);
    std::string best;
    for (const auto& [part, floor] : Floor_Of) {
        (void)floor;
        if (path == part || path.rfind(part + "/", 0) == 0) {
            if (part.size() > best.size()) best = part;
        }
    }
    return best;
}

TEST(Layers, NoFileIncludesAFloorAboveItsOwnOrASideOfItsOwnFloor) {
    const std::filesystem::path src = std::filesystem::path(TREVALON_SOURCE_DIR) / "src";
    const std::regex include(R"(^\s*#\s*include\s*"([a-z]+/[^"]+)\")");
    std::vector<std::string> climbing;
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(src)) {
        if (!entry.is_regular_file()) continue;
        const std::string relative = std::filesystem::relative(entry.path(), src).generic_string();
        const std::string own = Part_Of(relative);
        ASSERT_FALSE(own.empty()) << "a file of no floor: " << relative;
        ++files;
        std::ifstream in(entry.path());
        std::string line;
        std::smatch m;
        while (std::getline(in, line)) {
            if (!std::regex_search(line, m, include)) continue;
            const std::string header = m[1].str();
            const std::string part = Part_Of(header);
            if (part == own) continue;
            if (!part.empty() && Floor_Of.at(part) < Floor_Of.at(own)) continue;
            climbing.push_back(relative + ": " + line);
        }
    }
    EXPECT_GT(files, 0u);
    EXPECT_EQ(climbing, std::vector<std::string>{});
}

TEST(Layers, APathBelongsToItsLongestPart) {
    EXPECT_EQ(Part_Of("detection/Findings.h"), "detection");
    EXPECT_EQ(Part_Of("detection/logfile/LogFile_Refinement.cpp"), "detection/logfile");
    EXPECT_EQ(Part_Of("detection/usnjrnl/UsnJrnl_Facts.h"), "detection/usnjrnl");
    EXPECT_EQ(Part_Of("detection/Detect_Suspicious_Behavior.cpp"), "detection/Detect_Suspicious_Behavior");
    EXPECT_EQ(Part_Of("ntfs/logfile/analysis/LogFile_Analysis.h"), "ntfs");
    EXPECT_EQ(Part_Of("detections/X.h"), "");
}

}  // namespace
