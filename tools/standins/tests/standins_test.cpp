// The stand-ins as the suite starts them.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/exclusive_file.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

fs::path Program(const char* name) {
    const char* dir = std::getenv("SKYVANE_BIN_DIR");
    return fs::path(dir ? dir : ".") / name;
}

class StandinsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "standins-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        home_ = tmpl;
        setenv("SKYVANE_HOME", home_.c_str(), 1);
        unsetenv("SKYVANE_ROOT");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(home_, ec);
    }

    pid_t Spawn(const fs::path& program, std::vector<std::string> args) {
        std::vector<std::string> all = {program.string()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
            return -1;
        return pid;
    }

    // Exit status, or -1 when the program still runs after `ms`.
    int WaitExit(pid_t pid, int ms) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

    // True once the lock file is held by someone else.
    bool WaitLockHeld(int ms) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < deadline) {
            if (fs::exists(home_ / "vok.lock")) {
                platform::ExclusiveFile probe;
                if (!probe.Open(home_ / "vok.lock", false))
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    fs::path home_;
};

TEST_F(StandinsTest, ConnectHoldsTheLockUntilStopped) {
    for (const char* mode : {"s", "c"}) {
        pid_t pid = Spawn(Program("connect"), {mode});
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(WaitLockHeld(10000)) << mode;
        kill(pid, SIGTERM);
        EXPECT_EQ(WaitExit(pid, 10000), 0);
        platform::ExclusiveFile after;
        EXPECT_TRUE(after.Open(home_ / "vok.lock")) << "lock released after " << mode;
    }
}

TEST_F(StandinsTest, ConnectWithSecondsEndsByItselfAndRefusesAHeldLock) {
    platform::ExclusiveFile held;
    ASSERT_TRUE(held.Open(home_ / "vok.lock"));
    pid_t refused = Spawn(Program("connect"), {"s"});
    EXPECT_EQ(WaitExit(refused, 10000), 1);
    held.Close();

    pid_t pid = Spawn(Program("connect"), {"s", "--seconds", "0"});
    EXPECT_EQ(WaitExit(pid, 10000), 0);
    EXPECT_EQ(WaitExit(Spawn(Program("connect"), {}), 10000), 2);
}

TEST_F(StandinsTest, DialerDoesNothing) {
    EXPECT_EQ(WaitExit(Spawn(Program("dialer"), {"+491701234567"}), 10000), 0);
    EXPECT_TRUE(fs::is_empty(home_));
}

}  // namespace
