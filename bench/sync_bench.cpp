// Synchronisations against the simulated phone:
// - the full phone: sends 20 messages and reads 250 filled slots (200 in phone
//   memory, 50 on the SIM), at full speed and with the phone's output paced
//   at 115200 baud; once more with a phone that has no "AT+CMGL";
// - the realistic phone: 255 phone-memory slots holding 20 messages and 50
//   SIM slots holding 5, answering each command after 20 ms, at 115200 baud,
//   nothing to send.
//
// The wire-time bound is the bytes exchanged (both directions, counted once
// from the phone's transcript) at baud/10 bytes a second, plus one answer
// latency per command. Reported counters: commands, bytes, bound_s, phone_s
// (the phone's output alone), ratio = time / bound, and the phases of a run
// in seconds: send_s (connection, identification and the Outbox), read_s
// (both storages, stored as read), close_s.
// SYNC_BENCH_KEEP=1 keeps the scratch directories (comm.log, phone state).
//
// `bench_sync --write-state realistic|full|full-no-listing FILE` writes that
// phone's state file and exits, so that whole programs (parlo-cli sync,
// gammu getallsms) can be timed against the same phone: see
// bench/sync_vs_gammu.sh.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/engine_run.h"
#include "platform/text.h"
#include "tools/phonesim/testing/phonesim_process.h"
#include "tools/phonesim/transcript.h"

namespace {

using namespace parlo;

// One simulated phone of the benchmark.
struct PhoneKind {
    int me_size, me_messages, sm_size, sm_messages;
    int delay_ms;
    int outbox;
    bool listing;  // the phone answers AT+CMGL
};

const PhoneKind kFull{200, 200, 50, 50, 0, 20, true};
const PhoneKind kFullNoListing{200, 200, 50, 50, 0, 20, false};
const PhoneKind kRealistic{255, 20, 50, 5, 20, 0, true};

std::filesystem::path ScratchDir(const std::string& name) {
    return bench::ScratchDir("sync_bench", name);
}

nlohmann::json PhoneState(const PhoneKind& kind) {
    nlohmann::json state = phonesim::testing::DefaultState();
    state["echo"] = true;
    state["operator"]["name"] = "T-Mobile D";
    auto storage = [](int size, int messages, const std::string& prefix) {
        nlohmann::json slots = nlohmann::json::array();
        // The messages spread over the storage, as deletions leave them.
        for (int k = 0; k < messages; ++k) {
            int i = 1 + static_cast<int>(static_cast<long>(k) * size / messages);
            std::string text = prefix + " message " + std::to_string(i) +
                               ": the quick brown fox jumps over the lazy dog, twice over.";
            slots.push_back({{"index", i},
                             {"status", i % 2},
                             {"pdu", phonesim::testing::MakeDeliverPdu(
                                         "+4917012345" + std::to_string(i % 100), text)}});
        }
        return nlohmann::json{{"size", size}, {"slots", slots}};
    };
    state["sms"]["storages"] = {{"ME", storage(kind.me_size, kind.me_messages, "Phone")},
                                {"SM", storage(kind.sm_size, kind.sm_messages, "SIM")}};
    state["sms"]["list"] = kind.listing ? "all" : "error";
    state["timing"]["delay_ms"] = kind.delay_ms;
    state["timing"]["send_ms"] = 0;
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
    static double Seconds(Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double>(b - a).count();
    }
    Clock::time_point start, read, read_end, done;
};

struct Run : bench::EngineRun {
    PhaseView* phases = nullptr;

