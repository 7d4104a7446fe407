// The command line of phonesim.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/phonesim/state.h"

namespace phonesim {

struct Options {
    std::filesystem::path state_file;
    int baud = 0;
    std::optional<int> delay_ms;
    std::optional<int> send_ms;
    std::optional<bool> echo;
    std::optional<bool> lowercase_hex;
    std::optional<std::string> list_mode;            // AT+CMGL: all, error, cms
    std::optional<int> list_limit;                   // AT+CMGL lists at most N
    std::vector<std::pair<std::string, int>> sizes;  // storage sizes, MEM:N
    std::filesystem::path transcript;
    std::filesystem::path control;
    int exit_after_commands = 0;
    int exit_after_ms = 0;
    std::string register_name;  // FriendlyName of the ExtModems entry
    std::string alias;          // "COMn:" wanted; empty: the first free one
    std::string home;           // installation directory whose registry is used
    Faults faults;              // added to those of the state file
    bool help = false;
    bool version = false;
};

// False with `error` set on a bad command line.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);
const char* Usage();

}  // namespace phonesim
