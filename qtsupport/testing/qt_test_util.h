// What the Qt tests of every program share: the test program's one
// application object, and waiting for a condition while the event loop runs.
#pragma once

#include <QApplication>
#include <QDeadlineTimer>
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
