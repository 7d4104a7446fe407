// Several programs on one store: each child process below is a program of
// its own with its own CMessageStore. Afterwards every record that a program
// was told was stored is in the file exactly once, and changes made by one
// program are not undone by another.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "parlo/store/message_store.h"
#include "parlo/store/tests/test_util.h"
#include "platform/text.h"

namespace parlo {
namespace {

using testing::TempDir;

std::u16string Text(int writer, int i) {
    return platform::FromUtf8("w" + std::to_string(writer) + "-" + std::to_string(i));
}

std::unique_ptr<CSmsMessage> NewRecord(const std::u16string& text, int32_t state = STATE_OUTBOX) {
    return std::make_unique<CSmsMessage>(state, u"+4917", text, platform::OleDate{45000.0, 0}, 0,
                                         STORAGE_POCKETPC, -1, -1, 0);
}

// Runs `body` in a child process; its exit status is what the body returns.
pid_t Spawn(const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The texts in the file, with how often each occurs, per state.
std::map<std::u16string, int> Texts(const std::filesystem::path& dir, int32_t state = -1) {
    CMessageStore store(dir);
    EXPECT_EQ(store.LoadMessages(), StoreResult::kOk);
    std::map<std::u16string, int> out;
    store.ForEach([&](CSmsMessage& m) {
        if (state < 0 || m.m_nState == state)
            ++out[m.m_strText];
    });
    return out;
}

// Each writer appends its records; a pipe tells the parent which were
// reported stored.
struct Writers {
    std::vector<pid_t> pids;
    std::vector<int> pipes;

    void Start(const std::filesystem::path& dir, int writers, int each, int first_id = 0) {
        for (int w = first_id; w < first_id + writers; ++w) {
            int fds[2];
            ASSERT_EQ(pipe(fds), 0);
            pids.push_back(Spawn([&, w, fds] {
                close(fds[0]);
                CMessageStore store(dir);
                if (store.LoadMessages() != StoreResult::kOk)
                    return 1;
                for (int i = 0; i < each; ++i) {
                    StoreResult r;
                    store.Add(NewRecord(Text(w, i)), &r);
                    char ok = r == StoreResult::kOk ? 1 : 0;
                    if (write(fds[1], &ok, 1) != 1)
                        return 1;
                }
                return 0;
            }));
            close(fds[1]);
            pipes.push_back(fds[0]);
        }
    }
    // The texts reported stored.
    std::set<std::u16string> Finish(int first_id = 0) {
        std::set<std::u16string> stored;
        for (size_t k = 0; k < pids.size(); ++k) {
            EXPECT_EQ(Wait(pids[k]), 0);
            char ok;
            int i = 0;
            while (read(pipes[k], &ok, 1) == 1) {
                if (ok)
                    stored.insert(Text(first_id + static_cast<int>(k), i));
                ++i;
            }
            close(pipes[k]);
        }
        return stored;
    }
};

void ExpectEachOnce(const std::set<std::u16string>& stored,
                    const std::map<std::u16string, int>& texts) {
    for (const std::u16string& t : stored) {
        auto it = texts.find(t);
        ASSERT_NE(it, texts.end()) << platform::ToUtf8(t) << " was reported stored and is lost";
        EXPECT_EQ(it->second, 1) << platform::ToUtf8(t);
    }
}

TEST(StoreProcesses, ManyWritersAppendingAtOnceLoseNothing) {
    TempDir dir;
    Writers w;
    w.Start(dir.path(), 8, 40);
    std::set<std::u16string> stored = w.Finish();
    EXPECT_EQ(stored.size(), 320u);
    std::map<std::u16string, int> texts = Texts(dir.path());
    EXPECT_EQ(texts.size(), 320u);
    ExpectEachOnce(stored, texts);
}

// A long-running program (a synchronisation) holds an old picture of the
// store; others append, delete and move meanwhile; its compaction at the end
// must keep all of that.
TEST(StoreProcesses, CompactionOfALongRunningProgramKeepsOthersChanges) {
    TempDir dir;
    {
        CMessageStore seed(dir.path());
        ASSERT_EQ(seed.LoadMessages(), StoreResult::kOk);
        for (int i = 0; i < 10; ++i)
            seed.Add(NewRecord(Text(99, i), STATE_READ));
    }
    CMessageStore syncing(dir.path());
    ASSERT_EQ(syncing.LoadMessages(), StoreResult::kOk);
    CSmsMessage* kept_pointer = syncing.At(5);

    // Another program deletes one record, files one, purges one.
    pid_t other = Spawn([&] {
        CMessageStore store(dir.path());
        if (store.LoadMessages() != StoreResult::kOk)
            return 1;
        bool ok = store.Change(store.At(1), [](CSmsMessage& m) { m.m_nState = STATE_DELETED; }) ==
                      StoreResult::kOk &&
                  store.Change(store.At(2),
                               [](CSmsMessage& m) {
                                   m.m_nState = STATE_IN_FOLDER;
                                   m.m_nFolderId = 3;
                               }) == StoreResult::kOk &&
                  store.Change(store.At(3), [](CSmsMessage& m) { m.m_nState = STATE_PURGED; }) ==
                      StoreResult::kOk;
        return ok ? 0 : 1;
    });
    ASSERT_EQ(Wait(other), 0);
    Writers w;
    w.Start(dir.path(), 4, 10);
    std::set<std::u16string> stored = w.Finish();

    // The syncing program adds what it read from the phone and compacts.
    StoreResult r;
    syncing.Add(NewRecord(u"from the phone", STATE_UNREAD), &r);
    ASSERT_EQ(r, StoreResult::kOk);
    size_t dropped = 0;
    ASSERT_EQ(syncing.CompactStore(&dropped), StoreResult::kOk);
    EXPECT_EQ(dropped, 1u);

    std::map<std::u16string, int> texts = Texts(dir.path());
    ExpectEachOnce(stored, texts);
    EXPECT_EQ(texts.size(), 10u - 1 + 40 + 1);
    EXPECT_EQ(texts.count(Text(99, 3)), 0u);  // purged by the other
    EXPECT_EQ(Texts(dir.path(), STATE_DELETED).count(Text(99, 1)), 1u);
    EXPECT_EQ(Texts(dir.path(), STATE_IN_FOLDER).count(Text(99, 2)), 1u);
    // The syncing program's records kept their addresses.
    CSmsMessage copy;
    ASSERT_TRUE(syncing.Read(kept_pointer, &copy));
    EXPECT_EQ(copy.m_strText, Text(99, 5));
}

TEST(StoreProcesses, CompactionWhileOthersAppend) {
    TempDir dir;
    {
        CMessageStore seed(dir.path());
        ASSERT_EQ(seed.LoadMessages(), StoreResult::kOk);
        for (int i = 0; i < 20; ++i)
            seed.Add(NewRecord(Text(99, i), STATE_DELETED));
    }
    Writers w;
    w.Start(dir.path(), 4, 30);
    pid_t compactor = Spawn([&] {
        CMessageStore store(dir.path());
        if (store.LoadMessages() != StoreResult::kOk)
            return 1;
        for (int i = 0; i < 20; ++i) {
            if (store.PurgeAndCompact(STATE_DELETED, -1) != StoreResult::kOk)
                return 1;
            StoreResult r;
            store.Add(NewRecord(Text(98, i), STATE_DELETED), &r);
            if (r != StoreResult::kOk)
                return 1;
        }
        return 0;
    });
    std::set<std::u16string> stored = w.Finish();
    EXPECT_EQ(Wait(compactor), 0);
    std::map<std::u16string, int> texts = Texts(dir.path());
    EXPECT_EQ(stored.size(), 120u);
    ExpectEachOnce(stored, texts);
    EXPECT_EQ(texts.size(), 121u);  // and the compactor's last one
}

// A program that keeps the store open takes in another's change: a record
// changed in place is updated in place, an appended one added; neither by a
// full reload.
TEST(StoreProcesses, TakingInAnotherProgramsChanges) {
    TempDir dir;
    CMessageStore mine(dir.path());
    ASSERT_EQ(mine.LoadMessages(), StoreResult::kOk);
    for (int i = 0; i < 3; ++i)
        mine.Add(NewRecord(Text(1, i), STATE_UNREAD));
    CSmsMessage* second = mine.At(1);
    std::vector<TakenIn> seen;
    mine.SetTakenInListener([&](const TakenIn& t) { seen.push_back(t); });

    pid_t other = Spawn([&] {
        CMessageStore store(dir.path());
        if (store.LoadMessages() != StoreResult::kOk)
            return 1;
        StoreResult r;
        store.Add(NewRecord(u"appended elsewhere"), &r);
        return r == StoreResult::kOk &&
                       store.Change(store.At(1), [](CSmsMessage& m) { m.m_nState = STATE_READ; }) ==
                           StoreResult::kOk
                   ? 0
                   : 1;
    });
    ASSERT_EQ(Wait(other), 0);
    ASSERT_EQ(mine.TakeInChanges(), StoreResult::kOk);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_FALSE(seen[0].reset);
    ASSERT_EQ(seen[0].added.size(), 1u);
    EXPECT_EQ(seen[0].added[0]->m_strText, u"appended elsewhere");
    EXPECT_EQ(seen[0].changed, std::vector<CSmsMessage*>{second});
    EXPECT_EQ(second->m_nState, STATE_READ);
    EXPECT_EQ(mine.Count(), 4u);
    // Nothing new: nothing to tell.
    ASSERT_EQ(mine.TakeInChanges(), StoreResult::kOk);
    EXPECT_EQ(seen.size(), 1u);

    // After another program's compaction the list is matched again, and the
    // records keep their addresses.
    pid_t compactor = Spawn([&] {
        CMessageStore store(dir.path());
        if (store.LoadMessages() != StoreResult::kOk)
            return 1;
        store.Change(store.At(0), [](CSmsMessage& m) { m.m_nState = STATE_PURGED; });
        return store.CompactStore() == StoreResult::kOk ? 0 : 1;
    });
    ASSERT_EQ(Wait(compactor), 0);
    CSmsMessage* first = mine.At(0);
    StoreResult r;
    mine.Add(NewRecord(u"mine after"), &r);  // a write takes in first
    ASSERT_EQ(r, StoreResult::kOk);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[1].reset);
    EXPECT_EQ(mine.Count(), 4u);
    EXPECT_EQ(mine.At(0), second);
    CSmsMessage copy;
    EXPECT_FALSE(mine.Read(first, &copy));  // purged elsewhere
    EXPECT_EQ(Texts(dir.path()).count(u"mine after"), 1u);
}

// Another program compacts and then notes at least as many changes as this
// one had seen before: the count of entries alone looks like news to follow,
// yet every offset this program knows now points at another record.
// Another program replaces a record with a newer version (a long message
// completed: the old copy is purged) while this one is about to move or
// delete the old copy: the old copy stays purged, the change says kGone, and
// the newer version is the one message left. A completion itself brings its
// message back even when another program purged it.
TEST(StoreProcesses, AChangeNeverBringsBackACopyThatAnotherProgramReplaced) {
    TempDir dir;
    CMessageStore mine(dir.path());
    ASSERT_EQ(mine.LoadMessages(), StoreResult::kOk);
    mine.Add(NewRecord(u"part 1 [part 2 missing]", STATE_UNREAD));
    mine.Add(NewRecord(u"another", STATE_UNREAD));
    CMessageStore also(dir.path());  // a second program with the old copy
    ASSERT_EQ(also.LoadMessages(), StoreResult::kOk);

    pid_t other = Spawn([&] {
        CMessageStore store(dir.path());
        if (store.LoadMessages() != StoreResult::kOk)
            return 1;
        return store.Change(
                   store.At(0), [](CSmsMessage& m) { m.m_strText = u"part 1 part 2"; },
                   STATE_PURGED) == StoreResult::kOk
                   ? 0
                   : 1;
    });
    ASSERT_EQ(Wait(other), 0);
    EXPECT_EQ(mine.ChangeMany({mine.At(0), mine.At(1)},
                              [](CSmsMessage& m) { m.m_nState = STATE_DELETED; }),
              StoreResult::kGone);
    EXPECT_EQ(also.Change(also.At(0), [](CSmsMessage& m) { m.m_nState = STATE_IN_FOLDER; }),
              StoreResult::kGone);
    std::map<std::u16string, int> live;
    for (int32_t state : {STATE_UNREAD, STATE_DELETED, STATE_IN_FOLDER}) {
        for (const auto& [text, n] : Texts(dir.path(), state))
            live[text] += n;
    }
    EXPECT_EQ(live.count(u"part 1 [part 2 missing]"), 0u);
    EXPECT_EQ(live[u"part 1 part 2"], 1);
    EXPECT_EQ(Texts(dir.path(), STATE_DELETED).count(u"another"), 1u);
}

TEST(StoreProcesses, CompactionFollowedByManyWritesIsNoticed) {
    TempDir dir;
    {
        CMessageStore seed(dir.path());
        ASSERT_EQ(seed.LoadMessages(), StoreResult::kOk);
        for (int i = 0; i < 6; ++i)
            seed.Add(NewRecord(Text(99, i), STATE_UNREAD));
    }
    CMessageStore mine(dir.path());
    ASSERT_EQ(mine.LoadMessages(), StoreResult::kOk);
    CSmsMessage* fourth = mine.At(3);

    pid_t other = Spawn([&] {
        CMessageStore store(dir.path());
        if (store.LoadMessages() != StoreResult::kOk)
            return 1;
        for (int i = 0; i < 2; ++i)
            store.Change(store.At(i), [](CSmsMessage& m) { m.m_nState = STATE_PURGED; });
        if (store.CompactStore() != StoreResult::kOk)
            return 1;
        for (int i = 0; i < 8; ++i) {
            StoreResult r;
            store.Add(NewRecord(Text(98, i)), &r);
            if (r != StoreResult::kOk)
                return 1;
        }
        return 0;
    });
    ASSERT_EQ(Wait(other), 0);

    // "Mark read" of this program's record.
    ASSERT_EQ(mine.Change(fourth, [](CSmsMessage& m) { m.m_nState = STATE_READ; }),
              StoreResult::kOk);
    EXPECT_EQ(fourth->m_strText, Text(99, 3));
    EXPECT_EQ(mine.Count(), 4u + 8u);

    std::map<std::u16string, int> texts = Texts(dir.path());
    EXPECT_EQ(texts.size(), 4u + 8u);
    EXPECT_EQ(texts.count(Text(99, 0)), 0u);  // purged stays purged
    EXPECT_EQ(texts.count(Text(99, 1)), 0u);
    EXPECT_EQ(Texts(dir.path(), STATE_READ), (std::map<std::u16string, int>{{Text(99, 3), 1}}));
    EXPECT_TRUE(Texts(dir.path(), STATE_DELETED).empty());
    EXPECT_EQ(Texts(dir.path(), STATE_OUTBOX).size(), 8u);
}

// A change-log entry whose length no store can hold (garbage at the end of
// the log) is not believed: nothing of that size is allocated, the program
// reloads the store and goes on writing. The child runs under a limit on
// its address space (not under the sanitizers, whose shadow memory needs
// more), so an allocation of the garbage length kills it.
TEST(StoreProcesses, GarbageLengthInTheLogAllocatesNothing) {
    TempDir dir;
    pid_t child = Spawn([&] {
        CMessageStore store(dir.path());
        if (store.LoadMessages() != StoreResult::kOk)
            return 1;
        StoreResult r;
        store.Add(NewRecord(u"before"), &r);
        if (r != StoreResult::kOk)
            return 1;
        // Another program's entry: an append of 0xFFFFFFF0 bytes at 0.
        std::string entry =
            std::string("\x01\0\0\0\0\0\0\0", 8) + "\xF0\xFF\xFF\xFF" + "\xF0\xFF\xFF\xFF";
        std::string log = testing::ReadFile(dir / "vok.sms.lock") + entry;
        testing::WriteFile(dir / "vok.sms.lock", log);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        rlimit limit{size_t{1} << 30, size_t{1} << 30};
        if (setrlimit(RLIMIT_AS, &limit) != 0)
            return 1;
#endif
        if (store.TakeInChanges() != StoreResult::kOk || store.Count() != 1)
            return 2;
        store.Add(NewRecord(u"after"), &r);
        return r == StoreResult::kOk ? 0 : 3;
    });
    EXPECT_EQ(Wait(child), 0);
    std::map<std::u16string, int> texts = Texts(dir.path());
    EXPECT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts.count(u"after"), 1u);
}

// A program killed in the middle of its writes leaves a store that loads
// whole, and the others go on.
TEST(StoreProcesses, KillDuringAppendsLeavesAWholeStore) {
    TempDir dir;
    for (int round = 0; round < 5; ++round) {
        pid_t victim = Spawn([&] {
            CMessageStore store(dir.path());
            if (store.LoadMessages() != StoreResult::kOk)
                return 1;
            for (int i = 0;; ++i) {
                store.Add(NewRecord(Text(round, i)));
                if (i % 7 == 0)
                    store.Change(store.At(0), [](CSmsMessage& m) { m.m_bMarked ^= 1; });
            }
        });
        usleep(20000 + round * 7000);
        kill(victim, SIGKILL);
        Wait(victim);
        CMessageStore after(dir.path());
        LoadReport report;
        ASSERT_EQ(after.LoadMessages(&report), StoreResult::kOk);
        // At most a part of the record being written is cut off.
        EXPECT_LE(report.file_length - report.good_length, 44u + 2 * 40);
        StoreResult r;
        after.Add(NewRecord(u"after the kill " + Text(round, 0)), &r);
        EXPECT_EQ(r, StoreResult::kOk);
    }
    std::map<std::u16string, int> texts = Texts(dir.path());
    for (int round = 0; round < 5; ++round)
        EXPECT_EQ(texts[u"after the kill " + Text(round, 0)], 1);
}

// Damage in the middle: the records before it are read, the rest is kept
// aside and reported, and recovery takes back the whole records in it.
TEST(StoreProcesses, DamagedMiddleIsReportedAndRecovered) {
    TempDir dir;
    {
        CMessageStore store(dir.path());
        ASSERT_EQ(store.LoadMessages(), StoreResult::kOk);
        for (int i = 0; i < 6; ++i)
            store.Add(NewRecord(Text(0, i), STATE_READ));
    }
    std::string bytes = testing::ReadFile(dir / "vok.sms");
    // The third record's number length becomes nonsense.
    const size_t third = 2 * (44 + 2 * (5 + 4));
    bytes[third + 4] = '\x7f';
    bytes[third + 7] = '\x7f';
    testing::WriteFile(dir / "vok.sms", bytes);

    CMessageStore store(dir.path());
    LoadReport report;
    ASSERT_EQ(store.LoadMessages(&report), StoreResult::kOk);
    EXPECT_EQ(report.records, 2u);
    EXPECT_EQ(report.good_length, third);
    EXPECT_EQ(report.file_length, bytes.size());
    EXPECT_TRUE(report.tail_saved);
    size_t found = 0, added = 0;
    ASSERT_EQ(store.Recover(&found, &added), StoreResult::kOk);
    EXPECT_EQ(found, 3u);  // the damaged one is not taken
    EXPECT_EQ(added, 3u);
    ASSERT_EQ(store.Recover(&found, &added), StoreResult::kOk);
    EXPECT_EQ(added, 0u);  // once only
    std::map<std::u16string, int> texts = Texts(dir.path());
    EXPECT_EQ(texts.size(), 5u);
    EXPECT_EQ(texts.count(Text(0, 2)), 0u);
    EXPECT_EQ(texts.count(Text(0, 5)), 1u);
}

}  // namespace
}  // namespace parlo
