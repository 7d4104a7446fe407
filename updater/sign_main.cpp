#include <iostream>
#include <string>
#include <vector>

#include "platform/program_info.h"
#include "updater/sign.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::cout << "updater-sign " << platform::SuiteVersion() << "\n";
        return 0;
    }
    std::vector<std::string> args(argv + 1, argv + argc);
    return updater::RunSignTool(args, std::cout, std::cerr);
}
