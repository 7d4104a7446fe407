// copy: run at log-in through an autostart entry after an update that needed
// a restart. Moves the files listed in "\windows\temp\postresetcopy.ini" to
// their directories, then removes the user's autostart entry.
//
// "copy --at-login" is what a packaged installation's system-wide entry runs
// for every user at every log-in: with no file waiting it ends at once and
// writes nothing.
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/paths.h"
#include "updater/engine.h"
#include "updater/postreset.h"

int main(int argc, char** argv) {
    bool at_login = argc > 1 && std::strcmp(argv[1], "--at-login") == 0;
    std::error_code ec;
    if (at_login && (!platform::DeviceRootExists() ||
                     !std::filesystem::exists(updater::TempDir() / "postresetcopy.ini", ec))) {
        return 0;
    }
    updater::Log log(platform::DevicePath("\\updater.log"));
    log.Write("copy: start");
    int failed = updater::WorkOffPostResetList(&log);
    if (failed < 0)
        log.Write("copy: no postresetcopy.ini");
    updater::RemoveAutostartEntry();
    log.Write("copy: done");
    if (failed > 0) {
        std::fprintf(stderr, "copy: %d file(s) could not be moved\n", failed);
        return 1;
    }
    return 0;
}
