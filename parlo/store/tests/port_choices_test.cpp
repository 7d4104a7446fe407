#include "parlo/store/port_choices.h"

#include <gtest/gtest.h>

#include <set>

#include "parlo/store/tests/test_util.h"
#include "platform/ports.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace parlo {
namespace {

using platform::Hive;
namespace fs = std::filesystem;

class PortChoicesTest : public ::testing::Test {
  protected:
    testing::TempDir dir;
    platform::Registry reg{dir / "registry.reg"};
    fs::path by_id = dir / "by-id";
    std::set<std::string> busy;  // devices another program holds

    void SetUp() override { fs::create_directories(by_id); }
    std::string Device(const std::string& name) {
        fs::path p = dir / name;
        testing::WriteFile(p, "");
        return fs::canonical(p).string();
    }
    std::vector<PortChoice> Describe(const std::vector<std::u16string>& offered,
                                     const std::vector<ModemEntry>& list) {
        return DescribePorts(offered, list, reg, by_id, [this](const std::string& dev) {
            return !busy.count(fs::canonical(dev).string());
        });
    }
};

TEST_F(PortChoicesTest, NamesTheModemTheDeviceAndTheStableName) {
    const std::string usb = Device("ttyUSB0");
    reg.SetString(Hive::LocalMachine, platform::kPortsKey, "COM3:", usb);
    fs::create_symlink(usb, by_id / "usb-Nokia_6310i-if00");
    const std::vector<ModemEntry> list = {{u"Nokia 6310i", u"COM3:", 0}};

    std::vector<PortChoice> got = Describe({u"COM3:"}, list);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].name, u"COM3:");
    EXPECT_EQ(got[0].description,
              u"Nokia 6310i, " + platform::FromUtf8(usb) + u" (usb-Nokia_6310i-if00)");
    // The stable name is offered too, with the alias beside it; the port
    // list names its device, so it is offered even while it is busy.
    busy.insert(usb);
    got = Describe({u"COM3:"}, list);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].name, platform::FromUtf8((by_id / "usb-Nokia_6310i-if00").string()));
    EXPECT_EQ(got[1].description, u"Nokia 6310i, COM3:, " + platform::FromUtf8(usb));
}

TEST_F(PortChoicesTest, AStableNameOpenElsewhereIsNotOffered) {
    const std::string acm = Device("ttyACM0");
    fs::create_symlink(acm, by_id / "usb-Modem-if00");
    EXPECT_EQ(Describe({}, {}).size(), 1u);
    busy.insert(acm);
    EXPECT_TRUE(Describe({}, {}).empty());
    // A dangling link names no device.
    fs::create_symlink(dir / "gone", by_id / "usb-Gone-if00");
    EXPECT_TRUE(Describe({}, {}).empty());
}

TEST_F(PortChoicesTest, WithoutByIdFolderOnlyTheOfferedNamesRemain) {
    fs::remove_all(by_id);
    std::vector<PortChoice> got = Describe({u"COM5:"}, {});
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, u"COM5:");
    EXPECT_EQ(got[0].description, u"");  // an alias that leads nowhere
}

}  // namespace
}  // namespace parlo
