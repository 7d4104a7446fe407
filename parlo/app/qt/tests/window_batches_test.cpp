// The window with many messages and with other programs: bulk commands
// arrive as batches, and what others change keeps the user's marks,
// selection and sort.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <QTreeView>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "parlo/app/qt/application.h"
#include "parlo/app/qt/dialogs.h"
#include "parlo/app/qt/main_frame.h"
#include "parlo/app/qt/main_view.h"
#include "parlo/app/qt/message_list_model.h"
#include "parlo/app/qt/testing/no_dialogs.h"
#include "parlo/app/tests/doc_inside.h"
#include "parlo/store/message_ids.h"
#include "parlo/store/message_store.h"
#include "platform/binio.h"
#include "platform/file_env.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/testing/temp_dir.h"
#include "platform/text.h"
#include "qtsupport/message_prompt.h"
#include "qtsupport/testing/qt_test_util.h"

namespace parlo {
namespace {

using qtsupport::testing::App;
using qtsupport::testing::WaitUntil;

using testing::NoDialogs;

bool RunCli(std::vector<std::string> args) {
    args.insert(args.begin(), "--yes");
    return platform::RunCapture(platform::BinDir() / "parlo-cli", args, 120000).has_value();
}

class WindowBatches : public ::testing::Test {
  protected:
    skyvane::testing::TempDir dir;
    platform::ScriptedPrompt prompt;
    NoDialogs dialogs;
    std::unique_ptr<ParloApplication> app;

    void SetUp() override {
        App();
        setenv("SKYVANE_HOME", dir.path().c_str(), 1);
        setenv("SKYVANE_ROOT", dir.path().c_str(), 1);
        qtsupport::ScriptPromptsForTesting(&prompt);
        app = std::make_unique<ParloApplication>(&dialogs);
        StartOptions options;
        options.require_ports = false;
        ASSERT_TRUE(app->Start({}, options));
        prompt.Clear();
        ASSERT_TRUE(WaitUntil([&] { return app->Frame()->isVisible(); }));
    }
    void TearDown() override {
        app.reset();
        qtsupport::ScriptPromptsForTesting(nullptr);
    }

