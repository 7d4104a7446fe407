// Parlo: the windowed SMS client.
#include <QApplication>

#include <cstdio>
#include <cstring>

#include "parlo/app/qt/application.h"

namespace {

// --help and --version answer without a display and without the store.
bool AnswerInfoOption(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf(
                "Usage: Parlo [NUMBER]\n"
                "The Skyvane SMS client. With a NUMBER, a new message to it opens once the\n"
                "window shows; when Parlo runs already, its window comes forward and takes\n"
                "the number. The command-line client is parlo-cli.\n");
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Parlo %s\n", SKYVANE_VERSION);
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (AnswerInfoOption(argc, argv))
        return 0;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Parlo"));
    QApplication::setDesktopFileName(QStringLiteral("skyvane-parlo"));
    const QString number = parlo::CommandLineNumber(QApplication::arguments());
    // A running client takes the number and comes forward.
    if (parlo::ParloApplication::HandOver(number, 1000))
        return 0;
    parlo::ParloApplication parlo;
    if (!parlo.Start(number))
        return 1;
    return app.exec();
}
