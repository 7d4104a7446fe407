// Phonebook, character sets and the SIM PIN through the pseudo-terminal.
#include "tools/phonesim/tests/phonesim_fixture.h"

namespace phonesim::testing {
namespace {

class PhonebookTest : public PhoneTest {
  protected:
    void SetUp() override {
        PhoneTest::SetUp();
        state_["echo"] = false;
        state_["phonebook"]["storages"]["SM"] = {
            {"first", 1},
            {"last", 10},
            {"number_length", 20},
            {"text_length", 8},
            {"entries",
             {{{"index", 1}, {"number", "+491701111"}, {"type", 145}, {"text", "Anna"}},
              {{"index", 3}, {"number", "0301234"}, {"type", 129}, {"text", "J\u00F6rg@"}},
              {{"index", 9}, {"number", "112"}, {"type", 129}, {"text", "\u4F60\u597D"}}}}};
    }
};

TEST_F(PhonebookTest, ReadsRangesInTheGsmCharacterSet) {
    StartPhone();
    EXPECT_EQ(Cmd("AT+CSCS=\"GSM\""), "\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CPBS=\"SM\""), "\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CPBS?"), "\r\n+CPBS: \"SM\",3,10\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CPBR=?"), "\r\n+CPBR: (1-10),20,8\r\n\r\nOK\r\n");
    // GSM: "\u00F6" is 0x7C, "@" is 0x00.
    EXPECT_EQ(Cmd("AT+CPBR=1,5"),
              "\r\n+CPBR: 1,\"+491701111\",145,\"Anna\"\r\n+CPBR: 3,\"0301234\",129,\"J\x7Crg" +
                  std::string(1, '\0') + "\"\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CPBR=4,8"), "\r\nOK\r\n");  // nothing in the range
    EXPECT_EQ(Cmd("AT+CPBR=9"), "\r\n+CPBR: 9,\"112\",129,\"??\"\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CPBR=0,5"), "\r\n+CME ERROR: 21\r\n");
    EXPECT_EQ(Cmd("AT+CPBR=5,11"), "\r\n+CME ERROR: 21\r\n");
    EXPECT_EQ(Cmd("AT+CPBR=5,4"), "\r\n+CME ERROR: 21\r\n");
    EXPECT_EQ(Cmd("AT+CPBS=\"XX\""), "\r\n+CME ERROR: 4\r\n");
}

TEST_F(PhonebookTest, RangeBeyondTheEndCanListWhatExistsFirst) {
    state_["phonebook"]["overrange"] = "partial";
    StartPhone();
    EXPECT_EQ(Cmd("AT+CPBR=5,20"), "\r\n+CPBR: 9,\"112\",129,\"??\"\r\n\r\n+CME ERROR: 21\r\n");
    EXPECT_EQ(Cmd("AT+CPBR=11,20"), "\r\n+CME ERROR: 21\r\n");
}

TEST_F(PhonebookTest, OtherCharacterSets) {
    StartPhone();
    EXPECT_EQ(Cmd("AT+CSCS=?"),
              "\r\n+CSCS: (\"GSM\",\"IRA\",\"8859-1\",\"UCS2\",\"UTF-8\")\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CSCS=\"UCS2\""), "\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CPBR=9"), "\r\n+CPBR: 9,\"112\",129,\"4F60597D\"\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CSCS=\"8859-1\""), "\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CPBR=3"), "\r\n+CPBR: 3,\"0301234\",129,\"J\xF6rg@\"\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CSCS?"), "\r\n+CSCS: \"8859-1\"\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CSCS=\"KOI8\""), "\r\n+CME ERROR: 4\r\n");
}

TEST_F(PhonebookTest, WritesAndDeletesEntries) {
    StartPhone();
    // Type left empty: 145 for a number with "+". The escape to the
    // extension table is a control character, which a command line drops:
    // "€" travels in UCS2 only.
    EXPECT_EQ(Cmd("AT+CSCS=\"UCS2\""), "\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CPBW=2,\"+4930123\",,\"0041006220AC\""), "\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CSCS=\"GSM\""), "\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CPBW=,\"555\",129,\"Next\""), "\r\nOK\r\n");  // first free: 4
    EXPECT_EQ(Cmd("AT+CPBW=3"), "\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CPBW=3"), "\r\nOK\r\n");  // already empty
    auto entries = phone_.ReadState()["phonebook"]["storages"]["SM"]["entries"];
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[1]["index"], 2);
    EXPECT_EQ(entries[1]["type"], 145);
    EXPECT_EQ(entries[1]["text"], "Ab\u20AC");
    EXPECT_EQ(entries[2]["index"], 4);
    EXPECT_EQ(entries[2]["text"], "Next");
    EXPECT_EQ(Cmd("AT+CPBR=2"), "\r\n+CPBR: 2,\"+4930123\",145,\"Ab\x1B\x65\"\r\n\r\nOK\r\n");
}

TEST_F(PhonebookTest, ControlCharactersInsideACommandLineAreIgnored) {
    StartPhone();
    // A line feed after the carriage return, a NUL and an escape inside the
    // line: V.250 ignores them, the line still counts.
    EXPECT_EQ(Cmd(std::string("\nAT+CPBW=5,\"12") + '\0' +
                  "3\",,\"A\x1B"
                  "b\x01"
                  "c\""),
              "\r\nOK\r\n");
    auto entries = phone_.ReadState()["phonebook"]["storages"]["SM"]["entries"];
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[2]["index"], 5);
    EXPECT_EQ(entries[2]["number"], "123");
    EXPECT_EQ(entries[2]["text"], "Abc");
}

