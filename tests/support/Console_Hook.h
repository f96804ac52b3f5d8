// Console text that also runs `action` once, as soon as what was written to
// it first holds `marker`: a test's way in between two steps of a run.
#pragma once

#include <functional>
#include <ios>
#include <sstream>
#include <string>
#include <utility>

class Console_Hook : public std::stringbuf {
public:
    Console_Hook(std::string marker, std::function<void()> action)
        : marker_(std::move(marker)), action_(std::move(action)) {}

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        const std::streamsize written = std::stringbuf::xsputn(s, n);
        if (action_ && str().find(marker_) != std::string::npos) std::exchange(action_, nullptr)();
        return written;
    }

private:
    std::string marker_;
    std::function<void()> action_;
};
