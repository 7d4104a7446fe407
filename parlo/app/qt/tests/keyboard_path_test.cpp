// The whole user path through the real window and its real dialogs against
// the simulated phone, from the keyboard alone: write and send a new
// message, synchronise, read what came, reply, move it to a folder made for
// it and delete it. Focus moves only by Tab, commands only by their keys.
#include <QListWidget>

#include "parlo/app/qt/tests/main_window_fixture.h"
#include "platform/text.h"

namespace parlo {
namespace {

using qtsupport::testing::WaitUntil;
using window_testing::MainWindow;

class KeyboardPath : public MainWindow {
  protected:
    ParloDialogs real;

    void SetUp() override {
        MainWindow::SetUp();
        chosen_dialogs = &real;
    }

    // Runs `step` inside the next modal dialog that the keys about to be
    // typed open; `done` tells that it ran. A dialog asked for just after
    // another closed opens a moment later.
    void WhenOpen(std::function<void(QWidget*)> step, bool* done) {
        *done = false;
        auto* timer = new QTimer(app->Frame());
        timer->setInterval(20);
        QObject::connect(timer, &QTimer::timeout, [timer, step, done] {
            QWidget* w = QApplication::activeModalWidget();
            if (!w || !w->isVisible())
                return;
            timer->stop();
            timer->deleteLater();
            *done = true;
            step(w);
        });
        timer->start();
    }

    static QWidget* Focus() { return QApplication::focusWidget(); }

