// The windowed client on the offscreen platform: start-up, the lists and
// their events, the commands and their busy gating, the error indicator, the
// hand-off file and the single instance. The phone is the simulated one.
#include "parlo/app/qt/tests/main_window_fixture.h"
#include "parlo/store/message_ids.h"

namespace parlo {
namespace {

using qtsupport::testing::App;
using qtsupport::testing::WaitUntil;
using window_testing::MainWindow;
using window_testing::RecordingDialogs;

TEST_F(MainWindow, WithoutAModemTheProgramDoesNotStart) {
    app = std::make_unique<ParloApplication>(&dialogs);
    EXPECT_FALSE(app->Start({}));
    ASSERT_FALSE(prompt.texts().empty());
    EXPECT_EQ(prompt.texts().back(), NoModemMessage());
    EXPECT_EQ(app->Frame(), nullptr);
}

TEST_F(MainWindow, StartsWithAModemInFiveStepsAndOpensTheCommandLineNumber) {
    StartPhone();
    ASSERT_TRUE(Start("+49 (171) 12-34", /*need_phone=*/true));
    EXPECT_EQ(app->StartSteps(), kStartSteps);
    EXPECT_EQ(View()->CurrentCode(), VIEW_INBOX);
    EXPECT_EQ(app->Frame()->windowTitle(), "vok SMS");
    ASSERT_TRUE(WaitUntil([&] { return !dialogs.composed.empty(); }));
    EXPECT_EQ(dialogs.composed[0].mode, VIEW_NEW);
    EXPECT_EQ(dialogs.composed[0].number, u"+491711234");
    EXPECT_EQ(dialogs.composed[0].record, nullptr);
}

TEST_F(MainWindow, RecordsLandInTheListOfTheirStateWithTheirImages) {
    ASSERT_TRUE(Start());
    CSmsFolder* work = Doc().AddFolder(u"Work");
    ASSERT_NE(work, nullptr);
    for (int32_t s : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12})
        Add(s, u"+49" + std::u16string(1, static_cast<char16_t>(u'a' + s)), u"t");
    CSmsMessage* filed = Add(STATE_READ, u"+49f", u"filed");
    Doc().MoveToFolder(filed, work->m_nId);
    QCoreApplication::processEvents();
    EXPECT_EQ(Model(VIEW_INBOX)->rowCount(), 2);
    EXPECT_EQ(Model(VIEW_SENT)->rowCount(), 2);    // 3 and 8
    EXPECT_EQ(Model(VIEW_OUTBOX)->rowCount(), 2);  // 5 and 12
    EXPECT_EQ(Model(VIEW_DRAFT)->rowCount(), 1);
    EXPECT_EQ(Model(VIEW_TEMPLATES)->rowCount(), 1);
    EXPECT_EQ(Model(VIEW_RECYCLE)->rowCount(), 1);      // 2, 4, 10, 11 nowhere
    EXPECT_EQ(Model(VIEW_USER_FOLDER)->rowCount(), 0);  // no folder on show yet

    // The folder chooser lists the new folder with code 6, in order.
    auto* chooser = View()->findChild<QComboBox*>("1000");
    ASSERT_NE(chooser, nullptr);
    QStringList entries;
    for (int i = 0; i < chooser->count(); ++i)
        entries << chooser->itemText(i);
    EXPECT_EQ(entries, QStringList({"Draft", "Inbox", "Outbox", "Recycle Bin", "Sent Messages",
                                    "Templates", "Work"}));
    chooser->setCurrentIndex(6);
    emit chooser->activated(6);
    EXPECT_EQ(View()->CurrentCode(), VIEW_USER_FOLDER);
    EXPECT_EQ(Model(VIEW_USER_FOLDER)->rowCount(), 1);
    EXPECT_TRUE(View()->List(VIEW_USER_FOLDER)->isVisible());
    EXPECT_FALSE(View()->List(VIEW_INBOX)->isVisible());

