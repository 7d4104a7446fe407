#include "parlo/store/modems.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "parlo/store/port_list.h"
#include "parlo/store/tests/test_util.h"
#include "platform/registry.h"

namespace parlo {
namespace {

using platform::Hive;

class PortListTest : public ::testing::Test {
  protected:
    testing::TempDir dir;
    platform::Registry reg{dir / "registry.reg"};

    void Modem(const std::string& key, std::optional<uint32_t> type, const char* name,
               const char* port) {
        std::string k = std::string(kExtModemsKey) + "\\" + key;
        reg.CreateKey(Hive::LocalMachine, k);
        if (type)
            reg.SetDword(Hive::LocalMachine, k, "DeviceType", *type);
        if (name)
            reg.SetString(Hive::LocalMachine, k, "FriendlyName", name);
        if (port)
            reg.SetString(Hive::LocalMachine, k, "Port", port);
    }
};

class FakeTelephony : public Telephony {
  public:
    std::vector<TelephonyLine> lines;
    int reinits = 0;
    bool fail = false;
    Init Initialize() override {
        if (fail)
            return Init::kFailed;
        if (reinits > 0) {
            --reinits;
            return Init::kReinit;
        }
        return Init::kOk;
    }
    std::vector<TelephonyLine> Lines() override { return lines; }
};

TEST_F(PortListTest, NoModemRegistered) {
    std::vector<ModemEntry> list;
    EXPECT_EQ(BuildPortList(reg, &list), PortListResult::kNoModem);
    reg.CreateKey(Hive::LocalMachine, kExtModemsKey);
    EXPECT_EQ(BuildPortList(reg, &list), PortListResult::kNoModem);
    Modem("ir", 2, "Infrared", "COM2:");  // not a data modem of type 1
    EXPECT_EQ(BuildPortList(reg, &list), PortListResult::kNoModem);
    EXPECT_TRUE(list.empty());
}

TEST_F(PortListTest, TakesDeviceTypeOneModemsInSubkeyOrder) {
    Modem("a", 1, "Phone cable", "COM3:");
    Modem("b", 2, "Infrared", "COM2:");
    Modem("c", std::nullopt, "No type", "COM4:");
    Modem("d", 1, "Bluetooth", "COM5:");
    std::vector<ModemEntry> list;
    ASSERT_EQ(BuildPortList(reg, &list), PortListResult::kOk);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0], (ModemEntry{u"Phone cable", u"COM3:", 0}));
    EXPECT_EQ(list[1], (ModemEntry{u"Bluetooth", u"COM5:", 1}));
}

TEST_F(PortListTest, MissingPortOrNameFailsTheWholeEnumeration) {
    Modem("a", 1, "Good", "COM3:");
    Modem("b", 1, "No port", nullptr);
    std::vector<ModemEntry> list;
    EXPECT_EQ(BuildPortList(reg, &list), PortListResult::kRegistryError);
    reg.DeleteKey(Hive::LocalMachine, std::string(kExtModemsKey) + "\\b");
    Modem("c", 1, nullptr, "COM4:");
    EXPECT_EQ(BuildPortList(reg, &list), PortListResult::kRegistryError);
}

TEST_F(PortListTest, OnlyModemsMatchingAUsableLineAreOffered) {
    Modem("a", 1, "Cable", "COM3:");
    Modem("b", 1, "Unmatched", "COM4:");
    Modem("c", 1, "Voiceless", "COM5:");
    Modem("d", 1, "Line 3", "");  // empty port: not offered
    Modem("e", 1, "Line 4", "COM6:");
    FakeTelephony tel;
    tel.lines = {{u"Voiceless", true, true, false}, {u"Cable"}, {u"Other"}, {u"Line 3"}, {u""}};
    PortListOptions opt;
    opt.telephony = &tel;
    std::vector<ModemEntry> list;
    ASSERT_EQ(BuildPortList(reg, &list, opt), PortListResult::kOk);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0], (ModemEntry{u"Cable", u"COM3:", 1}));
    EXPECT_EQ(list[1], (ModemEntry{u"Line 4", u"COM6:", 4}));  // unnamed line
}

