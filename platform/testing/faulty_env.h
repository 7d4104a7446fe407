// A file system for tests that fails on demand, put in place of the real one
// for the life of the object (platform/file_env.h).
//
// Every call that may change a file counts as one change: an open for
// writing, a write call, a sync, a truncate, a rename. A test can
//   - fail the nth call of one kind (a write, a sync, a rename, ...);
//   - make the nth write short: half of it lands, then the disk is full;
//   - crash after the nth change: that change and every later one do not
//     happen (they fail with EIO), as if the program had been killed there.
//     The test then drops its objects and reopens the files.
#pragma once

#include <fcntl.h>

#include <cerrno>
#include <filesystem>
#include <mutex>

#include "platform/file_env.h"

namespace platform::testing {

class FaultyEnv : public FileEnv {
  public:
    enum class Op { kOpen, kWrite, kSync, kTruncate, kRename };

    FaultyEnv() { previous_ = SetEnvForTesting(this); }
    ~FaultyEnv() override { SetEnvForTesting(previous_); }
    FaultyEnv(const FaultyEnv&) = delete;
    FaultyEnv& operator=(const FaultyEnv&) = delete;

    // The nth call (1-based, counted from now) of kind `op` fails.
    void FailNth(Op op, int nth) {
        std::lock_guard<std::mutex> lock(mutex_);
        fail_op_ = op;
        fail_left_ = nth;
    }
    // The nth write call (from now) writes half of its bytes; every later
    // write fails with ENOSPC.
    void ShortWriteNth(int nth) {
        std::lock_guard<std::mutex> lock(mutex_);
        short_left_ = nth;
    }
    // Changes after the nth (from now) do not happen: a crash point. 0 crashes
    // before the first change.
    void CrashAfter(int n) {
        std::lock_guard<std::mutex> lock(mutex_);
        crash_left_ = n;
        crashed_ = false;
    }
    // Back to a sound file system; the change count starts again.
    void Heal() {
        std::lock_guard<std::mutex> lock(mutex_);
        fail_left_ = short_left_ = crash_left_ = -1;
        disk_full_ = crashed_ = false;
        changes_ = 0;
    }
    int changes() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return changes_;
    }
    bool crashed() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return crashed_;
    }

    int Open(const std::filesystem::path& path, int flags, int mode) override {
        if ((flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) && !Allow(Op::kOpen))
            return -1;
        return FileEnv::Open(path, flags, mode);
    }
    int64_t WriteAt(int fd, uint64_t offset, const void* data, size_t n) override {
        bool half = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (disk_full_) {
                errno = ENOSPC;
                return -1;
            }
            if (short_left_ > 0 && --short_left_ == 0)
                half = true;
        }
        if (!Allow(Op::kWrite))
            return -1;
        if (half) {
            std::lock_guard<std::mutex> lock(mutex_);
            disk_full_ = true;
            n /= 2;
            if (n == 0) {
                errno = ENOSPC;
                return -1;
            }
        }
        return FileEnv::WriteAt(fd, offset, data, n);
    }
    bool Sync(int fd) override { return Allow(Op::kSync) && FileEnv::Sync(fd); }
    bool Truncate(int fd, uint64_t size) override {
        return Allow(Op::kTruncate) && FileEnv::Truncate(fd, size);
    }
    bool Rename(const std::filesystem::path& from, const std::filesystem::path& to) override {
        return Allow(Op::kRename) && FileEnv::Rename(from, to);
    }

  private:
    // Counts one change; false (errno EIO) when it must not happen.
    bool Allow(Op op) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (crashed_ || crash_left_ == 0) {
            crashed_ = true;
            errno = EIO;
            return false;
        }
        if (crash_left_ > 0)
            --crash_left_;
        ++changes_;
        if (op == fail_op_ && fail_left_ > 0 && --fail_left_ == 0) {
            errno = EIO;
            return false;
        }
        return true;
    }

    FileEnv* previous_ = nullptr;
    mutable std::mutex mutex_;
    Op fail_op_ = Op::kOpen;
    int fail_left_ = -1;
    int short_left_ = -1;
    int crash_left_ = -1;
    bool disk_full_ = false;
    bool crashed_ = false;
    int changes_ = 0;
};

}  // namespace platform::testing
