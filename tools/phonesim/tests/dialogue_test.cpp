// Byte-exact dialogues with the phone through its pseudo-terminal.
#include <chrono>

#include "platform/binio.h"
#include "tools/phonesim/tests/phonesim_fixture.h"
#include "tools/phonesim/transcript.h"

namespace phonesim::testing {
namespace {

// An SMS-DELIVER from +4917012345, "Hi", through the SMS centre +491710760000.
const char* kDeliverPdu =
    "0791947101670000"  // SMS centre
    "04"                // SMS-DELIVER, no more messages
    "0A919471103254"    // originator
    "0000"              // PID, DCS
    "62017031154380"    // time stamp
    "02C834";           // "Hi"

class DialogueTest : public PhoneTest {};

TEST_F(DialogueTest, EchoOnRepeatsTheCommandLineBeforeTheAnswer) {
    StartPhone();
    EXPECT_EQ(Cmd("AT"), "AT\r\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CGMI"), "AT+CGMI\r\r\nPhonesim\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("ATE0"), "ATE0\r\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CGMI"), "\r\nPhonesim\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("ATE1"), "\r\nOK\r\n");
    EXPECT_EQ(Cmd("at"), "at\r\r\nOK\r\n");
}

TEST_F(DialogueTest, EchoOffAtStartFromTheStateFile) {
    state_["echo"] = false;
    StartPhone();
    EXPECT_EQ(Cmd("AT"), "\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CGSN"), "\r\n350000000000017\r\n\r\nOK\r\n");
}

TEST_F(DialogueTest, IdentityOperatorAndServiceCentreComeFromTheState) {
    state_["echo"] = false;
    state_["identity"] = {{"manufacturer", "ACME"},
                          {"model", "X100"},
                          {"revision", "R2"},
                          {"serial", "123456789012345"},
                          {"imsi", "262019999999999"}};
    state_["operator"]["name"] = "Net One";
    state_["smsc"] = {{"number", "+4917200000"}, {"type", 145}};
    StartPhone();
    EXPECT_EQ(Cmd("AT+CGMI"), "\r\nACME\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CGMM"), "\r\nX100\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CGMR"), "\r\nR2\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CGSN"), "\r\n123456789012345\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+COPS?"), "\r\n+COPS: 0,0,\"Net One\"\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CSCA?"), "\r\n+CSCA: \"+4917200000\",145\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("ATI"), "\r\nACME\r\nX100\r\nRevision R2\r\n\r\nOK\r\n");
    // Several commands on one line answer in order with one final result.
    EXPECT_EQ(Cmd("AT+CGMI;+CGMM"), "\r\nACME\r\n\r\nX100\r\n\r\nOK\r\n");
}

TEST_F(DialogueTest, UnknownAndMalformedCommandsAnswerError) {
    state_["echo"] = false;
    StartPhone();
    EXPECT_EQ(Cmd("AT+XYZ"), "\r\nERROR\r\n");
    EXPECT_EQ(Cmd("AT+CMGR=\"1"), "\r\nERROR\r\n");
    EXPECT_EQ(Cmd("AT+CMGF=1"), "\r\nERROR\r\n");  // text mode is not offered
    EXPECT_EQ(Cmd("AT+CMGF=0"), "\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CMGF?"), "\r\n+CMGF: 0\r\n\r\nOK\r\n");
    // A line without "AT" is no command and gets no answer.
    ASSERT_TRUE(term_.Write("hello\r"));
    EXPECT_EQ(term_.ReadFor(300), "");
}

TEST_F(DialogueTest, StorageSelectionOneAndThreeStorages) {
    state_["echo"] = false;
    state_["sms"]["storages"]["SM"]["slots"] = {
        {{"index", 3}, {"status", 1}, {"pdu", kDeliverPdu}}};
    StartPhone();
    EXPECT_EQ(Cmd("AT+CPMS=?"),
              "\r\n+CPMS: (\"ME\",\"SM\"),(\"ME\",\"SM\"),(\"ME\",\"SM\")\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CPMS=\"SM\""), "\r\n+CPMS: 1,20,1,20,1,20\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CPMS=\"ME\",\"SM\",\"SM\""), "\r\n+CPMS: 0,100,1,20,1,20\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CPMS?"), "\r\n+CPMS: \"ME\",0,100,\"SM\",1,20,\"SM\",1,20\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CPMS=\"BM\""), "\r\n+CMS ERROR: 302\r\n");
}

TEST_F(DialogueTest, ReadsFilledAndEmptySlots) {
    state_["echo"] = false;
    state_["sms"]["storages"]["SM"]["slots"] = {
        {{"index", 2}, {"status", 0}, {"pdu", kDeliverPdu}}};
    StartPhone();
    ASSERT_EQ(Cmd("AT+CPMS=\"SM\""), "\r\n+CPMS: 1,20,1,20,1,20\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CMGR=1"), "\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CMGR=2"),
              std::string("\r\n+CMGR: 0,,20\r\n") + kDeliverPdu + "\r\n\r\nOK\r\n");
    // Reading marks the message read, in the file too.
    EXPECT_EQ(phone_.ReadState()["sms"]["storages"]["SM"]["slots"][0]["status"], 1);
    EXPECT_EQ(Cmd("AT+CMGR=2"),
              std::string("\r\n+CMGR: 1,,20\r\n") + kDeliverPdu + "\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CMGR=21"), "\r\n+CMS ERROR: 321\r\n");
    EXPECT_EQ(Cmd("AT+CMGR=0"), "\r\n+CMS ERROR: 321\r\n");
}

