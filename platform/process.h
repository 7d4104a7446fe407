// Starting programs of the suite and of the desktop.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// Finds a program named on the handheld as "X.exe": dir/X.exe, dir/X, the
// suite's bin directory /X, then X on PATH. "\Windows\iexplore.exe" and
// "\Windows\tmail.exe" resolve to the desktop's web browser and mail client
// (x-www-browser, sensible-browser, ...; thunderbird, evolution, ...), else
// xdg-open. Returns an empty path when nothing
// is found.
std::filesystem::path ResolveProgram(const std::filesystem::path& dir, const std::string& name);

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
