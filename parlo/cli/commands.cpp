#include "parlo/cli/commands.h"

#include <iterator>

namespace cli {

// Sub-commands, in the order --help lists them. Add new ones here.
static const Command kCommands[] = {
    {"version", "version", "print the version",
     [](Context& ctx) {
         ctx.out << "parlo-cli " SKYVANE_VERSION "\n";
         return kOk;
     }},
};

std::span<const Command> Commands() {
    return {std::begin(kCommands), std::end(kCommands)};
}

}  // namespace cli
