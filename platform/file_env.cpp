#include "platform/file_env.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace platform {

namespace {

FileEnv g_real;
std::atomic<FileEnv*> g_env{&g_real};

}  // namespace

int FileEnv::Open(const std::filesystem::path& path, int flags, int mode) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int64_t FileEnv::WriteAt(int fd, uint64_t offset, const void* data, size_t n) {
    ssize_t r;
    do {
        r = ::pwrite(fd, data, n, static_cast<off_t>(offset));
    } while (r < 0 && errno == EINTR);
    return r;
}

bool FileEnv::Sync(int fd) {
    return ::fsync(fd) == 0;
}

bool FileEnv::Truncate(int fd, uint64_t size) {
    int r;
    do {
        r = ::ftruncate(fd, static_cast<off_t>(size));
    } while (r < 0 && errno == EINTR);
    return r == 0;
}

bool FileEnv::Rename(const std::filesystem::path& from, const std::filesystem::path& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool FileEnv::Close(int fd) {
    return ::close(fd) == 0;
}

FileEnv& Env() {
    return *g_env.load(std::memory_order_acquire);
}

FileEnv* SetEnvForTesting(FileEnv* env) {
    return g_env.exchange(env ? env : &g_real);
}

bool WriteAllAt(int fd, uint64_t offset, const void* data, size_t n) {
    FileEnv& env = Env();
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < n) {
        int64_t r = env.WriteAt(fd, offset + done, p + done, n - done);
        if (r <= 0)
            return false;
        done += static_cast<size_t>(r);
    }
    return true;
}

}  // namespace platform
