#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>

#include "parlo/app/error_hints.h"
#include "parlo/app/parlo_doc.h"
#include "parlo/app/tests/doc_inside.h"
#include "parlo/store/tests/test_util.h"
#include "platform/exclusive_file.h"
#include "platform/text.h"

namespace parlo {
namespace {

using platform::Answer;

// The suite's bin directory as the test runner gives it (the tests below
// point SKYVANE_BIN_DIR elsewhere).
const std::string kRealBinDir =
    std::getenv("SKYVANE_BIN_DIR") ? std::getenv("SKYVANE_BIN_DIR") : "";

// Records what the document tells its view. The document calls it from the
// synchronisation worker too, as it calls the real view (which hands the calls
// to its own thread).
class RecordingView : public IParloView {
  public:
    std::vector<std::string> calls;
    void MessageAdded(CSmsMessage* rec) override { Note("add " + std::to_string(rec->m_nState)); }
    void MessageChanged(CSmsMessage* rec) override {
        Note("show " + std::to_string(rec->m_nState));
    }
    void MessageUpdated(CSmsMessage*) override { Note("refresh"); }
    void MessageRemoved(CSmsMessage*) override { Note("remove"); }
    void ClearList(int code) override { Note("clear " + std::to_string(code)); }
    void RefillLists() override { Note("refill"); }
    void StoreCompacted() override { Note("compacted"); }
    void MessagesRemoved(const std::vector<CSmsMessage*>& recs) override {
        Note("remove " + std::to_string(recs.size()));
    }
    void FolderAdded(const CSmsFolder&) override { Note("folder+"); }
    void FolderRemoved(const CSmsFolder&) override { Note("folder-"); }
    void SetErrorIndicator(bool on) override { Note(on ? "blink" : "quiet"); }

  private:
    void Note(std::string call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls.push_back(std::move(call));
    }
    std::mutex mutex_;
};

class CountingProgress : public CStartProgress {
  public:
    void SetRange(int n) override { range = n; }
    void SetStatus(const std::u16string& text) override { statuses.push_back(text); }
    void Step() override { ++steps; }
    int range = 0;
    int steps = 0;
    std::vector<std::u16string> statuses;
};

class DocTest : public ::testing::Test {
  protected:
    testing::TempDir dir;
    testing::TempDir bin;
    platform::ScriptedPrompt prompt;
    RecordingView view;
    platform::Registry reg{dir / "registry.reg"};
    std::unique_ptr<CParloDoc> doc;

    void SetUp() override {
        setenv("SKYVANE_HOME", dir.path().c_str(), 1);
        setenv("SKYVANE_ROOT", dir.path().c_str(), 1);
        setenv("SKYVANE_BIN_DIR", bin.path().c_str(), 1);
        doc = std::make_unique<CParloDoc>(&view, &prompt);
    }

    void Restart() {
        doc.reset();
        doc = std::make_unique<CParloDoc>(&view, &prompt);
        StartOptions opt;
        opt.require_ports = false;
        ASSERT_TRUE(doc->Start(nullptr, opt));
        prompt.Clear();  // no vok.dat here: its message is tested on its own
    }

    void AddModem() {
        reg.SetDword(platform::Hive::LocalMachine, "ExtModems\\cable", "DeviceType", 1);
        reg.SetString(platform::Hive::LocalMachine, "ExtModems\\cable", "FriendlyName", "Cable");
        reg.SetString(platform::Hive::LocalMachine, "ExtModems\\cable", "Port", "COM3:");
    }

