// Finding who holds a serial device, and what the user is told.
#include "platform/device_users.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

// A child that opens `path` (and, with `master`, first creates a pseudo-
// terminal and writes its slave's path back) and waits to be killed.
static pid_t HoldOpen(const std::string& path, bool master, std::string* pts_path) {
    int ready[2];
    if (pipe(ready) != 0)
        return -1;
    pid_t child = fork();
    if (child == 0) {
        std::string name = path;
        if (master) {
            int m = posix_openpt(O_RDWR | O_NOCTTY);
            if (m < 0 || grantpt(m) != 0 || unlockpt(m) != 0)
                _exit(1);
            name = ptsname(m);
        }
        int fd = open(name.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0)
            name.clear();
        (void)!write(ready[1], name.c_str(), name.size() + 1);
        pause();
        _exit(0);
    }
    char buf[128] = {};
    ssize_t n = read(ready[0], buf, sizeof buf - 1);
    close(ready[0]);
    close(ready[1]);
    if (pts_path)
        *pts_path = n > 0 ? buf : "";
    return child;
}

// The program on the master side of a pseudo-terminal is the phone (the
// simulator) or a terminal: it is the other end of the line, not a rival.
// A second program on the slave side is one.
TEST(DeviceUsers, TheOwnerOfAPseudoTerminalsMasterIsNotARival) {
    std::string pts;
    pid_t phone = HoldOpen("", true, &pts);
    ASSERT_GT(phone, 0);
    ASSERT_FALSE(pts.empty());
    std::vector<platform::DeviceUser> alone = platform::DeviceUsers(pts);
    pid_t rival = HoldOpen(pts, false, nullptr);
    std::vector<platform::DeviceUser> two = platform::DeviceUsers(pts);
    kill(phone, SIGKILL);
    kill(rival, SIGKILL);
    waitpid(phone, nullptr, 0);
    waitpid(rival, nullptr, 0);
    EXPECT_TRUE(alone.empty()) << alone.size() << " listed";
    ASSERT_EQ(two.size(), 1u);
    EXPECT_EQ(two[0].pid, rival);
}

TEST(DeviceUsers, APortThatCannotBeOpenedSaysWhyAndHowToJoinDialout) {
    const std::string denied = platform::ExplainOpenError("/dev/ttyUSB0", EACCES, "dialout", false);
    EXPECT_NE(denied.find("Cannot open /dev/ttyUSB0: Permission denied."), std::string::npos);
    EXPECT_NE(denied.find("sudo adduser $USER dialout"), std::string::npos) << denied;
    // In the group already (not logged in again), another group, another error:
    // no advice that would not help.
    for (const std::string& other :
         {platform::ExplainOpenError("/dev/ttyUSB0", EACCES, "dialout", true),
          platform::ExplainOpenError("/dev/ttyUSB0", EACCES, "uucp", false),
          platform::ExplainOpenError("/dev/ttyUSB0", ENOENT, "dialout", false)}) {
        EXPECT_FALSE(other.empty());
        EXPECT_EQ(other.find("adduser"), std::string::npos) << other;
    }
    EXPECT_NE(platform::ExplainOpenError("/dev/ttyUSB0", ENOENT, "", false)
                  .find("No such file or directory"),
              std::string::npos);
    EXPECT_EQ(platform::ExplainOpenFailure("/dev/null"), "");
    EXPECT_NE(platform::ExplainOpenFailure("/nonexistent/ttyX").find("No such file"),
              std::string::npos);
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
