// A synchronisation that reads 100 messages of 3 parts each against one that
// reads 300 single messages, from the simulated phone, with "delete after
// synchronisation" off (arg 0) and on (arg 1). A single message holds 160
// septets, a part 153 after its header: both fill the 140 octets of user data,
// so the two phones send the same number of bytes and the difference is the
// cost of joining. The target: the parts cost no more than 1.1 times the
// single messages. BM_JoinParts times the joining alone, from 300 to 100,000
// parts, and fits its complexity.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/engine_run.h"
#include "parlo/sms/sms_joiner.h"
#include "platform/text.h"
#include "tools/phonesim/charset.h"
#include "tools/phonesim/sms_pdu.h"
#include "tools/phonesim/testing/phonesim_process.h"

namespace {

using namespace parlo;

constexpr int kSlots = 300;

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

std::string Text(int i, size_t length) {
    std::string text = "Message " + std::to_string(i) + ":";
    while (text.size() < length)
        text += " the quick brown fox jumps over the lazy dog";
    text.resize(length);
    return text;
}

nlohmann::json PhoneState(bool parts) {
    nlohmann::json state = phonesim::testing::DefaultState();
    state["echo"] = true;
    state["operator"]["name"] = "T-Mobile D";
    nlohmann::json slots = nlohmann::json::array();
    const std::time_t when = 1700000000;
    for (int i = 0; i < kSlots / 3; ++i) {
        std::string from = "+4917012345" + std::to_string(i % 100);
        std::vector<std::string> pdus;
        if (parts) {
            pdus = phonesim::MakeConcatDelivers(
                "+491710760000", from, phonesim::Utf8ToUtf16(Text(i, 3 * 153)), i, when + i);
        } else {
            for (int k = 0; k < 3; ++k)
                pdus.push_back(phonesim::MakeTextDeliver(
                    "+491710760000", from, phonesim::Utf8ToUtf16(Text(3 * i + k, 160)), when + i));
        }
        // The parts lie in reverse order.
        for (int k = 2; k >= 0; --k)
            slots.push_back({{"index", static_cast<int>(slots.size()) + 1},
                             {"status", i % 2},
                             {"pdu", Hex(pdus[static_cast<size_t>(k)])}});
    }
    state["sms"]["storages"] = {{"ME", {{"size", kSlots}, {"slots", slots}}},
                                {"SM", {{"size", 10}, {"slots", nlohmann::json::array()}}}};
    return state;
}

struct Run : bench::EngineRun {
    bool Start(bool parts, bool delete_after) {
        return EngineRun::Start(bench::ScratchDir("concat_bench", parts ? "parts" : "single"),
                                PhoneState(parts), {}, nullptr,
                                [delete_after](CMessageStore&, CSettings& settings) {
                                    settings.m_bDeleteAfterSync = delete_after ? 1 : 0;
                                });
    }
};

void Synchronize(benchmark::State& state, bool parts) {
    const bool delete_after = state.range(0) != 0;
    size_t records = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Run run;
        if (!run.Start(parts, delete_after)) {
            state.SkipWithError("phonesim did not start");
            break;
        }
        state.ResumeTiming();
        run.engine->m_sync.SynchronizeMessages();
        state.PauseTiming();
        records = run.store->Count();
        state.ResumeTiming();
    }
    state.counters["records"] = static_cast<double>(records);
}

void BM_SyncSingleMessages(benchmark::State& state) {
    Synchronize(state, false);
}
void BM_SyncThreePartMessages(benchmark::State& state) {
    Synchronize(state, true);
}

BENCHMARK(BM_SyncSingleMessages)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SyncThreePartMessages)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Joining alone: n parts of messages of 3 parts from 100 senders, read in
// reverse order, into an empty table, and the joined text of each message.
// The fitted complexity is to come out as O(N).
void BM_JoinParts(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::vector<CReadPart> parts;
    for (int i = n - 1; i >= 0; --i) {
        CReadPart p;
        const int message = i / 3;
        p.m_strNumber = u"+4917012345" + platform::WidenBytes(std::to_string(message % 100));
        p.m_nRef = message % 256;
        p.m_bRef16 = (message / 256) % 2 == 1;
        p.m_nTotal = 3;
        p.m_part.m_nSeq = i % 3 + 1;
        p.m_part.m_nStorage = STORAGE_PHONE;
        p.m_part.m_nSlot = i + 1;
        // A new reference cycle every 512 messages, an hour later.
        p.m_part.m_time = 45000.0 + (message / 512) / 24.0;
        p.m_part.m_strText = platform::WidenBytes(Text(i, 153));
        parts.push_back(std::move(p));
    }
    size_t messages = 0;
    for (auto _ : state) {
        CPartsFile file;
        CPartJoiner joiner(&file);
        for (const CReadPart& p : parts)
            joiner.Add(p);
        size_t units = 0;
        for (const CPartGroup& g : file.m_groups)
            units += JoinedText(g).size();
        benchmark::DoNotOptimize(units);
        messages = file.m_groups.size();
    }
    state.counters["messages"] = static_cast<double>(messages);
    state.SetComplexityN(n);
}
BENCHMARK(BM_JoinParts)
    ->RangeMultiplier(10)
    ->Range(300, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
