// updater: brings an installed application, and itself, up to date from the
// update server. "updater -app:NAME -path:DIRECTORY" opens the window;
// "updater --batch -app:NAME -path:DIRECTORY" does the whole update without one.
#include <QApplication>
#include <cstring>
#include <iostream>
#include <string>

#include "platform/program_info.h"
#include "updater/batch.h"
#include "updater/engine.h"
#include "updater/window.h"

namespace {

std::string JoinArguments(int argc, char** argv, int first) {
    std::string line;
    for (int i = first; i < argc; ++i) {
        if (i > first)
            line += ' ';
        line += argv[i];
    }
    return line;
}

const char kHelp[] =
    "Usage: skyvane-updater -app:NAME -path:DIRECTORY\n"
    "       skyvane-updater --batch -app:NAME -path:DIRECTORY\n"
    "Brings the installed application NAME in DIRECTORY, and the updater itself,\n"
    "up to date from the update server. Without --batch a window shows the\n"
    "files and asks before it installs; with --batch the whole update runs\n"
    "without one and the outcome is printed.\n\n"
    "  --help     show this help\n"
    "  --version  show the version\n";

}  // namespace

int main(int argc, char** argv) {
    if (platform::AnswerInfoOption(argc, argv, "skyvane-updater", kHelp, std::cout))
        return 0;
    if (argc >= 2 && std::strcmp(argv[1], "--batch") == 0) {
        return updater::RunBatch(JoinArguments(argc, argv, 2), updater::DefaultConfig(), std::cout);
    }
    // Without an application and its directory there is nothing to update,
    // and nothing is written.
    if (!updater::CommandLineUsable(JoinArguments(argc, argv, 1), updater::DefaultConfig())) {
        std::cerr << "usage: skyvane-updater -app:NAME -path:DIRECTORY\n";
        return 64;
    }
    QApplication app(argc, argv);
    updater::Engine engine(updater::DefaultConfig());
    updater::StartResult start = engine.StartUp(JoinArguments(argc, argv, 1));
    if (start == updater::StartResult::kQuit)
        return 0;
    updater::UpdaterWindow window(&engine);
    window.show();
    if (start == updater::StartResult::kSelfUpdate)
        window.CheckSoon();
    return app.exec();
}
