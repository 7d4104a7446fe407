// The command-line front end: one function per sub-command.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

namespace platform {
class Prompt;
}

namespace cli {

struct Context {
    std::vector<std::string> args;   // the words after the sub-command
    std::filesystem::path data_dir;  // the installation directory of this run
    bool yes = false;                // --yes: answer every question with Yes/OK
    bool no = false;                 // --no: answer every question with No/Cancel
    std::ostream& out;
    std::ostream& err;
    platform::Prompt& prompt;
};

using CommandFn = int (*)(Context&);

struct Command {
    const char* name;
    const char* usage;    // shown by --help, e.g. "list [FOLDER]"
    const char* summary;  // one line
    CommandFn run;
};

// Exit statuses.
inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;

}  // namespace cli
