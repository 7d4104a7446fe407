// The phone as a process: incoming messages while it runs, state reloads,
// registration as a modem, ending by itself.
#include <signal.h>

#include "platform/binio.h"
#include "platform/ports.h"
#include "platform/registry.h"
#include "tools/phonesim/tests/phonesim_fixture.h"

namespace phonesim::testing {
namespace {

class ProcessTest : public PhoneTest {};

TEST_F(ProcessTest, IncomingMessagesWhileItRuns) {
    state_["echo"] = false;
    StartPhone();
    std::string pdu = MakeDeliverPdu("+4917012345", "Hello");
    EXPECT_EQ(phone_.AddIncoming("SM", pdu, /*notify=*/true), 1);
    EXPECT_EQ(term_.ReadUntil("\r\n+CMTI: \"SM\",1\r\n"), "\r\n+CMTI: \"SM\",1\r\n");
    EXPECT_EQ(phone_.AddIncoming("", pdu, /*notify=*/false), 2);  // silently, into "SM"
    EXPECT_EQ(term_.ReadFor(300), "");
    EXPECT_EQ(phone_.Control("cmt " + pdu), "OK");
    EXPECT_EQ(term_.ReadUntil(pdu + "\r\n"),
              "\r\n+CMT: ," + std::to_string(pdu.size() / 2 - 8) + "\r\n" + pdu + "\r\n");
    // A message from the network follows AT+CNMI.
    EXPECT_EQ(Cmd("AT+CNMI=2,1"), "\r\nOK\r\n");
    EXPECT_EQ(phone_.Control("incoming " + pdu), "OK 3");
    EXPECT_EQ(term_.ReadUntil("\r\n+CMTI: \"SM\",3\r\n"), "\r\n+CMTI: \"SM\",3\r\n");
    EXPECT_EQ(Cmd("AT+CMGR=1"), "\r\n+CMGR: 0,," + std::to_string(pdu.size() / 2 - 8) + "\r\n" +
                                    pdu + "\r\n\r\nOK\r\n");
    EXPECT_EQ(phone_.Control("store XX " + pdu), "ERROR unknown storage");
    EXPECT_EQ(phone_.Control("store SM 0G"), "ERROR bad PDU");
    EXPECT_EQ(phone_.Control("frobnicate"), "ERROR unknown command");
}

TEST_F(ProcessTest, ReloadsTheStateFileOnRequestAndOnHangup) {
    state_["echo"] = false;
    StartPhone();
    EXPECT_EQ(Cmd("AT+CPBR=1"), "\r\nOK\r\n");
    nlohmann::json changed = phone_.ReadState();
    changed["phonebook"]["storages"]["SM"]["entries"] = {
        {{"index", 1}, {"number", "1"}, {"type", 129}, {"text", "New"}}};
    ASSERT_TRUE(WriteState(state_file_, changed));
    ASSERT_TRUE(phone_.Reload());
    EXPECT_EQ(Cmd("AT+CPBR=1"), "\r\n+CPBR: 1,\"1\",129,\"New\"\r\n\r\nOK\r\n");

    changed["identity"]["manufacturer"] = "Other";
    ASSERT_TRUE(WriteState(state_file_, changed));
    ASSERT_EQ(kill(phone_.pid(), SIGHUP), 0);
    bool seen = false;
    for (int i = 0; i < 100 && !seen; ++i) {
        seen = Cmd("AT+CGMI") == "\r\nOther\r\n\r\nOK\r\n";
    }
    EXPECT_TRUE(seen);

    // A broken file keeps the state as it was.
    ASSERT_TRUE(platform::WriteFileAtomic(state_file_, "{ broken"));
    EXPECT_EQ(phone_.Control("reload").rfind("ERROR", 0), 0u);
    EXPECT_EQ(Cmd("AT+CGMI"), "\r\nOther\r\n\r\nOK\r\n");
}

TEST_F(ProcessTest, RegistersAsAModemAndCleansUp) {
    std::filesystem::path home = dir_ / "home";
    std::filesystem::create_directories(home);
    setenv("SKYVANE_ROOT", home.c_str(), 1);
    platform::Registry registry(home / "registry.reg");
    ASSERT_TRUE(registry.SetString(platform::Hive::LocalMachine, "Ports", "COM1:", "/dev/null"));
    StartPhone({"--register", "Phonesim Modem"});
    EXPECT_EQ(phone_.alias(), "COM2:");
    EXPECT_EQ(platform::ResolvePort(registry, "COM2:"), phone_.device());
    const std::string key = "ExtModems\\Phonesim Modem";
    EXPECT_EQ(registry.QueryDword(platform::Hive::LocalMachine, key, "DeviceType"), 1u);
    EXPECT_EQ(registry.QueryString(platform::Hive::LocalMachine, key, "FriendlyName"),
              "Phonesim Modem");
    EXPECT_EQ(registry.QueryString(platform::Hive::LocalMachine, key, "Port"), "COM2:");

    // A second phone of the same name is refused while the first runs.
    PhonesimProcess second;
    EXPECT_FALSE(second.Start(dir_ / "second.json", {"--register", "Phonesim Modem"}));

    EXPECT_EQ(phone_.Stop(), 0);
    EXPECT_FALSE(registry.KeyExists(platform::Hive::LocalMachine, key));
    EXPECT_FALSE(platform::ResolvePort(registry, "COM2:").has_value());
    EXPECT_EQ(platform::ResolvePort(registry, "COM1:"), "/dev/null");
    unsetenv("SKYVANE_ROOT");
}

TEST_F(ProcessTest, TakesThePlaceOfAnEntryLeftBehind) {
    std::filesystem::path home = dir_ / "home";
    std::filesystem::create_directories(home);
    setenv("SKYVANE_ROOT", home.c_str(), 1);
    platform::Registry registry(home / "registry.reg");
    const std::string key = "ExtModems\\Phone";
    ASSERT_TRUE(registry.SetDword(platform::Hive::LocalMachine, key, "DeviceType", 1));
    ASSERT_TRUE(registry.SetString(platform::Hive::LocalMachine, key, "FriendlyName", "Phone"));
    ASSERT_TRUE(registry.SetString(platform::Hive::LocalMachine, key, "Port", "COM3:"));
    ASSERT_TRUE(registry.SetString(platform::Hive::LocalMachine, "Ports",
                                   "COM3:", (dir_ / "gone").string()));
    StartPhone({"--register", "Phone", "--alias", "COM3:"});
    EXPECT_EQ(phone_.alias(), "COM3:");
    EXPECT_EQ(platform::ResolvePort(registry, "COM3:"), phone_.device());
    unsetenv("SKYVANE_ROOT");
}

TEST_F(ProcessTest, ExitsAfterNCommandsOrSeconds) {
    StartPhone({"--exit-after", "2"});
    EXPECT_EQ(Cmd("AT"), "AT\r\r\nOK\r\n");
    EXPECT_EQ(Cmd("AT"), "AT\r\r\nOK\r\n");
    EXPECT_EQ(phone_.Wait(10000), 0);

    PhonesimProcess timed;
    ASSERT_TRUE(timed.Start(dir_ / "timed.json", {"--exit-after", "1s"}));
    EXPECT_EQ(timed.Wait(10000), 0);
}

TEST_F(ProcessTest, RefusesBadStateFilesAndOptions) {
    ASSERT_TRUE(platform::WriteFileAtomic(state_file_, "{\"sms\": {\"empty_slot\": 3}}"));
    EXPECT_FALSE(phone_.Start(state_file_));
    EXPECT_EQ(phone_.Wait(0), 1);
    PhonesimProcess bad_option;
    EXPECT_FALSE(bad_option.Start(dir_ / "x.json", {"--silence", "x"}));
    EXPECT_EQ(bad_option.Wait(0), 2);
}

TEST_F(ProcessTest, NewStateFileIsWrittenWithTheDefaults) {
    ASSERT_TRUE(phone_.Start(dir_ / "fresh.json"));
    nlohmann::json state = phone_.ReadState();
    EXPECT_EQ(state["identity"]["manufacturer"], "Phonesim");
    EXPECT_EQ(state["sms"]["storages"]["SM"]["size"], 20);
}

}  // namespace
}  // namespace phonesim::testing
