#include "qtsupport/message_prompt.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <condition_variable>
#include <iostream>
#include <memory>
#include <mutex>

#include "platform/text.h"
#include "qtsupport/qt_text.h"

namespace qtsupport {

namespace {

std::mutex g_hook_mutex;
PromptHook g_hook;

PromptHook CurrentHook() {
    std::lock_guard<std::mutex> lock(g_hook_mutex);
    return g_hook;
}

bool CanShowBoxes() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return false;
    const QString name = QGuiApplication::platformName();
    return name != "offscreen" && name != "minimal";
}

platform::Answer Console(const PromptRequest& r) {
    std::cerr << (r.caption.empty() ? "" : platform::ToUtf8(r.caption) + ": ")
              << platform::ToUtf8(r.text) << "\n";
    return NegativeAnswer(r.buttons);
}

platform::Answer ShowBox(const PromptRequest& r) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(ToQString(r.caption));
    box.setText(ToQString(r.text));
    switch (r.icon) {
        case platform::Icon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case platform::Icon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case platform::Icon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case platform::Icon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case platform::Icon::None:
            break;
    }
    switch (r.buttons) {
        case platform::Buttons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            box.setEscapeButton(QMessageBox::Ok);
            break;
        case platform::Buttons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Ok);
            box.setEscapeButton(QMessageBox::Cancel);
            break;
        case platform::Buttons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::Yes);
            box.setEscapeButton(QMessageBox::No);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Ok:
            return platform::Answer::Ok;
        case QMessageBox::Yes:
            return platform::Answer::Yes;
        case QMessageBox::No:
            return platform::Answer::No;
        case QMessageBox::Cancel:
            return platform::Answer::Cancel;
        default:
            return NegativeAnswer(r.buttons);  // closed without a choice
    }
}

// Runs on the GUI thread.
platform::Answer Answer(const PromptRequest& r) {
    if (PromptHook hook = CurrentHook())
        return hook(r);
    if (!CanShowBoxes())
        return Console(r);
    return ShowBox(r);
}

}  // namespace

platform::Answer NegativeAnswer(platform::Buttons buttons) {
    switch (buttons) {
        case platform::Buttons::Ok:
            return platform::Answer::Ok;
        case platform::Buttons::OkCancel:
            return platform::Answer::Cancel;
        case platform::Buttons::YesNo:
            return platform::Answer::No;
    }
    return platform::Answer::Cancel;
}

MessageBoxPrompt::MessageBoxPrompt(std::u16string default_caption)
    : default_caption_(std::move(default_caption)) {}

platform::Answer MessageBoxPrompt::MessageBox(const std::u16string& text, platform::Buttons buttons,
                                              platform::Icon icon, const std::u16string& caption) {
    return Show(text, buttons, icon, caption.empty() ? default_caption_ : caption);
}

platform::Answer MessageBoxPrompt::Show(const std::u16string& text, platform::Buttons buttons,
                                        platform::Icon icon, const std::u16string& caption) {
    PromptRequest request{text, buttons, icon, caption};
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        if (PromptHook hook = CurrentHook())
            return hook(request);
        return Console(request);
    }
    if (QThread::currentThread() == app->thread())
        return Answer(request);

    // Another thread: ask on the GUI thread and wait here for the answer.
    // When the question is dropped unasked (the application ends first), the
    // waiter gets the negative answer.
    struct Pending {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        platform::Answer answer = platform::Answer::Cancel;
        void Finish(platform::Answer a) {
            std::lock_guard<std::mutex> lock(mutex);
            if (done)
                return;
            answer = a;
            done = true;
            cv.notify_all();
        }
    };
    struct Completer {
        std::shared_ptr<Pending> pending;
        platform::Answer negative = platform::Answer::Cancel;
        ~Completer() {
            if (pending)
                pending->Finish(negative);
        }
    };
    auto pending = std::make_shared<Pending>();
    auto completer = std::make_shared<Completer>();
    completer->pending = pending;
    completer->negative = NegativeAnswer(buttons);
    const bool posted = QMetaObject::invokeMethod(
        app, [completer, request] { completer->pending->Finish(Answer(request)); },
        Qt::QueuedConnection);
    completer.reset();
    if (!posted)
        return Console(request);
    std::unique_lock<std::mutex> lock(pending->mutex);
    pending->cv.wait(lock, [&] { return pending->done; });
    return pending->answer;
}

void SetPromptHookForTesting(PromptHook hook) {
    std::lock_guard<std::mutex> lock(g_hook_mutex);
    g_hook = std::move(hook);
}

void ScriptPromptsForTesting(platform::ScriptedPrompt* scripted) {
    if (scripted == nullptr) {
        SetPromptHookForTesting(nullptr);
        return;
    }
    SetPromptHookForTesting([scripted](const PromptRequest& r) {
        return scripted->MessageBox(r.text, r.buttons, r.icon, r.caption);
    });
}

}  // namespace qtsupport
