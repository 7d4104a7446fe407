// SelfUpdate: started by the updater from its own directory after it has
// downloaded its own new files. Puts the files listed in
// "\windows\temp\postresetcopy.ini" in place and starts the updater again,
// which continues with the application named in "self.tmp".
#include <cstdio>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/process.h"
#include "updater/engine.h"
#include "updater/postreset.h"

int main(int argc, char** argv) {
    updater::Log log(platform::DevicePath("\\updater.log"));
    log.Write("SelfUpdate: start");
    int failed = updater::WorkOffPostResetList(&log);
    if (failed < 0)
        log.Write("SelfUpdate: no postresetcopy.ini");
    // "--batch" passes on to the restarted updater.
    std::vector<std::string> args(argv + 1, argv + argc);
    std::filesystem::path dir = updater::LocalPath(updater::UpdaterDirText());
    std::filesystem::path program = platform::ResolveProgram(dir, "updater.exe");
    if (program.empty() || !platform::StartDetached(program, args)) {
        log.Write("SelfUpdate: can not start the updater");
        std::fprintf(stderr, "SelfUpdate: can not start the updater\n");
        return 1;
    }
    log.Write("SelfUpdate: updater started");
    return failed > 0 ? 1 : 0;
}
