// The SMS client's main window:
// - BM_WindowUp: a store of 100,000 messages; from a started document to the
//   main window shown, every list filled and the event loop answering
//   (counter load_s: the document's start sequence before it);
// - BM_Sort: one list of 100,000 rows sorted by each column;
// - BM_BulkDelete: "mark all" and "Delete SMS" on an Inbox of 10,000,
//   40,000 and 100,000 rows, through the window until the rows are in the
//   Recycle Bin list (all of it on the GUI thread: the time is the stall);
// - BM_SyncStall: a synchronisation that adds 250 messages from the
//   simulated phone while the window runs; counter max_stall_ms is the
//   longest gap between two turns of the event loop (a 5 ms timer).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <memory>

#include "parlo/app/parlo_doc.h"
#include "parlo/app/qt/application.h"
#include "parlo/app/qt/dialogs.h"
#include "parlo/app/qt/main_frame.h"
#include "parlo/app/qt/main_view.h"
#include "parlo/app/qt/message_list_model.h"
#include "parlo/app/qt/testing/no_dialogs.h"
#include "parlo/store/message_store.h"
#include "platform/binio.h"
#include "tools/phonesim/testing/phonesim_process.h"

namespace {

using namespace parlo;
using Clock = std::chrono::steady_clock;

constexpr int kRecords = 100000;

QApplication* App() {
    static int argc = 1;
    static char name[] = "bench_parlo_window";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return app;
}

std::filesystem::path ScratchDir(const std::string& name) {
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("parlo_window_bench_" + std::to_string(getpid()) + "_" + name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    setenv("SKYVANE_HOME", dir.c_str(), 1);
    setenv("SKYVANE_ROOT", dir.c_str(), 1);
    return dir;
}

CSmsMessage Record(int i) {
    static const int32_t states[] = {STATE_UNREAD, STATE_READ,  STATE_READ,    STATE_SENT,
                                     STATE_OUTBOX, STATE_DRAFT, STATE_DELETED, STATE_READ};
    std::u16string number = u"+49170";
    for (char c : std::to_string(1000000 + (i * 7919) % 1000000))
        number += static_cast<char16_t>(c);
    std::u16string text = u"Message ";
    for (char c : std::to_string((i * 104729) % kRecords))
        text += static_cast<char16_t>(c);
    text += u": an ordinary text of an ordinary length for a short message.";
    return CSmsMessage(states[i % 8], number, text,
                       platform::OleDate{40000.0 + (i * 31) % 5000 + i * 1e-6, 0}, 0,
                       STORAGE_POCKETPC, -1, -1, 0);
}

void WriteStore(const std::filesystem::path& dir) {
    std::string bytes;
    for (int i = 0; i < kRecords; ++i)
        AppendRecordBytes(Record(i), &bytes);
    platform::WriteFileAtomic(dir / "vok.sms", bytes);
}

using parlo::testing::NoDialogs;

void BM_WindowUp(benchmark::State& state) {
    App();
    std::filesystem::path dir = ScratchDir("up");
    WriteStore(dir);
    NoDialogs dialogs;
    double load_s = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // The document's start sequence (the store load) is not the window's.
        auto started = Clock::now();
        auto app = std::make_unique<ParloApplication>(&dialogs);
        StartOptions options;
        options.require_ports = false;
        options.auto_sync = false;
        state.ResumeTiming();
        app->Start({}, options);  // includes the load: see load_s
        bool answered = false;
        QTimer::singleShot(0, [&] { answered = true; });
        while (!answered)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        state.PauseTiming();
        load_s += std::chrono::duration<double>(Clock::now() - started).count();
        if (app->Frame()->View()->Model(VIEW_INBOX)->rowCount() == 0)
            state.SkipWithError("the Inbox is empty");
        app.reset();
        state.ResumeTiming();
    }
    state.counters["records"] = kRecords;
    // Time of the document's load alone, for comparison.
    {
        CMessageStore store(dir);
        auto t0 = Clock::now();
        store.LoadMessages();
        state.counters["store_load_s"] = std::chrono::duration<double>(Clock::now() - t0).count();
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_WindowUp)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Sort(benchmark::State& state) {
    App();
    const int column = static_cast<int>(state.range(0));
    MessageListModel model(VIEW_INBOX, nullptr);
    std::vector<std::pair<CSmsMessage*, CSmsMessage>> rows;
    std::vector<std::unique_ptr<CSmsMessage>> keys;
    for (int i = 0; i < kRecords; ++i) {
        CSmsMessage rec = Record(i);
        rec.m_nState = STATE_READ;
        keys.push_back(std::make_unique<CSmsMessage>(rec));
        rows.emplace_back(keys.back().get(), rec);
    }
    model.Reset(std::move(rows));
    bool descending = false;
    for (auto _ : state) {
        model.SortBy(column, descending);
        descending = !descending;
    }
    state.counters["rows"] = model.rowCount();
}
BENCHMARK(BM_Sort)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

void BM_BulkDelete(benchmark::State& state) {
    App();
    const int n = static_cast<int>(state.range(0));
    NoDialogs dialogs;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::path dir = ScratchDir("bulk");
        std::string bytes;
        for (int i = 0; i < n; ++i) {
            CSmsMessage rec = Record(i);
            rec.m_nState = STATE_READ;
            AppendRecordBytes(rec, &bytes);
        }
        platform::WriteFileAtomic(dir / "vok.sms", bytes);
        auto app = std::make_unique<ParloApplication>(&dialogs);
        StartOptions options;
        options.require_ports = false;
        options.auto_sync = false;
        app->Start({}, options);
        QCoreApplication::processEvents();
        MainView* view = app->Frame()->View();
        CParloDoc& doc = app->Doc();
        state.ResumeTiming();
        doc.SetMarks(view->Model(VIEW_INBOX)->Keys(), true);
        QCoreApplication::processEvents();
        doc.DeleteMarked(DELETE_POCKETPC_ONLY, VIEW_INBOX, view->Model(VIEW_INBOX)->Keys(),
                         nullptr);
        while (view->Model(VIEW_RECYCLE)->rowCount() < n)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        state.PauseTiming();
        if (view->Model(VIEW_INBOX)->rowCount() != 0)
            state.SkipWithError("rows left in the Inbox");
        app.reset();
        std::filesystem::remove_all(dir);
        state.ResumeTiming();
    }
    state.counters["rows"] = n;
}
BENCHMARK(BM_BulkDelete)
    ->Arg(10000)
    ->Arg(40000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

void BM_SyncStall(benchmark::State& state) {
    App();
    NoDialogs dialogs;
    double worst_ms = 0;
    int added = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::path dir = ScratchDir("sync");
        nlohmann::json phone_state = phonesim::testing::DefaultState();
        // An operator the device database knows: its SMS centre is used.
        phone_state["operator"]["name"] = "T-Mobile D";
        nlohmann::json filled = nlohmann::json::array();
        for (int i = 1; i <= 250; ++i)
            filled.push_back({{"index", i},
                              {"status", 1},
                              {"pdu", phonesim::testing::MakeDeliverPdu(
                                          "+4917012345" + std::to_string(i % 100),
                                          "Received message " + std::to_string(i))}});
        phone_state["sms"]["storages"]["ME"] = {{"size", 250}, {"slots", filled}};
        phonesim::testing::WriteState(dir / "phone.json", phone_state);
        phonesim::testing::PhonesimProcess phone;
        if (!phone.Start(dir / "phone.json",
                         {"--register", "Phonesim", "--alias", "COM3:", "--send-ms", "0"})) {
            state.SkipWithError("phonesim does not start");
            break;
        }
        auto app = std::make_unique<ParloApplication>(&dialogs);
        StartOptions options;
        options.auto_sync = false;
        if (!app->Start({}, options)) {
            state.SkipWithError("the client does not start");
            break;
        }
        state.ResumeTiming();
        QElapsedTimer since;
        since.start();
        double worst = 0;
        QTimer tick;
        tick.setInterval(5);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            worst = std::max(worst, static_cast<double>(since.nsecsElapsed()) / 1e6);
            since.restart();
        });
        tick.start();
        app->Frame()->RunCommand(ID_SYNCHRONIZE);
        QDeadlineTimer deadline(600000);
        while (app->Doc().IsSyncBusy() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::processEvents();
        tick.stop();
        state.PauseTiming();
        worst_ms = std::max(worst_ms, worst);
        added = app->Frame()->View()->Model(VIEW_INBOX)->rowCount();
        if (added < 250)
            state.SkipWithError("the synchronisation did not bring the 250 messages");
        app.reset();
        std::filesystem::remove_all(dir);
        state.ResumeTiming();
    }
    state.counters["max_stall_ms"] = worst_ms;
    state.counters["inbox_rows"] = added;
}
BENCHMARK(BM_SyncStall)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