    // Presses Tab until the widget named `name` of `window` has the focus.
    static bool TabTo(QWidget* window, const QString& name) {
        for (int i = 0; i < 40; ++i) {
            QWidget* f = Focus();
            if (f && f->objectName() == name && f->window() == window)
                return true;
            QTest::keyClick(f ? f : window, Qt::Key_Tab);
        }
        return false;
    }
    static bool TabTo(QWidget* target) {
        for (int i = 0; i < 40; ++i) {
            if (Focus() == target)
                return true;
            QTest::keyClick(Focus() ? Focus() : target->window(), Qt::Key_Tab);
        }
        return false;
    }
    // Types a message into an open compose dialog and sends it with
    // Ctrl+Return.
    static void TypeAndSend(QWidget* compose, const char* number, const char* text) {
        if (number) {
            ASSERT_TRUE(TabTo(compose, "1002"));
            QTest::keyClicks(Focus(), number);
        }
        ASSERT_TRUE(TabTo(compose, "1004"));
        QTest::keyClicks(Focus(), text);
        QTest::keyClick(Focus(), Qt::Key_Return, Qt::ControlModifier);
    }
    // A key typed into the window. The offscreen platform does not give
    // the window back its activation when a dialog closes, as a window
    // manager does: that is done here.
    void Key(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        if (!app->Frame()->isActiveWindow() || !Focus())
            Activate();
        QWidget* target = Focus() ? Focus() : app->Frame();
        QTest::keyClick(target, key, mods);
        QCoreApplication::processEvents();  // as between two keys of a user
    }
    void Activate() {
        app->Frame()->activateWindow();
        QApplication::setActiveWindow(app->Frame());
        ASSERT_TRUE(WaitUntil([&] { return app->Frame()->isActiveWindow(); }, 10000));
    }
    void Synchronise() {
        ASSERT_TRUE(app->Frame()->Action(ID_SYNCHRONIZE)->isEnabled());
        Key(Qt::Key_F5);

        ASSERT_TRUE(WaitUntil([&] { return !Doc().IsSyncBusy(); }, 120000));
        QTest::qWait(100);  // the lists take in what the run stored
        ASSERT_TRUE(WaitUntil([&] { return Model(VIEW_OUTBOX)->rowCount() == 0; }, 30000));
    }
    // Chooses the list named `name` in the folder chooser with the arrow
    // keys.
    void ChooseList(const char* name) {
        auto* chooser = View()->findChild<QComboBox*>("1000");
        ASSERT_NE(chooser, nullptr);
        if (!app->Frame()->isActiveWindow())
            Activate();
        ASSERT_TRUE(TabTo(chooser));
        QTest::keyClick(chooser, Qt::Key_Home);
        for (int i = 0; i < chooser->count() && chooser->currentText() != name; ++i)
            QTest::keyClick(chooser, Qt::Key_Down);
        ASSERT_EQ(chooser->currentText(), name);
        ASSERT_TRUE(TabTo(View()->CurrentList()));
        Key(Qt::Key_Home);
    }
};

TEST_F(KeyboardPath, NewSendSynchroniseReadReplyMoveAndDelete) {
    StartPhone({}, [](nlohmann::json& state) {
        state["sms"]["storages"]["SM"]["slots"] = {
            {{"index", 1},
             {"status", 0},
             {"pdu", phonesim::testing::MakeDeliverPdu("+491701234567", "Dinner at eight?")}}};
    });
    ASSERT_TRUE(Start({}, /*need_phone=*/true));
    Activate();

    // A new message, sent to the Outbox.
    bool done = false;
    WhenOpen([](QWidget* d) { TypeAndSend(d, "+491709876", "Running late"); }, &done);
    Key(Qt::Key_N, Qt::ControlModifier);
    ASSERT_TRUE(WaitUntil([&] { return done; }, 30000));
    ASSERT_EQ(Model(VIEW_OUTBOX)->rowCount(), 1);

    // Synchronise: it goes out, and the phone's message comes in unread.
    Synchronise();
    ASSERT_EQ(Model(VIEW_SENT)->rowCount(), 1);
    EXPECT_EQ(Model(VIEW_SENT)->CopyAt(0)->m_strText, u"Running late");
    ASSERT_EQ(Model(VIEW_INBOX)->rowCount(), 1);
    EXPECT_EQ(Model(VIEW_INBOX)->CopyAt(0)->m_nState, STATE_UNREAD);
    EXPECT_EQ(phone->ReadState()["sms"]["sent"].size(), 1u);

    // Read it: Return in the Inbox opens it, Escape closes it.
    ChooseList("Inbox");
    QString shown;
    WhenOpen(
        [&shown](QWidget* d) {
            if (auto* text = d->findChild<QPlainTextEdit*>("1004"))
                shown = text->toPlainText();
            QTest::keyClick(Focus() ? Focus() : d, Qt::Key_Escape);
        },
        &done);
    Key(Qt::Key_Return);
    ASSERT_TRUE(WaitUntil([&] { return done; }, 30000));
    EXPECT_EQ(shown, "Dinner at eight?");
    EXPECT_EQ(Model(VIEW_INBOX)->CopyAt(0)->m_nState, STATE_READ);

    // Reply: the number is filled in, the answer typed and sent.
    WhenOpen([](QWidget* d) { TypeAndSend(d, nullptr, "Yes, see you"); }, &done);
    Key(Qt::Key_R, Qt::ControlModifier);
    ASSERT_TRUE(WaitUntil([&] { return done; }, 30000));
    ASSERT_EQ(Model(VIEW_OUTBOX)->rowCount(), 1);
    EXPECT_EQ(Model(VIEW_OUTBOX)->CopyAt(0)->m_strNumber, u"+491701234567");
    Synchronise();
    EXPECT_EQ(Model(VIEW_SENT)->rowCount(), 2);
    EXPECT_EQ(phone->ReadState()["sms"]["sent"].size(), 2u);

    // A folder made in the Folders dialog, then Move to folder.
    WhenOpen(
        [](QWidget* d) {
            ASSERT_TRUE(TabTo(d, "1029"));
            QTest::keyClicks(Focus(), "Evenings");
            QTest::keyClick(Focus(), Qt::Key_Return);  // adds it
            QTest::keyClick(Focus(), Qt::Key_Escape);
        },
        &done);
    Key(Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(WaitUntil([&] { return done; }, 30000));
    const CSmsFolder* folder = Doc().Folders().ByName(u"Evenings");
    ASSERT_NE(folder, nullptr);
    const int32_t evenings = folder->m_nId;
    ChooseList("Inbox");
    WhenOpen(
        [](QWidget* d) {
            auto* list = d->findChild<QListWidget*>("1031");
            ASSERT_TRUE(TabTo(list));
            QTest::keyClicks(list, "Evenings");
            ASSERT_EQ(list->currentItem()->text(), "Evenings");
            QTest::keyClick(Focus(), Qt::Key_Return);  // OK
        },
        &done);
    Key(Qt::Key_M, Qt::ControlModifier);
    ASSERT_TRUE(WaitUntil([&] { return done; }, 30000));
    EXPECT_EQ(Model(VIEW_INBOX)->rowCount(), 0);
    ASSERT_EQ(Doc().FolderRecords(evenings).size(), 1u);

    // Delete it there: a user folder asks nothing; it goes to the Recycle
    // Bin.
    ChooseList("Evenings");
    ASSERT_EQ(View()->CurrentModel()->rowCount(), 1);
    Key(Qt::Key_Delete);
    EXPECT_EQ(View()->CurrentModel()->rowCount(), 0);
    EXPECT_TRUE(Doc().FolderRecords(evenings).empty());
    ASSERT_EQ(Model(VIEW_RECYCLE)->rowCount(), 1);
    EXPECT_EQ(Model(VIEW_RECYCLE)->CopyAt(0)->m_strText, u"Dinner at eight?");
    EXPECT_TRUE(prompt.texts().empty());
}

}  // namespace
}  // namespace parlo
