// What the Qt tests of every program share: the test program's one
// application object, and waiting for a condition while the event loop runs.
#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryFile>
#include <QTest>
#include <functional>

namespace qtsupport::testing {

// Made on first use; every test of the program shares it.
inline QApplication* App() {
    static int argc = 1;
    static char name[] = "parlo_qt_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return app;
}

// Runs the event loop until `done` holds; false when `ms` ran out first.
// The limit is generous: the tests run on loaded machines.
inline bool WaitUntil(const std::function<bool()>& done, int ms = 120000) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
    return true;
}

}  // namespace qtsupport::testing

namespace qtsupport::testing {

// Gives the offscreen platform one screen of `width` x `height` (the
// desktop the windows are checked for). Call before the first App().
inline void UseOffscreenScreen(int width, int height) {
    if (QApplication::instance() || qgetenv("QT_QPA_PLATFORM") != "offscreen")
        return;
    // Kept for the life of the test program, removed when it ends.
    static QTemporaryFile out(QDir::temp().filePath("skyvane-offscreen-XXXXXX.json"));
    if (!out.open())
        return;
    out.write(QString("{\"screens\": [{\"name\": \"Desk\", \"x\": 0, \"y\": 0, \"width\": %1, "
                      "\"height\": %2, \"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1}]}")
                  .arg(width)
                  .arg(height)
                  .toUtf8());
    out.flush();
    const QString file = out.fileName();
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + file).toUtf8());
}

}  // namespace qtsupport::testing