TEST_F(DialogueTest, EmptySlotCanAnswerError) {
    state_["echo"] = false;
    state_["sms"]["empty_slot"] = "error";
    StartPhone();
    EXPECT_EQ(Cmd("AT+CMGR=1"), "\r\n+CMS ERROR: 321\r\n");
    EXPECT_EQ(Cmd("AT+CMGD=1"), "\r\n+CMS ERROR: 321\r\n");
}

TEST_F(DialogueTest, ListsAndDeletesMessages) {
    state_["echo"] = false;
    state_["sms"]["storages"]["SM"]["slots"] = {{{"index", 1}, {"status", 0}, {"pdu", kDeliverPdu}},
                                                {{"index", 4},
                                                 {"status", 3},
                                                 {"pdu", "0011000B919471103254F50000AA02C834"},
                                                 {"length", 16}}};
    StartPhone();
    EXPECT_EQ(Cmd("AT+CMGL=4"), std::string("\r\n+CMGL: 1,0,,20\r\n") + kDeliverPdu +
                                    "\r\n+CMGL: 4,3,,16\r\n0011000B919471103254F50000AA02C834"
                                    "\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CMGL=0"), "\r\nOK\r\n");  // no unread one left
    EXPECT_EQ(Cmd("AT+CMGD=1"), "\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CMGD=1"), "\r\nOK\r\n");  // deleting an empty slot
    auto slots = phone_.ReadState()["sms"]["storages"]["SM"]["slots"];
    ASSERT_EQ(slots.size(), 1u);
    EXPECT_EQ(slots[0]["index"], 4);
}

// Phones without a usable listing: refused, or cut short after N messages
// (which are marked read all the same).
TEST_F(DialogueTest, ListingCanBeRefusedOrCutShort) {
    state_["echo"] = false;
    state_["sms"]["storages"]["SM"]["slots"] = {
        {{"index", 1}, {"status", 0}, {"pdu", kDeliverPdu}},
        {{"index", 7}, {"status", 0}, {"pdu", kDeliverPdu}}};
    state_["sms"]["list"] = "error";
    StartPhone({"--size", "SM:200"});
    EXPECT_EQ(Cmd("AT+CMGL=4"), "\r\nERROR\r\n");
    EXPECT_EQ(Cmd("AT+CPMS=\"SM\""), "\r\n+CPMS: 2,200,2,200,2,200\r\n\r\nOK\r\n");
    phone_.Stop();
    state_["sms"]["list"] = "all";
    StartPhone({"--cmgl", "cms"});
    EXPECT_EQ(Cmd("AT+CMGL=4"), "\r\n+CMS ERROR: 303\r\n");
    phone_.Stop();
    StartPhone({"--cmgl-limit", "1"});
    EXPECT_EQ(Cmd("AT+CMGL=4"),
              std::string("\r\n+CMGL: 1,0,,20\r\n") + kDeliverPdu + "\r\n\r\nOK\r\n");
    auto slots = phone_.ReadState()["sms"]["storages"]["SM"]["slots"];
    EXPECT_EQ(slots[0]["status"], 1);
    EXPECT_EQ(slots[1]["status"], 0);
}

TEST_F(DialogueTest, SendsWithThePromptAndCountsReferences) {
    StartPhone({"--send-ms", "0"});
    int length = 0;
    std::string pdu = MakeSubmitPdu("+4917011112222", "Hello", &length);
    ASSERT_EQ(Cmd("AT+CMGS=" + std::to_string(length)),
              "AT+CMGS=" + std::to_string(length) + "\r\r\n> ");
    ASSERT_TRUE(term_.Write(pdu + "\x1A"));
    EXPECT_EQ(term_.ReadAnswer(), pdu + "\x1A\r\n+CMGS: 0\r\n\r\nOK\r\n");
    ASSERT_EQ(Cmd("ATE0"), "ATE0\r\r\nOK\r\n");
    ASSERT_EQ(Cmd("AT+CMGS=" + std::to_string(length)), "\r\n> ");
    ASSERT_TRUE(term_.Write(pdu + "\x1A"));
    EXPECT_EQ(term_.ReadAnswer(), "\r\n+CMGS: 1\r\n\r\nOK\r\n");
    auto sent = phone_.ReadState()["sms"]["sent"];
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0]["pdu"], pdu);
    EXPECT_EQ(sent[0]["reference"], 0);
    EXPECT_EQ(sent[1]["reference"], 1);
}

