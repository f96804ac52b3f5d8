// Runs a test's code with another current directory, where the program looks
// for Signature.db.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

class Scoped_Working_Directory {
public:
    explicit Scoped_Working_Directory(const std::string& folder) : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~Scoped_Working_Directory() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
    }
    Scoped_Working_Directory(const Scoped_Working_Directory&) = delete;
    Scoped_Working_Directory& operator=(const Scoped_Working_Directory&) = delete;

private:
    std::filesystem::path previous_;
};
