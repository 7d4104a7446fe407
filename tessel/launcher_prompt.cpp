#include "tessel/launcher_prompt.h"

#include <QApplication>
#include <QByteArray>
#include <cstdlib>

#include "qtsupport/message_prompt.h"

namespace tessel {

namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// Qt's complaints about a display it cannot reach: the message itself still
// reaches the user, on standard error.
void Quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

}  // namespace

LauncherPrompt::LauncherPrompt() = default;

LauncherPrompt::~LauncherPrompt() = default;

bool LauncherPrompt::DisplayPresent() {
    return Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM");
}

platform::Answer LauncherPrompt::MessageBox(const std::u16string& text, platform::Buttons buttons,
                                            platform::Icon icon, const std::u16string& caption) {
    if (!app_ && !QCoreApplication::instance() && DisplayPresent()) {
        // A display that does not answer falls back to the offscreen
        // platform rather than ending the program; the prompt then writes
        // to standard error.
        const bool given = Set("QT_QPA_PLATFORM");
        if (!given)
            qputenv("QT_QPA_PLATFORM",
                    Set("WAYLAND_DISPLAY") ? "wayland;xcb;offscreen" : "xcb;offscreen");
        static int argc = 1;
        static char name[] = "tessel";
        static char* argv[] = {name, nullptr};
        QtMessageHandler previous = qInstallMessageHandler(Quiet);
        app_ = std::make_unique<QApplication>(argc, argv);
        qInstallMessageHandler(previous);
        // The programs we start choose their own platform.
        if (!given)
            qunsetenv("QT_QPA_PLATFORM");
    }
    // Without an application the Qt prompt writes to standard error.
    qtsupport::MessageBoxPrompt prompt;
    return prompt.MessageBox(text, buttons, icon, caption);
}

}  // namespace tessel
