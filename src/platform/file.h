// Read-only access to an input file by absolute 64-bit offsets.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// A read error ends the input at the byte where it happened, for that read
// and every later one: the file then reads exactly as if it had been cut
// there, so what lies before the error is kept and nothing after it is
// mistaken for data. A file that shrinks while it is read ends the same way.
// Either is reported once, when it happens: one line on the message stream
// naming the input and the byte where reading stopped (see
// Inputs_Not_Read_To_End).
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
    void Report_Stop(std::uint64_t offset, int error) const;

    int fd_ = -1;
    // Lowered to the offset of a read error, so every later read ends there.
    mutable std::uint64_t size_ = 0;
    std::string path_;
};

// How many inputs could not be read to their end since the process started;
// a run that sees the count grow ends with a failure code.
std::uint64_t Inputs_Not_Read_To_End();

// One read of an input file: the count read, 0 at its end, -1 with errno on
// an error (pread's contract).
using Input_Read = std::function<ssize_t(const std::string& path, int fd, void* buffer, std::size_t length,
                                         std::uint64_t offset)>;
// Reads every input file through `read` in place of pread while it lives
// (tests: a failing disk, a file that shrinks while it is read).
class Scoped_Input_Reads {
public:
    explicit Scoped_Input_Reads(Input_Read read);
    ~Scoped_Input_Reads();
    Scoped_Input_Reads(const Scoped_Input_Reads&) = delete;
    Scoped_Input_Reads& operator=(const Scoped_Input_Reads&) = delete;

private:
    Input_Read read_;
    const Input_Read* previous_;
};

// A file-system existence test (file or directory).
bool Path_Exists(const std::string& path);
// True when the path names a regular file (symbolic links followed).
bool Is_Regular_File(const std::string& path);
// True when the path names a directory that can be listed.
bool Is_Listable_Directory(const std::string& path);
// The process's current directory ("" when it cannot be read).
std::string Current_Directory();
// Joins a folder and a file name with "/".
std::string Join_Path(const std::string& folder, const std::string& name);

}  // namespace platform
