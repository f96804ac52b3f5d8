// Read-only access to an input file by absolute 64-bit offsets.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A read error ends the input at the byte where it happened, for that read
// and every later one: the file then reads exactly as if it had been cut
// there, so what lies before the error is kept and nothing after it is
// mistaken for data.
class Read_Only_File {
public:
    Read_Only_File() = default;
    virtual ~Read_Only_File();
    Read_Only_File(const Read_Only_File&) = delete;
    Read_Only_File& operator=(const Read_Only_File&) = delete;
    Read_Only_File(Read_Only_File&& other) noexcept;
    Read_Only_File& operator=(Read_Only_File&& other) noexcept;

    // Opens a regular file (symbolic links followed). Anything else, such as a
    // directory, a FIFO or a device, is refused so that it is skipped like a
    // file that cannot be opened and never blocks a read.
    bool Open(const std::string& path);
    bool Is_Open() const { return fd_ >= 0; }
    void Close();
    // The length of the file, or the offset of the first read error once
    // one has happened.
    std::uint64_t Size() const { return size_; }

    // Reads up to `length` bytes at `offset`; returns the count read (short at
    // the end of the file or at a read error, 0 past either).
    std::size_t Read_At(std::uint64_t offset, void* buffer, std::size_t length) const;

    // Reads a whole block: the part past the end of the file (or past a read
    // error) is zero-filled. False only when no file is open.
    bool Read_Block(std::uint64_t offset, void* buffer, std::size_t length) const;

protected:
    // One read of the open file: the count read, 0 at its end, -1 with errno
    // on an error. Tests stand in a failing read here.
    virtual ssize_t Read_Some(int fd, void* buffer, std::size_t length, std::uint64_t offset) const;

private:
    int fd_ = -1;
    // Lowered to the offset of a read error, so every later read ends there.
    mutable std::uint64_t size_ = 0;
};

// A file-system existence test (file or directory).
bool Path_Exists(const std::string& path);
// True when the path names a directory that can be listed.
bool Is_Listable_Directory(const std::string& path);
// The process's current directory ("" when it cannot be read).
std::string Current_Directory();
// Joins a folder and a file name with "/".
std::string Join_Path(const std::string& folder, const std::string& name);

}  // namespace platform