TEST_F(PhonebookTest, APhoneWithoutUcs2) {
    state_["charsets"] = {"GSM", "IRA"};
    StartPhone();
    EXPECT_EQ(Cmd("AT+CSCS=?"), "\r\n+CSCS: (\"GSM\",\"IRA\")\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CSCS=\"UCS2\""), "\r\n+CME ERROR: 4\r\n");
    EXPECT_EQ(Cmd("AT+CSCS=\"IRA\""), "\r\nOK\r\n");
}

TEST_F(PhonebookTest, RejectsWhatTheSimCannotHold) {
    StartPhone();
    EXPECT_EQ(Cmd("AT+CPBW=11,\"1\",129,\"x\""), "\r\n+CME ERROR: 21\r\n");
    EXPECT_EQ(Cmd("AT+CPBW=2,\"123456789012345678901\",129,\"x\""), "\r\n+CME ERROR: 26\r\n");
    EXPECT_EQ(Cmd("AT+CPBW=2,\"12a\",129,\"x\""), "\r\n+CME ERROR: 27\r\n");
    EXPECT_EQ(Cmd("AT+CPBW=2,\"1\",129,\"123456789\""), "\r\n+CME ERROR: 24\r\n");
    EXPECT_EQ(Cmd("AT+CPBW=2,\"1\",129,\"\x80\""), "\r\n+CME ERROR: 25\r\n");
    EXPECT_EQ(Cmd("AT+CPBW=2,\"1\",12,\"x\""), "\r\nERROR\r\n");
    EXPECT_EQ(Cmd("AT+CMEE=2"), "\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CPBW=11"), "\r\n+CME ERROR: invalid index\r\n");
    EXPECT_EQ(Cmd("AT+CMEE=0"), "\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CPBW=11"), "\r\nERROR\r\n");
    for (int i : {2, 4, 5, 6, 7, 8, 10}) {
        ASSERT_EQ(Cmd("AT+CPBW=" + std::to_string(i) + ",\"1\""), "\r\nOK\r\n");
    }
    EXPECT_EQ(Cmd("AT+CMEE=1"), "\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CPBW=,\"1\""), "\r\n+CME ERROR: 20\r\n");
    EXPECT_EQ(phone_.ReadState()["phonebook"]["storages"]["SM"]["entries"].size(), 10u);
}

class PinTest : public PhoneTest {
  protected:
    void SetUp() override {
        PhoneTest::SetUp();
        state_["echo"] = false;
        state_["sim"]["pin_enabled"] = true;
    }
};

TEST_F(PinTest, CommandsWaitForThePin) {
    StartPhone();
    EXPECT_EQ(Cmd("AT+CPIN?"), "\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CGMI"), "\r\nPhonesim\r\n\r\nOK\r\n");  // works without the SIM
    EXPECT_EQ(Cmd("AT+CPMS=\"SM\""), "\r\n+CMS ERROR: 311\r\n");
    EXPECT_EQ(Cmd("AT+CMGR=1"), "\r\n+CMS ERROR: 311\r\n");
    EXPECT_EQ(Cmd("AT+CPBR=1,5"), "\r\n+CME ERROR: 11\r\n");
    EXPECT_EQ(Cmd("AT+COPS?"), "\r\n+COPS: 0\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CPIN=\"1234\""), "\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CPIN?"), "\r\n+CPIN: READY\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CMGR=1"), "\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CPIN=\"1234\""), "\r\n+CME ERROR: 3\r\n");
}

TEST_F(PinTest, SwitchingThePinOffAsTheClientDoes) {
    StartPhone();
    EXPECT_EQ(Cmd("at+cpin=\"1234\""), "\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CLCK=\"SC\",2"), "\r\n+CLCK: 1\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("at+clck=\"SC\",0,\"1234\""), "\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CLCK=\"SC\",2"), "\r\n+CLCK: 0\r\n\r\nOK\r\n");
    EXPECT_EQ(phone_.ReadState()["sim"]["pin_enabled"], false);
    EXPECT_EQ(Cmd("AT+CLCK=\"PN\",2"), "\r\n+CME ERROR: 4\r\n");
}

TEST_F(PinTest, ThreeWrongPinsAskForThePuk) {
    StartPhone();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Cmd("AT+CPIN=\"0000\""), "\r\n+CME ERROR: 16\r\n");
    }
    EXPECT_EQ(phone_.ReadState()["sim"]["pin_attempts"], 0);
    EXPECT_EQ(Cmd("AT+CPIN?"), "\r\n+CPIN: SIM PUK\r\n\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT+CPIN=\"1234\""), "\r\n+CME ERROR: 16\r\n");  // a PIN is no PUK
    EXPECT_EQ(Cmd("AT+CMGR=1"), "\r\n+CMS ERROR: 316\r\n");
    EXPECT_EQ(Cmd("AT+CPIN=\"12345678\",\"4321\""), "\r\nOK\r\n");
    auto sim = phone_.ReadState()["sim"];
    EXPECT_EQ(sim["pin"], "4321");
    EXPECT_EQ(sim["pin_attempts"], 3);
    EXPECT_EQ(Cmd("AT+CPIN?"), "\r\n+CPIN: READY\r\n\r\nOK\r\n");
}

}  // namespace
}  // namespace phonesim::testing
