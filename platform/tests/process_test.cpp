#include "platform/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "platform/exclusive_file.h"
#include "platform/testing/temp_dir.h"

using skyvane::testing::ScopedEnv;
using skyvane::testing::TempDir;

namespace fs = std::filesystem;

namespace {
void MakeScript(const fs::path& p, const std::string& body) {
    std::ofstream(p) << "#!/bin/sh\n" << body << "\n";
    chmod(p.c_str(), 0755);
}
}  // namespace

TEST(Programs, ResolveTriesExeNameThenBareNameThenBinDir) {
    TempDir dir;
    ScopedEnv bin("SKYVANE_BIN_DIR", (dir / "bin").string());
    fs::create_directories(dir / "bin");
    MakeScript(dir / "connect", "exit 0");
    MakeScript(dir / "bin" / "dialer", "exit 0");
    EXPECT_EQ(platform::ResolveProgram(dir.path(), "connect.exe"), dir / "connect");
    MakeScript(dir / "connect.exe", "exit 0");
    EXPECT_EQ(platform::ResolveProgram(dir.path(), "connect.exe"), dir / "connect.exe");
    EXPECT_EQ(platform::ResolveProgram(dir.path(), "dialer.exe"), dir / "bin" / "dialer");
    EXPECT_EQ(platform::ResolveProgram(dir.path(), "sh.exe").filename(), "sh") << "PATH";
    EXPECT_TRUE(platform::ResolveProgram(dir.path(), "no-such-program.exe").empty());
    std::ofstream(dir / "plain.exe") << "not executable";
    EXPECT_TRUE(platform::ResolveProgram(dir.path(), "plain.exe").empty());
}

TEST(Programs, DesktopBrowserAndMailClientComeWithWhatTheyNeedToStart) {
    TempDir dir;
    ScopedEnv path("PATH", dir.path().string());
    ScopedEnv page("SKYVANE_START_PAGE", "https://example.org/start");
    EXPECT_TRUE(platform::DesktopProgram("iexplore.exe").program.empty()) << "nothing installed";
    EXPECT_TRUE(platform::ResolveProgram(dir.path(), "\\Windows\\tmail.exe").empty());

    // Only the generic opener: it gets a page, or a mail address to compose to.
    MakeScript(dir / "xdg-open", "exit 0");
    platform::Launch web = platform::ResolveLaunch(dir.path(), "\\Windows\\iexplore.exe", "");
    EXPECT_EQ(web.program, dir / "xdg-open");
    EXPECT_EQ(web.args, std::vector<std::string>{"https://example.org/start"});
    platform::Launch mail = platform::ResolveLaunch(dir.path(), "\\Windows\\tmail.exe", "");
    EXPECT_EQ(mail.program, dir / "xdg-open");
    EXPECT_EQ(mail.args, std::vector<std::string>{"mailto:"});

    // A known mail client comes before the opener, the default handler first.
    MakeScript(dir / "thunderbird", "exit 0");
    EXPECT_EQ(platform::DesktopProgram("tmail.exe").program, dir / "thunderbird");
    MakeScript(dir / "xdg-email", "exit 0");
    EXPECT_EQ(platform::DesktopProgram("TMAIL.EXE").program, dir / "xdg-email");
    EXPECT_TRUE(platform::DesktopProgram("tmail.exe").args.empty());

    // The desktop's chosen browser opens its own home page.
    MakeScript(dir / "sensible-browser", "exit 0");
    EXPECT_EQ(platform::DesktopProgram("iexplore.exe").program, dir / "sensible-browser");
    MakeScript(dir / "x-www-browser", "exit 0");
    web = platform::ResolveLaunch(dir.path(), "\\Windows\\iexplore.exe", "-x");
    EXPECT_EQ(web.program, dir / "x-www-browser");
    EXPECT_EQ(web.args, std::vector<std::string>{"-x"});
    EXPECT_EQ(platform::ResolveProgram(dir.path(), "\\Windows\\iexplore.exe"),
              dir / "x-www-browser");
}

TEST(Programs, StartDetachedRunsWithArgumentsAndReportsFailure) {
    TempDir dir;
    auto script = dir / "prog";
    auto out = dir / "out.txt";
    MakeScript(script, "echo \"$1|$2\" > " + out.string() + ".tmp && mv " + out.string() + ".tmp " +
                           out.string());
    ASSERT_TRUE(platform::StartDetached(script, {"s", "two words"}));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!fs::exists(out) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::string line;
    std::getline(std::ifstream(out) >> std::ws, line);
    EXPECT_EQ(line, "s|two words");
    EXPECT_FALSE(platform::StartDetached(dir / "missing", {}));
    EXPECT_FALSE(platform::StartDetached("", {}));
}

TEST(Programs, TestsCanRecordStartsInsteadOfLaunching) {
    std::vector<std::string> seen;
    platform::SetProgramStarterForTesting(
        [&](const fs::path& p, const std::vector<std::string>& a) {
            seen.push_back(p.string() + " " + (a.empty() ? "" : a[0]));
            return true;
        });
    EXPECT_TRUE(platform::StartDetached("/nowhere/Parlo", {"c"}));
    platform::SetProgramStarterForTesting(nullptr);
    EXPECT_EQ(seen, std::vector<std::string>{"/nowhere/Parlo c"});
}

TEST(Programs, CommandLineSplitting) {
    EXPECT_EQ(platform::SplitCommandLine(""), std::vector<std::string>{});
    EXPECT_EQ(platform::SplitCommandLine("s"), std::vector<std::string>{"s"});
    EXPECT_EQ(platform::SplitCommandLine(" -a  \"b c\" d"),
              (std::vector<std::string>{"-a", "b c", "d"}));
}

TEST(Programs, RunningProgramsIncludeThisTest) {
    auto names = platform::RunningProgramNames();
    EXPECT_NE(std::find(names.begin(), names.end(), "platform_tests"), names.end());
}

TEST(Programs, RebootRunsTheConfiguredCommand) {
    TempDir dir;
    auto marker = dir / "rebooted";
    ScopedEnv cmd("SKYVANE_REBOOT_CMD", "touch " + marker.string());
    ASSERT_TRUE(platform::RebootDevice());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!fs::exists(marker) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(fs::exists(marker));
}

TEST(ExclusiveFile, SecondOpenFailsUntilTheFirstCloses) {
    TempDir dir;
    auto lock = dir / "vok.lock";
    platform::ExclusiveFile a, b;
    ASSERT_TRUE(a.Open(lock));
    EXPECT_FALSE(b.Open(lock)) << "same process, another open";
    pid_t pid = fork();
    if (pid == 0) {
        platform::ExclusiveFile c;
        _exit(c.Open(lock) ? 1 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "another process";
    a.Close();
    EXPECT_TRUE(b.Open(lock));
    platform::ExclusiveFile moved = std::move(b);
    EXPECT_TRUE(moved.is_open());
    EXPECT_FALSE(b.is_open());
    EXPECT_FALSE(a.Open(dir / "missing" / "x", false));
}
