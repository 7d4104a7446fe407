// Bulk changes and compaction: what they write, counted at the file-system
// seam, and what the store and other programs see afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "parlo/store/message_store.h"
#include "parlo/store/tests/test_util.h"
#include "platform/file_env.h"
#include "platform/testing/faulty_env.h"

namespace parlo {
namespace {

using testing::ReadFile;
using testing::TempDir;

// Counts the changes made through the seam, per file name.
class CountingEnv : public platform::FileEnv {
  public:
    CountingEnv() { previous_ = platform::SetEnvForTesting(this); }
    ~CountingEnv() override { platform::SetEnvForTesting(previous_); }

    struct Counts {
        int opens = 0;  // opens that may write
        int writes = 0;
        uint64_t bytes = 0;
        int syncs = 0;
    };
    Counts Of(const std::string& name) {
        std::lock_guard lock(mutex_);
        return counts_[name];
    }
    int renames() {
        std::lock_guard lock(mutex_);
        return renames_;
    }

    int Open(const std::filesystem::path& path, int flags, int mode) override {
        int fd = FileEnv::Open(path, flags, mode);
        std::lock_guard lock(mutex_);
        if (fd >= 0) {
            names_[fd] = path.filename().string();
            if (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC))
                ++counts_[names_[fd]].opens;
        }
        return fd;
    }
    int64_t WriteAt(int fd, uint64_t offset, const void* data, size_t n) override {
        {
            std::lock_guard lock(mutex_);
            Counts& c = counts_[names_[fd]];
            ++c.writes;
            c.bytes += n;
        }
        return FileEnv::WriteAt(fd, offset, data, n);
    }
    bool Sync(int fd) override {
        {
            std::lock_guard lock(mutex_);
            ++counts_[names_[fd]].syncs;
        }
        return FileEnv::Sync(fd);
    }
    bool Rename(const std::filesystem::path& from, const std::filesystem::path& to) override {
        {
            std::lock_guard lock(mutex_);
            ++renames_;
        }
        return FileEnv::Rename(from, to);
    }

