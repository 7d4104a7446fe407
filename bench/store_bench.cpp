// The message store: loading a large store, changing one record in it, and
// compaction; and what a user waits for: a whole parlo-cli run (start, load,
// command, exit) listing, showing, deleting and moving in a store of 1,000 to 100,000
// records. A typical record: a 13-digit number and a 100 to 160 character
// text (about 290 bytes on disk).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "parlo/store/message_ids.h"
#include "parlo/store/message_store.h"
#include "platform/binio.h"
#include "platform/paths.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using parlo::CMessageStore;
using parlo::CSmsMessage;

// A scratch directory holding a store of `n` typical records.
class StoreFixture {
  public:
    explicit StoreFixture(int n) {
        std::string tmpl = (fs::temp_directory_path() / "parlo-bench-XXXXXX").string();
        dir_ = mkdtemp(tmpl.data());
        std::string bytes;
        for (int i = 0; i < n; ++i) {
            CSmsMessage m(i % 13 == 0 ? parlo::STATE_DELETED : parlo::STATE_READ,
                          u"+49170" + std::u16string(7, static_cast<char16_t>(u'0' + i % 10)),
                          std::u16string(100 + i % 61, static_cast<char16_t>(u'a' + i % 26)),
                          platform::OleDate{45000.0 + i / 1000.0, 0}, 0, parlo::STORAGE_PHONE,
                          i % 250, -1, 0);
            parlo::AppendRecordBytes(m, &bytes);
        }
        bytes_ = bytes;
        Reset();
    }
    // Writes the store afresh.
    void Reset() { platform::WriteFileAtomic(dir_ / "vok.sms", bytes_); }
    ~StoreFixture() { fs::remove_all(dir_); }
    const fs::path& dir() const { return dir_; }
    size_t size() const { return bytes_.size(); }

  private:
    fs::path dir_;
    std::string bytes_;
};

