// copy: run once at log-in through the autostart entry after an update that
// needed a restart. Moves the files listed in "\windows\temp\postresetcopy.ini"
// to their directories, then removes its autostart entry.
#include <cstdio>
#include <filesystem>

#include "platform/paths.h"
#include "updater/engine.h"
#include "updater/postreset.h"

int main() {
    updater::Log log(platform::DevicePath("\\updater.log"));
    log.Write("copy: start");
    int failed = updater::WorkOffPostResetList(&log);
    if (failed < 0)
        log.Write("copy: no postresetcopy.ini");
    std::error_code ec;
    std::filesystem::remove(updater::AutostartFile(), ec);
    log.Write("copy: done");
    if (failed > 0) {
        std::fprintf(stderr, "copy: %d file(s) could not be moved\n", failed);
        return 1;
    }
    return 0;
}
