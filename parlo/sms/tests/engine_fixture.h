// A scratch installation with a simulated phone on a pseudo-terminal, the
// real phone link and the SMS engine over a message store in that directory.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "cordis/cordis.h"
#include "parlo/sms/sms_engine.h"
#include "parlo/sms/tests/pdu_build.h"
#include "parlo/store/message_store.h"
#include "parlo_strings.h"
#include "platform/prompt.h"
#include "platform/text.h"
#include "tools/phonesim/testing/phonesim_process.h"

namespace parlo::testing {

// Remembers what the engine showed.
class RecordingView : public CEngineView {
  public:
    void SetStatusText(const std::u16string& text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        status_.push_back(text);
    }
    void SetErrorIndicator(bool on) override {
        std::lock_guard<std::mutex> lock(mutex_);
        indicator_ = on;
        ++indicator_changes_;
    }
    void MessageAdded(CSmsMessage* rec) override {
        std::lock_guard<std::mutex> lock(mutex_);
        added_.push_back(rec);
    }
    void MessageChanged(CSmsMessage* rec) override {
        std::lock_guard<std::mutex> lock(mutex_);
        changed_.push_back(rec);
    }
    void StepProgress() override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++steps_;
    }
    std::vector<std::u16string> status() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return status_;
    }
    std::u16string last_status() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return status_.empty() ? u"" : status_.back();
    }
    bool indicator() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return indicator_;
    }
    size_t added() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return added_.size();
    }
    int steps() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return steps_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::u16string> status_;
    bool indicator_ = false;
    int indicator_changes_ = 0;
    std::vector<CSmsMessage*> added_;
    std::vector<CSmsMessage*> changed_;
    int steps_ = 0;
};

struct Slot {
    int index;
    int status;
    std::string pdu;
};

inline nlohmann::json StorageJson(int size, const std::vector<Slot>& slots) {
    nlohmann::json a = nlohmann::json::array();
    for (const Slot& s : slots)
        a.push_back({{"index", s.index}, {"status", s.status}, {"pdu", s.pdu}});
    return {{"size", size}, {"slots", a}};
}

// The operator the phone reports and the database record that matches it.
inline constexpr const char* kOperatorName = "T-Mobile D";
inline constexpr const char* kSmsCentre = "+491710760000";

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("engine_test_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        setenv("SKYVANE_HOME", dir_.c_str(), 1);
        setenv("SKYVANE_ROOT", dir_.c_str(), 1);
        state_ = phonesim::testing::DefaultState();
        state_["echo"] = true;
        state_["operator"]["name"] = kOperatorName;
        state_["smsc"] = {{"number", kSmsCentre}, {"type", 145}};
        state_["sms"]["storages"] = {{"ME", StorageJson(10, {})}, {"SM", StorageJson(5, {})}};
        OperatorRecord op;
        op.m_strName = u"T-Mobile D1";
        op.m_strOperatorNames[0] = u"TELEKOM.DE";
        op.m_strOperatorNames[2] = u"T-MOBILED";
        op.m_strSmsCentre = u"+491710760000";
        operators_.push_back(op);
        settings_.SetDefaults();
        settings_.m_strConnection = u"Phonesim";
        settings_.m_bUsePort = 0;
        store_ = std::make_unique<CMessageStore>(dir_);
        ASSERT_EQ(store_->LoadMessages(), StoreResult::kOk);
        cordis_ = std::make_unique<CCordis>(dir_ / "comm.log");
    }

    void TearDown() override {
        engine_.reset();
        cordis_.reset();
        phone_.reset();
        if (!HasFailure())
            std::filesystem::remove_all(dir_);
    }

    std::filesystem::path StatePath() const { return dir_ / "phone.json"; }

    // Writes the phone's state and starts it with `args`.
    void StartPhone(std::vector<std::string> args = {}) {
        ASSERT_TRUE(phonesim::testing::WriteState(StatePath(), state_));
        phone_ = std::make_unique<phonesim::testing::PhonesimProcess>();
        ASSERT_TRUE(phone_->Start(StatePath(), args)) << "phonesim did not start";
        ports_ = {ModemEntry{u"Phonesim", platform::WidenBytes(phone_->device()), 0}};
    }

    nlohmann::json PhoneState() const { return phone_->ReadState(); }
    std::vector<int> SlotIndexes(const std::string& storage) const {
        std::vector<int> out;
        nlohmann::json j = PhoneState();
        for (const auto& s : j["sms"]["storages"][storage]["slots"])
            out.push_back(s["index"].get<int>());
        return out;
    }
    size_t SentCount() const { return PhoneState()["sms"]["sent"].size(); }

    CSmsEngine& Engine() {
        if (!engine_) {
            CEngineContext ctx;
            ctx.cordis = cordis_.get();
            ctx.store = store_.get();
            ctx.settings = &settings_;
            ctx.ports = &ports_;
            ctx.phones = &phones_;
            ctx.operators = &operators_;
            ctx.view = &view_;
            ctx.prompt = &prompt_;
            ctx.dir = dir_;
            engine_ = std::make_unique<CSmsEngine>(ctx);
        }
        return *engine_;
    }

    CSmsMessage* AddRecord(int32_t state, const std::u16string& number, const std::u16string& text,
                           int32_t storage = STORAGE_POCKETPC, int32_t index = -1,
                           platform::OleDate time = platform::OleDate::Now()) {
        return store_->Add(
            std::make_unique<CSmsMessage>(state, number, text, time, 0, storage, index, -1, 0));
    }
    // The time of a message that DeliverPdu stamps by default, as read.
    static platform::OleDate DefaultStamp() {
        return platform::OleDate::FromLocal(2024, 3, 15, 10, 30, 0);
    }

    std::vector<CSmsMessage*> InState(int32_t state) const {
        std::vector<CSmsMessage*> out;
        for (CSmsMessage* m : store_->Snapshot())
            if (m->m_nState == state)
                out.push_back(m);
        return out;
    }

    std::u16string Error(unsigned id) const { return strings::parlo().Load(id); }
    bool Listed(unsigned id) { return Engine().m_errors.Contains(id); }

    std::filesystem::path dir_;
    nlohmann::json state_;
    CSettings settings_;
    std::vector<ModemEntry> ports_;
    std::vector<PhoneModelRecord> phones_;
    std::vector<OperatorRecord> operators_;
    std::unique_ptr<CMessageStore> store_;
    std::unique_ptr<CCordis> cordis_;
    RecordingView view_;
    platform::ScriptedPrompt prompt_;
    std::unique_ptr<phonesim::testing::PhonesimProcess> phone_;
    std::unique_ptr<CSmsEngine> engine_;
};

}  // namespace parlo::testing
