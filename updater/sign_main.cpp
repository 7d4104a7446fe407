#include <iostream>
#include <string>
#include <vector>

#include "updater/sign.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return updater::RunSignTool(args, std::cout, std::cerr);
}
