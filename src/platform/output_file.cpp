#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/console.h"

namespace platform {

namespace {

constexpr std::size_t Buffer_Bytes = std::size_t{1} << 20;
constexpr std::chrono::milliseconds Writeback_Period{250};

bool Exists_At(int folder, const std::string& name) {
    struct stat st {};
    return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

// Creates `name` + ".partial" in `folder` when neither name exists; the
// descriptor, or -1 with errno.
int Create_Partial(int folder, const std::string& name) {
    if (folder < 0) {
        errno = EBADF;
        return -1;
    }
    if (Exists_At(folder, name)) {
        errno = EEXIST;
        return -1;
    }
    const std::string partial = name + Partial_Suffix;
    return ::openat(folder, partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

int Sync(int fd) {
    int rc;
    do rc = ::fsync(fd);
    while (rc != 0 && errno == EINTR);
    return rc;
}

// Renames without ever replacing a file at the new name. Where the file
// system cannot say so in one call, a hard link (which never replaces
// either) and the removal of the old name do the same.
int Rename_No_Replace(int folder, const std::string& from, const std::string& to) {
    if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    if (::linkat(folder, from.c_str(), folder, to.c_str(), 0) != 0) return -1;
    return ::unlinkat(folder, from.c_str(), 0);
}

}  // namespace

Output_Folder::~Output_Folder() {
    if (fd_ >= 0) ::close(fd_);
}

bool Output_Folder::Open(const std::string& path) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    path_.clear();
    finished_.clear();
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) return false;
    fd_ = ::open(resolved.get(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) return false;
    path_ = resolved.get();
    return true;
}

std::string Output_Folder::Partial_Path(const std::string& name) const {
    return (path_ == "/" ? "" : path_) + "/" + name + Partial_Suffix;
}

bool Output_Folder::Is_Free(const std::string& name) const {
    return fd_ >= 0 && !Exists_At(fd_, name) && !Exists_At(fd_, name + Partial_Suffix);
}

bool Output_Folder::Reserve(const std::string& name) {
    const int fd = Create_Partial(fd_, name);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool Output_Folder::Finished(const std::string& name, bool flush) {
    if (flush) {
        const std::string partial = name + Partial_Suffix;
        const int fd = ::openat(fd_, partial.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        const bool synced = fd >= 0 && Sync(fd) == 0;
        if (!synced) Message_Line("[ERROR] Flushing " + Partial_Path(name) + " fails: " + std::strerror(errno) + ".");
        if (fd >= 0) ::close(fd);
        if (!synced) return false;
    }
    finished_.push_back(name);
    return true;
}

bool Output_Folder::Publish() {
    if (fd_ < 0) return finished_.empty();
    const bool any = !finished_.empty();
    bool all = true;
    for (const std::string& name : finished_) {
        if (Rename_No_Replace(fd_, name + Partial_Suffix, name) == 0) continue;
        all = false;
        Message_Line("[ERROR] Renaming " + Partial_Path(name) + " fails: " + std::strerror(errno) + ".");
    }
    finished_.clear();
    if (any && Sync(fd_) != 0) {
        Message_Line("[ERROR] Flushing the output folder " + path_ + " fails: " + std::strerror(errno) + ".");
        all = false;
    }
    return all;
}

struct Background_Writeback::State {
    int fd = -1;
    std::mutex mutex;
    std::condition_variable stop_asked;
    bool stop = false;
    std::thread thread;
};

Background_Writeback::Background_Writeback(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    auto state = std::make_unique<State>();
    state->fd = fd;
    try {
        state->thread = std::thread([s = state.get()] {
            std::unique_lock<std::mutex> lock(s->mutex);
            while (!s->stop_asked.wait_for(lock, Writeback_Period, [s] { return s->stop; })) {
                lock.unlock();
                // Only starts the writing; nothing waits for the disk here.
                ::sync_file_range(s->fd, 0, 0, SYNC_FILE_RANGE_WRITE);
                lock.lock();
            }
        });
    } catch (const std::system_error&) {
        ::close(fd);
        return;
    }
    state_ = std::move(state);
}

Background_Writeback::~Background_Writeback() {
    if (!state_) return;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->stop = true;
    }
    state_->stop_asked.notify_all();
    state_->thread.join();
    ::close(state_->fd);
}

Output_File::~Output_File() {
    // A file left without Close (an exception on the way) keeps what was
    // written to it, under its ".partial" name.
    if (fd_ >= 0) {
        Flush();
        ::close(fd_);
    }
}

bool Output_File::Create(Output_Folder& folder, const std::string& name) {
    if (fd_ >= 0) Close();
    folder_ = &folder;
    name_ = name;
    failed_ = false;
    buffer_.clear();
    written_ = 0;
    fd_ = Create_Partial(folder.Descriptor(), name);
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
    // The disk gets these bytes now, while the next are made, so that
    // flushing the file at its close waits for little more than its end.
    if (done != 0) ::sync_file_range(fd_, static_cast<off_t>(written_), static_cast<off_t>(done), SYNC_FILE_RANGE_WRITE);
    written_ += done;
    buffer_.clear();
}

bool Output_File::Close_Partial() {
    if (fd_ < 0) return !failed_;
    Flush();
    if (::close(fd_) != 0) failed_ = true;
    fd_ = -1;
    return !failed_;
}

bool Output_File::Close() {
    if (fd_ < 0) return !failed_;
    Flush();
    if (!failed_ && Sync(fd_) != 0) failed_ = true;
    if (::close(fd_) != 0) failed_ = true;
    fd_ = -1;
    if (!failed_) folder_->Finished(name_);
    return !failed_;
}

}  // namespace platform