// Reading the bytes alone: the floor that loading is measured against.
void BM_ReadStoreFile(benchmark::State& state) {
    StoreFixture f(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::string bytes;
        platform::ReadFileBytes(f.dir() / "vok.sms", &bytes);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.size()));
}
BENCHMARK(BM_ReadStoreFile)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_LoadMessages(benchmark::State& state) {
    StoreFixture f(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        CMessageStore store(f.dir());
        store.LoadMessages();
        benchmark::DoNotOptimize(store.Count());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.size()));
}
BENCHMARK(BM_LoadMessages)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// One state change of one record: one read and one write of that record,
// whatever the size of the store.
void BM_ChangeOneRecord(benchmark::State& state) {
    StoreFixture f(static_cast<int>(state.range(0)));
    CMessageStore store(f.dir());
    store.LoadMessages();
    CSmsMessage* rec = store.At(store.Count() / 2);
    int flip = 0;
    for (auto _ : state) {
        store.Change(rec, [&](CSmsMessage& m) { m.m_bMarked = flip ^= 1; });
    }
}
BENCHMARK(BM_ChangeOneRecord)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// An edited text: the old copy is marked deleted and the new one appended.
void BM_EditOneRecord(benchmark::State& state) {
    StoreFixture f(static_cast<int>(state.range(0)));
    CMessageStore store(f.dir());
    store.LoadMessages();
    CSmsMessage* rec = store.At(0);
    int n = 0;
    for (auto _ : state) {
        store.Change(
            rec, [&](CSmsMessage& m) { m.m_strText = u"edit " + std::u16string(n++ % 50, u'x'); });
    }
}
BENCHMARK(BM_EditOneRecord)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// Compaction drops the purged records (every 13th) and rewrites the store
// through vok.tmp, with both files synced.
void BM_CompactStore(benchmark::State& state) {
    StoreFixture f(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        f.Reset();
        CMessageStore store(f.dir());
        store.LoadMessages();
        store.ForEach([](CSmsMessage& m) {
            if (m.m_nState == parlo::STATE_DELETED)
                m.m_nState = parlo::STATE_PURGED;
        });
        state.ResumeTiming();
        store.CompactStore();
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_CompactStore)
    ->Arg(10000)
    ->Arg(30000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
// Appends under the store's lock from several processes at once: records per
// second over all of them (each process appends 200 records).
void BM_AppendsFromProcesses(benchmark::State& state) {
    const int processes = static_cast<int>(state.range(0));
    constexpr int kEach = 200;
    StoreFixture f(1000);
    for (auto _ : state) {
        std::vector<pid_t> pids;
        for (int p = 0; p < processes; ++p) {
            pid_t pid = fork();
            if (pid == 0) {
                CMessageStore store(f.dir());
                store.LoadMessages();
                for (int i = 0; i < kEach; ++i) {
                    store.Add(std::make_unique<CSmsMessage>(
                        parlo::STATE_OUTBOX, u"+4917012345678", std::u16string(120, u'x'),
                        platform::OleDate{45000.0, 0}, 0, parlo::STORAGE_POCKETPC, -1, -1, 0));
                }
                _exit(0);
            }
            pids.push_back(pid);
        }
        for (pid_t pid : pids)
            waitpid(pid, nullptr, 0);
    }
    state.counters["appends_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * processes * kEach, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AppendsFromProcesses)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

// A program that keeps a 100,000-record store open takes in one record that
// another program appended: no full reload.
void BM_TakeInOneAppend(benchmark::State& state) {
    StoreFixture f(static_cast<int>(state.range(0)));
    CMessageStore mine(f.dir());
    mine.LoadMessages();
    CMessageStore other(f.dir());
    other.LoadMessages();
    for (auto _ : state) {
        state.PauseTiming();
        other.Add(std::make_unique<CSmsMessage>(
            parlo::STATE_UNREAD, u"+4917012345678", std::u16string(140, u'y'),
            platform::OleDate{45000.0, 0}, 0, parlo::STORAGE_SIM, 1, -1, 0));
        state.ResumeTiming();
        mine.TakeInChanges();
    }
    if (mine.Count() != other.Count())
        state.SkipWithError("the appended records were not taken in");
}
BENCHMARK(BM_TakeInOneAppend)->Arg(100000)->Unit(benchmark::kMicrosecond);

// One run of parlo-cli on the fixture's store, its output dropped; false when
// it did not end with status 0.
bool RunCli(const fs::path& dir, const std::vector<std::string>& args) {
    static const fs::path program = platform::BinDir() / "parlo-cli";
    std::vector<std::string> store = {program.string(), "--yes", "--data-dir", dir.string()};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : store)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A store with one user folder, for the whole-process runs.
class CliFixture : public StoreFixture {
  public:
    explicit CliFixture(int n) : StoreFixture(n), n_(n) {
        ok_ = RunCli(dir(), {"folders", "add", "Work"});
        Reset();
        parlo::CMessageStore store(dir());
        store.LoadMessages();
        std::vector<CSmsMessage*> list = store.Snapshot();
        parlo::CMessageIds table(list);
        for (CSmsMessage* m : list)
            ids_.push_back(table.IdOf(m));
    }
    bool ok() const { return ok_; }
    // The id of record i (0-based), as 'parlo-cli list' shows it.
    std::string id(size_t i) const { return i < ids_.size() ? ids_[i] : "none"; }
    // A record in the middle of the list.
    std::string middle() const { return id(static_cast<size_t>(n_ / 2)); }

  private:
    int n_;
    bool ok_;
    std::vector<std::string> ids_;
};

// "parlo-cli list all": start, load, print every record, exit.
void BM_ProcessList(benchmark::State& state) {
    CliFixture f(static_cast<int>(state.range(0)));
    if (!f.ok())
        state.SkipWithError("parlo-cli cannot be run");
    for (auto _ : state) {
        if (!RunCli(f.dir(), {"list", "all"}))
            state.SkipWithError("list failed");
    }
}
BENCHMARK(BM_ProcessList)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// "parlo-cli list Inbox": the list the client opens with (here nearly every
// record of the store is in it).
void BM_ProcessListInbox(benchmark::State& state) {
    CliFixture f(static_cast<int>(state.range(0)));
    if (!f.ok())
        state.SkipWithError("parlo-cli cannot be run");
    for (auto _ : state) {
        if (!RunCli(f.dir(), {"list", "Inbox"}))
            state.SkipWithError("list failed");
    }
}
BENCHMARK(BM_ProcessListInbox)
    ->Arg(1000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// "parlo-cli list Work": a folder holding a few records of a large store.
void BM_ProcessListSmallFolder(benchmark::State& state) {
    CliFixture f(static_cast<int>(state.range(0)));
    if (!f.ok() || !RunCli(f.dir(), {"move", "Work", f.id(1), f.id(2), f.id(3)}))
        state.SkipWithError("parlo-cli cannot be run");
    for (auto _ : state) {
        if (!RunCli(f.dir(), {"list", "Work"}))
            state.SkipWithError("list failed");
    }
}
BENCHMARK(BM_ProcessListSmallFolder)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// "parlo-cli show ID": one record in full.
void BM_ProcessShow(benchmark::State& state) {
    CliFixture f(static_cast<int>(state.range(0)));
    if (!f.ok())
        state.SkipWithError("parlo-cli cannot be run");
    for (auto _ : state) {
        if (!RunCli(f.dir(), {"show", f.middle()}))
            state.SkipWithError("show failed");
    }
}
BENCHMARK(BM_ProcessShow)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// "parlo-cli delete ID": one record to the Recycle Bin.
void BM_ProcessDelete(benchmark::State& state) {
    CliFixture f(static_cast<int>(state.range(0)));
    if (!f.ok())
        state.SkipWithError("parlo-cli cannot be run");
    for (auto _ : state) {
        state.PauseTiming();
        f.Reset();
        state.ResumeTiming();
        if (!RunCli(f.dir(), {"delete", f.middle()}))
            state.SkipWithError("delete failed");
    }
}
BENCHMARK(BM_ProcessDelete)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// "parlo-cli move Work ID": one record into a user folder.
void BM_ProcessMove(benchmark::State& state) {
    CliFixture f(static_cast<int>(state.range(0)));
    if (!f.ok())
        state.SkipWithError("parlo-cli cannot be run");
    for (auto _ : state) {
        state.PauseTiming();
        f.Reset();
        state.ResumeTiming();
        if (!RunCli(f.dir(), {"move", "Work", f.middle()}))
            state.SkipWithError("move failed");
    }
}
BENCHMARK(BM_ProcessMove)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The floor of every run above: starting parlo-cli and ending it.
void BM_ProcessVersion(benchmark::State& state) {
    CliFixture f(1);
    for (auto _ : state) {
        if (!RunCli(f.dir(), {"version"}))
            state.SkipWithError("parlo-cli cannot be run");
    }
}
BENCHMARK(BM_ProcessVersion)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
