// The main window as a desktop program: shortcuts and Tab, the keys of a
// list, the unread count in the title, the size, place, columns and sort
// kept between runs, automatic runs held off by open dialogs, numbers and
// hand-off files that wait for a dialog to close, and Exit during a run.
#include <QDialog>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <set>

#include "parlo/app/qt/interface_idle.h"
#include "parlo/app/qt/tests/main_window_fixture.h"
#include "parlo/app/qt/window_state.h"

namespace parlo {
namespace {

using qtsupport::testing::WaitUntil;
using window_testing::MainWindow;
using window_testing::RecordingDialogs;

class DesktopWindow : public MainWindow {
  protected:
    void Activate() {
        app->Frame()->activateWindow();
        QApplication::setActiveWindow(app->Frame());
        ASSERT_TRUE(WaitUntil([&] { return app->Frame()->isActiveWindow(); }, 10000));
    }
    // A modeless dialog of the program on show, as any dialog of the window.
    std::unique_ptr<QDialog> OpenDialog() {
        auto d = std::make_unique<QDialog>(app->Frame());
        d->show();
        QCoreApplication::processEvents();
        return d;
    }
};

TEST_F(DesktopWindow, EveryCommandHasAShortcutThatItsTooltipAndMenuShow) {
    ASSERT_TRUE(Start());
    const std::pair<int, QKeySequence> table[] = {
        {ID_NEW_SMS, QKeySequence("Ctrl+N")},       {ID_ANSWER_SMS, QKeySequence("Ctrl+R")},
        {ID_FORWARD_SMS, QKeySequence("Ctrl+L")},   {ID_DELETE_SMS, QKeySequence("Del")},
        {ID_SYNCHRONIZE, QKeySequence("F5")},       {ID_MOVE_TO_FOLDER, QKeySequence("Ctrl+M")},
        {ID_EXIT, QKeySequence("Ctrl+Q")},          {ID_DIALER, QKeySequence("Ctrl+D")},
        {ID_FOLDERS, QKeySequence("Ctrl+Shift+N")}, {ID_OPTIONS, QKeySequence("Ctrl+,")},
        {ID_GROUPS, QKeySequence("Ctrl+G")},        {ID_PHONEBOOK, QKeySequence("Ctrl+B")},
    };
    std::set<QKeySequence> seen;
    for (const auto& [id, keys] : table) {
        QAction* a = app->Frame()->Action(id);
        ASSERT_NE(a, nullptr) << id;
        EXPECT_EQ(a->shortcut(), keys) << id;
        EXPECT_TRUE(a->toolTip().contains(keys.toString(QKeySequence::NativeText)))
            << id << " " << a->toolTip().toStdString();
        EXPECT_TRUE(seen.insert(keys).second) << "used twice: " << keys.toString().toStdString();
    }
    // The command bar is on the Tab chain, from the Menu button to Exit.
    QWidget* menu = app->Frame()->findChild<QToolButton*>(QString::number(ID_MENU));
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->focusPolicy() & Qt::TabFocus);
    QWidget* w = menu;
    for (int id : {ID_NEW_SMS, ID_ANSWER_SMS, ID_FORWARD_SMS, ID_DELETE_SMS, ID_SYNCHRONIZE,
                   ID_MOVE_TO_FOLDER, ID_EXIT}) {
        w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisible())
            w = w->nextInFocusChain();
        EXPECT_EQ(w->objectName(), QString("button_%1").arg(id));
    }

