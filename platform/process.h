// Starting programs of the suite and of the desktop.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Finds a program named on the handheld as "X.exe": dir/X.exe, dir/X, the
// suite's bin directory /X, then X on PATH. "\Windows\iexplore.exe" and
// "\Windows\tmail.exe" resolve to the desktop's web browser and mail client
// (see DesktopProgram). Returns an empty path when nothing is found.
std::filesystem::path ResolveProgram(const std::filesystem::path& dir, const std::string& name);

// A program with the arguments it needs to start.
struct Launch {
    std::filesystem::path program;  // empty: nothing found
    std::vector<std::string> args;
};

// The desktop program that stands in for the handheld's browser
// ("iexplore.exe") or mail client ("tmail.exe"), searched on PATH:
//   browser: x-www-browser, sensible-browser, else xdg-open with the start
//            page ($SKYVANE_START_PAGE, else kDefaultStartPage), else
//            firefox or chromium;
//   mail:    xdg-email (the desktop's default mail handler), else thunderbird,
//            evolution, kmail or claws-mail, else xdg-open "mailto:".
// Other names give an empty launch.
Launch DesktopProgram(const std::string& name);
inline constexpr const char* kDefaultStartPage = "https://duckduckgo.com/";

// ResolveProgram with the command line split into arguments; the desktop's
// browser and mail client come with the arguments DesktopProgram gives them
// (the handheld command line is then appended).
Launch ResolveLaunch(const std::filesystem::path& dir, const std::string& name,
                     const std::string& command_line);

// The program `name` on PATH; empty when it is not there.
std::filesystem::path FindOnPath(const std::string& name);

// Runs `program` with the arguments and waits for it, at most `timeout_ms`
// (then it is killed). Its standard output when it ended with status 0,
// else none. Standard error is dropped. For short queries of other programs.
std::optional<std::string> RunCapture(const std::filesystem::path& program,
                                      const std::vector<std::string>& args, int timeout_ms);

// Starts `program` with the arguments, detached (never waited for; no zombie
// is left). Returns false when the program could not be started; callers that
// do not check the result may ignore it.
bool StartDetached(const std::filesystem::path& program, const std::vector<std::string>& args);

// Splits a handheld command line ("s", "-a -b") into arguments at blanks.
std::vector<std::string> SplitCommandLine(const std::string& command_line);

// Tests replace the real start with a recorder. Pass nullptr to restore.
using ProgramStarter =
    std::function<bool(const std::filesystem::path&, const std::vector<std::string>&)>;
void SetProgramStarterForTesting(ProgramStarter starter);

// Reboots the device: runs $SKYVANE_REBOOT_CMD (default "systemctl reboot")
// through /bin/sh. Returns false when the command could not be started.
bool RebootDevice();

// Executable names (as in /proc/<pid>/exe, base name) of every running process.
std::vector<std::string> RunningProgramNames();

}  // namespace platform
