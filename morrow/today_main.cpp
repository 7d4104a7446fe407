// today: shows the suite's Today item as a small always-on-top strip.
//   today [--library PATH] [--disabled] [--screenshot FILE.png]
#include <QApplication>
#include <QFile>
#include <QTimer>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "morrow/host.h"
#include "platform/paths.h"

namespace {

// The item library: beside the programs' lib directory, else by name.
std::string DefaultLibrary() {
    const std::filesystem::path candidate = platform::BinDir() / ".." / "lib" / "libmorrow.so";
    std::error_code ec;
    if (std::filesystem::exists(candidate, ec))
        return candidate.lexically_normal().string();
    return "libmorrow.so";
}

// The item paints the banner from the installation directory: put ours there
// unless one is there already.
void InstallBanner() {
    const std::filesystem::path banner = platform::InstallDir() / "connect.tdy";
    std::error_code ec;
    if (std::filesystem::exists(banner, ec))
        return;
    QFile::copy(":/morrow/connect.tdy", QString::fromStdString(banner.string()));
    QFile::setPermissions(
        QString::fromStdString(banner.string()),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::string library;
    std::string screenshot;
    bool enabled = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--library") == 0 && i + 1 < argc) {
            library = argv[++i];
        } else if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) {
            screenshot = argv[++i];
        } else if (std::strcmp(argv[i], "--disabled") == 0) {
            enabled = false;
        } else {
            std::cerr << "usage: today [--library PATH] [--disabled] [--screenshot FILE.png]\n";
            return 2;
        }
    }
    if (library.empty())
        library = DefaultLibrary();
    InstallBanner();

    today::Screen screen;
    std::string error;
    if (!screen.Load(library, enabled, &error)) {
        std::cerr << "today: " << error << "\n";
        return 1;
    }
    if (screen.item_window() == nullptr)
        std::cerr << "today: the item is switched off\n";
    screen.widget()->show();
    if (!screenshot.empty()) {
        QTimer::singleShot(0, &app, [&] {
            const bool saved = screen.widget()->grab().save(QString::fromStdString(screenshot));
            app.exit(saved ? 0 : 1);
        });
    }
    return app.exec();
}