    CParloDoc& Doc() { return app->Doc(); }
    MainView* View() { return app->Frame()->View(); }
    MessageListModel* Model(int code) { return View()->Model(code); }
    QTreeView* List(int code) { return View()->List(code); }
    CSmsMessage* Add(const std::u16string& number, int32_t state = STATE_READ) {
        CSmsMessage* rec = Doc()
                               .AddReceived(state, number, u"text " + number,
                                            platform::OleDate{45000.0, platform::OleDate::kValid},
                                            STORAGE_POCKETPC, -1)
                               .rec;
        QCoreApplication::processEvents();
        return rec;
    }
    void Select(int code, int row) {
        List(code)->setCurrentIndex(Model(code)->index(row, 1));
        ASSERT_EQ(View()->SelectedRecord(), Model(code)->KeyAt(row));
    }
};

TEST_F(WindowBatches, AfterADeleteNoOtherRowIsSelectedByItself) {
    for (const char16_t* n : {u"+491", u"+492", u"+493"})
        Doc().AddDraft(n, u"draft");
    QCoreApplication::processEvents();
    View()->ShowFolder(VIEW_DRAFT);
    ASSERT_EQ(Model(VIEW_DRAFT)->rowCount(), 3);
    Select(VIEW_DRAFT, 1);
    app->Frame()->RunCommand(ID_DELETE_SMS);  // Draft: no question
    QCoreApplication::processEvents();
    EXPECT_EQ(Model(VIEW_DRAFT)->rowCount(), 2);
    EXPECT_EQ(View()->SelectedRecord(), nullptr);
    // A second Delete deletes nothing the user did not choose.
    prompt.Clear();
    app->Frame()->RunCommand(ID_DELETE_SMS);
    QCoreApplication::processEvents();
    EXPECT_EQ(Model(VIEW_DRAFT)->rowCount(), 2);
    ASSERT_EQ(prompt.texts().size(), 1u);  // "First, you have to select ..."
}

TEST_F(WindowBatches, MarkAllAndDeleteMovesEveryRowInOneBatchAndKeepsNothingSelected) {
    std::vector<CSmsMessage*> recs;
    for (int i = 0; i < 300; ++i)
        recs.push_back(Add(u"+49" + platform::FromUtf8(std::to_string(1000 + i))));
    MessageListModel* inbox = Model(VIEW_INBOX);
    ASSERT_EQ(inbox->rowCount(), 300);
    // Keep one row out: it stays, in its place among the others.
    Doc().SetMarks(inbox->Keys(), true);
    Doc().ToggleMark(recs[150]);
    QCoreApplication::processEvents();
    EXPECT_EQ(inbox->MarkedCount(), 299);
    Select(VIEW_INBOX, 10);
    int removals = 0;
    QObject::connect(inbox, &QAbstractItemModel::rowsRemoved, [&] { ++removals; });
    QObject::connect(inbox, &QAbstractItemModel::modelReset, [&] { ++removals; });
    ASSERT_TRUE(Doc().DeleteMarked(DELETE_POCKETPC_ONLY, VIEW_INBOX, inbox->Keys(), nullptr));
    QCoreApplication::processEvents();
    EXPECT_EQ(inbox->rowCount(), 1);
    EXPECT_EQ(inbox->KeyAt(0), recs[150]);
    EXPECT_LE(removals, 2);  // two runs of rows, not one call per row
    EXPECT_EQ(Model(VIEW_RECYCLE)->rowCount(), 299);
    EXPECT_EQ(Model(VIEW_RECYCLE)->MarkedCount(), 0);
    EXPECT_EQ(View()->SelectedRecord(), nullptr);
}

// Thousands of rows reach their new list over several turns of the event
// loop, each with its own number and text; a command waits for them.
TEST_F(WindowBatches, ALargeDeleteOrMoveArrivesWholeOverSeveralTurns) {
    constexpr int kRows = 6000;  // more than one turn's share
    for (int i = 0; i < kRows; ++i) {
        Doc().AddReceived(STATE_READ, u"+49" + platform::FromUtf8(std::to_string(100000 + i)),
                          u"text " + platform::FromUtf8(std::to_string(i)),
                          platform::OleDate{45000.0 + i * 1e-3, platform::OleDate::kValid},
                          STORAGE_POCKETPC, -1);
    }
    ASSERT_TRUE(WaitUntil([&] { return Model(VIEW_INBOX)->rowCount() == kRows; }));
    MessageListModel* inbox = Model(VIEW_INBOX);
    MessageListModel* bin = Model(VIEW_RECYCLE);
    Doc().SetMarks(inbox->Keys(), true);
    EXPECT_EQ(inbox->MarkedCount(), kRows);
    Select(VIEW_INBOX, 17);
    ASSERT_TRUE(Doc().DeleteMarked(DELETE_POCKETPC_ONLY, VIEW_INBOX, inbox->Keys(), nullptr));
    EXPECT_TRUE(View()->ListsPending());  // the command's turn ends first
    ASSERT_TRUE(WaitUntil([&] { return !View()->ListsPending(); }));
    EXPECT_EQ(inbox->rowCount(), 0);
    ASSERT_EQ(bin->rowCount(), kRows);
    EXPECT_EQ(bin->MarkedCount(), 0);
    EXPECT_EQ(View()->SelectedRecord(), nullptr);
    for (int row = 0; row < kRows; ++row) {
        const CSmsMessage* copy = bin->CopyAt(row);
        CSmsMessage stored;
        ASSERT_TRUE(Doc().Store().Read(bin->KeyAt(row), &stored));
        ASSERT_EQ(copy->m_strText, stored.m_strText) << row;
        ASSERT_EQ(copy->m_strNumber, stored.m_strNumber) << row;
        ASSERT_EQ(copy->m_nState, STATE_DELETED) << row;
    }
    // Back to a folder the window does not show, and a command right after:
    // it finds the lists settled.
    const int32_t kept = Doc().AddFolder(u"Kept")->m_nId;
    Doc().SetMarks(bin->Keys(), true);
    Doc().MoveMarkedOrSelected(bin->Keys(), nullptr, kept);
    app->Frame()->RunCommand(ID_NEW_SMS);
    EXPECT_FALSE(View()->ListsPending());
    EXPECT_EQ(bin->rowCount(), 0);
    View()->ShowFolder(VIEW_USER_FOLDER, kept);
    ASSERT_EQ(Model(VIEW_USER_FOLDER)->rowCount(), kRows);
    // A record no list shows is read whole from the store.
    CSmsMessage* one = Model(VIEW_USER_FOLDER)->KeyAt(5);
    const std::u16string text = Model(VIEW_USER_FOLDER)->CopyAt(5)->m_strText;
    View()->ShowFolder(VIEW_INBOX);
    Doc().AddFolder(u"Other");
    View()->ShowFolder(VIEW_USER_FOLDER, Doc().AddFolder(u"Empty")->m_nId);
    ASSERT_TRUE(Doc().DeleteMarked(DELETE_POCKETPC_ONLY, VIEW_USER_FOLDER, {}, one));
    QCoreApplication::processEvents();
    ASSERT_EQ(bin->rowCount(), 1);
    EXPECT_EQ(bin->CopyAt(0)->m_strText, text);
}

// Another program's synchronisation compacts the store; the window takes
// the whole store in again. The user's marks, selection and sort stay.
TEST_F(WindowBatches, AnotherProgramsCompactionKeepsMarksSelectionAndSort) {
    CSmsMessage* c = Add(u"+4930");
    CSmsMessage* a = Add(u"+4910");
    CSmsMessage* b = Add(u"+4920");
    CSmsMessage* gone = Add(u"+4940");
    MessageListModel* inbox = Model(VIEW_INBOX);
    inbox->SortBy(1, false);
    ASSERT_EQ(inbox->KeyAt(0), a);
    Doc().ToggleMark(b);
    QCoreApplication::processEvents();
    Select(VIEW_INBOX, 2);  // c
    ASSERT_EQ(View()->SelectedRecord(), c);

    // Another program deletes one message and empties the bin (compacts).
    ASSERT_TRUE(RunCli({"delete", CMessageIds(Doc().Store().Snapshot()).IdOf(gone)}));
    ASSERT_TRUE(RunCli({"empty-recycle-bin"}));
    ASSERT_TRUE(WaitUntil([&] { return inbox->RowOf(gone) < 0; }));
    QCoreApplication::processEvents();
    ASSERT_EQ(inbox->rowCount(), 3);
    EXPECT_EQ(inbox->KeyAt(0), a);  // still sorted by number
    EXPECT_EQ(inbox->KeyAt(1), b);
    EXPECT_EQ(inbox->KeyAt(2), c);
    EXPECT_EQ(inbox->CopyAt(1)->m_bMarked, 1);
    EXPECT_EQ(View()->SelectedRecord(), c);
}

// The same on a store large enough that the window takes it in over several
// turns of the event loop.
TEST_F(WindowBatches, ALargeStoreTakenInInPartsKeepsMarksSelectionAndSort) {
    app.reset();
    constexpr int kRecords = 120000;
    std::string bytes;
    for (int i = 0; i < kRecords; ++i) {
        const std::string n = std::to_string(1000000 + (i * 7919) % 1000000);
        AppendRecordBytes(CSmsMessage(STATE_READ, u"+49" + platform::FromUtf8(n),
                                      u"text " + platform::FromUtf8(std::to_string(i)),
                                      platform::OleDate{45000.0 + i * 1e-5, 0}, 0,
                                      STORAGE_POCKETPC, -1, -1, 0),
                          &bytes);
    }
    platform::WriteFileAtomic(dir.path() / "vok.sms", bytes);
    app = std::make_unique<ParloApplication>(&dialogs);
    StartOptions options;
    options.require_ports = false;
    ASSERT_TRUE(app->Start({}, options));
    MessageListModel* inbox = Model(VIEW_INBOX);
    ASSERT_EQ(inbox->rowCount(), kRecords);
    inbox->SortBy(1, false);
    CSmsMessage* marked = inbox->KeyAt(1000);
    Doc().ToggleMark(marked);
    Select(VIEW_INBOX, 500);
    CSmsMessage* selected = View()->SelectedRecord();
    CSmsMessage* gone = inbox->KeyAt(7);
    QCoreApplication::processEvents();

    ASSERT_TRUE(RunCli({"delete", CMessageIds(Doc().Store().Snapshot()).IdOf(gone)}));
    ASSERT_TRUE(RunCli({"empty-recycle-bin"}));
    ASSERT_TRUE(WaitUntil([&] { return inbox->RowOf(gone) < 0 && !View()->ListsPending(); }));
    ASSERT_EQ(inbox->rowCount(), kRecords - 1);
    for (int row = 1; row < inbox->rowCount(); ++row)
        ASSERT_LE(inbox->CopyAt(row - 1)->m_strNumber, inbox->CopyAt(row)->m_strNumber) << row;
    EXPECT_EQ(inbox->MarkedCount(), 1);
    EXPECT_EQ(inbox->CopyAt(inbox->RowOf(marked))->m_bMarked, 1);
    EXPECT_EQ(View()->SelectedRecord(), selected);
    // Every row shows its own record.
    for (int row = 0; row < inbox->rowCount(); row += 997) {
        CSmsMessage stored;
        ASSERT_TRUE(Doc().Store().Read(inbox->KeyAt(row), &stored));
        ASSERT_EQ(inbox->CopyAt(row)->m_strText, stored.m_strText) << row;
    }
}

TEST_F(WindowBatches, MarksAreNeverWrittenToTheStore) {
    CSmsMessage* rec = Add(u"+4911", STATE_UNREAD);
    Doc().ToggleMark(rec);
    Doc().MarkRead(rec);  // writes the record, mark and all
    CParloDoc other(nullptr, nullptr);
    ASSERT_EQ(other.LoadMessagesOnly(), StoreResult::kOk);
    ASSERT_EQ(other.Store().Count(), 1u);
    EXPECT_EQ(other.Store().At(0)->m_nState, STATE_READ);
    EXPECT_EQ(other.Store().At(0)->m_bMarked, 0);
    // This program keeps its mark.
    CSmsMessage copy;
    ASSERT_TRUE(Doc().Store().Read(rec, &copy));
    EXPECT_EQ(copy.m_bMarked, 1);
}

// A file system whose first sync waits until it is let go (or 5 s pass).
class HeldSync : public platform::FileEnv {
  public:
    HeldSync() { previous_ = platform::SetEnvForTesting(this); }
    ~HeldSync() override { platform::SetEnvForTesting(previous_); }
    bool Sync(int fd) override {
        {
            std::unique_lock lock(mutex_);
            if (!held_) {
                held_ = true;
                syncing_ = true;
                cv_.notify_all();
                cv_.wait_for(lock, std::chrono::seconds(5), [&] { return go_; });
                syncing_ = false;
            }
        }
        return FileEnv::Sync(fd);
    }
    void WaitSyncing() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return syncing_; });
    }
    void Go() {
        std::lock_guard lock(mutex_);
        go_ = true;
        cv_.notify_all();
    }

  private:
    platform::FileEnv* previous_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool held_ = false, syncing_ = false, go_ = false;
};