TEST_F(DialogueTest, SendRejectsALengthThatDoesNotMatchAndEscCancels) {
    state_["echo"] = false;
    StartPhone();
    int length = 0;
    std::string pdu = MakeSubmitPdu("+4917011112222", "Hello", &length);
    ASSERT_EQ(Cmd("AT+CMGS=" + std::to_string(length + 1)), "\r\n> ");
    ASSERT_TRUE(term_.Write(pdu + "\x1A"));
    EXPECT_EQ(term_.ReadAnswer(), "\r\n+CMS ERROR: 304\r\n");
    ASSERT_EQ(Cmd("AT+CMGS=" + std::to_string(length)), "\r\n> ");
    ASSERT_TRUE(term_.Write(pdu.substr(0, 10) + "\x1B"));
    EXPECT_EQ(term_.ReadAnswer(), "\r\nOK\r\n");
    ASSERT_EQ(Cmd("AT+CMGS=" + std::to_string(length)), "\r\n> ");
    ASSERT_TRUE(term_.Write("00ZZ\x1A"));
    EXPECT_EQ(term_.ReadAnswer(), "\r\n+CMS ERROR: 304\r\n");
    EXPECT_TRUE(phone_.ReadState()["sms"]["sent"].empty());
}

TEST_F(DialogueTest, MessageToOwnNumberComesBackIntoPhoneMemory) {
    state_["echo"] = false;
    state_["own_number"] = "+491709876543";
    StartPhone({"--send-ms", "0"});
    int length = 0;
    std::string pdu = MakeSubmitPdu("+491709876543", "loop", &length);
    ASSERT_EQ(Cmd("AT+CMGS=" + std::to_string(length)), "\r\n> ");
    ASSERT_TRUE(term_.Write(pdu + "\x1A"));
    EXPECT_EQ(term_.ReadAnswer(), "\r\n+CMGS: 0\r\n\r\nOK\r\n");
    ASSERT_TRUE(phone_.WaitForState(
        [](const nlohmann::json& s) { return s["sms"]["storages"]["ME"]["slots"].size() == 1; }));
    auto slot = phone_.ReadState()["sms"]["storages"]["ME"]["slots"][0];
    EXPECT_EQ(slot["status"], 0);
    std::string deliver = slot["pdu"];
    // SMS centre, then SMS-DELIVER from the own number, same user data.
    EXPECT_EQ(deliver.substr(0, 16), "0791947101670000");
    EXPECT_EQ(deliver.substr(16, 18), "040C91947190785634");
    EXPECT_EQ(deliver.substr(deliver.size() - 10), pdu.substr(pdu.size() - 10));
}

TEST_F(DialogueTest, ASynchronisationRunIsByteExactInTheTranscript) {
    state_["sms"]["storages"]["SM"]["slots"] = {
        {{"index", 1}, {"status", 0}, {"pdu", kDeliverPdu}}};
    StartPhone();
    const char* lines[] = {"AT",        "AT+CGMI",   "AT+CPMS=\"SM\"",
                           "AT+CMGR=1", "AT+CMGR=2", "AT+CMGD=1"};
    for (const char* line : lines)
        ASSERT_FALSE(Cmd(line).empty()) << line;
    phone_.Stop();
    std::string text;
    ASSERT_TRUE(platform::ReadFileBytes(transcript_, &text));
    std::vector<TranscriptLine> parsed;
    ASSERT_TRUE(ParseTranscript(text, &parsed));
    std::string in, out;
    for (const auto& l : parsed) {
        if (!l.note)
            (l.in ? in : out) += l.bytes;
    }
    EXPECT_EQ(in, "AT\rAT+CGMI\rAT+CPMS=\"SM\"\rAT+CMGR=1\rAT+CMGR=2\rAT+CMGD=1\r");
    EXPECT_EQ(out, std::string("AT\r\r\nOK\r\n"
                               "AT+CGMI\r\r\nPhonesim\r\n\r\nOK\r\n"
                               "AT+CPMS=\"SM\"\r\r\n+CPMS: 1,20,1,20,1,20\r\n\r\nOK\r\n"
                               "AT+CMGR=1\r\r\n+CMGR: 0,,20\r\n") +
                       kDeliverPdu +
                       "\r\n\r\nOK\r\n"
                       "AT+CMGR=2\r\r\nOK\r\n"
                       "AT+CMGD=1\r\r\nOK\r\n");
    EXPECT_TRUE(phone_.ReadState()["sms"]["storages"]["SM"]["slots"].empty());
}

TEST_F(DialogueTest, BaudRatePacesTheOutput) {
    state_["echo"] = false;
    StartPhone({"--baud", "300"});
    auto start = std::chrono::steady_clock::now();
    // 30 bytes per second: "\r\n350000000000017\r\n\r\nOK\r\n" is 25 bytes.
    EXPECT_EQ(Cmd("AT+CGSN"), "\r\n350000000000017\r\n\r\nOK\r\n");
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(700));
}

}  // namespace
}  // namespace phonesim::testing
