#include "platform/ports.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/registry.h"
#include "platform/testing/temp_dir.h"

using skyvane::testing::ScopedEnv;
using skyvane::testing::TempDir;

namespace fs = std::filesystem;
using platform::Registry;

TEST(Ports, AliasesResolveThroughTheRegistry) {
    TempDir dir;
    Registry reg(dir / "registry.reg");
    EXPECT_EQ(platform::AddPortAlias(reg, "/dev/ttyUSB0"), "COM1:");
    EXPECT_EQ(platform::AddPortAlias(reg, "/dev/ttyACM0"), "COM2:");
    EXPECT_EQ(platform::AddPortAlias(reg, "/dev/pts/4", "COM9:"), "COM9:");
    EXPECT_EQ(platform::ResolvePort(reg, "COM2:"), "/dev/ttyACM0");
    EXPECT_EQ(platform::ResolvePort(reg, "com9:"), "/dev/pts/4");
    EXPECT_EQ(platform::ResolvePort(reg, "/dev/ttyS0"), "/dev/ttyS0");
    EXPECT_FALSE(platform::ResolvePort(reg, "COM3:").has_value());
    EXPECT_FALSE(platform::ResolvePort(reg, "modem").has_value());
    EXPECT_FALSE(platform::ResolvePort(reg, "").has_value());
    reg.SetString(platform::Hive::LocalMachine, platform::kPortsKey, "COM4:", "relative/path");
    EXPECT_FALSE(platform::ResolvePort(reg, "COM4:").has_value());
    EXPECT_EQ(platform::AddPortAlias(reg, "/dev/x"), "COM3:") << "first free number";
}

TEST(Ports, DiscoveryFindsPhoneCapableTtysOnly) {
    TempDir dir;
    auto sys = dir / "sys";
    for (const char* n : {"ttyUSB1", "ttyUSB0", "ttyACM0", "rfcomm0", "ircomm0", "ttyS0", "tty1"})
        fs::create_directories(sys / n / "device");
    fs::create_directories(sys / "ttyACM0" / "device" / "..");
    std::ofstream(sys / "ttyACM0" / "product") << "Nokia 6230\n";
    auto found = platform::DiscoverSerialDevices(sys, "/dev");
    ASSERT_EQ(found.size(), 5u);
    EXPECT_EQ(found[0].path, "/dev/ircomm0");
    EXPECT_EQ(found[0].kind, platform::SerialKind::Irda);
    EXPECT_EQ(found[1].path, "/dev/rfcomm0");
    EXPECT_EQ(found[2].path, "/dev/ttyACM0");
    EXPECT_EQ(found[2].description, "Nokia 6230");
    EXPECT_EQ(found[3].path, "/dev/ttyUSB0");
    EXPECT_EQ(found[4].kind, platform::SerialKind::UsbSerial);
    EXPECT_TRUE(platform::DiscoverSerialDevices(dir / "none", "/dev").empty());
}
