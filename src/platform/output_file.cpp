#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace platform {

namespace {
constexpr std::size_t Buffer_Bytes = std::size_t{1} << 20;
}

Output_File::~Output_File() {
    // A file left without Close (an exception on the way) keeps what was
    // written to it.
    if (fd_ >= 0) {
        Flush();
        ::close(fd_);
    }
}

Output_File::Output_File(Output_File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), failed_(other.failed_), buffer_(std::move(other.buffer_)) {}

Output_File& Output_File::operator=(Output_File&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        failed_ = other.failed_;
        buffer_ = std::move(other.buffer_);
    }
    return *this;
}

bool Output_File::Create(const std::string& path) {
    if (fd_ >= 0) Close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    failed_ = false;
    buffer_.clear();
    return fd_ >= 0;
}

void Output_File::Write(std::string_view bytes) {
    if (fd_ < 0) return;
    buffer_.append(bytes);
    if (buffer_.size() >= Buffer_Bytes) Flush();
}

void Output_File::Flush() {
    std::size_t done = 0;
    while (!failed_ && done < buffer_.size()) {
        const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (n > 0) done += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR) continue;
        else failed_ = true;
    }
    buffer_.clear();
}

void Output_File::Truncate(std::uint64_t size) {
    if (fd_ < 0) return;
    Flush();
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0 || ::lseek(fd_, static_cast<off_t>(size), SEEK_SET) < 0)
        failed_ = true;
}

bool Output_File::Close() {
    if (fd_ < 0) return !failed_;
    Flush();
    if (::close(fd_) != 0) failed_ = true;
    fd_ = -1;
    return !failed_;
}

bool Is_Symbolic_Link(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace platform
