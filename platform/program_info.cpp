#include "platform/program_info.h"

#include <cstring>
#include <ostream>

namespace platform {

const char* SuiteVersion() {
    return SKYVANE_VERSION;
}

InfoOption FindInfoOption(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return InfoOption::kHelp;
        if (std::strcmp(argv[i], "--version") == 0)
            return InfoOption::kVersion;
    }
    return InfoOption::kNone;
}

bool AnswerInfoOption(int argc, char** argv, std::string_view program, std::string_view help,
                      std::ostream& out) {
    switch (FindInfoOption(argc, argv)) {
        case InfoOption::kHelp:
            out << help;
            return true;
        case InfoOption::kVersion:
            out << program << ' ' << SuiteVersion() << '\n';
            return true;
        case InfoOption::kNone:
            break;
    }
    return false;
}

}  // namespace platform
