// Parlo: the windowed SMS client.
#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "parlo/app/qt/application.h"
#include "parlo/app/qt/main_frame.h"
#include "parlo/app/qt/main_view.h"
#include "platform/program_info.h"

namespace {

const char kHelp[] =
    "Usage: Parlo [NUMBER]\n"
    "The Skyvane SMS client. With a NUMBER, a new message to it opens once the\n"
    "window shows; when Parlo runs already, its window comes forward and takes\n"
    "the number. The command-line client is parlo-cli.\n\n"
    "  --help     show this help\n"
    "  --version  show the version\n";

// With SKYVANE_REPORT_PAINTED set, "painted" goes to stdout once the list
// on show has been painted with its rows: what a launch benchmark waits for.
class FirstPaint : public QObject {
  public:
    explicit FirstPaint(QWidget* viewport) : QObject(viewport) {
        viewport->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !done_) {
            done_ = true;
            QTimer::singleShot(0, this, [this, watched] {
                std::fputs("painted\n", stdout);
                std::fflush(stdout);
                watched->removeEventFilter(this);
            });
        }
        return false;
    }

  private:
    bool done_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    // Answered without a display and without the store.
    if (platform::AnswerInfoOption(argc, argv, "Parlo", kHelp, std::cout))
        return 0;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Parlo"));
    QApplication::setDesktopFileName(QStringLiteral("skyvane-parlo"));
    const QString number = parlo::CommandLineNumber(QApplication::arguments());
    // A running client takes the number and comes forward. Without one the
    // connection fails at once; a running one that is slow to answer (a busy
    // machine) is waited for, since a second window on the same phone and
    // store would be worse than a late one.
    if (parlo::ParloApplication::HandOver(number, 15000))
        return 0;
    parlo::ParloApplication parlo;
    if (!parlo.Start(number))
        return 1;
    if (std::getenv("SKYVANE_REPORT_PAINTED") && parlo.Frame()) {
        // The rows are in the list by now; the next paint shows them.
        QWidget* viewport = parlo.Frame()->View()->CurrentList()->viewport();
        new FirstPaint(viewport);
        viewport->update();
    }
    return app.exec();
}