  private:
    platform::FileEnv* previous_;
    std::mutex mutex_;
    std::map<int, std::string> names_;
    std::map<std::string, Counts> counts_;
    int renames_ = 0;
};

std::unique_ptr<CSmsMessage> Msg(int32_t state, std::u16string number, std::u16string text) {
    return std::make_unique<CSmsMessage>(state, std::move(number), std::move(text),
                                         platform::OleDate{45000.5, 0}, 0, STORAGE_POCKETPC, -1, -1,
                                         0);
}

std::vector<CSmsMessage*> Fill(CMessageStore& store, int n) {
    std::vector<CSmsMessage*> recs;
    for (int i = 0; i < n; ++i) {
        recs.push_back(
            store.Add(Msg(i % 2 ? STATE_READ : STATE_UNREAD, u"+4917" + std::u16string(i % 7, u'0'),
                          u"text " + std::u16string(i % 13, u'x'))));
    }
    return recs;
}

TEST(MessageStoreBatch, ABulkChangeWritesEachRecordOnceInOneWriteAndOneLogBatch) {
    TempDir dir;
    CMessageStore store(dir.path());
    store.LoadMessages();
    std::vector<CSmsMessage*> recs = Fill(store, 60);
    CMessageStore other(dir.path());  // another program
    other.LoadMessages();
    size_t other_changed = 0;
    other.SetTakenInListener([&](const TakenIn& t) { other_changed += t.changed.size(); });

    // Every record but the first and the last two: a delete of marked rows.
    std::vector<CSmsMessage*> chosen(recs.begin() + 1, recs.end() - 2);
    const uint64_t size_before = std::filesystem::file_size(dir / "vok.sms");
    StoreResult r;
    CountingEnv::Counts store_writes, log_writes;
    {
        CountingEnv env;
        r = store.ChangeMany(chosen, [](CSmsMessage& m) {
            m.m_nState = STATE_DELETED;
            m.m_nFolderId = 0;
        });
        store_writes = env.Of("vok.sms");
        log_writes = env.Of("vok.sms.lock");
    }
    ASSERT_EQ(r, StoreResult::kOk);
    // One write of the span that holds them, one of the log entries.
    EXPECT_EQ(store_writes.writes, 1);
    EXPECT_EQ(log_writes.writes, 1);
    EXPECT_EQ(std::filesystem::file_size(dir / "vok.sms"), size_before);

    CMessageStore again(dir.path());
    again.LoadMessages();
    ASSERT_EQ(again.Count(), 60u);
    for (size_t i = 0; i < 60; ++i) {
        const bool changed = i >= 1 && i < 58;
        EXPECT_EQ(again.At(i)->m_nState == STATE_DELETED, changed) << i;
        EXPECT_EQ(again.At(i)->m_strText, recs[i]->m_strText);
    }
    // The other program follows the log entry by entry, without a reload.
    ASSERT_EQ(other.TakeInChanges(), StoreResult::kOk);
    EXPECT_EQ(other_changed, chosen.size());
    EXPECT_EQ(other.At(30)->m_nState, STATE_DELETED);
    EXPECT_EQ(other.At(0)->m_nState, STATE_UNREAD);
}

TEST(MessageStoreBatch, ARecordWhoseStoredTextDiffersIsNotWrittenOverItsNeighbours) {
    TempDir dir;
    CMessageStore store(dir.path());
    store.LoadMessages();
    std::vector<CSmsMessage*> recs = Fill(store, 10);
    // A draft edited while the disk was full: the new, longer text lives in
    // memory only. Rewritten in place it would run over the next record.
    {
        platform::testing::FaultyEnv env;
        env.FailNth(platform::testing::FaultyEnv::Op::kWrite, 2);  // the record, not its note
        EXPECT_NE(store.Change(recs[3], [](CSmsMessage& m) { m.m_strText = u"a longer text now"; }),
                  StoreResult::kOk);
    }
    std::vector<CSmsMessage*> chosen = {recs[2], recs[3], recs[4]};
    ASSERT_EQ(store.ChangeMany(chosen, [](CSmsMessage& m) { m.m_nState = STATE_DELETED; }),
              StoreResult::kOk);

    CMessageStore again(dir.path());
    LoadReport rep;
    again.LoadMessages(&rep);
    EXPECT_EQ(rep.good_length, rep.file_length);
    // The ten records (the old version of the draft in the Recycle Bin) and
    // the new version appended.
    ASSERT_EQ(again.Count(), 11u);
    for (size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(again.At(i)->m_nState == STATE_DELETED, i >= 2 && i <= 4) << i;
        if (i != 3) {
            EXPECT_EQ(again.At(i)->m_strText, recs[i]->m_strText) << i;
        }
    }
    EXPECT_EQ(again.At(10)->m_strText, u"a longer text now");
    EXPECT_EQ(again.At(10)->m_nState, STATE_DELETED);
}

TEST(MessageStoreBatch, ChangingAWholeFolderIsOneBulkChange) {
    TempDir dir;
    CMessageStore store(dir.path());
    store.LoadMessages();
    Fill(store, 40);
    StoreResult r;
    std::vector<CSmsMessage*> changed;
    CountingEnv::Counts writes;
    {
        CountingEnv env;
        changed = store.ChangeAllInState(STATE_UNREAD, STATE_READ, -1, &r);
        writes = env.Of("vok.sms");
    }
    EXPECT_EQ(r, StoreResult::kOk);
    EXPECT_EQ(changed.size(), 20u);
    EXPECT_EQ(writes.writes, 1);
    CMessageStore again(dir.path());
    again.LoadMessages();
    ASSERT_EQ(again.Count(), 40u);
    for (size_t i = 0; i < again.Count(); ++i)
        EXPECT_EQ(again.At(i)->m_nState, STATE_READ);
}

TEST(MessageStoreCompactionCost, WritesTheNewStoreOnceWithOneSync) {
    TempDir dir;
    CMessageStore store(dir.path());
    store.LoadMessages();
    std::vector<CSmsMessage*> recs = Fill(store, 30);
    store.Change(recs[7], [](CSmsMessage& m) { m.m_nState = STATE_PURGED; });
    CountingEnv::Counts sms, tmp;
    int renames = 0;
    {
        CountingEnv env;
        ASSERT_EQ(store.CompactStore(), StoreResult::kOk);
        sms = env.Of("vok.sms");
        tmp = env.Of("vok.tmp");
        renames = env.renames();
    }
    const uint64_t size = std::filesystem::file_size(dir / "vok.sms");
    EXPECT_EQ(tmp.bytes, size);
    EXPECT_EQ(tmp.syncs, 1);
    EXPECT_EQ(sms.writes, 0);
    EXPECT_EQ(renames, 1);
    EXPECT_EQ(store.Count(), 29u);
}

// With nothing purged the store stays as it is: no rewrite, no new epoch,
// so other programs have nothing to load again. A record that could not be
// stored still gets its compaction.
TEST(MessageStoreCompactionCost, NothingPurgedWritesNothing) {
    TempDir dir;
    CMessageStore store(dir.path());
    store.LoadMessages();
    std::vector<CSmsMessage*> recs = Fill(store, 30);
    CMessageStore other(dir.path());
    other.LoadMessages();
    bool reset = false;
    other.SetTakenInListener([&](const TakenIn& taken) { reset = reset || taken.reset; });
    {
        CountingEnv env;
        ASSERT_EQ(store.CompactStore(), StoreResult::kOk);
        EXPECT_EQ(env.Of("vok.tmp").writes, 0);
        EXPECT_EQ(env.Of("vok.sms").writes, 0);
        EXPECT_EQ(env.renames(), 0);
    }
    ASSERT_EQ(other.TakeInChanges(), StoreResult::kOk);
    EXPECT_FALSE(reset);
    EXPECT_EQ(store.Count(), 30u);
    // Purged by the other program: the next compaction drops it.
    other.Change(other.At(3), [](CSmsMessage& m) { m.m_nState = STATE_PURGED; });
    ASSERT_EQ(store.CompactStore(), StoreResult::kOk);
    EXPECT_EQ(store.Count(), 29u);
    (void)recs;
}

// A reader of the list (the user interface) does not wait for the file work
// of a compaction: the write and the sync happen without the list lock.
TEST(MessageStoreCompactionCost, ReadersOfTheListDoNotWaitForTheCompactionsFileWork) {
    TempDir dir;
    CMessageStore store(dir.path());
    store.LoadMessages();
    std::vector<CSmsMessage*> recs = Fill(store, 10);
    store.Change(recs[0], [](CSmsMessage& m) { m.m_nState = STATE_PURGED; });

    // A file system whose sync of "vok.tmp" waits until the test lets it go
    // (or 5 s pass: then a reader was kept waiting).
    class HeldSync : public CountingEnv {
      public:
        bool Sync(int fd) override {
            {
                std::unique_lock lock(m);
                syncing = true;
                cv.notify_all();
                timed_out = !cv.wait_for(lock, std::chrono::seconds(5), [&] { return go; });
            }
            return CountingEnv::Sync(fd);
        }
        std::mutex m;
        std::condition_variable cv;
        bool syncing = false, go = false, timed_out = false;
    } env;
    std::thread compactor([&] { store.CompactStore(); });
    {
        std::unique_lock lock(env.m);
        env.cv.wait(lock, [&] { return env.syncing; });
    }
    // Mid-compaction: the list reads and copies as before.
    CSmsMessage copy;
    EXPECT_TRUE(store.Read(recs[5], &copy));
    EXPECT_EQ(copy.m_strText, recs[5]->m_strText);
    EXPECT_EQ(store.Count(), 10u);
    {
        std::lock_guard lock(env.m);
        env.go = true;
    }
    env.cv.notify_all();
    compactor.join();
    EXPECT_FALSE(env.timed_out);
    EXPECT_EQ(store.Count(), 9u);
}

}  // namespace
}  // namespace parlo
