// phonesim: a simulated GSM phone on a pseudo-terminal.
#include <cstdio>
#include <cstdlib>

#include "platform/program_info.h"
#include "tools/phonesim/options.h"
#include "tools/phonesim/phone.h"

int main(int argc, char** argv) {
    phonesim::Options options;
    std::string error;
    if (!phonesim::ParseOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "phonesim: %s\n%s", error.c_str(), phonesim::Usage());
        return 2;
    }
    if (options.help) {
        std::fputs(phonesim::Usage(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("phonesim %s\n", platform::SuiteVersion());
        return 0;
    }
    if (!options.home.empty())
        setenv("SKYVANE_HOME", options.home.c_str(), 1);
    phonesim::Phone phone(std::move(options));
    if (!phone.Start())
        return 1;
    return phone.Run();
}
