// The file operations that change user data, behind one small interface, in
// the manner of leveldb's Env: open, write at an offset, sync, rename,
// truncate, close. Every writer of user files (the message store, the
// settings, the registry that holds the folder table, the phonebook and group
// files) goes through Env(), so that tests can put a faulty file system in
// its place (platform/testing/faulty_env.h): a failing write, sync or rename,
// a short write, or a crash after the Nth change.
//
// Reads go straight to the system: a fault in a read is not a fault that can
// lose data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace platform {

class FileEnv {
  public:
    virtual ~FileEnv() = default;

    // open(2) with O_CLOEXEC added; the descriptor, or -1.
    virtual int Open(const std::filesystem::path& path, int flags, int mode);
    // Writes up to `n` bytes at `offset` (one pwrite(2) call): the count
    // written, or -1 with errno set. Callers loop over short counts.
    virtual int64_t WriteAt(int fd, uint64_t offset, const void* data, size_t n);
    virtual bool Sync(int fd);
    virtual bool Truncate(int fd, uint64_t size);
    virtual bool Rename(const std::filesystem::path& from, const std::filesystem::path& to);
    virtual bool Close(int fd);
};

// The process's file system: the real one unless a test swapped it.
FileEnv& Env();
// Puts `env` in place (null: the real one again); returns the previous one.
FileEnv* SetEnvForTesting(FileEnv* env);

// Writes all of `n` bytes at `offset` through Env(), looping over short
// writes; false on an error or a write that makes no progress.
bool WriteAllAt(int fd, uint64_t offset, const void* data, size_t n);

}  // namespace platform