    std::vector<CSmsMessage*> InState(int32_t state) {
        std::vector<CSmsMessage*> out;
        Inside(*doc).m_store.ForEach([&](CSmsMessage& m) {
            if (m.m_nState == state)
                out.push_back(&m);
        });
        return out;
    }
};

TEST_F(DocTest, StartWithoutModemFailsWithAClearMessageOnlyWhenPortsAreRequired) {
    EXPECT_FALSE(doc->Start());
    ASSERT_FALSE(prompt.texts().empty());
    EXPECT_NE(prompt.texts().back().find(u"parlo-cli modem detect"), std::u16string::npos);
    EXPECT_EQ(doc->PortListStatus(), PortListResult::kNoModem);

    prompt.Clear();
    StartOptions quiet;
    quiet.require_ports = false;
    EXPECT_TRUE(doc->Start(nullptr, quiet));
    for (const auto& t : prompt.texts())
        EXPECT_EQ(t.find(u"modem"), std::u16string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir / "vok.sms"));  // created empty
}

TEST_F(DocTest, StartSequenceRunsFiveStepsAndBuildsThePortList) {
    AddModem();
    CountingProgress progress;
    ASSERT_TRUE(doc->Start(&progress));
    EXPECT_EQ(progress.range, 5);
    EXPECT_EQ(progress.steps, 5);
    ASSERT_EQ(progress.statuses.size(), 5u);
    EXPECT_EQ(progress.statuses[0], u"Load Settings");
    EXPECT_EQ(progress.statuses[3], u"Load SMS Messages");
    EXPECT_EQ(progress.statuses[4], u"Initialisation...");
    EXPECT_EQ(view.calls, std::vector<std::string>{"refill"});
    ASSERT_EQ(doc->Ports().size(), 1u);
    EXPECT_EQ(doc->Ports()[0].m_strPort, u"COM3:");
    EXPECT_EQ(Inside(*doc).m_folders.size(), 6u);  // the stamp created the profile key
    EXPECT_EQ(reg.QueryDword(platform::Hive::CurrentUser, kProfileDataKey, "stamp"), 0u);
    // No vok.dat anywhere: its message, and start-up goes on.
    EXPECT_EQ(prompt.texts(), std::vector<std::u16string>{u"Can not open data file. (vok.dat)"});
}

TEST_F(DocTest, DeviceDatabaseMessagesAndTheShippedFallback) {
    std::string text = "*h\r\n#cut";
    ScrambleDeviceDb(&text);
    testing::WriteFile(bin / "vok.dat", text);
    EXPECT_EQ(doc->DeviceDatabasePath(), bin / "vok.dat");
    EXPECT_EQ(doc->LoadDeviceDatabase(), 0);
    EXPECT_EQ(prompt.texts().back(), u"Corrupted data file. -4-");
    std::string good = "*h\r\n#a#b#9600#8#0#0#16#Z#Z#####M#N#0####\r\n*p#";
    ScrambleDeviceDb(&good);
    testing::WriteFile(dir / "vok.dat", good);  // the data directory's own wins
    EXPECT_EQ(doc->DeviceDatabasePath(), dir / "vok.dat");
    EXPECT_EQ(doc->LoadDeviceDatabase(), 0);
    EXPECT_EQ(prompt.texts().back(), u"Corrupted data file. -27-");
    EXPECT_EQ(doc->PhoneModels().size(), 1u);
}

TEST_F(DocTest, RecordOperationsSetStatesAndShowTheRecord) {
    Restart();
    CSmsMessage* out = doc->AddOutgoing(u"+4917", u"hello", false).rec;
    CSmsMessage* push = doc->AddOutgoing(u"+4917", u"push", true).rec;
    CSmsMessage* tpl = doc->AddTemplate(u"template").rec;
    EXPECT_EQ(out->m_nState, STATE_OUTBOX);
    EXPECT_EQ(push->m_nState, STATE_OUTBOX_PUSH);
    EXPECT_EQ(out->m_nStorage, STORAGE_POCKETPC);
    EXPECT_EQ(out->m_nPhoneIndex, -1);
    EXPECT_TRUE(out->m_time.IsValid());
    EXPECT_EQ(tpl->m_nState, STATE_TEMPLATE);
    EXPECT_TRUE(tpl->m_strNumber.empty());
    EXPECT_EQ(view.calls.back(), "add 7");

    doc->DeleteMessage(out);
    EXPECT_EQ(out->m_nState, STATE_DELETED);
    doc->DeleteMessage(out);
    EXPECT_EQ(out->m_nState, STATE_PURGED);

    doc->MoveToFolder(push, FOLDER_RECYCLE);
    EXPECT_EQ(push->m_nState, STATE_DELETED);
    doc->MoveToFolder(push, FOLDER_INBOX);
    EXPECT_EQ(push->m_nState, STATE_READ);
    CSmsFolder* work = doc->AddFolder(u"Work");
    doc->MoveToFolder(push, work->m_nId);
    EXPECT_EQ(push->m_nState, STATE_IN_FOLDER);
    EXPECT_EQ(push->m_nFolderId, work->m_nId);
    doc->MoveToFolder(push, 2006);
    EXPECT_EQ(push->m_nState, STATE_IN_FOLDER);
    doc->MoveToFolder(push, FOLDER_OUTBOX);
    EXPECT_EQ(push->m_nState, STATE_OUTBOX);
    EXPECT_EQ(push->m_nFolderId, 0);

    CSmsMessage* rx =
        doc->AddReceived(STATE_UNREAD, u"+4930", u"in", platform::OleDate{1.0, 0}, STORAGE_SIM, 4)
            .rec;
    doc->MarkRead(rx);
    EXPECT_EQ(rx->m_nState, STATE_READ);
    CSmsMessage* order = doc->OrderPhoneDeletion(rx).rec;
    EXPECT_EQ(order->m_nState, STATE_PHONE_DELETE);
    EXPECT_EQ(order->m_nPhoneIndex, 4);
    EXPECT_EQ(rx->m_nState, STATE_READ);
    EXPECT_TRUE(prompt.texts().empty());
    const int32_t work_id = work->m_nId;

    // Everything is on disk already.
    Restart();
    EXPECT_EQ(Inside(*doc).m_store.Count(), 5u);
    EXPECT_EQ(InState(STATE_PHONE_DELETE).size(), 1u);
    EXPECT_EQ(Inside(*doc).m_folders.ById(work_id)->m_strName, u"Work");
}

TEST_F(DocTest, EditedDraftLeavesItsOldVersionInTheRecycleBin) {
    Restart();
    CSmsMessage* d = doc->SaveDraft(nullptr, u"1", u"first").rec;
    EXPECT_EQ(d->m_nState, STATE_DRAFT);
    doc->SaveDraft(d, u"1", u"second");
    doc->SaveDraft(d, u"1", u"second");  // unchanged: rewritten in place
    Restart();
    ASSERT_EQ(Inside(*doc).m_store.Count(), 2u);
    EXPECT_EQ(Inside(*doc).m_store.At(0)->m_nState, STATE_DELETED);
    EXPECT_EQ(Inside(*doc).m_store.At(0)->m_strText, u"first");
    EXPECT_EQ(Inside(*doc).m_store.At(1)->m_strText, u"second");
}

TEST_F(DocTest, DeleteMarkedModesAndQuestions) {
    Restart();
    CSmsMessage* a = doc->AddReceived(1, u"1", u"a", {}, STORAGE_PHONE, 1).rec;
    CSmsMessage* b = doc->AddReceived(1, u"2", u"b", {}, STORAGE_PHONE, 2).rec;
    CSmsMessage* c = doc->AddReceived(1, u"3", u"c", {}, STORAGE_PHONE, 3).rec;
    std::vector<CSmsMessage*> inbox = {a, b, c};

    // Nothing marked, nothing selected.
    EXPECT_EQ(doc->DeleteMarked(DELETE_BOTH, VIEW_INBOX, inbox, nullptr), 0);
    EXPECT_EQ(prompt.texts().back(),
              u"First, you have to select a message by clicking first column.");

    // Phone only: rows stay, one hidden order each.
    a->m_bMarked = b->m_bMarked = 1;
    EXPECT_EQ(doc->DeleteMarked(DELETE_PHONE_ONLY, VIEW_INBOX, inbox, c), 1);
    EXPECT_EQ(a->m_nState, STATE_READ);
    EXPECT_EQ(a->m_bMarked, 0);
    EXPECT_EQ(InState(STATE_PHONE_DELETE).size(), 2u);

    // Both, on the selected row: an order and the Recycle Bin.
    EXPECT_EQ(doc->DeleteMarked(DELETE_BOTH, VIEW_INBOX, inbox, c), 1);
    EXPECT_EQ(c->m_nState, STATE_DELETED);
    EXPECT_EQ(InState(STATE_PHONE_DELETE).size(), 3u);

    // In the Recycle Bin: asked first; Cancel changes nothing, OK purges.
    doc->DeleteMessage(a);
    doc->DeleteMessage(b);
    std::vector<CSmsMessage*> bin = {a, b, c};
    a->m_bMarked = c->m_bMarked = 1;
    prompt.Clear();
    prompt.Push(Answer::Cancel);
    EXPECT_EQ(doc->DeleteMarked(DELETE_POCKETPC_ONLY, VIEW_RECYCLE, bin, nullptr), 0);
    EXPECT_EQ(prompt.texts().back(),
              u"You are going to purge 2 selected message(s) from this computer.");
    EXPECT_EQ(a->m_nState, STATE_DELETED);
    prompt.Push(Answer::Ok);
    EXPECT_EQ(doc->DeleteMarked(DELETE_POCKETPC_ONLY, VIEW_RECYCLE, bin, nullptr), 1);
    EXPECT_EQ(a->m_nState, STATE_PURGED);
    EXPECT_EQ(c->m_nState, STATE_PURGED);
    EXPECT_EQ(b->m_nState, STATE_DELETED);
    prompt.Push(Answer::Ok);
    EXPECT_EQ(doc->DeleteMarked(DELETE_POCKETPC_ONLY, VIEW_RECYCLE, bin, b), 1);
    EXPECT_EQ(prompt.texts().back(), u"Purge the message from this computer?");
    EXPECT_EQ(b->m_nState, STATE_PURGED);
}

TEST_F(DocTest, EmptyRecycleBinAsksThenPurgesAndCompactsInOneStep) {
    Restart();
    CSmsMessage* keep = doc->AddDraft(u"1", u"keep").rec;
    for (int i = 0; i < 50; ++i)
        doc->DeleteMessage(doc->AddDraft(u"2", u"gone").rec);
    prompt.Push(Answer::No);
    EXPECT_EQ(doc->EmptyRecycleBin(), 0);
    EXPECT_EQ(InState(STATE_DELETED).size(), 50u);

    // The store cannot be rewritten: the bin stays as it was, in memory and
    // on disk, and the user is told.
    std::filesystem::create_directory(dir / "vok.tmp");
    const auto before = std::filesystem::file_size(dir / "vok.sms");
    view.calls.clear();
    prompt.Push(Answer::Yes);
    EXPECT_EQ(doc->EmptyRecycleBin(), 0);
    EXPECT_EQ(prompt.texts().back(), u"Save failed.");
    EXPECT_EQ(InState(STATE_DELETED).size(), 50u);
    EXPECT_EQ(InState(STATE_PURGED).size(), 0u);
    EXPECT_EQ(std::filesystem::file_size(dir / "vok.sms"), before);
    EXPECT_TRUE(view.calls.empty());
    std::filesystem::remove(dir / "vok.tmp");

    prompt.Push(Answer::Yes);
    EXPECT_EQ(doc->EmptyRecycleBin(), 1);
    EXPECT_EQ(prompt.texts().back(), u"Purge all deleted messages from this computer?");
    EXPECT_EQ(Inside(*doc).m_store.Count(), 1u);
    EXPECT_EQ(keep->m_nFileOffset, 0);
    EXPECT_EQ(std::filesystem::file_size(dir / "vok.sms"), 44u + 2 * 5);
    // One reset of the bin's list, not one call per record.
    EXPECT_EQ(view.calls, (std::vector<std::string>{"clear 7", "compacted"}));
}

TEST_F(DocTest, DeletingAFolderPurgesItsMessages) {
    Restart();
    CSmsFolder* f1 = doc->AddFolder(u"One");
    CSmsFolder* f2 = doc->AddFolder(u"Two");
    CSmsMessage* m = doc->AddDraft(u"1", u"filed").rec;
    CSmsMessage* other = doc->AddDraft(u"1", u"other").rec;
    doc->MoveToFolder(m, f1->m_nId);
    doc->AddReceived(STATE_READ, u"3", u"filed too", {}, STORAGE_SIM, 3);
    doc->MoveToFolder(Inside(*doc).m_store.At(2), f1->m_nId);
    doc->MoveToFolder(other, f2->m_nId);
    EXPECT_EQ(doc->FolderRecords(f1->m_nId).size(), 2u);
    prompt.Push(Answer::No);
    EXPECT_EQ(doc->DeleteFolder(f1), 0);
    EXPECT_EQ(Inside(*doc).m_folders.ById(1), f1);

    // A store that cannot be rewritten keeps the folder and its records.
    std::filesystem::create_directory(dir / "vok.tmp");
    prompt.Push(Answer::Yes);
    EXPECT_EQ(doc->DeleteFolder(f1), 0);
    EXPECT_EQ(prompt.texts().back(), u"Save failed.");
    EXPECT_EQ(Inside(*doc).m_folders.ById(1), f1);
    EXPECT_EQ(doc->FolderRecords(f1->m_nId).size(), 2u);
    std::filesystem::remove(dir / "vok.tmp");

    view.calls.clear();
    prompt.Push(Answer::Yes);
    EXPECT_EQ(doc->DeleteFolder(f1), 1);
    // Purged, not moved to the Recycle Bin; gone from the list and the file.
    EXPECT_EQ(Inside(*doc).m_store.IndexOf(m), -1);
    EXPECT_TRUE(InState(STATE_DELETED).empty());
    EXPECT_EQ(other->m_nState, STATE_IN_FOLDER);
    EXPECT_EQ(view.calls, (std::vector<std::string>{"folder-", "remove 2", "compacted"}));
    EXPECT_EQ(Inside(*doc).m_folders.ById(1), nullptr);
    EXPECT_EQ(doc->AddFolder(u"Three")->m_nId, 3);
    Restart();
    EXPECT_EQ(Inside(*doc).m_store.Count(), 1u);
    EXPECT_EQ(Inside(*doc).m_folders.UserFolders().size(), 2u);
    EXPECT_EQ(Inside(*doc).m_folders.ById(2)->m_strName, u"Two");
}

// A text longer than the store holds cannot be written: every operation says
// so, shows "Save failed." and keeps the record in memory.
TEST_F(DocTest, OperationsThatCannotStoreSaySo) {
    Restart();
    const std::u16string too_long(kMaxStoredUnits + 1, u'x');
    StoredRecord ok = doc->AddOutgoing(u"+4917", u"fits", false);
    EXPECT_TRUE(ok);
    prompt.Clear();
    StoredRecord out = doc->AddOutgoing(u"+4917", too_long, false);
    EXPECT_FALSE(out);
    ASSERT_NE(out.rec, nullptr);
    EXPECT_EQ(out->m_nState, STATE_OUTBOX);
    EXPECT_EQ(out->m_nFileOffset, -1);
    EXPECT_EQ(Inside(*doc).m_store.IndexOf(out.rec), 1);
    EXPECT_EQ(prompt.texts(), std::vector<std::u16string>{u"Save failed."});
    EXPECT_FALSE(doc->AddDraft(u"1", too_long));
    EXPECT_FALSE(doc->AddTemplate(too_long));
    EXPECT_FALSE(doc->AddReceived(STATE_UNREAD, too_long, u"", {}, STORAGE_SIM, 1));
    EXPECT_FALSE(doc->SaveDraft(ok.rec, u"1", too_long));
    EXPECT_TRUE(doc->SaveDraft(ok.rec, u"1", u"fits again"));
    EXPECT_EQ(doc->MarkRead(out.rec), 0);
    EXPECT_EQ(doc->MoveToFolder(out.rec, FOLDER_DRAFT), 0);
    EXPECT_EQ(out->m_nState, STATE_DRAFT);  // in memory all the same
    EXPECT_EQ(doc->DeleteMessage(out.rec), 0);
    EXPECT_FALSE(doc->OrderPhoneDeletion(out.rec));
    out->m_bMarked = 1;
    prompt.Push(Answer::Ok);
    EXPECT_EQ(doc->DeleteMarked(DELETE_POCKETPC_ONLY, VIEW_RECYCLE, {out.rec}, nullptr), 0);
    EXPECT_EQ(doc->MarkRead(ok.rec), 1);
    Restart();
    EXPECT_EQ(Inside(*doc).m_store.Count(), 2u);  // "fits", and its old version in the bin
}

// A list model reads records through Read: a copy under the store's lock, and
// a refusal once the record is gone.
TEST_F(DocTest, ALockedCopyOfOneRecord) {
    Restart();
    CSmsMessage* a = doc->AddDraft(u"1", u"first").rec;
    CSmsMessage copy;
    ASSERT_TRUE(Inside(*doc).m_store.Read(a, &copy));
    EXPECT_EQ(copy.m_strText, u"first");
    EXPECT_EQ(copy.m_nFileOffset, 0);
    doc->DeleteMessage(a);
    doc->DeleteMessage(a);  // purged
    ASSERT_TRUE(Inside(*doc).m_store.Read(a, &copy));
    EXPECT_EQ(copy.m_nState, STATE_PURGED);
    ASSERT_EQ(doc->CompactStore(), 1);
    copy.m_strText = u"untouched";
    EXPECT_FALSE(Inside(*doc).m_store.Read(a, &copy));
    EXPECT_EQ(copy.m_strText, u"untouched");

    // A reader on another thread never sees a half-changed record.
    CSmsMessage* b = doc->AddDraft(u"1", u"aaaa").rec;
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i)
            doc->SaveDraft(b, i % 2 ? u"2" : u"1", i % 2 ? u"bbbb" : u"aaaa");
        stop = true;
    });
    int reads = 0;
    while (!stop || reads == 0) {
        CSmsMessage c;
        ASSERT_TRUE(Inside(*doc).m_store.Read(b, &c));
        EXPECT_EQ(c.m_strNumber == u"2", c.m_strText == u"bbbb");
        ++reads;
    }
    worker.join();
}

