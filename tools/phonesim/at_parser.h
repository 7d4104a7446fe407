// Splitting an AT command line into its commands and parsing their arguments.
//
// A command line is "AT" (any case) followed by basic commands ("E0", "V1",
// "&F", "S7=30", "D123;") and extended commands ("+CMGR=1") separated by
// ';'. Blanks outside quoted strings are ignored and letters outside strings
// are taken in upper case.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace phonesim {

enum class CmdOp {
    kExec,  // "+CGMI", "E1", "Z"
    kSet,   // "+CMGR=1", "S7=30"
    kRead,  // "+CPMS?", "S3?"
    kTest,  // "+CPMS=?"
};

struct AtCommand {
    // "+CMGR", "E", "&F", "S7", "D", "I".
    std::string name;
    CmdOp op = CmdOp::kExec;
    // The text after '=' (set), the digits of a basic command ("0" of "E0"),
    // the dial string of "D". Strings keep their quotes.
    std::string args;
};

// Returns false when the line does not begin with "AT" (such lines are not
// commands and get no answer). Otherwise fills `commands`; `syntax_ok` tells
// whether the whole body parsed (a bad body answers ERROR).
bool SplitCommandLine(std::string_view line, std::vector<AtCommand>* commands, bool* syntax_ok);

// One argument of an extended command.
struct AtArg {
    bool present = false;  // false for an omitted argument (",,")
    bool quoted = false;
    std::string text;  // unquoted and unescaped ("\22" -> '"')
};

// Splits "1,\"SM\",,3" into arguments. Returns false on an unterminated string
// or a bad escape.
bool ParseArgs(std::string_view args, std::vector<AtArg>* out);

// A decimal number of at most 9 digits (no sign).
std::optional<int> ArgNumber(const AtArg& arg);

}  // namespace phonesim
