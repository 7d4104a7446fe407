// Which phone a synchronisation uses: a phone registered the documented ways
// (modem add, modem detect, phonesim --register) is used with no other
// setting, and with several the one chosen with "options connection".
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "parlo/cli/cli.h"
#include "platform/prompt.h"
#include "platform/text.h"
#include "tools/phonesim/testing/phonesim_process.h"

namespace cli {
int CmdSync(Context& ctx);
int CmdOptions(Context& ctx);
int CmdModem(Context& ctx);
}  // namespace cli

namespace {

namespace fs = std::filesystem;

struct CmdRun {
    int status;
    std::string out;
    std::string err;
    std::vector<std::u16string> prompts;
    std::string Prompts() const {
        std::string all;
        for (const std::u16string& p : prompts)
            all += platform::ToUtf8(p) + "\n";
        return all;
    }
};

class CmdConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("cmd_connection_test_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        setenv("SKYVANE_HOME", dir_.c_str(), 1);
        setenv("SKYVANE_ROOT", dir_.c_str(), 1);
    }
    void TearDown() override {
        phones_.clear();
        if (!HasFailure())
            fs::remove_all(dir_);
    }
    // A phone whose SIM holds one message with `text`.
    phonesim::testing::PhonesimProcess* StartPhone(const std::string& text,
                                                   std::vector<std::string> args = {}) {
        nlohmann::json state = phonesim::testing::DefaultState();
        state["operator"]["name"] = "T-Mobile D";  // in the shipped database
        state["sms"]["storages"]["SM"]["slots"] = {
            {{"index", 1},
             {"status", 1},
             {"pdu", phonesim::testing::MakeDeliverPdu("+491701234567", text)}}};
        const fs::path file = dir_ / ("phone" + std::to_string(phones_.size()) + ".json");
        EXPECT_TRUE(phonesim::testing::WriteState(file, state));
        auto phone = std::make_unique<phonesim::testing::PhonesimProcess>();
        args.insert(args.end(), {"--send-ms", "0"});
        EXPECT_TRUE(phone->Start(file, args));
        phones_.push_back(std::move(phone));
        return phones_.back().get();
    }
    CmdRun Run(int (*fn)(cli::Context&), std::vector<std::string> args) {
        std::ostringstream out, err;
        platform::ScriptedPrompt prompt;
        prompt.SetDefault(platform::Answer::Ok);
        cli::Context ctx{std::move(args), dir_, true, false, out, err, prompt};
        int status = fn(ctx);
        return {status, out.str(), err.str(), prompt.texts()};
    }
    // A synchronisation that must read `text` from the phone.
    void ExpectSyncReads(const std::string& text) {
        CmdRun sync = Run(cli::CmdSync, {});
        EXPECT_EQ(sync.status, cli::kOk) << sync.out << sync.err << sync.Prompts();
        EXPECT_NE(sync.out.find("+491701234567: " + text), std::string::npos) << sync.out;
    }

    fs::path dir_;
    std::vector<std::unique_ptr<phonesim::testing::PhonesimProcess>> phones_;
};

TEST_F(CmdConnectionTest, ModemAddIsAllASynchronisationNeeds) {
    auto* phone = StartPhone("Added");
    CmdRun add = Run(cli::CmdModem, {"add", "Nokia", phone->device()});
    ASSERT_EQ(add.status, cli::kOk) << add.err;
    EXPECT_NE(add.out.find("the client now uses Nokia"), std::string::npos) << add.out;
    EXPECT_EQ(add.err.find("held open"), std::string::npos)
        << "the phone on the other end of the line is no rival: " << add.err;
    ExpectSyncReads("Added");
    CmdRun shown = Run(cli::CmdOptions, {});
    EXPECT_NE(shown.out.find("connection         Nokia\n"), std::string::npos) << shown.out;

    // A second modem does not take over the chosen one.
    auto* other = StartPhone("Other");
    CmdRun second = Run(cli::CmdModem, {"add", "Spare", other->device()});
    ASSERT_EQ(second.status, cli::kOk) << second.err;
    EXPECT_EQ(second.out.find("now uses"), std::string::npos) << second.out;
    CmdRun again = Run(cli::CmdSync, {});
    EXPECT_EQ(again.status, cli::kOk) << again.out << again.err << again.Prompts();
    EXPECT_EQ(again.out.find("Other"), std::string::npos) << again.out;
}

TEST_F(CmdConnectionTest, ModemDetectIsAllASynchronisationNeeds) {
    auto* phone = StartPhone("Detected");
    // A USB serial device as sysfs and /dev show it, leading to the phone.
    const fs::path sysfs = dir_ / "sys", dev = dir_ / "dev";
    fs::create_directories(sysfs / "ttyUSB0");
    fs::create_directories(dev);
    fs::create_symlink(phone->device(), dev / "ttyUSB0");
    CmdRun detect =
        Run(cli::CmdModem, {"detect", "--sysfs", sysfs.string(), "--dev", dev.string()});
    ASSERT_EQ(detect.status, cli::kOk) << detect.out << detect.err;
    EXPECT_EQ(detect.out.find("Skipping"), std::string::npos) << detect.out;
    EXPECT_NE(detect.out.find("the client now uses"), std::string::npos) << detect.out;
    ExpectSyncReads("Detected");
}

TEST_F(CmdConnectionTest, APhoneRegisteredWithoutAliasIsUsed) {
    StartPhone("Registered", {"--register", "Simulated phone"});
    ExpectSyncReads("Registered");
}

TEST_F(CmdConnectionTest, OfSeveralModemsTheChosenOneIsUsed) {
    StartPhone("First", {"--register", "First phone"});
    StartPhone("Second", {"--register", "Second phone"});
    // Nothing tells which: the run says so, and how to choose, and fails.
    CmdRun unsure = Run(cli::CmdSync, {});
    EXPECT_NE(unsure.status, cli::kOk);
    ASSERT_EQ(unsure.prompts.size(), 1u);
    EXPECT_NE(unsure.Prompts().find("Unknown connection method"), std::string::npos);
    EXPECT_NE(unsure.Prompts().find("'parlo-cli options connection NAME'"), std::string::npos)
        << unsure.Prompts();

    CmdRun wrong = Run(cli::CmdOptions, {"connection", "Third phone"});
    EXPECT_EQ(wrong.status, cli::kFailed);
    EXPECT_NE(wrong.err.find("no registered modem is named 'Third phone'"), std::string::npos);

    CmdRun chosen = Run(cli::CmdOptions, {"connection", "Second phone"});
    ASSERT_EQ(chosen.status, cli::kOk) << chosen.err;
    ExpectSyncReads("Second");
    EXPECT_NE(Run(cli::CmdOptions, {"connection", "First phone"}).status, cli::kFailed);
    ExpectSyncReads("First");
    ASSERT_EQ(Run(cli::CmdOptions, {"connection", "auto"}).status, cli::kOk);
    EXPECT_NE(Run(cli::CmdSync, {}).status, cli::kOk);
}

TEST_F(CmdConnectionTest, NoModemAtAllSaysHowToRegisterOne) {
    CmdRun sync = Run(cli::CmdSync, {});
    EXPECT_NE(sync.status, cli::kOk);
    const std::string said = sync.out + sync.err + sync.Prompts();
    EXPECT_NE(said.find("'parlo-cli modem add NAME"), std::string::npos) << said;
    EXPECT_NE(said.find("'parlo-cli modem detect'"), std::string::npos) << said;
}

}  // namespace
