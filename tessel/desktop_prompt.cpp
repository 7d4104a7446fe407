#include "tessel/desktop_prompt.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "platform/text.h"

extern char** environ;

namespace tessel {

namespace {

std::filesystem::path FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::filesystem::path p = std::filesystem::path(dirs.substr(start, end - start)) / name;
        if (end > start && ::access(p.c_str(), X_OK) == 0)
            return p;
        start = end + 1;
    }
    return {};
}

// Runs the dialog program and waits for it; its exit status, or -1.
int Run(const std::filesystem::path& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    std::string name = program.string();
    argv.push_back(name.data());
    std::vector<std::string> copy = args;
    for (std::string& a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HasDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

platform::Answer Positive(platform::Buttons b) {
    return b == platform::Buttons::YesNo ? platform::Answer::Yes : platform::Answer::Ok;
}
platform::Answer Negative(platform::Buttons b) {
    return b == platform::Buttons::YesNo ? platform::Answer::No : platform::Answer::Cancel;
}

}  // namespace

platform::Answer DesktopPrompt::MessageBox(const std::u16string& text, platform::Buttons buttons,
                                           platform::Icon icon, const std::u16string& caption) {
    const std::string body = platform::ToUtf8(text);
    const std::string title = platform::ToUtf8(caption);
    const bool question = buttons != platform::Buttons::Ok;
    if (HasDisplay()) {
        if (auto zenity = FindOnPath("zenity"); !zenity.empty()) {
            std::vector<std::string> args;
            args.push_back(question                          ? "--question"
                           : icon == platform::Icon::Error   ? "--error"
                           : icon == platform::Icon::Warning ? "--warning"
                                                             : "--info");
            args.push_back("--no-markup");
            args.push_back("--text=" + body);
            if (!title.empty())
                args.push_back("--title=" + title);
            int rc = Run(zenity, args);
            if (rc >= 0)
                return rc == 0 ? Positive(buttons) : Negative(buttons);
        }
        if (auto kdialog = FindOnPath("kdialog"); !kdialog.empty()) {
            std::vector<std::string> args;
            args.push_back(question                          ? "--yesno"
                           : icon == platform::Icon::Error   ? "--error"
                           : icon == platform::Icon::Warning ? "--sorry"
                                                             : "--msgbox");
            args.push_back(body);
            if (!title.empty()) {
                args.push_back("--title");
                args.push_back(title);
            }
            int rc = Run(kdialog, args);
            if (rc >= 0)
                return rc == 0 ? Positive(buttons) : Negative(buttons);
        }
    }
    std::cerr << (title.empty() ? "" : title + ": ") << body << "\n";
    return question ? Negative(buttons) : platform::Answer::Ok;
}

}  // namespace tessel
