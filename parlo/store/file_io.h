// Small POSIX file helpers of the store: an owned descriptor and whole reads
// and writes at an offset. Opening, writing, syncing, truncating and closing
// go through platform::Env(), so that tests can inject faults.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace parlo {

class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Close(); }
    Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Fd& operator=(Fd&& o) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    static Fd Open(const std::filesystem::path& path, int flags, int mode = 0644);
    bool ok() const { return fd_ >= 0; }
    int get() const { return fd_; }
    bool Close();

    // Size of the file, or -1.
    int64_t Size() const;
    // Reads up to `n` bytes at `offset`; returns the count read (short at the
    // end of the file), or -1 on error.
    int64_t ReadAt(uint64_t offset, void* buf, size_t n) const;
    // Writes all of `data` at `offset`.
    bool WriteAt(uint64_t offset, std::string_view data) const;
    // Reads the whole file from offset 0.
    bool ReadAll(std::string* out) const;
    bool Sync() const;
    bool Truncate(uint64_t size) const;

  private:
    int fd_ = -1;
};

}  // namespace parlo
