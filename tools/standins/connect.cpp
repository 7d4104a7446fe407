// connect: stand-in for the suite's dial-up connection program.
//
// While it "uses the phone" it holds "vok.lock" of the installation
// directory open exclusively, so that a message or phonebook
// synchronisation cannot start. Command line "s" or "c" (both use the
// phone); it holds the lock until it is stopped (SIGTERM, SIGINT) or for
// --seconds N.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/exclusive_file.h"
#include "platform/paths.h"

namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) {
    g_stop = 1;
}

int Usage() {
    std::fprintf(stderr, "usage: connect s|c [--seconds N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    long seconds = -1;
    bool mode_given = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "s" || arg == "c") {
            mode_given = true;
        } else if (arg == "--seconds" && i + 1 < argc) {
            char* end = nullptr;
            seconds = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || seconds < 0)
                return Usage();
        } else {
            return Usage();
        }
    }
    if (!mode_given)
        return Usage();

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    std::filesystem::path lock = platform::InstallDir() / "vok.lock";
    platform::ExclusiveFile file;
    if (!file.Open(lock)) {
        std::fprintf(stderr, "connect: the phone is in use (%s)\n", lock.c_str());
        return 1;
    }
    std::printf("connect: using the phone (%s)\n", lock.c_str());
    std::fflush(stdout);
    long waited_ms = 0;
    while (!g_stop && (seconds < 0 || waited_ms < seconds * 1000)) {
        usleep(50 * 1000);
        waited_ms += 50;
    }
    file.Close();
    return 0;
}
