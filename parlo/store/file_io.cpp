#include "parlo/store/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_env.h"

namespace parlo {

Fd& Fd::operator=(Fd&& o) noexcept {
    if (this != &o) {
        Close();
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}

Fd Fd::Open(const std::filesystem::path& path, int flags, int mode) {
    return Fd(platform::Env().Open(path, flags, mode));
}

bool Fd::Close() {
    if (fd_ < 0)
        return true;
    bool ok = platform::Env().Close(fd_);
    fd_ = -1;
    return ok;
}

int64_t Fd::Size() const {
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return -1;
    return static_cast<int64_t>(st.st_size);
}

int64_t Fd::ReadAt(uint64_t offset, void* buf, size_t n) const {
    size_t done = 0;
    char* p = static_cast<char*>(buf);
    while (done < n) {
        ssize_t r = ::pread(fd_, p + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (r == 0)
            break;
        done += static_cast<size_t>(r);
    }
    return static_cast<int64_t>(done);
}

bool Fd::WriteAt(uint64_t offset, std::string_view data) const {
    return fd_ >= 0 && platform::WriteAllAt(fd_, offset, data.data(), data.size());
}

bool Fd::Truncate(uint64_t size) const {
    return fd_ >= 0 && platform::Env().Truncate(fd_, size);
}

bool Fd::ReadAll(std::string* out) const {
    int64_t size = Size();
    if (size < 0)
        return false;
    out->resize(static_cast<size_t>(size));
    int64_t got = ReadAt(0, out->data(), out->size());
    if (got < 0)
        return false;
    out->resize(static_cast<size_t>(got));
    return true;
}

bool Fd::Sync() const {
    return fd_ >= 0 && platform::Env().Sync(fd_);
}

}  // namespace parlo
