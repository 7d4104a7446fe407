// Parlo: the windowed SMS client.
#include <QApplication>

#include "parlo/app/qt/application.h"

int main(int argc, char** argv) {
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
