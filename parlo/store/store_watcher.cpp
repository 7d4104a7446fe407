#include "parlo/store/store_watcher.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <thread>

namespace parlo {

CStoreWatcher::CStoreWatcher(const std::filesystem::path& dir) {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0)
        return;
    // The directory, not the files: a watch on a file would stay with the
    // old file when it is replaced by a rename.
    const uint32_t mask = IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO;
    if (::inotify_add_watch(fd_, dir.c_str(), mask) < 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

CStoreWatcher::~CStoreWatcher() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool CStoreWatcher::Drain() {
    if (fd_ < 0)
        return false;
    bool changed = false;
    alignas(inotify_event) char buf[16384];
    for (;;) {
        ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;  // EAGAIN: nothing more pending
        // Each event is a header and `len` bytes of name; never read past
        // what the kernel gave.
        size_t at = 0;
        while (at + sizeof(inotify_event) <= static_cast<size_t>(n)) {
            inotify_event e;
            std::memcpy(&e, buf + at, sizeof e);
            if (at + sizeof e + e.len > static_cast<size_t>(n))
                break;
            if (e.mask & IN_Q_OVERFLOW) {
                changed = true;
            } else if (e.len > 0) {
                const char* name = buf + at + sizeof e;
                const size_t len = strnlen(name, e.len);
                // The log every writer appends to first; the store itself
                // when it is replaced or created.
                const std::string_view file(name, len);
                if (file == "vok.sms.lock" ||
                    (file == "vok.sms" && (e.mask & (IN_MOVED_TO | IN_CREATE)) != 0))
                    changed = true;
            }
            at += sizeof e + e.len;
        }
    }
    return changed;
}

bool CStoreWatcher::Wait(std::chrono::milliseconds timeout) {
    if (fd_ < 0) {
        std::this_thread::sleep_for(timeout);
        return false;
    }
    pollfd p{fd_, POLLIN, 0};
    int r = ::poll(&p, 1, static_cast<int>(timeout.count()));
    if (r <= 0)
        return false;
    return Drain();
}

}  // namespace parlo
