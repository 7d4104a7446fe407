#include "parlo/cli/commands.h"

#include <iterator>

namespace cli {

int CmdPdu(Context& ctx);  // cmd_pdu.cpp
int CmdAt(Context& ctx);   // cmd_at.cpp

// Sub-commands, in the order --help lists them. Add new ones here.
static const Command kCommands[] = {
    {"version", "version", "print the version",
     [](Context& ctx) {
         ctx.out << "parlo-cli " SKYVANE_VERSION "\n";
         return kOk;
     }},
    {"pdu", "pdu decode HEX|encode NUMBER TEXT",
     "decode a PDU, or build one (encode: --smsc N, --push)", CmdPdu},
    {"at", "at [--port NAME] [COMMAND...]",
     "send AT commands to the phone and print each reply (stdin without COMMANDs)", CmdAt},
};

std::span<const Command> Commands() {
    return {std::begin(kCommands), std::end(kCommands)};
}

}  // namespace cli
