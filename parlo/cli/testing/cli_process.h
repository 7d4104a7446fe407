// parlo-cli processes for the tests and benches that run the program itself:
// one started with its output (stdout and stderr) in a file, waited for with
// a bound, or asked whether it still runs.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/paths.h"

extern char** environ;

namespace parlo::clitest {

using Clock = std::chrono::steady_clock;

inline std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// One parlo-cli process, its output (stdout and stderr) in a file.
struct Program {
    pid_t pid = -1;
    std::filesystem::path out;
};

inline Program Launch(const std::vector<std::string>& args, const std::filesystem::path& out) {
    Program p;
    p.out = out;
    std::string cli = (platform::BinDir() / "parlo-cli").string();
    std::vector<std::string> all = {cli};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&fa, STDOUT_FILENO, STDERR_FILENO);
    if (posix_spawn(&p.pid, cli.c_str(), &fa, nullptr, argv.data(), environ) != 0)
        p.pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return p;
}

// The exit status, or -1 when it did not exit normally (killed, or still
// running after `timeout`, when it is killed).
inline int Finish(const Program& p, std::chrono::seconds timeout = std::chrono::seconds(300)) {
    if (p.pid < 0)
        return -1;
    auto end = Clock::now() + timeout;
    int status = 0;
    while (true) {
        pid_t r = waitpid(p.pid, &status, WNOHANG);
        if (r == p.pid)
            break;
        if (r < 0)
            return -1;
        if (Clock::now() > end) {
            kill(p.pid, SIGKILL);
            waitpid(p.pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Looks without reaping: the sender threads ask while the test thread waits
// for the same process in Finish, and a reaped exit status would be lost.
inline bool Running(const Program& p) {
    siginfo_t info{};
    return p.pid > 0 && waitid(P_PID, p.pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

}  // namespace parlo::clitest