    // The keys reach the commands.
    Activate();
    QTest::keyClick(app->Frame(), Qt::Key_N, Qt::ControlModifier);
    ASSERT_EQ(dialogs.composed.size(), 1u);
    QTest::keyClick(app->Frame(), Qt::Key_B, Qt::ControlModifier);
    QTest::keyClick(app->Frame(), Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(dialogs.opened, (std::vector<std::string>{"phonebook", "groups"}));

    // Disabled during a run, each says why.
    Inside(Doc()).Engine().m_sync.m_bSyncBusy = 1;
    app->Frame()->UpdateCommands();
    EXPECT_FALSE(app->Frame()->Action(ID_NEW_SMS)->isEnabled());
    EXPECT_TRUE(app->Frame()->Action(ID_NEW_SMS)->toolTip().contains("synchronisation"));
    Inside(Doc()).Engine().m_sync.m_bSyncBusy = 0;
    app->Frame()->UpdateCommands();
    EXPECT_FALSE(app->Frame()->Action(ID_NEW_SMS)->toolTip().contains("synchronisation"));
}

TEST_F(DesktopWindow, InAListReturnOpensSpaceMarksDeleteDeletesAndTheMenuKeyOpensTheMenu) {
    ASSERT_TRUE(Start());
    CSmsMessage* first = Add(STATE_READ, u"+49170111", u"one");
    Add(STATE_READ, u"+49170222", u"two");
    Activate();
    QTreeView* list = View()->CurrentList();
    list->setFocus();
    list->setCurrentIndex(Model(VIEW_INBOX)->index(0, 1));

    QTest::keyClick(list, Qt::Key_Return);
    ASSERT_EQ(dialogs.composed.size(), 1u);
    EXPECT_EQ(dialogs.composed[0].record, first);
    EXPECT_EQ(dialogs.composed[0].mode, VIEW_INBOX);

    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_EQ(Model(VIEW_INBOX)->MarkedCount(), 1);
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_EQ(Model(VIEW_INBOX)->MarkedCount(), 0);

    // The Menu key: the move menu of the current row, where the row is.
    QString opened;
    QTimer::singleShot(50, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* a : menu->actions())
                opened += a->text();
            menu->close();
        }
    });
    QTest::keyClick(list, Qt::Key_Menu);
    EXPECT_TRUE(opened.contains("Move the SMS message to")) << opened.toStdString();

    // Delete: in the Inbox it asks where, and deletes from this computer.
    QObject::connect(app->Frame(), &MainFrame::DeleteMenuShown, [](QMenu* menu) {
        QTimer::singleShot(0, menu, [menu] {
            for (QAction* a : menu->actions())
                if (a->objectName() == QString::number(ID_DELETE_POCKETPC))
                    a->trigger();
            menu->close();
        });
    });
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(Model(VIEW_INBOX)->rowCount(), 1);
    EXPECT_EQ(Model(VIEW_RECYCLE)->rowCount(), 1);
}

TEST_F(DesktopWindow, TheTitleCountsTheUnreadMessagesOfTheInbox) {
    ASSERT_TRUE(Start());
    EXPECT_EQ(app->Frame()->windowTitle(), "vok SMS");
    CSmsMessage* a = Add(STATE_UNREAD, u"+491", u"a");
    Add(STATE_UNREAD, u"+492", u"b");
    Add(STATE_READ, u"+493", u"c");
    ASSERT_TRUE(
        WaitUntil([&] { return app->Frame()->windowTitle() == "vok SMS (2 unread)"; }, 5000))
        << app->Frame()->windowTitle().toStdString();
    Doc().MarkRead(a);
    ASSERT_TRUE(
        WaitUntil([&] { return app->Frame()->windowTitle() == "vok SMS (1 unread)"; }, 5000));
}

TEST_F(DesktopWindow, SizePlaceColumnsAndSortAreKeptAndTheWindowStaysOnTheScreen) {
    ASSERT_TRUE(Start());
    for (int i = 0; i < 3; ++i)
        Add(STATE_READ, u"+4917" + std::u16string(1, u'0' + i), u"m", 45000.0 + i);
    QHeaderView* header = View()->List(VIEW_INBOX)->header();
    // No sort yet: no header claims one.
    EXPECT_FALSE(header->isSortIndicatorShown());
    View()->OnHeaderClicked(VIEW_INBOX, 2);
    View()->OnHeaderClicked(VIEW_INBOX, 2);  // the second click turns it round
    EXPECT_TRUE(header->isSortIndicatorShown());
    EXPECT_EQ(header->sortIndicatorSection(), 2);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
    header->resizeSection(1, 211);
    app->Frame()->resize(700, 500);
    app->Frame()->move(40, 30);
    app->Frame()->close();
    app.reset();

    ASSERT_TRUE(Start());
    header = View()->List(VIEW_INBOX)->header();
    EXPECT_EQ(app->Frame()->size(), QSize(700, 500));
    EXPECT_EQ(header->sectionSize(1), 211);
    EXPECT_EQ(View()->SortColumn(), 2);
    EXPECT_TRUE(View()->SortDescending());
    EXPECT_TRUE(header->isSortIndicatorShown());
    EXPECT_EQ(Numbers(VIEW_INBOX), (std::vector<std::u16string>{u"+49172", u"+49171", u"+49170"}));
    app.reset();

    // A kept size larger than the screen (another screen, a larger font)
    // shrinks to it.
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    {
        QSettings s(WindowStateFile(), QSettings::IniFormat);
        QMainWindow big;
        big.resize(area.width() + 600, area.height() + 400);
        s.setValue("window/geometry", big.saveGeometry());
    }
    qtsupport::FontScale font(1.5);
    ASSERT_TRUE(Start());
    EXPECT_TRUE(WaitUntil([&] { return area.contains(app->Frame()->frameGeometry()); }, 5000))
        << app->Frame()->frameGeometry().width() << "x" << app->Frame()->frameGeometry().height();
}

