#include "platform/file_watcher.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace platform {

static_assert(FileWatcher::kWrites == (IN_MODIFY | IN_CLOSE_WRITE));
static_assert(FileWatcher::kArrivals == (IN_CREATE | IN_MOVED_TO));
static_assert(FileWatcher::kDepartures == (IN_DELETE | IN_MOVED_FROM));

FileWatcher::FileWatcher() {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

FileWatcher::~FileWatcher() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool FileWatcher::Watch(const std::filesystem::path& dir, uint32_t events, uint32_t bits,
                        Filter filter) {
    if (fd_ < 0)
        return false;
    // A second watch of the same directory adds its events to the first.
    const int wd = ::inotify_add_watch(fd_, dir.c_str(), (events & kAll) | IN_MASK_ADD);
    if (wd < 0)
        return false;
    entries_.push_back({wd, events, bits, std::move(filter)});
    return true;
}

uint32_t FileWatcher::Drain() {
    if (fd_ < 0)
        return 0;
    uint32_t raised = 0;
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
                for (const Entry& entry : entries_)
                    raised |= entry.bits;
            } else if (e.len > 0) {
                const char* name = buf + at + sizeof e;
                const std::string_view file(name, strnlen(name, e.len));
                const bool directory = (e.mask & IN_ISDIR) != 0;
                for (const Entry& entry : entries_) {
                    if (entry.wd == e.wd && (e.mask & entry.events) != 0 &&
                        (!entry.filter || entry.filter(file, directory)))
                        raised |= entry.bits;
                }
            }
            at += sizeof e + e.len;
        }
    }
    return raised;
}

uint32_t FileWatcher::Wait(std::chrono::milliseconds timeout) {
    if (fd_ < 0) {
        std::this_thread::sleep_for(timeout);
        return 0;
    }
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0)
        return 0;
    return Drain();
}

}  // namespace platform
