#include "install/package.h"

#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>

extern char** environ;

namespace install {

PackageProcess::~PackageProcess() {
    if (exit_fd_ >= 0)
        close(exit_fd_);
}

bool PackageProcess::Start(const std::filesystem::path& program) {
    if (pid_ > 0)
        return false;
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return false;
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    std::string path = program.string();
    char* argv[] = {path.data(), nullptr};
    pid_t pid = -1;
    int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    pid_ = pid;
#ifdef SYS_pidfd_open
    exit_fd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
#endif
    return true;
}

bool PackageProcess::Reap() {
    if (ended_)
        return true;
    if (pid_ <= 0)
        return false;
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || (r < 0 && errno == ECHILD))
        ended_ = true;
    return ended_;
}

bool PackageProcess::Wait(int timeout_ms) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!Reap()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        if (exit_fd_ >= 0) {
            pollfd p{exit_fd_, POLLIN, 0};
            poll(&p, 1, static_cast<int>(left.count()));
        } else {
            usleep(static_cast<useconds_t>(std::min<long>(left.count(), 50) * 1000));
        }
    }
    return true;
}

int PackageTimeout(int default_ms) {
    const char* env = std::getenv("SKYVANE_INSTALL_TIMEOUT_MS");
    if (env == nullptr || *env == '\0')
        return default_ms;
    char* end = nullptr;
    long value = std::strtol(env, &end, 10);
    if (*end != '\0' || value <= 0 || value > 24L * 3600 * 1000)
        return default_ms;
    return static_cast<int>(value);
}

}  // namespace install
