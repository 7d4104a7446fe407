// The watcher of a store that a program keeps open: it wakes for what other
// programs change (a child process each), also after the store was replaced,
// and not for other files of the directory.
#include "parlo/store/store_watcher.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include "parlo/store/message_store.h"
#include "parlo/store/tests/test_util.h"

namespace parlo {
namespace {

using std::chrono::milliseconds;
using testing::TempDir;

// Generous: the machine may be loaded.
constexpr milliseconds kLong{20000};

std::unique_ptr<CSmsMessage> NewRecord(const std::u16string& text, int32_t state) {
    return std::make_unique<CSmsMessage>(state, u"+4917", text, platform::OleDate{45000.0, 0}, 0,
                                         STORAGE_POCKETPC, -1, -1, 0);
}

// Runs `body` as another program on the store and waits for it.
void InOtherProgram(const std::function<bool()>& body) {
    pid_t pid = fork();
    if (pid == 0)
        _exit(body() ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(StoreWatcher, WakesForOthersChangesAndTheyAreTakenIn) {
    TempDir dir;
    CMessageStore mine(dir.path());
    ASSERT_EQ(mine.LoadMessages(), StoreResult::kOk);
    CSmsMessage* kept = mine.Add(NewRecord(u"mine", STATE_READ));
    CStoreWatcher watcher(dir.path());
    ASSERT_TRUE(watcher.ok());
    watcher.Drain();  // this program's own write

    EXPECT_FALSE(watcher.Wait(milliseconds(50)));  // nothing happened
    // A file of the directory that is not the store wakes nobody.
    testing::WriteFile(dir / "vok.ini", "x");
    EXPECT_FALSE(watcher.Wait(milliseconds(200)));

    // Another program queues a message.
    InOtherProgram([&] {
        CMessageStore other(dir.path());
        StoreResult r;
        return other.LoadMessages() == StoreResult::kOk &&
               (other.Add(NewRecord(u"queued", STATE_OUTBOX), &r), r == StoreResult::kOk);
    });
    ASSERT_TRUE(watcher.Wait(kLong));
    ASSERT_EQ(mine.TakeInChanges(), StoreResult::kOk);
    ASSERT_EQ(mine.Count(), 2u);
    EXPECT_EQ(mine.At(1)->m_strText, u"queued");
    watcher.Drain();

    // Another program deletes this program's record: changed in place.
    InOtherProgram([&] {
        CMessageStore other(dir.path());
        return other.LoadMessages() == StoreResult::kOk &&
               other.Change(other.At(0), [](CSmsMessage& m) { m.m_nState = STATE_DELETED; }) ==
                   StoreResult::kOk;
    });
    ASSERT_TRUE(watcher.Wait(kLong));
    ASSERT_EQ(mine.TakeInChanges(), StoreResult::kOk);
    EXPECT_EQ(mine.At(0), kept);
    EXPECT_EQ(kept->m_nState, STATE_DELETED);
    watcher.Drain();

    // A compaction replaces vok.sms by a rename: the watch goes on, on the
    // new file and on later changes.
    InOtherProgram([&] {
        CMessageStore other(dir.path());
        return other.LoadMessages() == StoreResult::kOk &&
               other.PurgeAndCompact(STATE_DELETED, -1) == StoreResult::kOk;
    });
    ASSERT_TRUE(watcher.Wait(kLong));
    ASSERT_EQ(mine.TakeInChanges(), StoreResult::kOk);
    ASSERT_EQ(mine.Count(), 1u);
    EXPECT_EQ(mine.At(0)->m_strText, u"queued");
    watcher.Drain();
    InOtherProgram([&] {
        CMessageStore other(dir.path());
        StoreResult r;
        return other.LoadMessages() == StoreResult::kOk &&
               (other.Add(NewRecord(u"after", STATE_OUTBOX), &r), r == StoreResult::kOk);
    });
    ASSERT_TRUE(watcher.Wait(kLong));
    ASSERT_EQ(mine.TakeInChanges(), StoreResult::kOk);
    ASSERT_EQ(mine.Count(), 2u);
    EXPECT_EQ(mine.At(1)->m_strText, u"after");
}

TEST(StoreWatcher, ADirectoryThatCannotBeWatchedSaysSoAndWaitsOutTheTime) {
    TempDir dir;
    CStoreWatcher watcher(dir / "missing");
    EXPECT_FALSE(watcher.ok());
    EXPECT_FALSE(watcher.Drain());
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(watcher.Wait(milliseconds(30)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(30));  // no spinning
}

}  // namespace
}  // namespace parlo
