// The watcher of a store that a program keeps open: it wakes for what other
// programs change (a child process each), also after the store was replaced,
// and not for other files of the directory.
#include "parlo/store/store_watcher.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
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

// A program that takes in whenever its watcher wakes: how often it wakes
// within `quiet` after the first change it was woken for. Taking in must not
// raise a new event itself, or such a program never sleeps again.
int WakesAfterTakingIn(CStoreWatcher& watcher, CMessageStore& store, milliseconds quiet) {
    int wakes = 0;
    while (watcher.Wait(quiet)) {
        EXPECT_EQ(store.TakeInChanges(), StoreResult::kOk);
        if (++wakes > 20)
            break;
    }
    return wakes;
}

TEST(StoreWatcher, TakingInDoesNotWakeTheWatcherAgain) {
    TempDir dir;
    CMessageStore mine(dir.path());
    ASSERT_EQ(mine.LoadMessages(), StoreResult::kOk);
    mine.Add(NewRecord(u"mine", STATE_UNREAD));
    CStoreWatcher watcher(dir.path());
    ASSERT_TRUE(watcher.ok());
    watcher.Drain();

    // Appends and rewrites by another program: taken in once, then quiet.
    InOtherProgram([&] {
        CMessageStore other(dir.path());
        StoreResult r;
        return other.LoadMessages() == StoreResult::kOk &&
               (other.Add(NewRecord(u"queued", STATE_OUTBOX), &r), r == StoreResult::kOk) &&
               other.Change(other.At(0), [](CSmsMessage& m) { m.m_nState = STATE_READ; }) ==
                   StoreResult::kOk;
    });
    ASSERT_TRUE(watcher.Wait(kLong));
    ASSERT_EQ(mine.TakeInChanges(), StoreResult::kOk);
    ASSERT_EQ(mine.Count(), 2u);
    EXPECT_EQ(mine.At(0)->m_nState, STATE_READ);
    EXPECT_EQ(WakesAfterTakingIn(watcher, mine, milliseconds(300)), 0);

    // A compaction makes the program reload under the exclusive lock: that
    // may wake it once more, and the look it then takes finds nothing.
    InOtherProgram([&] {
        CMessageStore other(dir.path());
        return other.LoadMessages() == StoreResult::kOk &&
               other.PurgeAndCompact(STATE_OUTBOX, -1) == StoreResult::kOk;
    });
    ASSERT_TRUE(watcher.Wait(kLong));
    ASSERT_EQ(mine.TakeInChanges(), StoreResult::kOk);
    ASSERT_EQ(mine.Count(), 1u);
    EXPECT_LE(WakesAfterTakingIn(watcher, mine, milliseconds(300)), 1);

    // A garbage entry at the end of the log (a length no store can hold) is
    // not believed: the program reloads instead, keeps its list, and sleeps.
    {
        std::ofstream log(dir / "vok.sms.lock", std::ios::binary | std::ios::app);
        const char entry[16] = {1,      0,      0,      0,      0,      0,      0,      0,
                                '\xF0', '\xFF', '\xFF', '\xFF', '\xF0', '\xFF', '\xFF', '\xFF'};
        log.write(entry, sizeof entry);
    }
    ASSERT_TRUE(watcher.Wait(kLong));
    ASSERT_EQ(mine.TakeInChanges(), StoreResult::kOk);
    EXPECT_EQ(mine.Count(), 1u);
    EXPECT_LE(WakesAfterTakingIn(watcher, mine, milliseconds(300)), 1);
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
