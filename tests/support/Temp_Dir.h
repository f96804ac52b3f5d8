// A temporary folder removed with everything in it when the test ends.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

class Temp_Dir {
public:
    Temp_Dir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "trevalon-test-XXXXXX").string();
        char* made = mkdtemp(pattern.data());
        if (made != nullptr) path_ = made;
    }
    ~Temp_Dir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    Temp_Dir(const Temp_Dir&) = delete;
    Temp_Dir& operator=(const Temp_Dir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    std::string Make_Dir(const std::string& name) const {
        std::filesystem::create_directories(File(name));
        return File(name);
    }
    std::string Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(File(name), std::ios::binary) << bytes;
        return File(name);
    }
    std::vector<std::string> List() const;

private:
    std::string path_;
};

// The names in a folder, sorted.
inline std::vector<std::string> List_Folder(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline std::vector<std::string> Temp_Dir::List() const { return List_Folder(path_); }

inline std::string Read_File(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
