#include "parlo/cli/commands.h"

#include <iterator>
#include <ostream>

#include "platform/program_info.h"

namespace cli {

int CmdPdu(Context& ctx);              // cmd_pdu.cpp
int CmdAt(Context& ctx);               // cmd_at.cpp
int CmdSync(Context& ctx);             // cmd_sync.cpp
int CmdSend(Context& ctx);             // cmd_sync.cpp
int CmdClearPhone(Context& ctx);       // cmd_sync.cpp
int CmdClearSim(Context& ctx);         // cmd_sync.cpp
int CmdAutoSync(Context& ctx);         // cmd_sync.cpp
int CmdList(Context& ctx);             // cmd_store.cpp
int CmdShow(Context& ctx);             // cmd_store.cpp
int CmdRead(Context& ctx);             // cmd_store.cpp
int CmdDelete(Context& ctx);           // cmd_store.cpp
int CmdMove(Context& ctx);             // cmd_store.cpp
int CmdEmptyRecycleBin(Context& ctx);  // cmd_store.cpp
int CmdFolders(Context& ctx);          // cmd_store.cpp
int CmdStore(Context& ctx);            // cmd_store.cpp
int CmdRelease(Context& ctx);          // cmd_store.cpp
int CmdDeviceDb(Context& ctx);         // cmd_devicedb.cpp
int CmdModem(Context& ctx);            // cmd_modem.cpp
int CmdOptions(Context& ctx);          // cmd_modem.cpp

int CmdContacts(Context& ctx);   // cmd_contacts.cpp
int CmdGroups(Context& ctx);     // cmd_contacts.cpp
int CmdPhonebook(Context& ctx);  // cmd_contacts.cpp
int CmdComplete(Context& ctx);   // cmd_complete.cpp

// Sub-commands, in the order --help lists them. Add new ones here.
static const Command kCommands[] = {
    {"version", "version", "print the version",
     [](Context& ctx) {
         ctx.out << "parlo-cli " << platform::SuiteVersion() << "\n";
         return kOk;
     }},
    {"pdu", "pdu decode HEX|encode NUMBER TEXT",
     "decode a PDU, or build one (encode: --smsc N, --push)", CmdPdu},
    {"at", "at [--port NAME | NAME] [COMMAND...]",
     "send AT commands to the phone and print each reply (stdin without COMMANDs)", CmdAt},
    {"sync", "sync", "synchronise: send the Outbox, read the phone into the store", CmdSync},
    {"send", "send NUMBERS TEXT [--push] [--sync]",
     "queue one Outbox message per number (';' separates), optionally synchronise", CmdSend},
    {"release", "release [ID...]",
     "list the Outbox messages held because they may have gone out, or release them", CmdRelease},
    {"clear-phone", "clear-phone", "delete ALL messages in the phone memory (with a sync)",
     CmdClearPhone},
    {"clear-sim", "clear-sim", "delete ALL messages on the SIM (with a sync)", CmdClearSim},
    {"autosync", "autosync [--interval MINUTES] [--log]",
     "synchronise automatically until interrupted (--log: one line per run)", CmdAutoSync},
    {"list", "list [FOLDER|all]", "list the messages of a folder, or all, with their ids", CmdList},
    {"show", "show ID...", "show messages in full", CmdShow},
    {"read", "read ID...", "mark unread messages read", CmdRead},
    {"delete", "delete [--pc|--phone|--both] ID...",
     "delete messages here (default), on the phone at the next sync, or both", CmdDelete},
    {"move", "move FOLDER ID...", "move messages to a folder", CmdMove},
    {"empty-recycle-bin", "empty-recycle-bin", "purge every message of the Recycle Bin",
     CmdEmptyRecycleBin},
    {"folders", "folders [list|add|rename|delete]", "list, add, rename or delete folders",
     CmdFolders},
    {"store", "store recover",
     "take back the messages found in the damaged part kept in vok.sms.torn", CmdStore},
    {"devicedb", "devicedb pack|unpack|check", "build, read or check the device database vok.dat",
     CmdDeviceDb},
    {"modem", "modem [list|add|remove|detect|rule]",
     "list, register, remove or find the modems (phones) to use", CmdModem},
    {"options", "options [KEY VALUE]...", "show or change the settings (see 'options --help')",
     CmdOptions},
    {"contacts", "contacts list", "list the contacts with their ids and numbers", CmdContacts},
    {"groups", "groups [list|create|delete|members|add|remove|expand]",
     "SMS groups: list, create, delete, edit members, expand to numbers", CmdGroups},
    {"phonebook", "phonebook [list|sync|add|edit|delete|import|export|call]",
     "the phone's phonebook copy and its synchronisation (see 'phonebook --help')", CmdPhonebook},
    {"complete", "complete commands|folders|modems",
     "print the command, folder or modem names, one a line (shell completion)", CmdComplete},
};

std::span<const Command> Commands() {
    return {std::begin(kCommands), std::end(kCommands)};
}

}  // namespace cli
