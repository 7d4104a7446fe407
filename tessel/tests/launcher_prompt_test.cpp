// The launcher's message boxes: standard error without a display, a Qt
// message box (here on the offscreen platform, answered by the prompt hook)
// with one. The tests run in this order: the first must not make a Qt
// application, the second makes one for good.
#include "tessel/launcher_prompt.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QThread>

#include "qtsupport/message_prompt.h"

namespace {

const std::u16string kNoMobile = u"Es ist keine Handy Nummer vorhanden";

TEST(LauncherPrompt, WithoutADisplayTheTextGoesToStandardError) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QT_QPA_PLATFORM");
    EXPECT_FALSE(tessel::LauncherPrompt::DisplayPresent());
    tessel::LauncherPrompt prompt;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(prompt.MessageBox(kNoMobile, platform::Buttons::Ok, platform::Icon::Warning, u""),
              platform::Answer::Ok);
    // Nobody saw a question: it is not confirmed.
    EXPECT_EQ(
        prompt.MessageBox(u"Go on?", platform::Buttons::YesNo, platform::Icon::Question, u"Tessel"),
        platform::Answer::No);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Es ist keine Handy Nummer vorhanden\nTessel: Go on?\n");
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

TEST(LauncherPrompt, WithADisplayAQtMessageBoxShows) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    EXPECT_TRUE(tessel::LauncherPrompt::DisplayPresent());
    std::vector<qtsupport::PromptRequest> shown;
    bool on_gui_thread = false;
    qtsupport::SetPromptHookForTesting([&](const qtsupport::PromptRequest& r) {
        shown.push_back(r);
        on_gui_thread = QThread::currentThread() == QCoreApplication::instance()->thread();
        return platform::Answer::Yes;
    });
    tessel::LauncherPrompt prompt;
    EXPECT_EQ(prompt.MessageBox(kNoMobile, platform::Buttons::Ok, platform::Icon::Warning, u""),
              platform::Answer::Yes);
    qtsupport::SetPromptHookForTesting(nullptr);
    ASSERT_NE(qobject_cast<QApplication*>(QCoreApplication::instance()), nullptr);
    EXPECT_EQ(QGuiApplication::platformName(), "offscreen");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, kNoMobile);
    EXPECT_EQ(shown[0].icon, platform::Icon::Warning);
    EXPECT_TRUE(on_gui_thread);
    // A platform the user named stays named.
    EXPECT_STREQ(getenv("QT_QPA_PLATFORM"), "offscreen");
}

}  // namespace
