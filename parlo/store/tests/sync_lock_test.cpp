#include "parlo/store/sync_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "parlo/store/tests/test_util.h"
#include "platform/exclusive_file.h"

namespace parlo {
namespace {

TEST(SyncLock, OnlyOneHolderAtATimeAndALeftoverFileDoesNotBlock) {
    testing::TempDir dir;
    testing::WriteFile(dir / "vok.lock", "left behind");
    CSyncLock a, b;
    ASSERT_TRUE(a.Acquire(dir.path()));
    EXPECT_TRUE(a.held());
    EXPECT_FALSE(b.Acquire(dir.path()));
    EXPECT_FALSE(b.held());
    a.Release();
    EXPECT_TRUE(std::filesystem::exists(dir / "vok.lock"));  // never deleted
    EXPECT_TRUE(b.Acquire(dir.path()));
}

TEST(SyncLock, AnotherProgramHoldingTheFileBlocksTheSynchronisation) {
    testing::TempDir dir;
    int ready[2], stop[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(stop), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // The dial-up program: holds the lock while it uses the phone.
        platform::ExclusiveFile f;
        char c = f.Open(dir / "vok.lock") ? 'y' : 'n';
        if (write(ready[1], &c, 1) != 1)
            _exit(1);
        if (read(stop[0], &c, 1) < 0)
            _exit(1);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    CSyncLock lock;
    EXPECT_FALSE(lock.Acquire(dir.path()));
    c = 'x';
    ASSERT_EQ(write(stop[1], &c, 1), 1);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(lock.Acquire(dir.path()));
    for (int fd : {ready[0], ready[1], stop[0], stop[1]})
        close(fd);
}

TEST(SyncLock, ItsMarkTellsASynchronisationFromTheDialUpProgram) {
    testing::TempDir dir;
    EXPECT_FALSE(CSyncLock::HeldBySync(dir.path()));  // no file
    CSyncLock a;
    ASSERT_TRUE(a.Acquire(dir.path()));
    EXPECT_TRUE(CSyncLock::HeldBySync(dir.path()));
    a.Release();
    EXPECT_FALSE(CSyncLock::HeldBySync(dir.path()));
    // The mark of a program that ended without releasing is no running sync.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0)
        _exit(0);
    waitpid(pid, nullptr, 0);
    testing::WriteFile(dir / "vok.lock", "Skyvane synchronisation " + std::to_string(pid) + "\n");
    EXPECT_FALSE(CSyncLock::HeldBySync(dir.path()));
    testing::WriteFile(dir / "vok.lock", "Skyvane synchronisation 12x\n");
    EXPECT_FALSE(CSyncLock::HeldBySync(dir.path()));
}

TEST(SyncLock, ItsMarkNamesTheKindOfRun) {
    testing::TempDir dir;
    for (SyncKind kind : {SyncKind::kMessages, SyncKind::kPhonebook, SyncKind::kCall}) {
        CSyncLock a;
        ASSERT_TRUE(a.Acquire(dir.path(), kind));
        std::optional<SyncHolder> holder = CSyncLock::Holder(dir.path());
        ASSERT_TRUE(holder.has_value());
        EXPECT_EQ(holder->pid, getpid());
        EXPECT_EQ(holder->kind, kind);
        a.Release();
        EXPECT_FALSE(CSyncLock::Holder(dir.path()).has_value());
    }
    // A mark of one line (an older program) is a message synchronisation.
    testing::WriteFile(dir / "vok.lock", "Skyvane synchronisation " + std::to_string(getpid()));
    std::optional<SyncHolder> holder = CSyncLock::Holder(dir.path());
    ASSERT_TRUE(holder.has_value());
    EXPECT_EQ(holder->kind, SyncKind::kMessages);
}

// Between taking the lock and writing its mark a synchronisation leaves the
// file empty for a moment; one that looks then still sees a synchronisation.
TEST(SyncLock, AMarkWrittenJustAfterTheLockIsSeen) {
    testing::TempDir dir;
    testing::WriteFile(dir / "vok.lock", "");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        platform::ExclusiveFile f;
        char c = f.Open(dir / "vok.lock", false, true) ? 'y' : 'n';
        if (write(ready[1], &c, 1) != 1)
            _exit(1);
        usleep(30 * 1000);
        std::string mark = "Skyvane synchronisation " + std::to_string(getpid()) + "\nphonebook\n";
        if (pwrite(f.fd(), mark.data(), mark.size(), 0) != static_cast<ssize_t>(mark.size()))
            _exit(1);
        sleep(30);  // ended by the test
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    CSyncLock lock;
    EXPECT_FALSE(lock.Acquire(dir.path(), SyncKind::kMessages));
    std::optional<SyncHolder> holder = CSyncLock::Holder(dir.path());
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    ASSERT_TRUE(holder.has_value());
    EXPECT_EQ(holder->pid, pid);
    EXPECT_EQ(holder->kind, SyncKind::kPhonebook);
}

}  // namespace
}  // namespace parlo