TEST_F(PortListTest, TelephonyFailures) {
    Modem("a", 1, "Cable", "COM3:");
    FakeTelephony tel;
    PortListOptions opt;
    opt.telephony = &tel;
    std::vector<ModemEntry> list;
    EXPECT_EQ(BuildPortList(reg, &list, opt), PortListResult::kNoLines);
    tel.fail = true;
    EXPECT_EQ(BuildPortList(reg, &list, opt), PortListResult::kTelephonyError);
    tel.fail = false;
    tel.reinits = 3;
    tel.lines = {{u"Cable"}};
    EXPECT_EQ(BuildPortList(reg, &list, opt), PortListResult::kOk);
    EXPECT_EQ(list.size(), 1u);
}

TEST_F(PortListTest, AddListRemoveModems) {
    std::string err;
    EXPECT_EQ(AddExtModem(reg, "Phone", "COM3:", &err), "Phone");
    EXPECT_EQ(AddExtModem(reg, "Phone", "COM4:", &err), "");
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(AddExtModem(reg, "USB", "/dev/ttyUSB7"), "USB");
    auto modems = ListExtModems(reg);
    ASSERT_EQ(modems.size(), 2u);
    EXPECT_EQ(modems[1].device_type, 1u);
    ASSERT_TRUE(modems[1].port);
    EXPECT_EQ(modems[1].port->rfind("COM", 0), 0u);
    EXPECT_EQ(platform::ResolvePort(reg, *modems[1].port), "/dev/ttyUSB7");
    std::vector<ModemEntry> list;
    ASSERT_EQ(BuildPortList(reg, &list), PortListResult::kOk);
    EXPECT_EQ(list.size(), 2u);
    EXPECT_TRUE(RemoveExtModem(reg, "Phone"));
    EXPECT_FALSE(RemoveExtModem(reg, "Phone"));
    EXPECT_EQ(ListExtModems(reg).size(), 1u);
}

TEST_F(PortListTest, DetectRegistersAnsweringDevicesOnce) {
    std::vector<platform::SerialDevice> devices = {
        {"/dev/ttyUSB0", platform::SerialKind::UsbSerial, "pl2303"},
        {"/dev/ttyACM0", platform::SerialKind::Acm, ""},
        {"/dev/rfcomm0", platform::SerialKind::Rfcomm, ""}};
    auto prober = [](const std::string& path) { return path != "/dev/ttyACM0"; };
    auto found = DetectModems(reg, devices, prober);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_FALSE(found[0].key.empty());
    EXPECT_EQ(platform::ResolvePort(reg, found[0].alias), "/dev/ttyUSB0");
    EXPECT_NE(found[0].alias, found[1].alias);
    auto again = DetectModems(reg, devices, prober);
    ASSERT_EQ(again.size(), 2u);
    EXPECT_TRUE(again[0].key.empty());  // already registered
    EXPECT_EQ(ListExtModems(reg).size(), 2u);
}

// A pseudo-terminal plays a modem that answers "AT" with "OK".
TEST(ProbeModem, AnswersOkOnAPseudoTerminal) {
    int master = -1, slave = -1;
    char name[256];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    std::atomic<bool> answer{true};
    std::thread modem([&] {
        std::string got;
        char buf[64];
        while (got.find('\r') == std::string::npos) {
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0)
                return;
            got.append(buf, static_cast<size_t>(n));
        }
        if (answer) {
            const char ok[] = "\r\nOK\r\n";
            (void)!write(master, ok, sizeof ok - 1);
        }
    });
    EXPECT_TRUE(ProbeModem(name, std::chrono::milliseconds(10000)));
    modem.join();
    answer = false;
    std::thread silent([&] {
        char buf[64];
        (void)!read(master, buf, sizeof buf);
    });
    EXPECT_FALSE(ProbeModem(name, std::chrono::milliseconds(300)));
    silent.join();
    EXPECT_FALSE(ProbeModem("/nonexistent/tty"));
    close(slave);
    close(master);
}

}  // namespace
}  // namespace parlo
