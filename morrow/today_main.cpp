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
#include "platform/program_info.h"

namespace {

const char kUsage[] =
    "Usage: skyvane-today [--library PATH] [--disabled] [--screenshot FILE.png]\n";
const char kHelp[] =
    "Usage: skyvane-today [--library PATH] [--disabled] [--screenshot FILE.png]\n"
    "The Skyvane strip: SMS, web, mail, dial-up and your own program with one\n"
    "click, as a small window that stays on top.\n\n"
    "  --library PATH       load the item from PATH instead of libmorrow.so\n"
    "  --disabled           start with the item switched off\n"
    "  --screenshot FILE    save the strip as a PNG picture and end\n"
    "  --help               show this help\n"
    "  --version            show the version\n";

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
    // Answered without a display and without the installation.
    if (platform::AnswerInfoOption(argc, argv, "skyvane-today", kHelp, std::cout))
        return 0;
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
            std::cerr << kUsage;
            return 2;
        }
    }
    if (library.empty())
        library = DefaultLibrary();
    InstallBanner();

    today::Screen screen;
    std::string error;
    if (!screen.Load(library, enabled, &error)) {
        std::cerr << "skyvane-today: " << error << "\n";
        return 1;
    }
    if (screen.item_window() == nullptr)
        std::cerr << "skyvane-today: the item is switched off\n";
    screen.widget()->show();
    if (!screenshot.empty()) {
        QTimer::singleShot(0, &app, [&] {
            const bool saved = screen.widget()->grab().save(QString::fromStdString(screenshot));
            app.exit(saved ? 0 : 1);
        });
    }
    return app.exec();
}
