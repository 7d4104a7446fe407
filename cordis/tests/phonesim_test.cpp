// The phone link against the simulated phone through a real pseudo-terminal.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cordis/cordis.h"
#include "platform/text.h"
#include "tools/phonesim/testing/phonesim_process.h"

namespace {

using phonesim::testing::PhonesimProcess;

class PhonesimLink : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "cordis-phonesim-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        state_ = phonesim::testing::DefaultState();
    }
    void TearDown() override {
        if (link_) {
            link_->ClosePort();
            link_->StopSAR();
        }
        link_.reset();
        phone_.Stop();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    void Start(std::vector<std::string> args) {
        ASSERT_TRUE(phonesim::testing::WriteState(dir_ / "phone.json", state_));
        ASSERT_TRUE(phone_.Start(dir_ / "phone.json", args));
        link_ = std::make_unique<CCordis>(dir_ / "comm.log");
        link_->StartSAR();
        ASSERT_EQ(link_->OpenPort(platform::FromUtf8(phone_.device())), 1);
        ASSERT_EQ(link_->SetParams(9600, 0, 8, 0), 1);
    }

    int Send(const std::string& command, std::u16string* reply, int mode = 0, int timeout = 10) {
        return link_->SendAndReceive(command, *reply, mode, timeout);
    }

    // Sends one SMS as the client does; true when the phone took it.
    bool SendSms(const std::string& to, const std::string& text) {
        int length = 0;
        std::string pdu = phonesim::testing::MakeSubmitPdu(to, text, &length);
        std::u16string reply;
        if (!Send("AT+CMGS=" + std::to_string(length), &reply) || reply != u">")
            return false;
        return Send(pdu + "\x1a", &reply, 1, 15) && reply.find(u"CMGS") != std::u16string::npos;
    }

    std::u16string Manufacturer() const {
        return platform::FromUtf8(state_["identity"]["manufacturer"].get<std::string>());
    }

    std::filesystem::path dir_;
    nlohmann::json state_;
    PhonesimProcess phone_;
    std::unique_ptr<CCordis> link_;
};

TEST_F(PhonesimLink, IdentityWithEchoOnAndOff) {
    for (const char* echo : {"on", "off"}) {
        SCOPED_TRACE(echo);
        Start({"--echo", echo});
        std::u16string reply = u"x";
        EXPECT_EQ(Send("AT", &reply), 1);
        EXPECT_EQ(reply, u"");
        EXPECT_EQ(Send("AT+CGMI", &reply), 1);
        EXPECT_EQ(reply, Manufacturer());
        EXPECT_EQ(Send("AT+CPMS=\"SM\"", &reply), 1);
        EXPECT_EQ(reply.rfind(u"+CPMS: ", 0), 0u) << platform::ToUtf8(reply);
        TearDown();
        SetUp();
    }
}

TEST_F(PhonesimLink, SendingWithEchoOnAndOff) {
    for (const char* echo : {"on", "off"}) {
        SCOPED_TRACE(echo);
        Start({"--echo", echo});
        EXPECT_TRUE(SendSms("+491701234567", "Hello from the link"));
        EXPECT_TRUE(SendSms("+491701234567", "and once more"));
        // The next answer starts clean.
        std::u16string reply;
        EXPECT_EQ(Send("AT+CGMI", &reply), 1);
        EXPECT_EQ(reply, Manufacturer());
        TearDown();
        SetUp();
    }
}

TEST_F(PhonesimLink, ErrorAnswersAreEmptySuccesses) {
    state_["sms"]["empty_slot"] = "error";
    Start({"--echo", "on"});
    std::u16string reply = u"x";
    EXPECT_EQ(Send("AT+CPMS=\"SM\"", &reply), 1);
    EXPECT_EQ(Send("AT+CMGR=1", &reply), 1);  // +CMS ERROR: 321
    EXPECT_EQ(reply, u"");
    EXPECT_EQ(Send("AT+NOSUCHTHING", &reply), 1);  // ERROR
    EXPECT_EQ(reply, u"");
    EXPECT_EQ(Send("AT+CGMI", &reply), 1);
    EXPECT_EQ(reply, Manufacturer());
}

TEST_F(PhonesimLink, RejectedSmsBodyLeavesTheNextAnswerIntact) {
    // The phone answers a bad PDU at once; the echo of the carriage return
    // after the Ctrl-Z follows that answer and begins the next one.
    Start({"--echo", "on"});
    std::u16string reply;
    ASSERT_EQ(Send("AT+CMGS=5", &reply), 1);
    ASSERT_EQ(reply, u">");
    EXPECT_EQ(Send("0011ZZ\x1a", &reply, 1, 15), 1);
    EXPECT_EQ(reply, u"");  // +CMS ERROR: 304
    EXPECT_EQ(Send("AT", &reply), 1);
    EXPECT_EQ(reply, u"");
    EXPECT_EQ(Send("AT+CGMI", &reply), 1);
    EXPECT_EQ(reply, Manufacturer());
}

TEST_F(PhonesimLink, SilenceTimesOutAndTheLinkRecovers) {
    Start({"--echo", "off", "--silence", "2"});
    std::u16string reply;
    EXPECT_EQ(Send("AT", &reply), 1);
    EXPECT_EQ(Send("AT+CGMI", &reply, 0, 1), 0);  // command 2: no answer
    EXPECT_EQ(Send("AT+CGMI", &reply), 1);
    EXPECT_EQ(reply, Manufacturer());
}

// Unsolicited lines of the phone at every position of an answer are taken
// out of it; each answer stays with its own command.
TEST_F(PhonesimLink, UnsolicitedLinesNeverShiftTheAnswers) {
    Start({"--echo", "on", "--unsolicited", "2:before:cmti", "--unsolicited", "3:inside:line:RING",
           "--unsolicited", "4:before-echo:cmt", "--unsolicited", "5:after:line:^RSSI: 14"});
    std::vector<std::u16string> seen;
    std::mutex mutex;
    link_->SetUnsolicitedHandler([&](const std::u16string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(line.substr(0, line.find(u':')));
    });
    std::u16string reply;
    EXPECT_EQ(Send("AT", &reply), 1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Send("AT+CGMI", &reply), 1);
        EXPECT_EQ(reply, Manufacturer());
    }
    EXPECT_EQ(Send("AT", &reply), 1);
    EXPECT_EQ(reply, u"");
    EXPECT_EQ(Send("AT+CGMI", &reply), 1);
    EXPECT_EQ(reply, Manufacturer());
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(seen, (std::vector<std::u16string>{u"+CMTI", u"RING", u"+CMT", u"^RSSI"}));
}

TEST_F(PhonesimLink, PacedLine) {
    Start({"--echo", "on", "--baud", "9600"});
    std::u16string reply;
    EXPECT_EQ(Send("AT+CGMI", &reply), 1);
    EXPECT_EQ(reply, Manufacturer());
    EXPECT_TRUE(SendSms("+491701234567", "paced"));
}

}  // namespace
