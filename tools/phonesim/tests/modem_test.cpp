// The command interpreter without a pseudo-terminal: a host that collects
// what the phone sends.
#include "tools/phonesim/modem.h"

#include <gtest/gtest.h>

#include "tools/phonesim/hex.h"
#include "tools/phonesim/sms_pdu.h"

namespace phonesim {
namespace {

class FakeHost : public ModemHost {
  public:
    void Answer(std::string bytes, int delay_ms) override {
        out += bytes;
        delays.push_back(delay_ms);
    }
    void Echo(std::string bytes) override { out += bytes; }
    void DropLine() override { dropped = true; }
    void StateChanged() override { ++changes; }
    std::time_t Now() override { return 0; }
    std::string Take() { return std::exchange(out, std::string()); }

    std::string out;
    std::vector<int> delays;
    bool dropped = false;
    int changes = 0;
};

class ModemTest : public ::testing::Test {
  protected:
    ModemTest() : state_(State::Default()) { state_.echo = false; }
    std::string Send(const std::string& line) {
        if (!modem_)
            modem_ = std::make_unique<Modem>(&state_, &host_);
        modem_->Receive(line + "\r");
        return host_.Take();
    }
    State state_;
    FakeHost host_;
    std::unique_ptr<Modem> modem_;
};

TEST_F(ModemTest, NumericResultCodesAndQuietMode) {
    EXPECT_EQ(Send("ATV0"), "0\r");
    EXPECT_EQ(Send("AT+CGMI"), "Phonesim\r\n0\r");
    EXPECT_EQ(Send("AT+XX"), "4\r");
    EXPECT_EQ(Send("AT+CPBR=0"), "+CME ERROR: 21\r");
    EXPECT_EQ(Send("ATD123"), "3\r");
    EXPECT_EQ(Send("ATV1Q1"), "");
    EXPECT_EQ(Send("AT+CGMI"), "\r\nPhonesim\r\n");
    EXPECT_EQ(Send("ATQ0"), "\r\nOK\r\n");
}

TEST_F(ModemTest, ResetRestoresThePowerOnSettings) {
    state_.echo = true;
    EXPECT_EQ(Send("ATE0V0"), "ATE0V0\r0\r");
    EXPECT_EQ(Send("AT+CSCS=\"UCS2\";+CMEE=2"), "0\r");
    EXPECT_EQ(Send("ATZ"), "\r\nOK\r\n");  // framed as the restored settings say
    EXPECT_EQ(Send("AT+CSCS?"), "AT+CSCS?\r\r\n+CSCS: \"GSM\"\r\n\r\nOK\r\n");
    EXPECT_EQ(Send("AT+CMEE?"), "AT+CMEE?\r\r\n+CMEE: 1\r\n\r\nOK\r\n");
}

TEST_F(ModemTest, LineEditingAndRegisters) {
    EXPECT_EQ(Send("AT+CGMX\bI"), "\r\nPhonesim\r\n\r\nOK\r\n");
    EXPECT_EQ(Send("ATS3?"), "\r\n013\r\n\r\nOK\r\n");
    EXPECT_EQ(Send("ATS7=30;S7?"), "\r\n030\r\n\r\nOK\r\n");
    EXPECT_EQ(Send("ATS3=0"), "\r\nERROR\r\n");
    EXPECT_EQ(Send("AT" + std::string(3000, 'Z')), "\r\nERROR\r\n");
    EXPECT_EQ(Send("AT"), "\r\nOK\r\n");
    // Bytes before the prefix are noise.
    EXPECT_EQ(Send("\n\x01xyAT"), "\r\nOK\r\n");
}

TEST_F(ModemTest, SubscriberNumberAndStatus) {
    EXPECT_EQ(Send("AT+CNUM"), "\r\n+CNUM: ,\"+491709876543\",145\r\n\r\nOK\r\n");
    EXPECT_EQ(Send("AT+CPAS"), "\r\n+CPAS: 0\r\n\r\nOK\r\n");
    EXPECT_EQ(Send("AT+CFUN?"), "\r\n+CFUN: 1\r\n\r\nOK\r\n");
    EXPECT_EQ(Send("AT+CFUN=0"), "\r\n+CME ERROR: 4\r\n");
}

TEST_F(ModemTest, ErrorStopsTheRestOfTheLine) {
    EXPECT_EQ(Send("AT+CGMI;+BAD;+CGMM"), "\r\nPhonesim\r\n\r\nERROR\r\n");
}

TEST_F(ModemTest, WritesAndDeletesByStatus) {
    EXPECT_EQ(Send("AT+CPMS=\"ME\",\"ME\""), "\r\n+CPMS: 0,100,0,100,0,20\r\n\r\nOK\r\n");
    EXPECT_EQ(Send("AT+CMGW=3,3"), "\r\n> ");
    modem_->Receive("0001000A\x1A");  // a TPDU of 3 octets
    EXPECT_EQ(host_.Take(), "\r\n+CMGW: 1\r\n\r\nOK\r\n");
    state_.sms_storages["ME"].Put({2, kStatusRead, "00", std::nullopt});
    state_.sms_storages["ME"].Put({3, kStatusUnread, "00", std::nullopt});
    EXPECT_EQ(Send("AT+CMGD=0,2"), "\r\nOK\r\n");  // read and sent ones go
    ASSERT_EQ(state_.sms_storages["ME"].slots.size(), 1u);
    EXPECT_EQ(state_.sms_storages["ME"].slots[0].index, 3);
    EXPECT_EQ(Send("AT+CMGD=1,4"), "\r\nOK\r\n");
    EXPECT_TRUE(state_.sms_storages["ME"].slots.empty());
    EXPECT_EQ(Send("AT+CMGD=1,5"), "\r\nERROR\r\n");
    EXPECT_EQ(Send("AT+CMGD=?"), "\r\n+CMGD: (),(0-4)\r\n\r\nOK\r\n");
}

TEST_F(ModemTest, SendingNeedsNetworkAndServiceCentre) {
    state_.op.registered = false;
    EXPECT_EQ(Send("AT+CMGS=10"), "\r\n+CMS ERROR: 331\r\n");
    EXPECT_EQ(Send("AT+COPS?"), "\r\n+COPS: 0\r\n\r\nOK\r\n");
    EXPECT_EQ(Send("AT+CREG?"), "\r\n+CREG: 0,0\r\n\r\nOK\r\n");
    state_.op.registered = true;
    EXPECT_EQ(Send("AT+CSCA=\"\""), "\r\nOK\r\n");
    EXPECT_EQ(state_.smsc_number, "");
    EXPECT_EQ(Send("AT+CMGS=16"), "\r\n> ");
    modem_->Receive("0011000B919471103254F50000AA02C834\x1A");
    EXPECT_EQ(host_.Take(), "\r\n+CMS ERROR: 330\r\n");
    EXPECT_EQ(Send("AT+CSCA=\"+4917200\""), "\r\nOK\r\n");
    EXPECT_EQ(state_.smsc_type, 145);
    EXPECT_EQ(Send("AT+CMGS=16"), "\r\n> ");
    host_.delays.clear();
    modem_->Receive("0011000B919471103254F50000AA02C834\x1A");
    EXPECT_EQ(host_.Take(), "\r\n+CMGS: 0\r\n\r\nOK\r\n");
    ASSERT_EQ(host_.delays.size(), 1u);
    EXPECT_EQ(host_.delays[0], state_.timing.send_ms);
}

TEST_F(ModemTest, SentMessagesAreDecodedAndPartsJoinedInOrder) {
    auto send = [this](const std::string& pdu) {
        ASSERT_EQ(Send("AT+CMGS=" + std::to_string(pdu.size() / 2 - 1)), "\r\n> ");
        modem_->Receive(pdu + "\x1A");
        EXPECT_NE(host_.Take().find("+CMGS:"), std::string::npos) << pdu;
    };
    const std::string head =
        "004100"
        "0B919471103254F5"
        "00";  // UDHI, no validity period
    // 7-bit with extension characters, no header: "[x]".
    send(
        "000100"
        "0B919471103254F5"
        "0000"
        "05"
        "1B1E7EE303");
    // UCS2 in three parts (reference 0x2A) sent as 2, 3, 1.
    send(head +
         "08"
         "08"
         "0500032A0302"
         "0062");
    send(head +
         "08"
         "0A"
         "0500032A0303"
         "D83DDE00");
    ASSERT_EQ(state_.delivered.size(), 1u);  // still waiting for part 1
    send(head +
         "08"
         "0A"
         "0500032A0301"
         "04160061");
    // 7-bit in two parts: the text starts after the header and one fill bit.
    send(head +
         "00"
         "09"
         "0500032B0201"
         "9069");
    send(head +
         "00"
         "08"
         "0500032B0202"
         "42");

    ASSERT_EQ(state_.sent.size(), 6u);
    EXPECT_EQ(state_.sent[0].to, "+49170123455");
    EXPECT_EQ(state_.sent[0].text, "[x]");
    EXPECT_EQ(state_.sent[0].concat_ref, -1);
    EXPECT_EQ(state_.sent[1].text, "b");
    EXPECT_EQ(state_.sent[1].concat_ref, 0x2A);
    EXPECT_EQ(state_.sent[1].concat_total, 3);
    EXPECT_EQ(state_.sent[1].concat_seq, 2);
    EXPECT_EQ(state_.sent[2].text, "\xF0\x9F\x98\x80");  // the surrogate pair, whole
    ASSERT_EQ(state_.delivered.size(), 3u);
    EXPECT_EQ(state_.delivered[0].text, "[x]");
    EXPECT_EQ(state_.delivered[1].text,
              "\xD0\x96"
              "ab\xF0\x9F\x98\x80");
    EXPECT_EQ(state_.delivered[1].parts, 3);
    EXPECT_EQ(state_.delivered[2].text, "Hi!");
    EXPECT_EQ(state_.delivered[2].parts, 2);

    // The record survives a round trip through the state file.
    State back;
    std::string error;
    ASSERT_TRUE(StateFromJson(StateToJson(state_), &back, &error)) << error;
    ASSERT_EQ(back.delivered.size(), 3u);
    EXPECT_EQ(back.delivered[1].text, state_.delivered[1].text);
    EXPECT_EQ(back.sent[3].concat_seq, 1);
    EXPECT_TRUE(back.sent[3].joined);
}

TEST_F(ModemTest, ReferencesWrapAfter255) {
    state_.next_reference = 255;
    for (const char* expected : {"\r\n+CMGS: 255\r\n\r\nOK\r\n", "\r\n+CMGS: 0\r\n\r\nOK\r\n"}) {
        EXPECT_EQ(Send("AT+CMGS=16"), "\r\n> ");
        modem_->Receive("0011000B919471103254F50000AA02C834\x1A");
        EXPECT_EQ(host_.Take(), expected);
    }
}

TEST_F(ModemTest, NewMessageIndicationsFollowCnmi) {
    Send("AT");
    std::string pdu = BytesToHex(MakeTextDeliver("", "+4917012345", u"Hi", 0));
    EXPECT_EQ(modem_->StoreIncoming("", pdu, false), 1);
    EXPECT_EQ(host_.Take(), "");  // AT+CNMI=0,0: stored silently
    EXPECT_EQ(Send("AT+CNMI=2,1,0,0,0"), "\r\nOK\r\n");
    EXPECT_EQ(modem_->StoreIncoming("", pdu, false), 2);
    EXPECT_EQ(host_.Take(), "\r\n+CMTI: \"SM\",2\r\n");
    EXPECT_EQ(Send("AT+CNMI=2,2"), "\r\nOK\r\n");
    EXPECT_EQ(modem_->StoreIncoming("", pdu, false), -1);
    EXPECT_EQ(host_.Take(), "\r\n+CMT: ,20\r\n" + pdu + "\r\n");
    EXPECT_EQ(Send("AT+CNMI?"), "\r\n+CNMI: 2,2,0,0,0\r\n\r\nOK\r\n");
    EXPECT_EQ(Send("AT+CNMI=4"), "\r\nERROR\r\n");
    state_.sms_storages["SM"].size = 2;
    EXPECT_EQ(modem_->StoreIncoming("SM", pdu, true), 0);  // full
    EXPECT_EQ(modem_->StoreIncoming("XX", pdu, true), 0);
}

}  // namespace
}  // namespace phonesim
