// What the user of the SMS client's window waits for, with the event loop's
// longest stall (a 5 ms timer records the longest gap between its turns;
// counter max_stall_ms), offscreen:
// - BM_MarkAllDelete / BM_MarkAllMove: a click on the mark column's header
//   ("mark all"), then "Delete SMS" (to the Recycle Bin) or "Move to
//   folder", on an Inbox of 10,000, 40,000 and 100,000 rows, until the rows
//   are in their new list;
// - BM_OwnSync: the window's own synchronisation adding messages from the
//   simulated phone to a store of 100,000 or 1,000,000 records (1% of them
//   purged, so that the run ends with a compaction), and 2 s after it;
// - BM_OtherProgramSync: the same run made by `parlo-cli sync` in another
//   process while the window is open, and 2 s after it (the window takes in
//   the other program's compaction);
// - BM_SortThroughView: a list of 100,000 rows in a shown QTreeView sorted by
//   each column through its header, until the view has laid out again.
// - BM_LaunchToRowsPainted: the program Parlo started as a user starts it,
//   on a store of 100,000 messages, until its list has been painted with
//   the rows (it says so on stdout when SKYVANE_REPORT_PAINTED is set);
//   counter rss_mb there is that process's resident memory.
// Counter rss_mb elsewhere: this process's resident memory at the end.
// SKYVANE_STALL_TRACE=1 prints the stack of each stall (bench/stall_trace.h).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QMenu>
#include <QTimer>
#include <QTreeView>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>

#include "parlo/app/parlo_doc.h"
#include "parlo/app/qt/application.h"
#include "parlo/app/qt/dialogs.h"
#include "parlo/app/qt/main_frame.h"
#include "parlo/app/qt/main_view.h"
#include "parlo/app/qt/message_list_model.h"
#include "parlo/app/qt/testing/no_dialogs.h"
#include "parlo/store/folder_table.h"
#include "parlo/store/message_store.h"
#include "bench/stall_trace.h"
#include "platform/binio.h"
#include "tools/phonesim/testing/phonesim_process.h"

extern char** environ;

namespace {

using namespace parlo;
using Clock = std::chrono::steady_clock;

QApplication* App() {
    static int argc = 1;
    static char name[] = "bench_parlo_stalls";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return app;
}

std::filesystem::path ScratchDir(const std::string& name) {
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("parlo_stall_bench_" + std::to_string(getpid()) + "_" + name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    setenv("SKYVANE_HOME", dir.c_str(), 1);
    setenv("SKYVANE_ROOT", dir.c_str(), 1);
    return dir;
}

// A process's resident memory in MB (0 when it cannot be read).
double RssMbOf(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kb = 0;
            status >> kb;
            return kb / 1024.0;
        }
        std::getline(status, key);
    }
    return 0;
}

double RssMb() {
    return RssMbOf(getpid());
}

CSmsMessage Record(int i, int32_t state) {
    std::u16string number = u"+49170";
    for (char c : std::to_string(1000000 + (i * 7919) % 1000000))
        number += static_cast<char16_t>(c);
    std::u16string text = u"Message ";
    for (char c : std::to_string(i))
        text += static_cast<char16_t>(c);
    text += u": an ordinary text of an ordinary length for a short message.";
    return CSmsMessage(state, number, text,
                       platform::OleDate{40000.0 + (i * 31) % 5000 + i * 1e-6, 0}, 0,
                       STORAGE_POCKETPC, -1, -1, 0);
}

// A store of `n` records: received ones in the Inbox, with every 100th
// purged when `purged` (a compaction then has something to drop).
void WriteStore(const std::filesystem::path& dir, int n, bool purged) {
    static const int32_t states[] = {STATE_READ,  STATE_READ, STATE_SENT,    STATE_READ,
                                     STATE_DRAFT, STATE_READ, STATE_DELETED, STATE_READ};
    std::string bytes;
    bytes.reserve(static_cast<size_t>(n) * 190);
    for (int i = 0; i < n; ++i) {
        int32_t state = purged ? states[i % 8] : STATE_READ;
        if (purged && i % 100 == 99)
            state = STATE_PURGED;
        AppendRecordBytes(Record(i, state), &bytes);
    }
    platform::WriteFileAtomic(dir / "vok.sms", bytes);
}

