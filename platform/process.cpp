#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/paths.h"

extern char** environ;

namespace platform {
namespace fs = std::filesystem;

namespace {

std::mutex g_starter_mutex;
ProgramStarter g_starter;

bool IsExecutable(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec) && ::access(p.c_str(), X_OK) == 0;
}

fs::path SearchPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        if (!dir.empty() && IsExecutable(fs::path(dir) / name))
            return fs::path(dir) / name;
        start = end + 1;
    }
    return {};
}

// Desktop stand-ins for the handheld's browser and mail client, most specific
// first. An empty program list entry stands for "xdg-open with these args".
struct DesktopChoice {
    const char* program;
    const char* arg;  // nullptr: none
};

const char* StartPage() {
    const char* page = std::getenv("SKYVANE_START_PAGE");
    return page && *page ? page : kDefaultStartPage;
}

bool IsBrowser(const std::string& lower) {
    return lower == "iexplore.exe" || lower == "iexplore";
}
bool IsMailer(const std::string& lower) {
    return lower == "tmail.exe" || lower == "tmail";
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c += 32;
    return s;
}

bool RealStart(const fs::path& program, const std::vector<std::string>& args) {
    std::vector<std::string> argv_store;
    argv_store.push_back(program.string());
    argv_store.insert(argv_store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_store)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The child gets a session of its own, so that it outlives us and our
    // terminal's signals.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid;
    int rc = posix_spawn(&pid, program.c_str(), nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        return false;
    // Never waited for by the caller; a reaper keeps it from lingering as a zombie.
    std::thread([pid] {
        int status;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

}  // namespace

fs::path ResolveProgram(const fs::path& dir, const std::string& name) {
    std::string base = name;
    size_t slash = base.find_last_of("\\/");
    if (slash != std::string::npos)
        base = base.substr(slash + 1);
    std::string lower = Lower(base);
    if (IsBrowser(lower) || IsMailer(lower))
        return DesktopProgram(lower).program;
    std::string stem = base;
    if (lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".exe") == 0)
        stem = base.substr(0, base.size() - 4);
    // A handheld path names a file below the device root.
    fs::path first_dir = dir;
    if (slash != std::string::npos)
        first_dir = DevicePath(name.substr(0, slash + 1));
    for (const fs::path& candidate : {first_dir / base, first_dir / stem, BinDir() / stem})
        if (IsExecutable(candidate))
            return candidate;
    return SearchPath(stem);
}

fs::path FindOnPath(const std::string& name) {
    return SearchPath(name);
}

std::optional<std::string> RunCapture(const fs::path& program, const std::vector<std::string>& args,
                                      int timeout_ms) {
    int out[2];
    if (program.empty() || ::pipe2(out, O_CLOEXEC) != 0)
        return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<std::string> argv_store{program.string()};
    argv_store.insert(argv_store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_store)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        return std::nullopt;
    }
    std::string text;
    bool timed_out = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            timed_out = true;
            break;
        }
        pollfd p{out[0], POLLIN, 0};
        int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            timed_out = ready == 0;
            break;
        }
        char buf[4096];
        ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buf, static_cast<size_t>(n));
    }
    ::close(out[0]);
    if (timed_out)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timed_out || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return text;
}

Launch DesktopProgram(const std::string& name) {
    std::string lower = Lower(name);
    size_t slash = lower.find_last_of("\\/");
    if (slash != std::string::npos)
        lower = lower.substr(slash + 1);
    std::vector<DesktopChoice> choices;
    if (IsBrowser(lower)) {
        // xdg-open without an argument only prints its usage: it needs a page.
        choices = {{"x-www-browser", nullptr},
                   {"sensible-browser", nullptr},
                   {"xdg-open", StartPage()},
                   {"firefox", nullptr},
                   {"chromium", nullptr}};
    } else if (IsMailer(lower)) {
        choices = {{"xdg-email", nullptr}, {"thunderbird", nullptr}, {"evolution", nullptr},
                   {"kmail", nullptr},     {"claws-mail", nullptr},  {"xdg-open", "mailto:"}};
    }
    for (const DesktopChoice& c : choices) {
        fs::path found = SearchPath(c.program);
        if (found.empty())
            continue;
        Launch launch{found, {}};
        if (c.arg)
            launch.args.push_back(c.arg);
        return launch;
    }
    return {};
}

Launch ResolveLaunch(const fs::path& dir, const std::string& name,
                     const std::string& command_line) {
    std::string base = name;
    size_t slash = base.find_last_of("\\/");
    if (slash != std::string::npos)
        base = base.substr(slash + 1);
    std::string lower = Lower(base);
    Launch launch;
    if (IsBrowser(lower) || IsMailer(lower))
        launch = DesktopProgram(lower);
    else
        launch.program = ResolveProgram(dir, name);
    for (std::string& a : SplitCommandLine(command_line))
        launch.args.push_back(std::move(a));
    return launch;
}

bool StartDetached(const fs::path& program, const std::vector<std::string>& args) {
    {
        std::lock_guard<std::mutex> lock(g_starter_mutex);
        if (g_starter)
            return g_starter(program, args);
    }
    if (program.empty())
        return false;
    return RealStart(program, args);
}

std::vector<std::string> SplitCommandLine(const std::string& command_line) {
    std::vector<std::string> out;
    std::string cur;
    bool quoted = false;
    for (char c : command_line) {
        if (c == '"') {
            quoted = !quoted;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (!cur.empty())
                out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty())
        out.push_back(cur);
    return out;
}

void SetProgramStarterForTesting(ProgramStarter starter) {
    std::lock_guard<std::mutex> lock(g_starter_mutex);
    g_starter = std::move(starter);
}

bool RebootDevice() {
    const char* cmd = std::getenv("SKYVANE_REBOOT_CMD");
    std::string command = cmd && *cmd ? cmd : "systemctl reboot";
    return StartDetached("/bin/sh", {"-c", command});
}

std::vector<std::string> RunningProgramNames() {
    std::vector<std::string> names;
    DIR* d = ::opendir("/proc");
    if (!d)
        return names;
    while (dirent* e = ::readdir(d)) {
        if (!std::all_of(e->d_name, e->d_name + std::char_traits<char>::length(e->d_name),
                         [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        std::error_code ec;
        fs::path exe = fs::read_symlink(fs::path("/proc") / e->d_name / "exe", ec);
        std::string name;
        if (!ec) {
            name = exe.filename().string();
            // A replaced executable reads as "name (deleted)".
            const std::string deleted = " (deleted)";
            if (name.size() > deleted.size() &&
                name.compare(name.size() - deleted.size(), deleted.size(), deleted) == 0)
                name.resize(name.size() - deleted.size());
        } else {
            FILE* f = std::fopen((std::string("/proc/") + e->d_name + "/comm").c_str(), "r");
            if (!f)
                continue;
            char buf[64] = {};
            if (std::fgets(buf, sizeof buf, f))
                name = buf;
            std::fclose(f);
            while (!name.empty() && name.back() == '\n')
                name.pop_back();
        }
        if (!name.empty())
            names.push_back(name);
    }
    ::closedir(d);
    return names;
}

}  // namespace platform
