// One synchronisation engine against a simulated phone in a scratch
// directory, for the benchmarks that time whole runs: the phone started on
// a given state, a store in the directory, the settings, the port and the
// operator that the engine needs, and the engine over them.
// SYNC_BENCH_KEEP=1 keeps the scratch directories (comm.log, phone state).
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cordis/cordis.h"
#include "parlo/sms/engine_view.h"
#include "parlo/sms/sms_engine.h"
#include "parlo/store/message_store.h"
#include "tools/phonesim/testing/phonesim_process.h"

namespace bench {

// An empty directory of this process under the temporary directory.
inline std::filesystem::path ScratchDir(const std::string& prefix, const std::string& name) {
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                (prefix + "_" + std::to_string(getpid()) + "_" + name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

struct EngineRun {
    std::filesystem::path dir;
    std::unique_ptr<phonesim::testing::PhonesimProcess> phone;
    std::unique_ptr<::CCordis> link;
    std::unique_ptr<parlo::CMessageStore> store;
    parlo::CSettings settings;
    std::vector<parlo::ModemEntry> ports;
    std::vector<parlo::PhoneModelRecord> phones;
    std::vector<parlo::OperatorRecord> operators;
    std::unique_ptr<parlo::CEngineView> view;
    std::unique_ptr<parlo::CSmsEngine> engine;

    // Starts the phone on `state` with `args` in `scratch` and the engine
    // over a store there, reporting to `shown` (a plain view when null).
    // `prepare` may fill the store and change the settings first.
    bool Start(const std::filesystem::path& scratch, const nlohmann::json& state,
               const std::vector<std::string>& args, std::unique_ptr<parlo::CEngineView> shown = {},
               const std::function<void(parlo::CMessageStore&, parlo::CSettings&)>& prepare = {}) {
        dir = scratch;
        setenv("SKYVANE_HOME", dir.c_str(), 1);
        setenv("SKYVANE_ROOT", dir.c_str(), 1);
        if (!phonesim::testing::WriteState(dir / "phone.json", state))
            return false;
        phone = std::make_unique<phonesim::testing::PhonesimProcess>();
        if (!phone->Start(dir / "phone.json", args))
            return false;
        link = std::make_unique<::CCordis>(dir / "comm.log");
        store = std::make_unique<parlo::CMessageStore>(dir);
        store->LoadMessages();
        settings.SetDefaults();
        settings.m_strConnection = u"Phonesim";
        if (prepare)
            prepare(*store, settings);
        std::string device = phone->device();
        ports = {parlo::ModemEntry{u"Phonesim", std::u16string(device.begin(), device.end()), 0}};
        parlo::OperatorRecord op;
        op.m_strName = u"T-Mobile D1";
        op.m_strOperatorNames[0] = u"T-MOBILED";
        op.m_strSmsCentre = u"+491710760000";
        operators = {op};
        view = shown ? std::move(shown) : std::make_unique<parlo::CEngineView>();
        parlo::CEngineContext ctx;
        ctx.cordis = link.get();
        ctx.store = store.get();
        ctx.settings = &settings;
        ctx.ports = &ports;
        ctx.phones = &phones;
        ctx.operators = &operators;
        ctx.dir = dir;
        ctx.view = view.get();
        engine = std::make_unique<parlo::CSmsEngine>(ctx);
        return true;
    }

    ~EngineRun() {
        engine.reset();
        link.reset();
        phone.reset();
        if (!dir.empty() && !std::getenv("SYNC_BENCH_KEEP"))
            std::filesystem::remove_all(dir);
    }
};

}  // namespace bench