TEST_F(DesktopWindow, AnAutomaticRunIsSkippedWhileAnyDialogIsOpen) {
    ASSERT_TRUE(Start());
    CSettings settings = Doc().Settings();
    settings.m_bAutoSync = 1;
    settings.m_nAutoSyncInterval = 1;
    Doc().SetSettings(settings);
    auto& sync = Inside(Doc()).Engine().m_sync;
    sync.SetTimingForTesting(std::chrono::milliseconds(150), std::chrono::milliseconds(10));

    // A message box of the program (the error list, a question) holds it.
    auto box = std::make_unique<QMessageBox>(QMessageBox::Warning, "Parlo", "Errors",
                                             QMessageBox::Ok, app->Frame());
    box->show();
    QCoreApplication::processEvents();
    EXPECT_FALSE(Doc().IsInterfaceIdle());
    Doc().StartAutoSync();
    ASSERT_TRUE(WaitUntil([&] { return sync.m_nCountdowns >= 3; }, 60000));
    EXPECT_EQ(sync.m_nRuns, 0);
    box->hide();
    QCoreApplication::processEvents();
    EXPECT_TRUE(Doc().IsInterfaceIdle());
    ASSERT_TRUE(WaitUntil([&] { return sync.m_nRuns >= 1; }, 60000));

    // A run that ends while a dialog is open does not let the next one in.
    Doc().StopAutoSync();
    ASSERT_TRUE(WaitUntil([&] { return !Doc().IsSyncBusy(); }));
    auto d = OpenDialog();
    sync.m_bSyncIdle = 1;  // as the end of a run sets it
    QTest::qWait(600);
    EXPECT_FALSE(Doc().IsInterfaceIdle());
}

TEST_F(DesktopWindow, TheCountdownGoesWhenAutomaticSyncIsSwitchedOffInADialog) {
    ASSERT_TRUE(Start());
    View()->SetStatusText(u"AS: 00:04:55");
    auto d = OpenDialog();
    Doc().StopAutoSync();
    d.reset();
    ASSERT_TRUE(WaitUntil([&] { return View()->StatusText().isEmpty(); }, 5000))
        << View()->StatusText().toStdString();
    // Other status texts stay.
    View()->SetStatusText(u"Synchronizing...");
    QTest::qWait(600);
    EXPECT_EQ(View()->StatusText(), "Synchronizing...");
}

TEST_F(DesktopWindow, ANumberWaitsForAnOpenDialogAndIsRefusedDuringASynchronisation) {
    ASSERT_TRUE(Start());
    auto d = OpenDialog();
    app->Frame()->OpenNumberWhenPossible(u"+49170");
    QTest::qWait(700);
    EXPECT_TRUE(dialogs.composed.empty());
    d.reset();
    ASSERT_TRUE(WaitUntil([&] { return dialogs.composed.size() == 1; }, 10000));
    EXPECT_EQ(dialogs.composed[0].number, u"+49170");

    Inside(Doc()).Engine().m_sync.m_bSyncBusy = 1;
    prompt.Clear();
    app->Frame()->OpenNumberWhenPossible(u"+49171");
    ASSERT_TRUE(WaitUntil([&] { return !prompt.texts().empty(); }, 10000));
    Inside(Doc()).Engine().m_sync.m_bSyncBusy = 0;
    EXPECT_NE(prompt.texts()[0].find(u"still in progress"), std::u16string::npos);
    EXPECT_EQ(dialogs.composed.size(), 1u);
}

