// A synchronisation that sends 20 messages and reads 250 filled slots
// (200 in phone memory, 50 on the SIM) from the simulated phone, at full speed
// and with the phone's output paced at 115200 baud.
//
// The wire-time lower bound is the number of bytes exchanged (both
// directions, counted once from the phone's transcript) divided by baud/10.
// Reported counters: bytes, bound_s (at 115200 baud), phone_s (the phone's
// output alone at 115200 baud), ratio = time / bound, and
// the phases of a run in seconds: send_s (connection, identification and the
// Outbox), read_s (both storages), merge_s (into the store), close_s.
// SYNC_BENCH_KEEP=1 keeps the scratch directories (comm.log, phone state).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cordis/cordis.h"
#include "parlo/sms/sms_engine.h"
#include "parlo/store/message_store.h"
#include "platform/text.h"
#include "tools/phonesim/testing/phonesim_process.h"
#include "tools/phonesim/transcript.h"

namespace {

using namespace parlo;

constexpr int kPhoneSlots = 200;
constexpr int kSimSlots = 50;
constexpr int kOutbox = 20;

std::filesystem::path ScratchDir(const std::string& name) {
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("sync_bench_" + std::to_string(getpid()) + "_" + name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

nlohmann::json PhoneState() {
    nlohmann::json state = phonesim::testing::DefaultState();
    state["echo"] = true;
    state["operator"]["name"] = "T-Mobile D";
    auto storage = [](int size, const std::string& prefix) {
        nlohmann::json slots = nlohmann::json::array();
        for (int i = 1; i <= size; ++i) {
            std::string text = prefix + " message " + std::to_string(i) +
                               ": the quick brown fox jumps over the lazy dog, twice over.";
            slots.push_back({{"index", i},
                             {"status", i % 2},
                             {"pdu", phonesim::testing::MakeDeliverPdu(
                                         "+4917012345" + std::to_string(i % 100), text)}});
        }
        return nlohmann::json{{"size", size}, {"slots", slots}};
    };
    state["sms"]["storages"] = {{"ME", storage(kPhoneSlots, "Phone")},
                                {"SM", storage(kSimSlots, "SIM")}};
    return state;
}

// Marks the phases of a run as the engine reports them to its view.
class PhaseView : public CEngineView {
  public:
    using Clock = std::chrono::steady_clock;
    void SetStatusText(const std::u16string& text) override {
        if (!text.empty() && start.time_since_epoch().count() == 0)
            start = Clock::now();
        if (text.empty())
            done = Clock::now();
    }
    void ShowProgress(bool shown) override {
        if (shown && read.time_since_epoch().count() == 0)
            read = Clock::now();
        if (!shown)
            read_end = Clock::now();
    }
    void MessageAdded(CSmsMessage*) override {
        if (merge.time_since_epoch().count() == 0)
            merge = Clock::now();
    }
    static double Seconds(Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double>(b - a).count();
    }
    Clock::time_point start, read, merge, read_end, done;
};

struct Run {
    std::filesystem::path dir;
    std::unique_ptr<phonesim::testing::PhonesimProcess> phone;
    std::unique_ptr<CCordis> link;
    std::unique_ptr<CMessageStore> store;
    CSettings settings;
    std::vector<ModemEntry> ports;
    std::vector<PhoneModelRecord> phones;
    std::vector<OperatorRecord> operators;
    std::unique_ptr<CSmsEngine> engine;
    PhaseView view;

    bool Start(const std::string& name, std::vector<std::string> args) {
        dir = ScratchDir(name);
        setenv("SKYVANE_HOME", dir.c_str(), 1);
        setenv("SKYVANE_ROOT", dir.c_str(), 1);
        if (!phonesim::testing::WriteState(dir / "phone.json", PhoneState()))
            return false;
        args.insert(args.end(), {"--send-ms", "0"});
        phone = std::make_unique<phonesim::testing::PhonesimProcess>();
        if (!phone->Start(dir / "phone.json", args))
            return false;
        link = std::make_unique<CCordis>(dir / "comm.log");
        store = std::make_unique<CMessageStore>(dir);
        store->LoadMessages();
        for (int i = 0; i < kOutbox; ++i) {
            std::u16string text = u"Outgoing message number ";
            text += static_cast<char16_t>(u'A' + i);
            text += u", a text of ordinary length for a short message.";
            store->Add(std::make_unique<CSmsMessage>(STATE_OUTBOX, u"+491701112233", text,
                                                     platform::OleDate::Now(), 0, STORAGE_POCKETPC,
                                                     -1, -1, 0));
        }
        settings.SetDefaults();
        settings.m_strConnection = u"Phonesim";
        std::string device = phone->device();
        ports = {ModemEntry{u"Phonesim", std::u16string(device.begin(), device.end()), 0}};
        OperatorRecord op;
        op.m_strName = u"T-Mobile D1";
        op.m_strOperatorNames[0] = u"T-MOBILED";
        op.m_strSmsCentre = u"+491710760000";
        operators = {op};
        CEngineContext ctx;
        ctx.cordis = link.get();
        ctx.store = store.get();
        ctx.settings = &settings;
        ctx.ports = &ports;
        ctx.phones = &phones;
        ctx.operators = &operators;
        ctx.dir = dir;
        ctx.view = &view;
        engine = std::make_unique<CSmsEngine>(ctx);
        return true;
    }

    ~Run() {
        engine.reset();
        link.reset();
        phone.reset();
        if (!std::getenv("SYNC_BENCH_KEEP"))
            std::filesystem::remove_all(dir);
    }
};

// Bytes on the line in one run, from the phone's transcript; `phone_out`
// receives the phone's share.
size_t CountWireBytes(size_t* phone_out) {
    Run run;
    std::filesystem::path transcript = ScratchDir("transcript") / "transcript.txt";
    if (!run.Start("count", {"--transcript", transcript.string()}))
        return 0;
    run.engine->m_sync.SynchronizeMessages();
    run.phone->Stop();
    std::ifstream in(transcript);
    std::stringstream text;
    text << in.rdbuf();
    std::vector<phonesim::TranscriptLine> lines;
    size_t bytes = 0;
    if (phonesim::ParseTranscript(text.str(), &lines)) {
        for (const auto& l : lines)
            if (!l.note) {
                bytes += l.bytes.size();
                if (!l.in)
                    *phone_out += l.bytes.size();
            }
    }
    std::filesystem::remove_all(transcript.parent_path());
    return bytes;
}

void BM_Synchronize(benchmark::State& state) {
    const int baud = static_cast<int>(state.range(0));
    static size_t phone_out = 0;
    static const size_t bytes = CountWireBytes(&phone_out);
    double send_s = 0, read_s = 0, merge_s = 0, rest_s = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Run run;
        std::vector<std::string> args;
        if (baud)
            args = {"--baud", std::to_string(baud)};
        if (!run.Start("run", args)) {
            state.SkipWithError("phonesim did not start");
            break;
        }
        state.ResumeTiming();
        run.engine->m_sync.SynchronizeMessages();
        state.PauseTiming();
        std::u16string errors = run.engine->m_errors.Text();
        size_t count = run.store->Count();
        if (!errors.empty() || count != kOutbox + kPhoneSlots + kSimSlots) {
            state.SkipWithError(("the run did not complete: " + std::to_string(count) +
                                 " records; " + platform::ToUtf8(errors))
                                    .c_str());
            break;
        }
        send_s += PhaseView::Seconds(run.view.start, run.view.read);
        read_s += PhaseView::Seconds(run.view.read, run.view.merge);
        merge_s += PhaseView::Seconds(run.view.merge, run.view.read_end);
        rest_s += PhaseView::Seconds(run.view.read_end, run.view.done);
        state.ResumeTiming();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["send_s"] = send_s / n;
    state.counters["read_s"] = read_s / n;
    state.counters["merge_s"] = merge_s / n;
    state.counters["close_s"] = rest_s / n;
    const double rate = (baud ? baud : 115200) / 10.0;
    state.counters["bytes"] = static_cast<double>(bytes);
    state.counters["bound_s"] = bytes / rate;
    // The phone's output alone: the simulated line carries the client's bytes
    // without delay, so a run can come in under the two-way bound.
    state.counters["phone_s"] = phone_out / rate;
    state.counters["ratio"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * (bytes / rate),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_Synchronize)
    ->Arg(0)
    ->Arg(115200)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
