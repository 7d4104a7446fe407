// The Qt support library: prompts asked from worker threads, the layout
// checks, text conversion.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QVBoxLayout>
#include <atomic>
#include <thread>

#include "qtsupport/layout_check.h"
#include "qtsupport/message_prompt.h"
#include "qtsupport/qt_text.h"

namespace {

QApplication* App() {
    static int argc = 1;
    static char name[] = "qtsupport_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return app;
}

class QtSupport : public ::testing::Test {
  protected:
    void SetUp() override { App(); }
    void TearDown() override { qtsupport::SetPromptHookForTesting(nullptr); }
};

TEST_F(QtSupport, TextRoundTripKeepsSurrogatePairsAndZeros) {
    std::u16string text = u"Gr\u00fc\u00dfe \U0001F600";
    text.push_back(0);
    text += u"end";
    QString q = qtsupport::ToQString(text);
    EXPECT_EQ(q.size(), static_cast<qsizetype>(text.size()));
    EXPECT_EQ(qtsupport::FromQString(q), text);
}

TEST_F(QtSupport, WorkerPromptIsAnsweredOnTheGuiThreadWhileTheGuiKeepsRunning) {
    platform::ScriptedPrompt scripted;
    scripted.Push(platform::Answer::No);
    std::atomic<bool> on_gui{false};
    qtsupport::SetPromptHookForTesting([&](const qtsupport::PromptRequest& r) {
        on_gui = QThread::currentThread() == App()->thread();
        return scripted.MessageBox(r.text, r.buttons, r.icon, r.caption);
    });
    qtsupport::MessageBoxPrompt prompt(u"Skyvane");
    std::atomic<bool> done{false};
    platform::Answer answer = platform::Answer::Ok;
    std::thread worker([&] {
        answer =
            prompt.MessageBox(u"Delete?", platform::Buttons::YesNo, platform::Icon::Question, u"");
        done = true;
    });
    QDeadlineTimer deadline(60000);
    while (!done && !deadline.hasExpired())
        QTest::qWait(5);  // the GUI thread is not blocked by the waiting worker
    worker.join();
    ASSERT_TRUE(done);
    EXPECT_TRUE(on_gui);
    EXPECT_EQ(answer, platform::Answer::No);
    ASSERT_EQ(scripted.shown().size(), 1u);
    EXPECT_EQ(scripted.shown()[0].caption, u"Skyvane");  // the default caption
}

TEST_F(QtSupport, WithoutADisplayAQuestionGetsItsNegativeAnswer) {
    // The tests run on the offscreen platform: nobody can see a box there.
    qtsupport::MessageBoxPrompt prompt;
    EXPECT_EQ(
        prompt.MessageBox(u"Sure?", platform::Buttons::OkCancel, platform::Icon::Question, u""),
        platform::Answer::Cancel);
    EXPECT_EQ(prompt.MessageBox(u"Sure?", platform::Buttons::YesNo, platform::Icon::Question, u""),
              platform::Answer::No);
    EXPECT_EQ(prompt.MessageBox(u"Note", platform::Buttons::Ok, platform::Icon::None, u""),
              platform::Answer::Ok);
}

TEST_F(QtSupport, LayoutChecksFindOverlapsOverflowAndCutText) {
    QWidget root;
    root.resize(200, 100);
    auto* a = new QLabel("a", &root);
    a->setObjectName("1001");
    a->setGeometry(0, 0, 50, 20);
    auto* b = new QPushButton("b", &root);
    b->setObjectName("1002");
    b->setGeometry(40, 10, 50, 30);  // overlaps a
    auto* c = new QLabel("a rather long text that needs room", &root);
    c->setObjectName("1003");
    c->setGeometry(0, 50, 30, 20);  // too narrow
    auto* d = new QLabel("d", &root);
    d->setObjectName("1004");
    d->setGeometry(190, 90, 30, 20);  // outside
    root.show();
    const QStringList problems = qtsupport::LayoutProblems(&root);
    const QString all = problems.join('\n');
    EXPECT_TRUE(all.contains("1001 (QLabel) overlaps 1002")) << all.toStdString();
    EXPECT_TRUE(all.contains("1003 (QLabel) cuts its text")) << all.toStdString();
    EXPECT_TRUE(all.contains("1004 (QLabel) lies outside")) << all.toStdString();
    EXPECT_FALSE(all.contains("1002 (QPushButton) cuts")) << all.toStdString();
}

TEST_F(QtSupport, ALaidOutWindowPassesAtTheLargerFontToo) {
    for (double scale : {1.0, 1.5}) {
        qtsupport::FontScale font(scale);
        QWidget root;
        auto* layout = new QVBoxLayout(&root);
        layout->addWidget(new QLabel("Synchronising the phone's messages"));
        layout->addWidget(new QPushButton("Cancel"));
        root.show();
        QTest::qWait(1);
        EXPECT_TRUE(qtsupport::LayoutProblems(&root).isEmpty())
            << scale << ": " << qtsupport::LayoutProblems(&root).join('\n').toStdString();
    }
}

}  // namespace