// "Move to folder" goes to `destination`.
class BenchDialogs : public parlo::testing::NoDialogs {
  public:
    int32_t destination = FOLDER_DRAFT;
    bool DestinationFolder(const DialogContext&, int32_t* folder) override {
        *folder = destination;
        return true;
    }
};

// The longest gap between two turns of the event loop while it runs.
class StallMeter {
  public:
    StallMeter() {
        tick_.setInterval(5);
        QObject::connect(&tick_, &QTimer::timeout, [this] {
            worst_ = std::max(worst_, static_cast<double>(since_.nsecsElapsed()) / 1e6);
            since_.restart();
            stall_trace::Beat();
        });
    }
    void Start() {
        worst_ = 0;
        stall_trace::Arm();
        since_.start();
        tick_.start();
    }
    // Stops it; a stall still going on counts.
    double Stop() {
        worst_ = std::max(worst_, static_cast<double>(since_.nsecsElapsed()) / 1e6);
        tick_.stop();
        stall_trace::Disarm();
        return worst_;
    }

  private:
    QTimer tick_;
    QElapsedTimer since_;
    double worst_ = 0;
};

void Spin(int ms) {
    QDeadlineTimer until(ms);
    while (!until.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

std::unique_ptr<ParloApplication> StartWindow(BenchDialogs* dialogs, bool with_phone) {
    auto app = std::make_unique<ParloApplication>(dialogs);
    StartOptions options;
    options.require_ports = with_phone;
    options.auto_sync = false;
    if (!app->Start({}, options))
        return nullptr;
    app->Frame()->show();
    Spin(200);
    return app;
}

void BulkThroughWindow(benchmark::State& state, bool move) {
    App();
    const int n = static_cast<int>(state.range(0));
    BenchDialogs dialogs;
    double worst_ms = 0, rss = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::path dir = ScratchDir("bulk");
        WriteStore(dir, n, false);
        auto app = StartWindow(&dialogs, false);
        if (!app) {
            state.SkipWithError("the window does not start");
            break;
        }
        MainView* view = app->Frame()->View();
        if (move)
            dialogs.destination = app->Doc().AddFolder(u"Kept")->m_nId;
        // "Delete SMS" in the Inbox asks where: the menu gets its answer.
        QObject::connect(app->Frame(), &MainFrame::DeleteMenuShown, [](QMenu* menu) {
            QTimer::singleShot(0, menu, [menu] {
                if (auto* a = menu->findChild<QAction*>(QString::number(ID_DELETE_POCKETPC)))
                    a->trigger();
                menu->close();
            });
        });
        const int target = move ? VIEW_USER_FOLDER : VIEW_RECYCLE;
        if (move)
            view->ShowFolder(VIEW_INBOX);
        StallMeter meter;
        meter.Start();
        state.ResumeTiming();
        view->OnHeaderClicked(VIEW_INBOX, 0);  // mark all
        // The user sees the marks, then clicks the command: two turns.
        while (view->ListsPending())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::processEvents();
        app->Frame()->RunCommand(move ? ID_MOVE_TO_FOLDER : ID_DELETE_SMS);
        QDeadlineTimer deadline(600000);
        while ((view->Model(VIEW_INBOX)->rowCount() > 0 || view->ListsPending()) &&
               !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        state.PauseTiming();
        worst_ms = std::max(worst_ms, meter.Stop());
        rss = std::max(rss, RssMb());
        if (view->Model(VIEW_INBOX)->rowCount() != 0)
            state.SkipWithError("rows left in the Inbox");
        if (!move && view->Model(target)->rowCount() != n)
            state.SkipWithError("the Recycle Bin does not hold the rows");
        app.reset();
        std::filesystem::remove_all(dir);
        state.ResumeTiming();
    }
    state.counters["rows"] = n;
    state.counters["max_stall_ms"] = worst_ms;
    state.counters["rss_mb"] = rss;
}

void BM_MarkAllDelete(benchmark::State& state) {
    BulkThroughWindow(state, false);
}
BENCHMARK(BM_MarkAllDelete)
    ->Arg(10000)
    ->Arg(40000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

void BM_MarkAllMove(benchmark::State& state) {
    BulkThroughWindow(state, true);
}
BENCHMARK(BM_MarkAllMove)
    ->Arg(10000)
    ->Arg(40000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

// A phone whose memory holds `n` received messages.
bool StartPhone(const std::filesystem::path& dir, int n,
                phonesim::testing::PhonesimProcess* phone) {
    nlohmann::json phone_state = phonesim::testing::DefaultState();
    phone_state["operator"]["name"] = "T-Mobile D";
    nlohmann::json filled = nlohmann::json::array();
    for (int i = 1; i <= n; ++i)
        filled.push_back(
            {{"index", i},
             {"status", 1},
             {"pdu", phonesim::testing::MakeDeliverPdu("+4917012345" + std::to_string(i % 100),
                                                       "Received message " + std::to_string(i))}});
    phone_state["sms"]["storages"]["ME"] = {{"size", n}, {"slots", filled}};
    phonesim::testing::WriteState(dir / "phone.json", phone_state);
    return phone->Start(dir / "phone.json",
                        {"--register", "Phonesim", "--alias", "COM3:", "--send-ms", "0"});
}

std::filesystem::path CliPath() {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    for (auto dir : {self.parent_path(), self.parent_path().parent_path() / "bin"}) {
        if (std::filesystem::exists(dir / "parlo-cli"))
            return dir / "parlo-cli";
    }
    return "parlo-cli";
}

// Runs `parlo-cli sync` while the event loop turns; its exit status.
int RunCliSync() {
    const std::string cli = CliPath().string();
    std::vector<char*> argv = {const_cast<char*>(cli.c_str()), const_cast<char*>("--no"),
                               const_cast<char*>("sync"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, cli.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void SyncStall(benchmark::State& state, bool other_program) {
    App();
    const int records = static_cast<int>(state.range(0));
    const int on_phone = static_cast<int>(state.range(1));
    BenchDialogs dialogs;
    double worst_during = 0, worst_after = 0, rss = 0;
    int inbox = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::path dir = ScratchDir(other_program ? "other" : "own");
        WriteStore(dir, records, true);
        phonesim::testing::PhonesimProcess phone;
        if (!StartPhone(dir, on_phone, &phone)) {
            state.SkipWithError("phonesim does not start");
            break;
        }
        auto app = StartWindow(&dialogs, true);
        if (!app) {
            state.SkipWithError("the client does not start");
            break;
        }
        const int before = app->Frame()->View()->Model(VIEW_INBOX)->rowCount();
        StallMeter meter;
        meter.Start();
        state.ResumeTiming();
        if (other_program) {
            if (RunCliSync() != 0) {
                state.SkipWithError("parlo-cli sync failed");
                break;
            }
        } else {
            app->Frame()->RunCommand(ID_SYNCHRONIZE);
            QDeadlineTimer deadline(1200000);
            while (app->Doc().IsSyncBusy() && !deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        worst_during = std::max(worst_during, meter.Stop());
        // After the run: what the window still does with it (taking in,
        // refilling the lists).
        meter.Start();
        QDeadlineTimer shown(120000);
        while (app->Frame()->View()->Model(VIEW_INBOX)->rowCount() < before + on_phone &&
               !shown.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        Spin(2000);
        state.PauseTiming();
        worst_after = std::max(worst_after, meter.Stop());
        rss = std::max(rss, RssMb());
        inbox = app->Frame()->View()->Model(VIEW_INBOX)->rowCount() - before;
        if (inbox < on_phone)
            state.SkipWithError("the window does not show the messages read");
        app.reset();
        std::filesystem::remove_all(dir);
        state.ResumeTiming();
    }
    state.counters["records"] = records;
    state.counters["added_rows"] = inbox;
    state.counters["max_stall_during_ms"] = worst_during;
    state.counters["max_stall_after_ms"] = worst_after;
    state.counters["rss_mb"] = rss;
}

void BM_OwnSync(benchmark::State& state) {
    SyncStall(state, false);
}
BENCHMARK(BM_OwnSync)
    ->Args({100000, 1000})
    ->Args({1000000, 250})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

void BM_OtherProgramSync(benchmark::State& state) {
    SyncStall(state, true);
}
BENCHMARK(BM_OtherProgramSync)
    ->Args({100000, 1000})
    ->Args({1000000, 250})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

void BM_SortThroughView(benchmark::State& state) {
    App();
    const int column = static_cast<int>(state.range(0));
    BenchDialogs dialogs;
    std::filesystem::path dir = ScratchDir("sort");
    WriteStore(dir, 100000, false);
    auto app = StartWindow(&dialogs, false);
    if (!app) {
        state.SkipWithError("the window does not start");
        return;
    }
    MainView* view = app->Frame()->View();
    for (auto _ : state) {
        // A click on the column's header (each one turns the order round),
        // then the list painted.
        view->OnHeaderClicked(VIEW_INBOX, column);
        view->List(VIEW_INBOX)->viewport()->repaint();
        QCoreApplication::processEvents();
    }
    state.counters["rows"] = view->Model(VIEW_INBOX)->rowCount();
    state.counters["rss_mb"] = RssMb();
    app.reset();
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_SortThroughView)->DenseRange(1, 3)->Unit(benchmark::kMillisecond);

std::filesystem::path BinPath(const std::string& name) {
    return CliPath().parent_path() / name;
}

void BM_LaunchToRowsPainted(benchmark::State& state) {
    std::filesystem::path dir = ScratchDir("launch");
    WriteStore(dir, 100000, false);
    // A registered modem: the window starts only with one.
    {
        const std::string cli = CliPath().string();
        std::string command = "'" + cli + "' modem add Bench /dev/null >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("parlo-cli modem add failed");
            return;
        }
    }
    setenv("SKYVANE_REPORT_PAINTED", "1", 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string parlo = BinPath("Parlo").string();
    double rss = 0;
    for (auto _ : state) {
        int out[2];
        if (pipe(out) != 0) {
            state.SkipWithError("no pipe");
            break;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<char*> argv = {const_cast<char*>(parlo.c_str()), nullptr};
        pid_t pid = 0;
        const auto started = Clock::now();
        const int rc = posix_spawn(&pid, parlo.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (rc != 0) {
            close(out[0]);
            state.SkipWithError("Parlo does not start");
            break;
        }
        std::string got;
        char buf[256];
        pollfd p{out[0], POLLIN, 0};
        while (got.find("painted") == std::string::npos && poll(&p, 1, 60000) > 0) {
            const ssize_t n = read(out[0], buf, sizeof buf);
            if (n <= 0)
                break;
            got.append(buf, static_cast<size_t>(n));
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - started).count());
        rss = std::max(rss, RssMbOf(pid));
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        close(out[0]);
        if (got.find("painted") == std::string::npos) {
            state.SkipWithError("Parlo never painted its rows");
            break;
        }
    }
    unsetenv("SKYVANE_REPORT_PAINTED");
    state.counters["rss_mb"] = rss;
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_LaunchToRowsPainted)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
