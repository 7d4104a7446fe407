#include "parlo/cli/commands.h"

#include <iterator>

namespace cli {

int CmdPdu(Context& ctx);         // cmd_pdu.cpp
int CmdAt(Context& ctx);          // cmd_at.cpp
int CmdSync(Context& ctx);        // cmd_sync.cpp
int CmdSend(Context& ctx);        // cmd_sync.cpp
int CmdClearPhone(Context& ctx);  // cmd_sync.cpp
int CmdClearSim(Context& ctx);    // cmd_sync.cpp
int CmdAutoSync(Context& ctx);    // cmd_sync.cpp

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
    {"sync", "sync", "synchronise: send the Outbox, read the phone into the store", CmdSync},
    {"send", "send NUMBERS TEXT [--push] [--sync]",
     "queue one Outbox message per number (';' separates), optionally synchronise", CmdSend},
    {"clear-phone", "clear-phone", "delete ALL messages in the phone memory (with a sync)",
     CmdClearPhone},
    {"clear-sim", "clear-sim", "delete ALL messages on the SIM (with a sync)", CmdClearSim},
    {"autosync", "autosync [--interval MINUTES]",
     "synchronise automatically with a countdown until interrupted", CmdAutoSync},
};

std::span<const Command> Commands() {
    return {std::begin(kCommands), std::end(kCommands)};
}

}  // namespace cli
