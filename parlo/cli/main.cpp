// parlo-cli: the SMS client without windows.
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "parlo/cli/cli.h"
#include "parlo/cli/commands.h"
#include "platform/paths.h"
#include "platform/program_info.h"
#include "platform/prompt.h"

namespace {

void PrintHelp(std::ostream& out) {
    out << "Usage: parlo-cli [--data-dir DIR] [--yes|--no] COMMAND [ARGS...]\n\n"
           "Skyvane SMS client on the command line.\n\n"
           "Options:\n"
           "  --data-dir DIR  use DIR as the installation directory for this run\n"
           "  --yes, --no     answer every question with Yes/OK or No/Cancel\n"
           "  --help          show this help\n"
           "  --version       show the version\n\n"
           "Commands:\n";
    for (const cli::Command& c : cli::Commands()) {
        std::string usage = c.usage;
        out << "  " << usage;
        if (usage.size() < 34)
            out << std::string(34 - usage.size(), ' ');
        else
            out << "\n  " << std::string(34, ' ');
        out << c.summary << "\n";
    }
}

}  // namespace

int main(int argc, char** argv) {
    bool yes = false, no = false;
    int i = 1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            PrintHelp(std::cout);
            return cli::kOk;
        } else if (a == "--version") {
            std::cout << "parlo-cli " << platform::SuiteVersion() << "\n";
            return cli::kOk;
        } else if (a == "--data-dir") {
            if (i + 1 >= argc) {
                std::cerr << "parlo-cli: --data-dir needs a directory\n";
                return cli::kUsage;
            }
            setenv("SKYVANE_HOME", argv[++i], 1);
        } else if (a == "--yes") {
            yes = true;
        } else if (a == "--no") {
            no = true;
        } else if (!a.empty() && a[0] == '-') {
            std::cerr << "parlo-cli: unknown option " << a << " (see --help)\n";
            return cli::kUsage;
        } else {
            break;
        }
    }
    if (i >= argc) {
        PrintHelp(std::cerr);
        return cli::kUsage;
    }
    std::string name = argv[i++];
    for (const cli::Command& c : cli::Commands()) {
        if (name != c.name)
            continue;
        platform::ConsolePrompt prompt(std::cout, std::cin,
                                       yes  ? platform::ConsolePrompt::Mode::AlwaysYes
                                       : no ? platform::ConsolePrompt::Mode::AlwaysNo
                                            : platform::ConsolePrompt::Mode::Ask);
        cli::Context ctx{
            {argv + i, argv + argc}, platform::InstallDir(), yes, no, std::cout, std::cerr, prompt};
        return c.run(ctx);
    }
    std::cerr << "parlo-cli: unknown command '" << name << "' (see --help)\n";
    return cli::kUsage;
}
