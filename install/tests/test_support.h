// Helpers shared by the installer's tests.
#pragma once

#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "platform/testing/temp_dir.h"
#include "qtsupport/testing/qt_test_util.h"

namespace install_test {

using qtsupport::testing::App;

// Runs the event loop until `done` holds; false after `ms` milliseconds.
inline bool WaitUntil(const std::function<bool()>& done, int ms = 30000) {
    return qtsupport::testing::WaitUntil(done, ms);
}

using skyvane::testing::TempDir;

inline std::string ReadFile(const std::filesystem::path& file) {
    return skyvane::testing::ReadText(file);
}

// A package program that notes its start and end in `log` and works for
// `seconds`. Its work runs in a child whose id it notes too ("NAME sleeper PID").
inline void WritePackage(const std::filesystem::path& file, const std::filesystem::path& log,
                         int seconds) {
    {
        std::ofstream out(file);
        out << "#!/bin/sh\n"
            << "name=$(basename \"$0\")\n"
            << "echo \"$name start $$\" >> '" << log.string() << "'\n"
            << "sleep " << seconds << " &\n"
            << "echo \"$name sleeper $!\" >> '" << log.string() << "'\n"
            << "wait $!\n"
            << "echo \"$name end\" >> '" << log.string() << "'\n";
    }
    std::filesystem::permissions(file, std::filesystem::perms::owner_all);
}

// Ends the working children of the packages that noted themselves in `log`.
inline void KillSleepers(const std::filesystem::path& log) {
    std::istringstream lines(ReadFile(log));
    std::string name, word;
    while (lines >> name >> word) {
        long pid = 0;
        if (word == "start" || word == "sleeper")
            lines >> pid;
        if (word == "sleeper" && pid > 0)
            kill(static_cast<pid_t>(pid), SIGKILL);
    }
}

}  // namespace install_test
