#include "parlo/cli/commands.h"

#include <iterator>

namespace cli {

int CmdPdu(Context& ctx);  // cmd_pdu.cpp

// Sub-commands, in the order --help lists them. Add new ones here.
static const Command kCommands[] = {
    {"version", "version", "print the version",
     [](Context& ctx) {
         ctx.out << "parlo-cli " SKYVANE_VERSION "\n";
         return kOk;
     }},
    {"pdu", "pdu decode HEX|encode NUMBER TEXT",
     "decode a PDU, or build one (encode: --smsc N, --push)", CmdPdu},
};

std::span<const Command> Commands() {
    return {std::begin(kCommands), std::end(kCommands)};
}

}  // namespace cli