// Closing must not block the interface thread: a run may be waiting on a
// prompt that only that thread can answer.
TEST_F(DocTest, CloseAsyncCallsBackWhenIdle) {
    Restart();
    std::mutex m;
    std::condition_variable cv;
    bool idle = false;
    doc->StartAutoSync();
    doc->CloseAsync([&] {
        std::lock_guard<std::mutex> lock(m);
        idle = true;
        cv.notify_all();
    });
    doc->CloseAsync([] { ADD_FAILURE() << "a second close is ignored"; });
    std::unique_lock<std::mutex> lock(m);
    EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(60), [&] { return idle; }));
    lock.unlock();
    EXPECT_EQ(Inside(*doc).Engine().m_sync.m_bAutoSyncRunning, 0);
    doc.reset();
}

TEST_F(DocTest, SyncLockIsExclusive) {
    platform::ExclusiveFile other;
    ASSERT_TRUE(other.Open(dir / "vok.lock"));
    EXPECT_EQ(doc->AcquireSyncLock(), 0);
    other.Close();
    EXPECT_EQ(doc->AcquireSyncLock(), 1);
    doc->ReleaseSyncLock();
}

// The dial-up stand-in holds "vok.lock" while it uses the phone: a
// synchronisation started meanwhile ends with 65071 alone.
TEST_F(DocTest, SynchronisationSeesTheDialUpProgramHoldingTheLock) {
    std::filesystem::path connect = std::filesystem::path(kRealBinDir) / "connect";
    ASSERT_TRUE(!kRealBinDir.empty() && std::filesystem::exists(connect))
        << "the connect stand-in is not built: " << connect;
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    std::string path = connect.string();
    char* argv[] = {path.data(), const_cast<char*>("s"), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, path.c_str(), &fa, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    // It says so once it holds the lock.
    std::string said;
    struct pollfd p = {out[0], POLLIN, 0};
    while (said.find("using the phone") == std::string::npos && poll(&p, 1, 30000) > 0) {
        char buf[256];
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0)
            break;
        said.append(buf, static_cast<size_t>(n));
    }
    ASSERT_NE(said.find("using the phone"), std::string::npos) << said;

    Restart();
    CSmsMessage* queued = doc->AddOutgoing(u"+4917", u"waits", false).rec;
    EXPECT_TRUE(doc->SyncNow());
    EXPECT_EQ(doc->Errors().Text(),
              u"Please first stop the Internet connection and try to synchronize again.");
    EXPECT_EQ(queued->m_nState, STATE_OUTBOX);
    EXPECT_EQ(doc->AcquireSyncLock(), 0);

    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    close(out[0]);
    EXPECT_EQ(doc->AcquireSyncLock(), 1);
    doc->ReleaseSyncLock();
}