// Writes a second hand-off file while the dialog of the first is open, as
// the contacts action would.
class HandoffWritingDialogs : public RecordingDialogs {
  public:
    std::filesystem::path dir;
    bool file_seen_open = false;
    void Compose(const DialogContext& ctx, int mode, CSmsMessage* record,
                 const std::u16string& number, const std::u16string& text) override {
        RecordingDialogs::Compose(ctx, mode, record, number, text);
        file_seen_open = std::filesystem::exists(HandoffPath(dir));
        if (composed.size() == 1)
            WriteHandoffFile(dir, u"+4955");
    }
};

TEST_F(DesktopWindow, TheHandOffFileStaysUntilItsNewMessageIsOpen) {
    HandoffWritingDialogs writing;
    writing.dir = dir.path();
    chosen_dialogs = &writing;
    ASSERT_TRUE(Start());
    ASSERT_TRUE(WriteHandoffFile(dir.path(), u"+4944"));
    {
        auto d = OpenDialog();
        app->Frame()->CheckHandoffWhenPossible();
        QTest::qWait(700);
        EXPECT_TRUE(writing.composed.empty());
        EXPECT_TRUE(std::filesystem::exists(HandoffPath(dir.path())));
    }
    ASSERT_TRUE(WaitUntil([&] { return writing.composed.size() == 1; }, 10000));
    EXPECT_EQ(writing.composed[0].number, u"+4944");
    QTest::qWait(50);
    // The number written while the first message was open is still there.
    std::u16string left;
    ASSERT_EQ(TakeHandoffFile(dir.path(), &left), HandoffRead::kNumber);
    EXPECT_EQ(left, u"+4955");
}

TEST_F(DesktopWindow, AWindowThatIsEndingDoesNotTakeASecondStart) {
    ASSERT_TRUE(Start());
    Inside(Doc()).Engine().m_sync.m_bSyncBusy = 1;
    prompt.Push(platform::Answer::No);  // wait for the run
    app->Frame()->close();
    ASSERT_TRUE(app->Frame()->IsClosing());
    std::atomic<int> handed{-1};
    std::thread second([&] { handed = ParloApplication::HandOver("+491", 30000) ? 1 : 0; });
    ASSERT_TRUE(WaitUntil([&] { return handed >= 0; }));
    second.join();
    EXPECT_EQ(handed, 0);
    EXPECT_TRUE(dialogs.composed.empty());
    Inside(Doc()).Engine().m_sync.m_bSyncBusy = 0;
    ASSERT_TRUE(WaitUntil([&] { return !app->Frame()->isVisible(); }));
}

TEST_F(DesktopWindow, ExitDuringASynchronisationOffersToStopItAndNothingIsLost) {
    StartPhone({"--send-ms", "1500"});
    ASSERT_TRUE(Start({}, /*need_phone=*/true));
    for (const char16_t* n : {u"+491701", u"+491702", u"+491703"})
        Doc().Send(n, u"hello", false);
    app->Frame()->RunCommand(ID_SYNCHRONIZE);
    ASSERT_TRUE(Doc().IsSyncBusy());
    prompt.Push(platform::Answer::Yes);
    app->Frame()->close();
    ASSERT_TRUE(WaitUntil([&] { return !app->Frame()->isVisible(); }));
    // Stopped after the message in hand: the rest waits in the Outbox.
    const size_t sent = phone->ReadState()["sms"]["sent"].size();
    EXPECT_LT(sent, 3u);
    EXPECT_EQ(static_cast<size_t>(Model(VIEW_SENT)->rowCount()), sent);
    EXPECT_EQ(static_cast<size_t>(Model(VIEW_OUTBOX)->rowCount()), 3 - sent);
    EXPECT_NE(Doc().Errors().Text().find(u"stopped before its end"), std::u16string::npos);
}

}  // namespace
}  // namespace parlo