    // Unread shows its image; reading it changes the image, not the list.
    QModelIndex first = Model(VIEW_INBOX)->index(0, 0);
    EXPECT_EQ(Model(VIEW_INBOX)->data(first, Qt::AccessibleTextRole).toString(), "unread");
    View()->OnListDoubleClicked(VIEW_INBOX, 0, 0);
    EXPECT_EQ(Model(VIEW_INBOX)->CopyAt(0)->m_nState, STATE_READ);
    EXPECT_EQ(Model(VIEW_INBOX)->CopyAt(0)->m_bMarked, 1);  // the double tap toggles too
}

TEST_F(MainWindow, TapsMarkRowsAndTheHeaderTogglesFlipFromTheirOwnState) {
    ASSERT_TRUE(Start());
    for (int i = 0; i < 3; ++i)
        Add(STATE_READ, u"+4910" + std::u16string(1, static_cast<char16_t>(u'0' + i)), u"x");
    QTreeView* list = View()->List(VIEW_INBOX);
    // A real click on the image column of the second row.
    QRect cell = list->visualRect(Model(VIEW_INBOX)->index(1, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(Model(VIEW_INBOX)->MarkedCount(), 1);
    EXPECT_EQ(Model(VIEW_INBOX)->data(Model(VIEW_INBOX)->index(1, 0), Qt::AccessibleTextRole),
              "marked");
    // A click on another column marks nothing.
    cell = list->visualRect(Model(VIEW_INBOX)->index(0, 2));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(Model(VIEW_INBOX)->MarkedCount(), 1);

    // The list's toggle is off although a row is marked: the first header
    // tap marks every row, the second unmarks them.
    View()->OnHeaderClicked(VIEW_INBOX, 0);
    EXPECT_EQ(Model(VIEW_INBOX)->MarkedCount(), 3);
    View()->OnHeaderClicked(VIEW_INBOX, 0);
    EXPECT_EQ(Model(VIEW_INBOX)->MarkedCount(), 0);
    EXPECT_FALSE(View()->AllMarked(VIEW_INBOX));
}

TEST_F(MainWindow, SortingUsesStoredNumbersAndOneSharedDirection) {
    ASSERT_TRUE(Start());
    // Names that sort the other way round than their numbers.
    Inside(Doc()).m_contacts.push_back(
        std::make_unique<CContactEntry>(u"Zoe", u"+491", u"", u"", u"", 1));
    Inside(Doc()).m_contacts.push_back(
        std::make_unique<CContactEntry>(u"Adam", u"+492", u"", u"", u"", 2));
    Add(STATE_READ, u"+492", u"b", 45002);
    Add(STATE_READ, u"+491", u"c", 45001);
    Add(STATE_READ, u"+493", u"a", 45003);
    EXPECT_EQ(Model(VIEW_INBOX)->data(Model(VIEW_INBOX)->index(0, 1), Qt::DisplayRole), "Adam");
    View()->OnHeaderClicked(VIEW_INBOX, 1);
    EXPECT_EQ(Numbers(VIEW_INBOX), (std::vector<std::u16string>{u"+491", u"+492", u"+493"}));
    View()->OnHeaderClicked(VIEW_INBOX, 1);  // the same column again: descending
    EXPECT_EQ(Numbers(VIEW_INBOX), (std::vector<std::u16string>{u"+493", u"+492", u"+491"}));
    View()->OnHeaderClicked(VIEW_INBOX, 3);  // another column: ascending again
    EXPECT_EQ(Numbers(VIEW_INBOX), (std::vector<std::u16string>{u"+493", u"+492", u"+491"}));
    EXPECT_FALSE(View()->SortDescending());
    View()->OnHeaderClicked(VIEW_INBOX, 2);
    EXPECT_EQ(Numbers(VIEW_INBOX), (std::vector<std::u16string>{u"+491", u"+492", u"+493"}));

    // Templates have no number column: their column 1 is the time.
    Doc().AddTemplate(u"later");
    Doc().AddTemplate(u"earlier");
    QCoreApplication::processEvents();
    // The direction is shared by all lists: the last sort was column 2
    // ascending, so column 2 ("Message" here) now sorts descending.
    View()->OnHeaderClicked(VIEW_TEMPLATES, 2);
    EXPECT_EQ(Model(VIEW_TEMPLATES)->CopyAt(0)->m_strText, u"later");
    EXPECT_TRUE(View()->SortDescending());
    EXPECT_EQ(Model(VIEW_TEMPLATES)->headerData(1, Qt::Horizontal, Qt::DisplayRole), "Time");
}

TEST_F(MainWindow, TheContextMenuMovesMarkedRowsOrTheRowUnderThePointer) {
    ASSERT_TRUE(Start());
    CSmsFolder* work = Doc().AddFolder(u"Work");
    CSmsMessage* a = Add(STATE_READ, u"+491", u"a");
    CSmsMessage* b = Add(STATE_READ, u"+492", u"b");
    QTreeView* list = View()->List(VIEW_INBOX);
    list->clearSelection();

    // Nothing marked, nothing selected, empty space: no menu.
    EXPECT_EQ(View()->BuildContextMenu(VIEW_INBOX, QPoint(5, list->viewport()->height() - 2)),
              nullptr);

    // On a row: that row is selected and "Move the SMS message to..." opens.
    QPoint on_b = list->visualRect(Model(VIEW_INBOX)->index(1, 1)).center();
    std::unique_ptr<QMenu> menu(View()->BuildContextMenu(VIEW_INBOX, on_b));
    ASSERT_NE(menu, nullptr);
    auto* sub = menu->findChild<QMenu*>("65064");
    ASSERT_NE(sub, nullptr);
    QStringList ids;
    for (QAction* act : sub->actions())
        ids << act->objectName();
    EXPECT_TRUE(ids.contains(QString::number(7024 + work->m_nId)));
    EXPECT_TRUE(ids.contains(QString::number(7024 + FOLDER_RECYCLE)));
    sub->findChild<QAction*>(QString::number(7024 + work->m_nId))->trigger();
    EXPECT_EQ(b->m_nState, STATE_IN_FOLDER);
    EXPECT_EQ(a->m_nState, STATE_READ);
    EXPECT_EQ(Model(VIEW_INBOX)->rowCount(), 1);

    // With a marked row the menu moves the marked rows: ids 3024 + folder.
    Doc().ToggleMark(a);
    menu.reset(View()->BuildContextMenu(VIEW_INBOX, QPoint(5, 5)));
    ASSERT_NE(menu, nullptr);
    sub = menu->findChild<QMenu*>("65063");
    ASSERT_NE(sub, nullptr);
    sub->findChild<QAction*>(QString::number(3024 + FOLDER_DRAFT))->trigger();
    EXPECT_EQ(a->m_nState, STATE_DRAFT);
    EXPECT_EQ(a->m_bMarked, 0);
    EXPECT_EQ(Model(VIEW_DRAFT)->rowCount(), 1);
}

TEST_F(MainWindow, DeleteAsksWhereOnlyInInboxAndSentMessages) {
    ASSERT_TRUE(Start());
    CSmsMessage* inbox = Add(STATE_READ, u"+491", u"a");
    CSmsMessage* draft = Doc().AddDraft(u"+492", u"b").rec;
    QCoreApplication::processEvents();
    int popups = 0;
    QObject::connect(app->Frame(), &MainFrame::DeleteMenuShown, [&](QMenu* menu) {
        ++popups;
        QTimer::singleShot(0, menu, [menu] {
            menu->findChild<QAction*>("2123")->trigger();
            menu->close();
        });
    });
    // Draft: no pop-up, this computer only (the selected row).
    View()->ShowFolder(VIEW_DRAFT);
    View()->List(VIEW_DRAFT)->setCurrentIndex(Model(VIEW_DRAFT)->index(0, 1));
    app->Frame()->RunCommand(ID_DELETE_SMS);
    EXPECT_EQ(popups, 0);
    EXPECT_EQ(draft->m_nState, STATE_DELETED);
    // Inbox: the pop-up, "Delete from this computer only".
    View()->ShowFolder(VIEW_INBOX);
    Doc().ToggleMark(inbox);
    app->Frame()->RunCommand(ID_DELETE_SMS);
    EXPECT_EQ(popups, 1);
    EXPECT_EQ(inbox->m_nState, STATE_DELETED);
    // Nothing selected: 57351.
    prompt.Clear();
    View()->ShowFolder(VIEW_RECYCLE);
    View()->List(VIEW_RECYCLE)->clearSelection();
    app->Frame()->RunCommand(ID_DELETE_SMS);
    ASSERT_EQ(prompt.texts().size(), 1u);
    EXPECT_NE(prompt.texts()[0].find(u"First, you have to select"), std::u16string::npos);
}

TEST_F(MainWindow, AnswerAndForwardNeedASelectionAndCommandsReachTheirDialogs) {
    ASSERT_TRUE(Start());
    Add(STATE_READ, u"+491", u"hello");
    app->Frame()->RunCommand(ID_ANSWER_SMS);
    ASSERT_EQ(prompt.texts().size(), 1u);
    EXPECT_EQ(prompt.texts()[0], u"Failed. You have to select a message first.");
    View()->List(VIEW_INBOX)->setCurrentIndex(Model(VIEW_INBOX)->index(0, 1));
    app->Frame()->RunCommand(ID_ANSWER_SMS);
    app->Frame()->RunCommand(ID_FORWARD_SMS);
    app->Frame()->RunCommand(ID_NEW_SMS);
    ASSERT_EQ(dialogs.composed.size(), 3u);
    EXPECT_EQ(dialogs.composed[0].number, u"+491");
    EXPECT_EQ(dialogs.composed[1].text, u"hello");
    EXPECT_TRUE(dialogs.composed[1].number.empty());
    EXPECT_EQ(dialogs.composed[2].mode, VIEW_NEW);
    for (int id : {ID_OPTIONS, ID_FOLDERS, ID_PHONEBOOK, ID_GROUPS})
        app->Frame()->RunCommand(id);
    EXPECT_EQ(dialogs.opened,
              (std::vector<std::string>{"options", "folders", "phonebook", "groups"}));
    // Double tap on the text opens the record in the mode of its list.
    View()->OnListDoubleClicked(VIEW_INBOX, 0, 3);
    ASSERT_EQ(dialogs.composed.size(), 4u);
    EXPECT_EQ(dialogs.composed[3].mode, VIEW_INBOX);
    EXPECT_NE(dialogs.composed[3].record, nullptr);
    // The interface is idle again after every command.
    EXPECT_TRUE(Doc().IsInterfaceIdle());
}

TEST_F(MainWindow, TheErrorIndicatorBlinksUntilTheListIsOpened) {
    ASSERT_TRUE(Start());
    auto* quiet = View()->findChild<QToolButton*>("1026");
    auto* a = View()->findChild<QToolButton*>("1027");
    auto* b = View()->findChild<QToolButton*>("1028");
    EXPECT_TRUE(quiet->isVisible());
    Doc().Errors().Add(65024);
    Doc().View().SetErrorIndicator(true);
    EXPECT_EQ(View()->ErrorPhase(), 1);
    EXPECT_TRUE(a->isVisible());
    EXPECT_FALSE(quiet->isVisible());
    ASSERT_TRUE(WaitUntil([&] { return View()->ErrorPhase() == 2; }));
    EXPECT_TRUE(b->isVisible());
    EXPECT_FALSE(a->isVisible());
    qtsupport::SaveScreenshot(app->Frame(), "parlo_error_indicator");
    ASSERT_TRUE(WaitUntil([&] { return View()->ErrorPhase() == 1; }));
    // A tap shows the list in one box, empties it and quiets the indicator.
    QTest::mouseClick(a, Qt::LeftButton);
    EXPECT_EQ(View()->ErrorPhase(), 0);
    EXPECT_TRUE(quiet->isVisible());
    ASSERT_EQ(prompt.texts().size(), 1u);
    EXPECT_NE(prompt.texts()[0].find(u"Synchronization failed."), std::u16string::npos);
    EXPECT_TRUE(Doc().Errors().Empty());
}

TEST_F(MainWindow, TheProgressBarEndsOnItsLastStepAndStaysInItsRange) {
    ASSERT_TRUE(Start());
    auto* bar = View()->findChild<QProgressBar*>("1021");
    ASSERT_NE(bar, nullptr);
    IParloView& view = Doc().View();
    view.SetProgressRange(0, 3);
    view.ShowProgress(true);
    for (int i = 0; i < 5; ++i)
        view.StepProgress();  // two more than the range holds
    ASSERT_TRUE(WaitUntil([&] { return bar->value() == 3; }));
    view.SetProgressRange(0, 100);
    view.SetProgressPos(40);
    view.StepProgress();
    ASSERT_TRUE(WaitUntil([&] { return bar->value() == 41; }));
    // Hiding the bar shows its last value first: nothing is left pending.
    view.SetProgressPos(70);
    view.ShowProgress(false);
    EXPECT_EQ(bar->value(), 70);
}

TEST_F(MainWindow, TheHandOffFileOpensANewMessageButNotDuringASynchronisation) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(WriteHandoffFile(dir.path(), u"+49 171 99"));
    View()->CheckHandoff();
    ASSERT_EQ(dialogs.composed.size(), 1u);
    EXPECT_EQ(dialogs.composed[0].number, u"+4917199");
    EXPECT_EQ(dialogs.composed[0].mode, VIEW_NEW);

    ASSERT_TRUE(WriteHandoffFile(dir.path(), u"+4988"));
    Inside(Doc()).Engine().m_sync.m_bSyncBusy = 1;
    View()->CheckHandoff();
    Inside(Doc()).Engine().m_sync.m_bSyncBusy = 0;
    EXPECT_EQ(dialogs.composed.size(), 1u);
    ASSERT_EQ(prompt.texts().size(), 1u);
    EXPECT_NE(prompt.texts()[0].find(u"still in progress"), std::u16string::npos);
    EXPECT_FALSE(std::filesystem::exists(HandoffPath(dir.path())));
}

TEST_F(MainWindow, ASecondStartHandsItsNumberToTheRunningWindow) {
    ASSERT_TRUE(Start());
    std::atomic<int> handed{-1};
    std::thread second([&] { handed = ParloApplication::HandOver("+49 1 2", 30000) ? 1 : 0; });
    ASSERT_TRUE(WaitUntil([&] { return !dialogs.composed.empty(); }));
    second.join();
    EXPECT_EQ(handed, 1);
    EXPECT_EQ(dialogs.composed[0].number, u"+4912");
    // Without a number the running window reads the hand-off file.
    ASSERT_TRUE(WriteHandoffFile(dir.path(), u"+4977"));
    std::thread third([&] { ParloApplication::HandOver("", 30000); });
    ASSERT_TRUE(WaitUntil([&] { return dialogs.composed.size() == 2; }));
    third.join();
    EXPECT_EQ(dialogs.composed[1].number, u"+4977");
    // Once it has ended, nobody takes the hand-over.
    app.reset();
    EXPECT_FALSE(ParloApplication::HandOver("+491", 2000));
}

TEST_F(MainWindow, CommandsWaitWhileARealSynchronisationRunsAndExitDoesNotFreeze) {
    // Sending takes the simulated network two seconds: the run is busy.
    StartPhone({"--send-ms", "2000"});
    ASSERT_TRUE(Start({}, /*need_phone=*/true));
    Doc().Send(u"+491701234567", u"hello", false);
    QCoreApplication::processEvents();
    EXPECT_EQ(Model(VIEW_OUTBOX)->rowCount(), 1);
    app->Frame()->RunCommand(ID_SYNCHRONIZE);
    ASSERT_TRUE(Doc().IsSyncBusy());
    app->Frame()->UpdateCommands();
    for (int id : {ID_NEW_SMS, ID_ANSWER_SMS, ID_DELETE_SMS, ID_SYNCHRONIZE, ID_OPTIONS, ID_EXIT,
                   ID_PHONEBOOK})
        EXPECT_FALSE(app->Frame()->Action(id)->isEnabled()) << id;
    EXPECT_TRUE(app->Frame()->Action(ID_FOLDERS)->isEnabled());
    EXPECT_TRUE(app->Frame()->Action(ID_GROUPS)->isEnabled());
    EXPECT_FALSE(View()->findChild<QComboBox*>("1000")->isEnabled());
    // Handlers ignore what gets through while busy.
    app->Frame()->RunCommand(ID_NEW_SMS);
    View()->OnHeaderClicked(VIEW_OUTBOX, 0);
    EXPECT_TRUE(dialogs.composed.empty());
    EXPECT_EQ(Model(VIEW_OUTBOX)->MarkedCount(), 0);
    qtsupport::SaveScreenshot(app->Frame(), "parlo_during_sync");

    // Closing waits in the event loop (the offer to stop the run declined):
    // the window keeps working.
    prompt.Push(platform::Answer::No);
    app->Frame()->close();
    EXPECT_TRUE(app->Frame()->IsClosing());
    EXPECT_TRUE(app->Frame()->isVisible());
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(20);
    ASSERT_TRUE(WaitUntil([&] { return !app->Frame()->isVisible(); }));
    EXPECT_GT(ticks, 10);
    EXPECT_FALSE(Doc().IsSyncBusy());
    EXPECT_EQ(Model(VIEW_SENT)->rowCount(), 1);
    EXPECT_EQ(Model(VIEW_OUTBOX)->rowCount(), 0);
    EXPECT_EQ(phone->ReadState()["sms"]["sent"].size(), 1u);
}

TEST_F(MainWindow, NothingIsCutOrOverlappingAtTheDefaultAndALargeFont) {
    for (double scale : {1.0, 1.5}) {
        qtsupport::FontScale font(scale);
        ASSERT_TRUE(Start());
        Add(STATE_UNREAD, u"+491701234567", u"A message that is long enough to need the room");
        Add(STATE_READ, u"+491707654321", u"Short");
        QTest::qWait(50);
        const QStringList problems = qtsupport::LayoutProblems(app->Frame());
        EXPECT_TRUE(problems.isEmpty()) << scale << ":\n" << problems.join('\n').toStdString();
        // Every command of the bar is on show, none in an overflow menu.
        for (int id : {ID_NEW_SMS, ID_ANSWER_SMS, ID_FORWARD_SMS, ID_DELETE_SMS, ID_SYNCHRONIZE,
                       ID_MOVE_TO_FOLDER, ID_EXIT}) {
            QWidget* button = app->Frame()->findChild<QWidget*>(QString("button_%1").arg(id));
            ASSERT_NE(button, nullptr) << id;
            EXPECT_TRUE(button->isVisible()) << id << " at " << scale;
        }
        if (scale == 1.0) {
            for (int code = VIEW_INBOX; code <= VIEW_RECYCLE; ++code) {
                View()->ShowFolder(code, -1);
                QTest::qWait(10);
                qtsupport::SaveScreenshot(app->Frame(), QString("parlo_folder_%1").arg(code));
            }
        } else {
            qtsupport::SaveScreenshot(app->Frame(), "parlo_large_font");
        }
        app.reset();
    }
}

// Answers the compose dialogs that the window opens modally, one step per
// dialog, and notes what each showed when it opened.
class ComposeDriver {
  public:
    struct Shown {
        int mode;
        QString phone, text;
    };
    std::vector<std::function<void(ComposeDialog*)>> steps;
    std::vector<Shown> shown;

    ComposeDriver() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* d = dynamic_cast<ComposeDialog*>(QApplication::activeModalWidget());
            if (!d || d->property("driven").toBool())
                return;
            d->setProperty("driven", true);
            shown.push_back({d->Mode(), d->findChild<QLineEdit*>("1002")->text(),
                             d->findChild<QPlainTextEdit*>("1004")->toPlainText()});
            if (shown.size() <= steps.size())
                steps[shown.size() - 1](d);
            else
                d->reject();  // not expected: end it so the test goes on
        });
        timer_.start(10);
    }

  private:
    QTimer timer_;
};