    bool Start(const std::string& name, const PhoneKind& kind, std::vector<std::string> args) {
        args.insert(args.end(), {"--send-ms", "0", "--delay-ms", std::to_string(kind.delay_ms)});
        auto shown = std::make_unique<PhaseView>();
        phases = shown.get();
        return EngineRun::Start(
            ScratchDir(name), PhoneState(kind), args, std::move(shown),
            [&kind](CMessageStore& store, CSettings&) {
                for (int i = 0; i < kind.outbox; ++i) {
                    std::u16string text = u"Outgoing message number ";
                    text += static_cast<char16_t>(u'A' + i);
                    text += u", a text of ordinary length for a short message.";
                    store.Add(std::make_unique<CSmsMessage>(STATE_OUTBOX, u"+491701112233", text,
                                                            platform::OleDate::Now(), 0,
                                                            STORAGE_POCKETPC, -1, -1, 0));
                }
            });
    }
};

struct WireCount {
    size_t bytes = 0;
    size_t phone_out = 0;  // the phone's share
    int commands = 0;
};

// Bytes on the line and commands in one run, from the phone's transcript.
WireCount CountWire(const PhoneKind& kind) {
    WireCount count;
    Run run;
    std::filesystem::path transcript = ScratchDir("transcript") / "transcript.txt";
    if (!run.Start("count", kind, {"--transcript", transcript.string()}))
        return count;
    run.engine->m_sync.SynchronizeMessages();
    std::string answer = run.phone->Control("commands");
    count.commands = answer.rfind("OK ", 0) == 0 ? std::atoi(answer.c_str() + 3) : 0;
    run.phone->Stop();
    std::ifstream in(transcript);
    std::stringstream text;
    text << in.rdbuf();
    std::vector<phonesim::TranscriptLine> lines;
    if (phonesim::ParseTranscript(text.str(), &lines)) {
        for (const auto& l : lines)
            if (!l.note) {
                count.bytes += l.bytes.size();
                if (!l.in)
                    count.phone_out += l.bytes.size();
            }
    }
    std::filesystem::remove_all(transcript.parent_path());
    return count;
}

void Synchronize(benchmark::State& state, const PhoneKind& kind) {
    const int baud = static_cast<int>(state.range(0));
    const WireCount wire = CountWire(kind);
    const size_t expected = static_cast<size_t>(kind.outbox + kind.me_messages + kind.sm_messages);
    double send_s = 0, read_s = 0, rest_s = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Run run;
        std::vector<std::string> args;
        if (baud)
            args = {"--baud", std::to_string(baud)};
        if (!run.Start("run", kind, args)) {
            state.SkipWithError("phonesim did not start");
            break;
        }
        state.ResumeTiming();
        run.engine->m_sync.SynchronizeMessages();
        state.PauseTiming();
        std::u16string errors = run.engine->m_errors.Text();
        size_t count = run.store->Count();
        if (!errors.empty() || count != expected) {
            state.SkipWithError(("the run did not complete: " + std::to_string(count) +
                                 " records; " + platform::ToUtf8(errors))
                                    .c_str());
            break;
        }
        send_s += PhaseView::Seconds(run.phases->start, run.phases->read);
        read_s += PhaseView::Seconds(run.phases->read, run.phases->read_end);
        rest_s += PhaseView::Seconds(run.phases->read_end, run.phases->done);
        state.ResumeTiming();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["send_s"] = send_s / n;
    state.counters["read_s"] = read_s / n;
    state.counters["close_s"] = rest_s / n;
    const double rate = (baud ? baud : 115200) / 10.0;
    const double latency = kind.delay_ms / 1000.0 * wire.commands;
    const double bound = static_cast<double>(wire.bytes) / rate + latency;
    state.counters["commands"] = wire.commands;
    state.counters["bytes"] = static_cast<double>(wire.bytes);
    state.counters["bound_s"] = bound;
    // The phone's output alone: the simulated line carries the client's bytes
    // without delay, so a run can come in under the two-way bound.
    state.counters["phone_s"] = static_cast<double>(wire.phone_out) / rate + latency;
    state.counters["ratio"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * bound,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_FullPhone(benchmark::State& state) {
    Synchronize(state, kFull);
}
void BM_FullPhoneWithoutListing(benchmark::State& state) {
    Synchronize(state, kFullNoListing);
}
void BM_RealisticPhone(benchmark::State& state) {
    Synchronize(state, kRealistic);
}

BENCHMARK(BM_FullPhone)
    ->Arg(0)
    ->Arg(115200)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK(BM_FullPhoneWithoutListing)
    ->Arg(115200)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK(BM_RealisticPhone)
    ->Arg(115200)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--write-state") {
        const std::string name = argv[2];
        const PhoneKind* kind = name == "realistic"         ? &kRealistic
                                : name == "full"            ? &kFull
                                : name == "full-no-listing" ? &kFullNoListing
                                                            : nullptr;
        if (!kind || !phonesim::testing::WriteState(argv[3], PhoneState(*kind))) {
            std::fprintf(stderr, "bench_sync: cannot write the state of phone '%s' to %s\n",
                         name.c_str(), argv[3]);
            return 1;
        }
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
