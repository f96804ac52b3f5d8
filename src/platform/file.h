// Read-only access to an input file by absolute 64-bit offsets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class Read_Only_File {
public:
    Read_Only_File() = default;
    ~Read_Only_File();
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
    std::uint64_t Size() const { return size_; }

    // Reads up to `length` bytes at `offset`; returns the count read (short at
    // the end of the file, 0 past it or on a read error).
    std::size_t Read_At(std::uint64_t offset, void* buffer, std::size_t length) const;

    // Reads a whole block: the part past the end of the file is zero-filled.
    // Returns false on a read error (the caller treats it as the end of the file).
    bool Read_Block(std::uint64_t offset, void* buffer, std::size_t length) const;

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
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
