// The faults, each seen byte for byte on the line and in the transcript.
#include "platform/binio.h"
#include "tools/phonesim/tests/phonesim_fixture.h"
#include "tools/phonesim/transcript.h"

namespace phonesim::testing {
namespace {

class FaultsTest : public PhoneTest {
  protected:
    std::vector<TranscriptLine> Transcript() {
        std::string text;
        EXPECT_TRUE(platform::ReadFileBytes(transcript_, &text));
        std::vector<TranscriptLine> lines;
        EXPECT_TRUE(ParseTranscript(text, &lines)) << text;
        return lines;
    }
    // All bytes of one direction in the transcript, in order.
    std::string Stream(bool in) {
        std::string all;
        for (const auto& l : Transcript()) {
            if (!l.note && l.in == in)
                all += l.bytes;
        }
        return all;
    }
};

TEST_F(FaultsTest, SilenceSwallowsTheNthCommandOnly) {
    StartPhone({"--silence", "2"});
    EXPECT_EQ(Cmd("AT"), "AT\r\r\nOK\r\n");
    ASSERT_TRUE(term_.Write("AT+CGMI\r"));
    EXPECT_EQ(term_.ReadFor(500), "");  // no echo, no answer
    EXPECT_EQ(Cmd("AT"), "AT\r\r\nOK\r\n");
}

TEST_F(FaultsTest, SilenceForGoodFromTheStateFile) {
    state_["echo"] = false;
    state_["faults"]["silence"] = {{{"command", 2}, {"count", 0}}};
    StartPhone();
    EXPECT_EQ(Cmd("AT"), "\r\nOK\r\n");
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(term_.Write("AT\r"));
        EXPECT_EQ(term_.ReadFor(300), "");
    }
    EXPECT_EQ(phone_.Control("commands"), "OK 4");
}

TEST_F(FaultsTest, GarbageBeforeOrInsteadOfTheAnswer) {
    state_["echo"] = false;
    StartPhone({"--garbage", "1:FF00A5", "--garbage", "2:5A5A:replace"});
    EXPECT_EQ(Cmd("AT"), std::string("\xFF\x00\xA5\r\nOK\r\n", 9));
    ASSERT_TRUE(term_.Write("AT+CPBW=1,\"123\",,\"X\"\r"));
    EXPECT_EQ(term_.ReadFor(500), "ZZ");
    // The command was carried out all the same.
    EXPECT_EQ(phone_.ReadState()["phonebook"]["storages"]["SM"]["entries"].size(), 1u);
    EXPECT_EQ(Cmd("AT"), "\r\nOK\r\n");
}

TEST_F(FaultsTest, DroppedLineClosesThePseudoTerminal) {
    StartPhone({"--drop", "2"});
    EXPECT_EQ(Cmd("AT"), "AT\r\r\nOK\r\n");
    ASSERT_TRUE(term_.Write("AT+CGMI\r"));
    // At most the echo arrives (a hang-up may discard it), then nothing.
    std::string rest = term_.ReadFor(2000);
    EXPECT_EQ(std::string("AT+CGMI\r").compare(0, rest.size(), rest), 0) << rest;
    EXPECT_EQ(phone_.Wait(10000), 0);
    EXPECT_EQ(Stream(false), "AT\r\r\nOK\r\nAT+CGMI\r");
    auto lines = Transcript();
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines.back().note);
    EXPECT_EQ(lines.back().bytes, "line dropped");
}

TEST_F(FaultsTest, ExtraTextAfterThePrompt) {
    StartPhone({"--prompt-extra", " ", "--prompt-extra-delay", "300", "--send-ms", "0"});
    int length = 0;
    std::string pdu = MakeSubmitPdu("+4917011112222", "x", &length);
    std::string cmd = "AT+CMGS=" + std::to_string(length);
    // The prompt ends the answer; the extra blank follows on its own.
    EXPECT_EQ(Cmd(cmd), cmd + "\r\r\n> ");
    EXPECT_EQ(term_.ReadUntil(" "), " ");
    ASSERT_TRUE(term_.Write(pdu + "\x1A"));
    EXPECT_EQ(term_.ReadAnswer(), pdu + "\x1A\r\n+CMGS: 0\r\n\r\nOK\r\n");
    phone_.Stop();
    EXPECT_EQ(Stream(false), cmd + "\r\r\n>  " + pdu + "\x1A\r\n+CMGS: 0\r\n\r\nOK\r\n");
}

TEST_F(FaultsTest, UnsolicitedCmtiAtTheNthCommandStoresTheMessage) {
    state_["echo"] = false;
    state_["faults"]["unsolicited"] = {{{"command", 2},
                                        {"kind", "cmti"},
                                        {"storage", "SM"},
                                        {"from", "+4917012345"},
                                        {"text", "Hi"}}};
    StartPhone();
    EXPECT_EQ(Cmd("AT"), "\r\nOK\r\n");
    // The indication comes first and ends a naive reader's answer early.
    EXPECT_EQ(term_.Command("AT"), "\r\n+CMTI: \"SM\",1\r\n\r\nOK\r\n");
    auto slots = phone_.ReadState()["sms"]["storages"]["SM"]["slots"];
    ASSERT_EQ(slots.size(), 1u);
    std::string pdu = slots[0]["pdu"];
    EXPECT_EQ(pdu.substr(0, 34), "0791947101670000040A91947110325400");
    EXPECT_EQ(pdu.substr(pdu.size() - 6), "02C834");
}

TEST_F(FaultsTest, UnsolicitedLinesAtATimeAndAfterAnAnswer) {
    state_["echo"] = false;
    std::string pdu = MakeDeliverPdu("+4917012345", "Hi");
    state_["faults"]["unsolicited"] = {
        {{"at_ms", 300}, {"kind", "cmt"}, {"pdu", pdu}},
        {{"command", 1}, {"kind", "cmti"}, {"storage", "ME"}, {"before_answer", false}}};
    StartPhone();
    std::string cmt = "\r\n+CMT: ," + std::to_string(pdu.size() / 2 - 8) + "\r\n" + pdu + "\r\n";
    EXPECT_EQ(term_.ReadUntil(cmt), cmt);
    EXPECT_EQ(Cmd("AT"), "\r\nOK\r\n");
    EXPECT_EQ(term_.ReadUntil("\r\n+CMTI: \"ME\",1\r\n"), "\r\n+CMTI: \"ME\",1\r\n");
}

TEST_F(FaultsTest, TranscriptHoldsEveryByteBothWays) {
    StartPhone();
    EXPECT_EQ(Cmd("AT"), "AT\r\r\nOK\r\n");
    EXPECT_EQ(Cmd("ATE0"), "ATE0\r\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CMGR=1"), "\r\nOK\r\n");
    phone_.Stop();
    auto lines = Transcript();
    ASSERT_GE(lines.size(), 7u);
    EXPECT_TRUE(lines[0].note);
    EXPECT_EQ(lines[1].bytes, "AT\r");
    EXPECT_TRUE(lines[1].in);
    EXPECT_EQ(lines[2].bytes, "AT\r\r\nOK\r\n");
    EXPECT_FALSE(lines[2].in);
    EXPECT_EQ(Stream(true), "AT\rATE0\rAT+CMGR=1\r");
    EXPECT_EQ(Stream(false), "AT\r\r\nOK\r\nATE0\r\r\nOK\r\n\r\nOK\r\n");
    // Stamps look like 2026-12-07T12:00:01.234.
    EXPECT_EQ(lines[1].stamp.size(), 23u);
    EXPECT_EQ(lines[1].stamp[10], 'T');
}

}  // namespace
}  // namespace phonesim::testing
