// Opening a file with "no sharing": open plus flock(LOCK_EX | LOCK_NB).
#pragma once

#include <filesystem>

namespace platform {

class ExclusiveFile {
  public:
    ExclusiveFile() = default;
    ~ExclusiveFile() { Close(); }
    ExclusiveFile(ExclusiveFile&& other) noexcept;
    ExclusiveFile& operator=(ExclusiveFile&& other) noexcept;
    ExclusiveFile(const ExclusiveFile&) = delete;
    ExclusiveFile& operator=(const ExclusiveFile&) = delete;

    // Opens (creating it when `create` is set) and locks the file. Fails when
    // another open file description holds the lock, in this process or another.
    bool Open(const std::filesystem::path& path, bool create = true, bool read_write = true);
    // Opens an existing device (a serial port) for reading and writing without
    // waiting for its carrier and without making it the controlling terminal;
    // the descriptor stays non-blocking. Locked as Open locks.
    bool OpenDevice(const std::filesystem::path& path);
    // Gives up ownership of the descriptor; the lock stays with it until the
    // caller closes it. Returns -1 when nothing is open.
    int Release();
    void Close();
    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }

  private:
    int fd_ = -1;
};

}  // namespace platform
