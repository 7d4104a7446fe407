#include "platform/exclusive_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <utility>

namespace platform {

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
    int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void ExclusiveFile::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace platform
