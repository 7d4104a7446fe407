// --help and --version of the suite's programs. They are answered before a
// program opens a display, reads the installation or writes a file, so they
// work anywhere (a terminal without a display, a package check, a script).
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

namespace platform {

// The suite's version, e.g. "1.0.0".
const char* SuiteVersion();

enum class InfoOption { kNone, kHelp, kVersion };

// The first --help, -h or --version among the arguments (before a "--").
InfoOption FindInfoOption(int argc, char** argv);

// Answers --help with `help` and --version with "PROGRAM VERSION" on `out`.
// True when one was answered: the program then ends with status 0.
bool AnswerInfoOption(int argc, char** argv, std::string_view program, std::string_view help,
                      std::ostream& out);

}  // namespace platform
