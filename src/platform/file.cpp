#include "platform/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace platform {

Read_Only_File::~Read_Only_File() { Close(); }

Read_Only_File::Read_Only_File(Read_Only_File&& other) noexcept : fd_(other.fd_), size_(other.size_) {
    other.fd_ = -1;
    other.size_ = 0;
}

Read_Only_File& Read_Only_File::operator=(Read_Only_File&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        size_ = other.size_;
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
    return true;
}

void Read_Only_File::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    size_ = 0;
}

ssize_t Read_Only_File::Read_Some(int fd, void* buffer, std::size_t length, std::uint64_t offset) const {
    return ::pread(fd, buffer, length, static_cast<off_t>(offset));
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
            size_ = offset + done;
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

bool Path_Exists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
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
