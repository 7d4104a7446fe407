// A synchronisation that reads 100 messages of 3 parts each against one that
// reads 300 single messages, from the simulated phone, with "delete after
// synchronisation" off (arg 0) and on (arg 1). A single message holds 160
// septets, a part 153 after its header: both fill the 140 octets of user data,
// so the two phones send the same number of bytes and the difference is the
// cost of joining. The target: the parts cost no more than 1.1 times the
// single messages.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cordis/cordis.h"
#include "parlo/sms/sms_engine.h"
#include "parlo/store/message_store.h"
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
    CEngineView view;

    bool Start(bool parts, bool delete_after) {
        dir = std::filesystem::temp_directory_path() /
              ("concat_bench_" + std::to_string(getpid()) + (parts ? "_parts" : "_single"));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        setenv("SKYVANE_HOME", dir.c_str(), 1);
        setenv("SKYVANE_ROOT", dir.c_str(), 1);
        if (!phonesim::testing::WriteState(dir / "phone.json", PhoneState(parts)))
            return false;
        phone = std::make_unique<phonesim::testing::PhonesimProcess>();
        if (!phone->Start(dir / "phone.json", {}))
            return false;
        link = std::make_unique<CCordis>(dir / "comm.log");
        store = std::make_unique<CMessageStore>(dir);
        store->LoadMessages();
        settings.SetDefaults();
        settings.m_strConnection = u"Phonesim";
        settings.m_bDeleteAfterSync = delete_after ? 1 : 0;
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
        std::filesystem::remove_all(dir);
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

}  // namespace

BENCHMARK_MAIN();
