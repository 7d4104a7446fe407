// The table of sub-commands. Each sub-command lives in a cmd_*.cpp file of
// this folder and is listed in commands.cpp.
#pragma once

#include <span>

#include "parlo/cli/cli.h"

namespace cli {

std::span<const Command> Commands();

}  // namespace cli