// A phonebook synchronisation of another program holds "vok.lock": the
// message synchronisation says that a synchronisation runs, and what is
// shown names the phonebook and the process, also once that has ended.
TEST_F(DocTest, MessageSynchronisationNamesThePhonebookSynchronisationHoldingTheLock) {
    int ready[2], stop[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(stop), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        CSyncLock phonebook;
        char c = phonebook.Acquire(dir.path(), SyncKind::kPhonebook) ? 'y' : 'n';
        if (write(ready[1], &c, 1) != 1 || read(stop[0], &c, 1) < 0)
            _exit(1);
        phonebook.Release();
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');

    Restart();
    CSmsMessage* queued = doc->AddOutgoing(u"+4917", u"waits", false).rec;
    EXPECT_TRUE(doc->SyncNow());
    EXPECT_EQ(doc->Errors().Text(),
              u"A synchronisation is already running. Try again when it has finished.");
    EXPECT_EQ(queued->m_nState, STATE_OUTBOX);
    std::u16string hint = ErrorHints(*doc, doc->Errors().Text());
    EXPECT_NE(hint.find(u"The phonebook is being synchronised ("), std::u16string::npos)
        << platform::ToUtf8(hint);
    EXPECT_NE(hint.find(platform::FromUtf8("process " + std::to_string(pid) + ")")),
              std::u16string::npos)
        << platform::ToUtf8(hint);
    EXPECT_EQ(hint.find(u"Internet"), std::u16string::npos);

    c = 'x';
    ASSERT_EQ(write(stop[1], &c, 1), 1);
    int status = 0;
    waitpid(pid, &status, 0);
    for (int fd : {ready[0], ready[1], stop[0], stop[1]})
        close(fd);

    // The client shows the list when the indicator is tapped, later.
    prompt.Clear();
    EXPECT_EQ(doc->ShowErrors(), 1);
    ASSERT_EQ(prompt.texts().size(), 1u);
    std::u16string shown = prompt.texts()[0];
    EXPECT_EQ(shown.find(u"A synchronisation is already running."), 0u);
    EXPECT_NE(shown.find(u"\n\nThe phonebook is being synchronised ("), std::u16string::npos)
        << platform::ToUtf8(shown);
    EXPECT_TRUE(doc->Errors().Empty());

    // The next run takes the lock and forgets who held it.
    Inside(*doc).Engine().m_sync.SynchronizeMessages();
    EXPECT_FALSE(Inside(*doc).Engine().m_sync.BlockedBy().has_value());
}

TEST_F(DocTest, SettingsRoundTripThroughTheDocument) {
    Inside(*doc).m_settings.m_bAutoSync = 1;
    Inside(*doc).m_settings.m_nAutoSyncInterval = 15;
    Inside(*doc).m_settings.m_bUsePort = 1;
    Inside(*doc).m_settings.m_strUserPort = u"COM4:";
    ASSERT_EQ(doc->SaveSettings(), 1);
    Restart();
    EXPECT_EQ(Inside(*doc).m_settings.m_bAutoSync, 1);
    EXPECT_EQ(Inside(*doc).m_settings.m_nAutoSyncInterval, 15);
    EXPECT_EQ(Inside(*doc).m_settings.m_strUserPort, u"COM4:");
}

// A worker stores received messages while the interface thread adds and
// deletes drafts and reads the list as a model does (copies under the lock).
// Every record keeps its own fields, in memory and in the file.
TEST_F(DocTest, WorkerAndInterfaceThreadsShareTheList) {
    Restart();
    constexpr int kEach = 100;
    std::thread worker([&] {
        for (int i = 0; i < kEach; ++i) {
            doc->AddReceived(STATE_UNREAD, u"+1", u"rx " + platform::FromUtf8(std::to_string(i)),
                             {}, STORAGE_PHONE, i);
        }
    });
    int torn = 0;
    for (int i = 0; i < kEach; ++i) {
        CSmsMessage* d = doc->AddDraft(u"2", u"d " + platform::FromUtf8(std::to_string(i))).rec;
        ASSERT_NE(d, nullptr);
        doc->DeleteMessage(d);
        for (CSmsMessage* m : Inside(*doc).m_store.Snapshot()) {
            CSmsMessage copy;
            if (!Inside(*doc).m_store.Read(m, &copy))
                continue;
            const bool received = copy.m_strText.rfind(u"rx ", 0) == 0;
            // A received record is unread from the phone; a draft is a draft
            // or deleted, and keeps its own number.
            if (received ? (copy.m_nState != STATE_UNREAD || copy.m_strNumber != u"+1")
                         : ((copy.m_nState != STATE_DRAFT && copy.m_nState != STATE_DELETED) ||
                            copy.m_strNumber != u"2"))
                ++torn;
        }
    }
    worker.join();
    EXPECT_EQ(torn, 0);

    auto check = [&](CMessageStore& store, const char* where) {
        SCOPED_TRACE(where);
        EXPECT_EQ(store.Count(), 2u * kEach);
        std::set<int32_t> slots;
        std::set<std::u16string> drafts;
        store.ForEach([&](CSmsMessage& m) {
            if (m.m_nState == STATE_UNREAD) {
                EXPECT_EQ(m.m_strText,
                          u"rx " + platform::FromUtf8(std::to_string(m.m_nPhoneIndex)));
                slots.insert(m.m_nPhoneIndex);
            } else {
                EXPECT_EQ(m.m_nState, STATE_DELETED);
                drafts.insert(m.m_strText);
            }
        });
        EXPECT_EQ(slots.size(), static_cast<size_t>(kEach));
        EXPECT_EQ(drafts.size(), static_cast<size_t>(kEach));
    };
    check(Inside(*doc).m_store, "in memory");
    CMessageStore reloaded(dir.path());
    ASSERT_EQ(reloaded.LoadMessages(), StoreResult::kOk);
    check(reloaded, "in the file");
}

}  // namespace
}  // namespace parlo