void Send(ComposeDialog* d, const QString& phone, const QString& text) {
    if (!phone.isNull())
        d->findChild<QLineEdit*>("1002")->setText(phone);
    if (!text.isNull())
        d->findChild<QPlainTextEdit*>("1004")->setPlainText(text);
    d->findChild<QPushButton*>("1005")->click();
}

TEST_F(MainWindow, TheWindowsCommandsOpenTheRealComposeDialog) {
    ParloDialogs real;
    chosen_dialogs = &real;
    ComposeDriver driver;
    // 1: the command-line number; 2-3: Reply from a read message;
    // 4-5: Forward; 6: the hand-off file.
    driver.steps = {
        [](ComposeDialog* d) { Send(d, {}, "From the command line"); },
        [](ComposeDialog* d) { d->findChild<QPushButton*>("1037")->click(); },
        [](ComposeDialog* d) { Send(d, {}, "Yes, at eight"); },
        [](ComposeDialog* d) { d->findChild<QPushButton*>("1038")->click(); },
        [](ComposeDialog* d) { Send(d, "+49170222", {}); },
        [](ComposeDialog* d) { Send(d, {}, "Handed over"); },
    };
    ASSERT_TRUE(Start("+49 (171) 12-34"));
    ASSERT_TRUE(
        WaitUntil([&] { return driver.shown.size() == 1 && !QApplication::activeModalWidget(); }));
    Add(STATE_READ, u"+49170111", u"Dinner at eight?");
    View()->OnListDoubleClicked(VIEW_INBOX, 0, 3);  // Reply, then the answer
    View()->OnListDoubleClicked(VIEW_INBOX, 0, 3);  // Forward, then the copy
    ASSERT_TRUE(WriteHandoffFile(dir.path(), u"+49 171 99"));
    View()->CheckHandoff();
    QCoreApplication::processEvents();

    ASSERT_EQ(driver.shown.size(), 6u);
    EXPECT_EQ(driver.shown[0].mode, VIEW_NEW);
    EXPECT_EQ(driver.shown[0].phone, "+491711234");
    EXPECT_EQ(driver.shown[1].mode, VIEW_INBOX);
    EXPECT_EQ(driver.shown[1].text, "Dinner at eight?");
    EXPECT_EQ(driver.shown[2].mode, VIEW_NEW);
    EXPECT_EQ(driver.shown[2].phone, "+49170111");
    EXPECT_TRUE(driver.shown[2].text.isEmpty());
    EXPECT_EQ(driver.shown[4].mode, VIEW_NEW);
    EXPECT_TRUE(driver.shown[4].phone.isEmpty());
    EXPECT_EQ(driver.shown[4].text, "Dinner at eight?");
    EXPECT_EQ(driver.shown[5].mode, VIEW_NEW);
    EXPECT_EQ(driver.shown[5].phone, "+4917199");

    // Four messages queued in the order they were sent; the one read stays.
    std::vector<std::pair<std::u16string, std::u16string>> outbox;
    for (int r = 0; r < Model(VIEW_OUTBOX)->rowCount(); ++r)
        outbox.emplace_back(Model(VIEW_OUTBOX)->CopyAt(r)->m_strNumber,
                            Model(VIEW_OUTBOX)->CopyAt(r)->m_strText);
    const std::vector<std::pair<std::u16string, std::u16string>> expected = {
        {u"+491711234", u"From the command line"},
        {u"+49170111", u"Yes, at eight"},
        {u"+49170222", u"Dinner at eight?"},
        {u"+4917199", u"Handed over"}};
    EXPECT_EQ(outbox, expected);
    EXPECT_EQ(Model(VIEW_INBOX)->rowCount(), 1);
    EXPECT_TRUE(prompt.texts().empty());
}

