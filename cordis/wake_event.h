// A one-shot event that a blocking wait on a file descriptor can also wait
// for: an eventfd that stays readable once set.
#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

namespace cordis {

class WakeEvent {
  public:
    WakeEvent() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~WakeEvent() {
        if (fd_ >= 0)
            close(fd_);
    }
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    void Set() {
        set_.store(true);
        if (fd_ >= 0) {
            uint64_t one = 1;
            ssize_t n = write(fd_, &one, sizeof one);
            (void)n;
        }
    }
    bool IsSet() const { return set_.load(); }
    // Readable once set; -1 when no eventfd could be made (IsSet still works).
    int fd() const { return fd_; }

  private:
    int fd_;
    std::atomic<bool> set_{false};
};

}  // namespace cordis