TEST_F(WindowBatches, TheEventLoopTurnsWhileAnotherProgramCompacts) {
    CSmsMessage* kept = Add(u"+4950");
    CSmsMessage* binned = Add(u"+4960", STATE_DELETED);
    // Another program empties the Recycle Bin: its compaction holds the
    // store's file lock while the new store is synced, which takes long on
    // a large store; here it waits until the test lets it go.
    CMessageStore other(dir.path());
    ASSERT_EQ(other.LoadMessages(), StoreResult::kOk);
    HeldSync env;
    std::thread compactor([&] { other.PurgeAndCompact(STATE_DELETED, -1); });
    env.WaitSyncing();
    // Meanwhile the window hears of a change (as from a third program).
    ::close(::open((dir / "vok.sms.lock").c_str(), O_WRONLY | O_CLOEXEC));
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(10);
    QDeadlineTimer held(1500);
    while (!held.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const int ticks_while_held = ticks;
    env.Go();
    compactor.join();
    // Taking in waited off the GUI thread: the event loop kept turning
    // (about 150 turns; a GUI thread waiting for the lock makes none).
    EXPECT_GT(ticks_while_held, 30);
    // Then the compaction is taken in.
    EXPECT_TRUE(WaitUntil([&] { return Model(VIEW_RECYCLE)->RowOf(binned) < 0; }));
    EXPECT_GE(Model(VIEW_INBOX)->RowOf(kept), 0);
}

}  // namespace
}  // namespace parlo
