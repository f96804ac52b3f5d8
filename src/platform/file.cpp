#include "platform/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/console.h"

namespace platform {

namespace {
std::atomic<std::uint64_t> g_Inputs_Not_Read_To_End{0};
std::atomic<const Input_Read*> g_Input_Read{nullptr};
}  // namespace

Read_Only_File::~Read_Only_File() { Close(); }

Read_Only_File::Read_Only_File(Read_Only_File&& other) noexcept
    : fd_(other.fd_), size_(other.size_), path_(std::move(other.path_)) {
    other.fd_ = -1;
    other.size_ = 0;
}

Read_Only_File& Read_Only_File::operator=(Read_Only_File&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        size_ = other.size_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
        other.size_ = 0;
    }
    return *this;
}

bool Read_Only_File::Open(const std::string& path) {
    Close();
    // O_NONBLOCK keeps the open itself from waiting on a FIFO; the type test
    // below then refuses it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    size_ = static_cast<std::uint64_t>(st.st_size);
    path_ = path;
    return true;
}

void Read_Only_File::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    size_ = 0;
    path_.clear();
}

ssize_t Read_Only_File::Read_Some(int fd, void* buffer, std::size_t length, std::uint64_t offset) const {
    if (const Input_Read* read = g_Input_Read.load()) return (*read)(path_, fd, buffer, length, offset);
    return ::pread(fd, buffer, length, static_cast<off_t>(offset));
}

void Read_Only_File::Report_Stop(std::uint64_t offset, int error) const {
    ++g_Inputs_Not_Read_To_End;
    const std::string reason = error != 0 ? std::strerror(error) : "the file became shorter while it was read";
    Message_Line("[ERROR] " + path_ + " is not read to its end: reading stops at byte " + std::to_string(offset) +
                 " (" + reason + ").");
}

std::size_t Read_Only_File::Read_At(std::uint64_t offset, void* buffer, std::size_t length) const {
    if (fd_ < 0 || offset >= size_) return 0;
    // Never past the end (or an earlier error), so a later read cannot see
    // bytes that an earlier one gave up on.
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset));
    std::size_t done = 0;
    auto* out = static_cast<unsigned char*>(buffer);
    while (done < wanted) {
        const ssize_t n = Read_Some(fd_, out + done, wanted - done, offset + done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // An error (or a file that shrank) ends the input here for good.
            const int error = n < 0 ? errno : 0;
            size_ = offset + done;
            Report_Stop(size_, error);
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool Read_Only_File::Read_Block(std::uint64_t offset, void* buffer, std::size_t length) const {
    if (fd_ < 0) return false;
    const std::size_t got = Read_At(offset, buffer, length);
    std::memset(static_cast<unsigned char*>(buffer) + got, 0, length - got);
    return true;
}

std::uint64_t Inputs_Not_Read_To_End() { return g_Inputs_Not_Read_To_End.load(); }

Scoped_Input_Reads::Scoped_Input_Reads(Input_Read read) : read_(std::move(read)), previous_(g_Input_Read.load()) {
    g_Input_Read.store(&read_);
}

Scoped_Input_Reads::~Scoped_Input_Reads() { g_Input_Read.store(previous_); }

bool Path_Exists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool Is_Regular_File(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool Is_Listable_Directory(const std::string& path) {
    if (path.empty()) return false;
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return false;
    ::closedir(dir);
    return true;
}

std::string Current_Directory() {
    std::vector<char> buffer(4096);
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) return std::string(buffer.data());
        if (errno != ERANGE) return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::string Join_Path(const std::string& folder, const std::string& name) {
    return folder + "/" + name;
}

}  // namespace platform
