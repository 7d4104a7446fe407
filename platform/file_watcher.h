// Tells a long-running program that files it shows were changed, by it or by
// another program. It listens (inotify) to directories, not to files, so it
// goes on working after a file is replaced by a rename or created anew.
//
// Each watch names a directory, the events to hear and a filter of file
// names; a change that passes the filter raises the watch's bits. A program
// reads the raised bits with Drain (from poll() or a QSocketNotifier on
// fd()) and then reads the changed files again.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

namespace platform {

class FileWatcher {
  public:
    // Whether a change of the file `name` (inside the watched directory)
    // matters; `directory` is true when the entry is a directory.
    using Filter = std::function<bool(std::string_view name, bool directory)>;

    // The inotify events: something written, created, replaced by a rename,
    // deleted or renamed away.
    static constexpr uint32_t kWrites = 0x2 | 0x8;         // IN_MODIFY | IN_CLOSE_WRITE
    static constexpr uint32_t kArrivals = 0x100 | 0x80;    // IN_CREATE | IN_MOVED_TO
    static constexpr uint32_t kDepartures = 0x200 | 0x40;  // IN_DELETE | IN_MOVED_FROM
    static constexpr uint32_t kAll = kWrites | kArrivals | kDepartures;

    FileWatcher();
    ~FileWatcher();
    FileWatcher(const FileWatcher&) = delete;
    FileWatcher& operator=(const FileWatcher&) = delete;

    // False when inotify is not available: nothing is ever reported.
    bool ok() const { return fd_ >= 0; }
    // Readable when events are pending.
    int fd() const { return fd_; }

    // Watches `dir` for the `events` of the files `filter` accepts (every
    // file when it is empty); such a change raises `bits`. A directory may be
    // watched by several calls. False when it cannot be watched (it does not
    // exist, or inotify is not available).
    bool Watch(const std::filesystem::path& dir, uint32_t events, uint32_t bits,
               Filter filter = nullptr);

    // Reads the pending events without waiting; the bits that they raised
    // (every watch's bits when the kernel dropped events).
    uint32_t Drain();
    // Waits up to `timeout` for a change; the bits raised, 0 when none. When
    // not ok() it sleeps for `timeout`, so that a loop around it does not spin.
    uint32_t Wait(std::chrono::milliseconds timeout);

  private:
    struct Entry {
        int wd;
        uint32_t events;
        uint32_t bits;
        Filter filter;
    };
    int fd_ = -1;
    std::vector<Entry> entries_;
};

}  // namespace platform
