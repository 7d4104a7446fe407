// Parlo: the windowed SMS client.
#include <QApplication>
#include <iostream>

#include "parlo/app/qt/application.h"
#include "platform/program_info.h"

namespace {

const char kHelp[] =
    "Usage: Parlo [NUMBER]\n"
    "The Skyvane SMS client. With a NUMBER, a new message to it opens once the\n"
    "window shows; when Parlo runs already, its window comes forward and takes\n"
    "the number. The command-line client is parlo-cli.\n\n"
    "  --help     show this help\n"
    "  --version  show the version\n";

}  // namespace

int main(int argc, char** argv) {
    // Answered without a display and without the store.
    if (platform::AnswerInfoOption(argc, argv, "Parlo", kHelp, std::cout))
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
