// Finding who holds a serial device, and what the user is told.
#include "platform/device_users.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "platform/process.h"
#include "platform/testing/temp_dir.h"

using skyvane::testing::TempDir;
using skyvane::testing::WriteText;

namespace fs = std::filesystem;

TEST(DeviceUsers, FindsTheOtherProcessThatHoldsTheFileOpen) {
    TempDir dir;
    const fs::path device = dir / "ttyFAKE0";
    WriteText(device, "");
    EXPECT_TRUE(platform::DeviceUsers(device.string()).empty());

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    if (child == 0) {
        int fd = open(device.c_str(), O_RDWR);
        char c = fd >= 0 ? 'y' : 'n';
        (void)!write(ready[1], &c, 1);
        pause();
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    // This process holds it too, but is not another program.
    int own = open(device.c_str(), O_RDONLY);
    std::vector<platform::DeviceUser> users = platform::DeviceUsers(device.string());
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(own);
    close(ready[0]);
    close(ready[1]);
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users[0].pid, child);
    EXPECT_EQ(users[0].program, "platform_tests");
    EXPECT_TRUE(platform::DeviceUsers((dir / "missing").string()).empty());
}

TEST(DeviceUsers, UsbIdsComeFromTheDevicesParentsInSysfs) {
    TempDir dir;
    // /sys/class/tty/ttyUSB0/device -> .../1-1/1-1:1.0/ttyUSB0; the ids sit
    // on the USB device two levels up.
    const fs::path usb = dir / "devices" / "usb1" / "1-1";
    fs::create_directories(usb / "1-1:1.0" / "ttyUSB0");
    WriteText(usb / "idVendor", "12d1\n");
    WriteText(usb / "idProduct", "1001\n");
    fs::create_directories(dir / "class" / "tty" / "ttyUSB0");
    fs::create_directory_symlink(usb / "1-1:1.0" / "ttyUSB0",
                                 dir / "class" / "tty" / "ttyUSB0" / "device");
    fs::create_directories(dir / "class" / "tty" / "rfcomm0");

    auto ids = platform::UsbIdsOf("/dev/ttyUSB0", dir / "class" / "tty");
    ASSERT_TRUE(ids.has_value());
    EXPECT_EQ(ids->vendor, "12d1");
    EXPECT_EQ(ids->product, "1001");
    EXPECT_EQ(platform::ModemManagerIgnoreRule(*ids),
              "ATTRS{idVendor}==\"12d1\", ATTRS{idProduct}==\"1001\", "
              "ENV{ID_MM_DEVICE_IGNORE}=\"1\"");
    EXPECT_FALSE(platform::UsbIdsOf("/dev/rfcomm0", dir / "class" / "tty")) << "not on USB";
    EXPECT_FALSE(platform::UsbIdsOf("/dev/ttyS9", dir / "class" / "tty"));
}

TEST(DeviceUsers, TheExplanationNamesTheProcessAndTheWayOut) {
    platform::DeviceHolders none;
    EXPECT_EQ(platform::ExplainDeviceHolders("/dev/ttyACM0", none), "");

    platform::DeviceHolders term;
    term.users = {{4242, "minicom"}};
    std::string text = platform::ExplainDeviceHolders("/dev/ttyACM0", term);
    EXPECT_NE(text.find("/dev/ttyACM0 is held open by minicom (process 4242)"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("ID_MM_DEVICE_IGNORE"), std::string::npos) << text;

    platform::DeviceHolders mm;
    mm.users = {{612, "ModemManager"}};
    mm.ids = platform::UsbIds{"0bdb", "1900"};
    text = platform::ExplainDeviceHolders("/dev/ttyACM0", mm, "Nokia");
    EXPECT_NE(text.find("ModemManager (process 612)"), std::string::npos) << text;
    EXPECT_NE(text.find("ATTRS{idVendor}==\"0bdb\", ATTRS{idProduct}==\"1900\""), std::string::npos)
        << text;
    EXPECT_NE(text.find("skyvane-modem-rule Nokia"), std::string::npos) << text;

    // Seen only over D-Bus (it runs as root), without USB ids.
    platform::DeviceHolders bus;
    bus.modem_manager = platform::ModemManagerAnswer::kClaims;
    text = platform::ExplainDeviceHolders("/dev/rfcomm0", bus);
    EXPECT_NE(text.find("/dev/rfcomm0 is used by ModemManager"), std::string::npos) << text;
    EXPECT_NE(text.find("ID_MM_DEVICE_IGNORE"), std::string::npos) << text;
}

TEST(Programs, RunCaptureGivesTheOutputOfASuccessfulRunOnly) {
    auto out = platform::RunCapture("/bin/sh", {"-c", "echo one; echo two >&2"}, 30000);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(*out, "one\n");
    EXPECT_FALSE(platform::RunCapture("/bin/sh", {"-c", "echo x; exit 3"}, 30000));
    EXPECT_FALSE(platform::RunCapture("/nowhere/program", {}, 30000));
    EXPECT_FALSE(platform::RunCapture("/bin/sh", {"-c", "sleep 30"}, 200)) << "killed";
}