// Runs parlo-cli as another program on this installation; true when it
// ended with status 0.
bool RunCli(std::vector<std::string> args) {
    args.insert(args.begin(), "--yes");
    return platform::RunCapture(platform::BinDir() / "parlo-cli", args, 120000).has_value();
}

TEST_F(MainWindow, WhatOtherProgramsChangeShowsWithoutARestart) {
    ASSERT_TRUE(Start());
    CSmsFolder* work = Doc().AddFolder(u"Work");
    ASSERT_NE(work, nullptr);
    CSmsMessage* first = Add(STATE_UNREAD, u"+4930111", u"first");
    CSmsMessage* second = Add(STATE_READ, u"+4930222", u"second");
    const std::string first_id = CMessageIds(Doc().Store().Snapshot()).IdOf(first);
    const std::string second_id = CMessageIds(Doc().Store().Snapshot()).IdOf(second);
    MessageListModel* inbox = Model(VIEW_INBOX);
    ASSERT_EQ(inbox->rowCount(), 2);
    auto state_in = [](MessageListModel* m, const CSmsMessage* rec) {
        int row = m->RowOf(rec);
        return row < 0 ? -1 : m->CopyAt(row)->m_nState;
    };

    // A script queues a message: it shows in the Outbox.
    ASSERT_TRUE(RunCli({"send", "+491701234567", "from a script"}));
    ASSERT_TRUE(WaitUntil([&] { return Model(VIEW_OUTBOX)->rowCount() == 1; }));
    EXPECT_EQ(Model(VIEW_OUTBOX)->CopyAt(0)->m_strText, u"from a script");
    EXPECT_EQ(Model(VIEW_OUTBOX)->CopyAt(0)->m_strNumber, u"+491701234567");

    // Read there: the row changes where it is, the same record.
    ASSERT_TRUE(RunCli({"read", first_id}));
    ASSERT_TRUE(WaitUntil([&] { return state_in(inbox, first) == STATE_READ; }));
    EXPECT_EQ(inbox->RowOf(first), 0);
    EXPECT_EQ(inbox->rowCount(), 2);

    // Deleted there: the row leaves the Inbox for the Recycle Bin.
    ASSERT_TRUE(RunCli({"delete", second_id}));
    ASSERT_TRUE(WaitUntil([&] { return inbox->RowOf(second) < 0; }));
    EXPECT_EQ(state_in(Model(VIEW_RECYCLE), second), STATE_DELETED);
    EXPECT_EQ(second->m_nState, STATE_DELETED);

    // Moved there: into the user folder, the same record.
    ASSERT_TRUE(RunCli({"move", "Work", first_id}));
    ASSERT_TRUE(WaitUntil([&] { return inbox->RowOf(first) < 0; }));
    CSmsMessage copy;
    ASSERT_TRUE(Inside(Doc()).m_store.Read(first, &copy));
    EXPECT_EQ(copy.m_nState, STATE_IN_FOLDER);
    EXPECT_EQ(copy.m_nFolderId, work->m_nId);
    EXPECT_EQ(Inside(Doc()).m_store.Count(), 3u);  // nothing twice
}

}  // namespace
}  // namespace parlo
