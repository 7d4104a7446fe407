#include "platform/exclusive_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace platform {

namespace {

int OpenLocked(const std::filesystem::path& path, int flags) {
    int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

}  // namespace

ExclusiveFile::ExclusiveFile(ExclusiveFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

ExclusiveFile& ExclusiveFile::operator=(ExclusiveFile&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

bool ExclusiveFile::Open(const std::filesystem::path& path, bool create, bool read_write) {
    Close();
    int flags = (read_write ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY;
    if (create)
        flags |= O_CREAT;
    fd_ = OpenLocked(path, flags);
    return fd_ >= 0;
}

bool ExclusiveFile::OpenDevice(const std::filesystem::path& path) {
    Close();
    fd_ = OpenLocked(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    return fd_ >= 0;
}

int ExclusiveFile::Release() {
    return std::exchange(fd_, -1);
}

void ExclusiveFile::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace platform
