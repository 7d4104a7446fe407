// parlo-cli at against a scripted modem on a pseudo-terminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cordis/testing/scripted_peer.h"
#include "parlo/cli/cli.h"
#include "platform/prompt.h"

namespace cli {
int CmdAt(Context& ctx);
}

namespace {

struct AtRun {
    int status;
    std::string out;
    std::string err;
};

class CliAt : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = std::filesystem::temp_directory_path() / ("cli_at_" + std::to_string(getpid()));
        std::filesystem::create_directories(root_);
        setenv("SKYVANE_ROOT", root_.c_str(), 1);
        setenv("SKYVANE_HOME", root_.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    AtRun At(std::vector<std::string> args) {
        std::ostringstream out, err;
        platform::ScriptedPrompt prompt;
        cli::Context ctx{std::move(args), root_, false, false, out, err, prompt};
        int status = cli::CmdAt(ctx);
        return {status, out.str(), err.str()};
    }

    std::filesystem::path root_;
    cordis::testing::ScriptedPeer peer_;
};

TEST_F(CliAt, PrintsEachReplyAndResult) {
    peer_.Expect("AT+CGMI\r").Send("AT+CGMI\r\r\nACME\r\n\r\nOK\r\n");
    peer_.Expect("AT+CPBR=1,2\r")
        .Send("\r\n+CPBR: 1,\"1\",129,\"A\"\r\n+CPBR: 2,\"2\",129,\"B\"\r\n\r\nOK\r\n");
    AtRun r = At({"--port", peer_.device(), "AT+CGMI", "AT+CPBR=1,2"});
    EXPECT_EQ(r.status, cli::kOk) << r.err;
    EXPECT_EQ(
        r.out,
        ">> AT+CGMI\nACME\nresult: 1 (done)\n"
        ">> AT+CPBR=1,2\n+CPBR: 1,\"1\",129,\"A\"\n+CPBR: 2,\"2\",129,\"B\"\nresult: 1 (done)\n");
    EXPECT_TRUE(peer_.Done()) << peer_.error();
    EXPECT_TRUE(std::filesystem::exists(root_ / "comm.log"));
}

TEST_F(CliAt, BodyAfterPromptEndsWithCtrlZ) {
    peer_.Expect("AT+CMGS=9\r").Send("\r\n> ");
    peer_.Expect("0011AB\x1a\r").Send("\r\n+CMGS: 4\r\n\r\nOK\r\n");
    AtRun r = At({"--port", peer_.device(), "AT+CMGS=9", "0011AB"});
    EXPECT_EQ(r.status, cli::kOk) << r.err;
    EXPECT_NE(r.out.find(">> 0011AB <Ctrl-Z>\n+CMGS: 4\nresult: 1"), std::string::npos) << r.out;
    EXPECT_TRUE(peer_.Done()) << peer_.error();
}

TEST_F(CliAt, EveryCommandIsSentAfterAFailedOneToo) {
    peer_.Expect("AT+X\r");  // no answer
    // After a time-out the link brings the line back in step with "AT"
    // before it sends the next command; escape first, as the phone has not
    // answered since the port was opened.
    peer_.Expect("\x1b");
    peer_.Expect("AT\r").Send("AT\r\r\nOK\r\n");
    peer_.Expect("AT\r").Send("AT\r\r\nOK\r\n");
    // The port may be given as the first word.
    AtRun r = At({peer_.device(), "--timeout", "1", "AT+X", "AT"});
    EXPECT_EQ(r.status, cli::kFailed) << "one command failed";
    EXPECT_NE(r.out.find(">> AT+X\nresult: 0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(">> AT\nresult: 1"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("1 command failed"), std::string::npos) << r.err;
    EXPECT_TRUE(peer_.Done()) << peer_.error();
}

TEST_F(CliAt, FailuresAndUsage) {
    EXPECT_EQ(At({"--port", "/nonexistent/tty", "AT"}).status, cli::kFailed);
    EXPECT_EQ(At({"/nonexistent/tty", "AT"}).status, cli::kFailed);
    AtRun none = At({"AT"});
    EXPECT_EQ(none.status, cli::kFailed);
    EXPECT_NE(none.err.find("parlo-cli modem add"), std::string::npos) << none.err;
    EXPECT_NE(none.err.find("parlo-cli modem detect"), std::string::npos) << none.err;
    EXPECT_EQ(At({"--baud", "fast", "AT"}).status, cli::kUsage);
    EXPECT_EQ(At({"--frobnicate"}).status, cli::kUsage);
}

}  // namespace
