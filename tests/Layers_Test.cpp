// The floors of the source tree, lowest first: a file includes headers of its
// own floor and the floors below it, never one above.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace {

const std::map<std::string, int> Floor_Of = {
    {"platform", 0}, {"db", 1},        {"records", 2}, {"output", 3},
    {"ntfs", 3},     {"carving", 3},   {"detection", 4}, {"app", 5},
};

TEST(Layers, NoFileIncludesAFloorAboveItsOwn) {
    const std::filesystem::path src = std::filesystem::path(TREVALON_SOURCE_DIR) / "src";
    const std::regex include(R"(^\s*#\s*include\s*"([a-z]+)/)");
    std::vector<std::string> upward;
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(src)) {
        if (!entry.is_regular_file()) continue;
        const std::string layer = std::filesystem::relative(entry.path(), src).begin()->string();
        const auto own = Floor_Of.find(layer);
        ASSERT_NE(own, Floor_Of.end()) << "a folder of no floor: " << layer;
        ++files;
        std::ifstream in(entry.path());
        std::string line;
        std::smatch m;
        while (std::getline(in, line)) {
            if (!std::regex_search(line, m, include)) continue;
            const auto included = Floor_Of.find(m[1].str());
            if (included == Floor_Of.end() || included->second > own->second)
                upward.push_back(std::filesystem::relative(entry.path(), src).string() + ": " + line);
        }
    }
    EXPECT_GT(files, 0u);
    EXPECT_EQ(upward, std::vector<std::string>{});
}

}  // namespace
