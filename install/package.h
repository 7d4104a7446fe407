// Starting one package program and learning when it has ended.
#pragma once

#include <sys/types.h>

#include <filesystem>

namespace install {

// A started package program. It is never killed: when the installer stops
// waiting for it (time-out), it goes on running.
class PackageProcess {
  public:
    PackageProcess() = default;
    ~PackageProcess();
    PackageProcess(const PackageProcess&) = delete;
    PackageProcess& operator=(const PackageProcess&) = delete;

    // Starts `program` with no arguments, the installer's environment and
    // working directory, and no descriptors inherited beyond 0, 1 and 2.
    // False when it cannot be started (missing, not executable, ...).
    bool Start(const std::filesystem::path& program);

    pid_t pid() const { return pid_; }

    // A descriptor that becomes readable when the program has ended, or -1
    // when the kernel offers none (then poll Reap()).
    int exit_fd() const { return exit_fd_; }

    // True once the program has ended; collects its exit status.
    bool Reap();

    // Blocks until the program has ended or `timeout_ms` have passed; true
    // when it ended.
    bool Wait(int timeout_ms);

  private:
    pid_t pid_ = -1;
    int exit_fd_ = -1;
    bool ended_ = false;
};

// The time-outs for the two packages: the given defaults, or both replaced by
// $SKYVANE_INSTALL_TIMEOUT_MS when that holds a positive number.
int PackageTimeout(int default_ms);

}  // namespace install
