// updater: brings an installed application, and itself, up to date from the
// update server. "updater -app:NAME -path:DIRECTORY" opens the window;
// "updater --batch -app:NAME -path:DIRECTORY" does the whole update without one.
#include <QApplication>
#include <cstring>
#include <iostream>
#include <string>

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

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--batch") == 0) {
        return updater::RunBatch(JoinArguments(argc, argv, 2), updater::DefaultConfig(), std::cout);
    }
    if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) {
        std::cout << "usage: updater -app:NAME -path:DIRECTORY\n"
                     "       updater --batch -app:NAME -path:DIRECTORY\n";
        return 0;
    }
    // Without an application and its directory there is nothing to update,
    // and nothing is written.
    if (!updater::CommandLineUsable(JoinArguments(argc, argv, 1), updater::DefaultConfig())) {
        std::cerr << "usage: updater -app:NAME -path:DIRECTORY\n";
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
