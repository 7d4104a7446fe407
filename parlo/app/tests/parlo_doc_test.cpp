// The document's start sequence and its synchronisation operations, against
// the simulated phone registered as a modem of a scratch installation.
#include "parlo/app/parlo_doc.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "cordis/cordis.h"
#include "parlo/app/tests/doc_inside.h"
#include "parlo/store/modems.h"
#include "parlo/store/settings.h"
#include "platform/prompt.h"
#include "platform/text.h"
#include "tools/phonesim/testing/phonesim_process.h"

namespace parlo {
namespace {

class CountingProgress : public CStartProgress {
  public:
    void SetRange(int steps) override { range = steps; }
    void SetStatus(const std::u16string& text) override { statuses.push_back(text); }
    void Step() override { ++steps; }
    int range = 0;
    int steps = 0;
    std::vector<std::u16string> statuses;
};

class ParloDocTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("parlo_doc_test_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        setenv("SKYVANE_HOME", dir_.c_str(), 1);
        setenv("SKYVANE_ROOT", dir_.c_str(), 1);
        link_ = std::make_unique<CCordis>(dir_ / "comm.log");
    }
    void TearDown() override {
        link_.reset();
        phone_.reset();
        if (!HasFailure())
            std::filesystem::remove_all(dir_);
    }
    void StartRegisteredPhone() {
        nlohmann::json state = phonesim::testing::DefaultState();
        state["operator"]["name"] = "T-Mobile D";
        ASSERT_TRUE(phonesim::testing::WriteState(dir_ / "phone.json", state));
        phone_ = std::make_unique<phonesim::testing::PhonesimProcess>();
        ASSERT_TRUE(phone_->Start(
            dir_ / "phone.json", {"--register", "Phonesim", "--alias", "COM3:", "--send-ms", "0"}));
    }

    std::filesystem::path dir_;
    std::unique_ptr<CCordis> link_;
    std::unique_ptr<phonesim::testing::PhonesimProcess> phone_;
    platform::ScriptedPrompt prompt_;
};

TEST_F(ParloDocTest, WithoutAModemTheStartFailsWithAClearMessage) {
    CParloDoc doc(nullptr, &prompt_, link_.get());
    CountingProgress progress;
    EXPECT_FALSE(doc.OnNewDocument(&progress));
    ASSERT_FALSE(prompt_.texts().empty());
    EXPECT_EQ(prompt_.texts().back(), NoModemMessage());
    EXPECT_EQ(progress.steps, kStartSteps);
}

TEST_F(ParloDocTest, StartsInFiveStepsAndSynchronisesWithTheRegisteredPhone) {
    StartRegisteredPhone();
    CParloDoc doc(nullptr, &prompt_, link_.get());
    CountingProgress progress;
    ASSERT_TRUE(doc.OnNewDocument(&progress));
    EXPECT_EQ(progress.range, kStartSteps);
    EXPECT_EQ(progress.steps, kStartSteps);
    ASSERT_EQ(progress.statuses.size(), 5u);
    EXPECT_EQ(progress.statuses[0], u"Load Settings");
    EXPECT_EQ(progress.statuses[4], u"Initialisation...");
    ASSERT_EQ(doc.Ports().size(), 1u);
    EXPECT_EQ(doc.Ports()[0].m_strPort, u"COM3:");

    // The shipped database knows the phone's operator.
    doc.AddOutgoing(u"+491701234567", u"Hello from the document", false);
    ASSERT_TRUE(doc.SyncNow());
    EXPECT_TRUE(doc.Errors().Empty()) << platform::ToUtf8(doc.Errors().Text());
    EXPECT_EQ(Inside(doc).Engine().m_session.Operator().m_strName, u"T-Mobile D1");
    EXPECT_EQ(phone_->ReadState()["sms"]["sent"].size(), 1u);
}

// The window's document with a phone registered the documented ways and no
// other setting: by device path (as modem add and modem detect register it,
// with the first free alias), and by phonesim --register without an alias.
TEST_F(ParloDocTest, APhoneRegisteredWithoutCom3SynchronisesWithNoOtherSetting) {
    nlohmann::json state = phonesim::testing::DefaultState();
    state["operator"]["name"] = "T-Mobile D";
    ASSERT_TRUE(phonesim::testing::WriteState(dir_ / "phone.json", state));
    phone_ = std::make_unique<phonesim::testing::PhonesimProcess>();
    ASSERT_TRUE(phone_->Start(dir_ / "phone.json", {"--send-ms", "0"}));
    {
        platform::Registry registry = platform::Registry::Device();
        ASSERT_FALSE(AddExtModem(registry, "Nokia", phone_->device()).empty());
    }
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        CParloDoc doc(nullptr, &prompt_, link_.get());
        ASSERT_TRUE(doc.OnNewDocument());
        ASSERT_EQ(doc.Ports().size(), 1u);
        EXPECT_NE(doc.Ports()[0].m_strPort, u"COM3:");
        EXPECT_TRUE(doc.Settings().m_strConnection.empty());
        doc.AddOutgoing(u"+491701234567", u"Hello " + platform::FromUtf8(std::to_string(round)),
                        false);
        ASSERT_TRUE(doc.SyncNow());
        EXPECT_TRUE(doc.Errors().Empty()) << platform::ToUtf8(doc.Errors().Text());
        EXPECT_EQ(phone_->ReadState()["sms"]["sent"].size(), static_cast<size_t>(round + 1));
        if (round == 0) {
            // Now registered by phonesim itself, on the first free alias.
            platform::Registry registry = platform::Registry::Device();
            ASSERT_TRUE(RemoveExtModem(registry, "Nokia"));
            nlohmann::json kept = phone_->ReadState();
            phone_.reset();
            ASSERT_TRUE(phonesim::testing::WriteState(dir_ / "phone.json", kept));
            phone_ = std::make_unique<phonesim::testing::PhonesimProcess>();
            ASSERT_TRUE(phone_->Start(dir_ / "phone.json",
                                      {"--register", "Simulated phone", "--send-ms", "0"}));
        }
    }
}

TEST_F(ParloDocTest, AutomaticSynchronisationStartsWhenSwitchedOn) {
    StartRegisteredPhone();
    platform::Registry registry = platform::Registry::Device();
    CSettings s;
    s.SetDefaults();
    s.m_bAutoSync = 1;
    s.m_nAutoSyncInterval = 30;
    ASSERT_TRUE(SaveSettings(dir_, registry, s));
    CParloDoc doc(nullptr, &prompt_, link_.get());
    ASSERT_TRUE(doc.OnNewDocument());
    EXPECT_EQ(Inside(doc).Engine().m_sync.m_bAutoSyncRunning, 1);
    doc.OnCloseDocument();
    EXPECT_EQ(Inside(doc).Engine().m_sync.m_bAutoSyncRunning, 0);
}

}  // namespace
}  // namespace parlo
