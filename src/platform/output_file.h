// A file the run writes into its output folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Created only when no file of its name exists, and never through a link at
// that name: a run never truncates another run's file, nor writes where a
// planted link points. Writes are buffered; a failed write or close is
// remembered, so a file cut short by a full disk is never taken for a whole one.
class Output_File {
public:
    Output_File() = default;
    ~Output_File();  // writes what is buffered and closes, quietly
    Output_File(const Output_File&) = delete;
    Output_File& operator=(const Output_File&) = delete;
    Output_File(Output_File&& other) noexcept;
    Output_File& operator=(Output_File&& other) noexcept;

    // False when the file exists already, is a link, or cannot be made.
    bool Create(const std::string& path);
    bool Is_Open() const { return fd_ >= 0; }
    explicit operator bool() const { return Is_Open(); }

    void Write(std::string_view bytes);
    // Cuts the file back to its first `size` bytes; later writes follow them.
    void Truncate(std::uint64_t size);
    // Writes what is buffered and closes. False when any write, the
    // truncation or the close failed.
    bool Close();
    bool Failed() const { return failed_; }

private:
    void Flush();

    int fd_ = -1;
    bool failed_ = false;
    std::string buffer_;
};

// True when the path's last component is a symbolic link.
bool Is_Symbolic_Link(const std::string& path);

}  // namespace platform
