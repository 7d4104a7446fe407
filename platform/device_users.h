// Who else holds a serial device: another process with the device open (a
// terminal program, a second client) or ModemManager, which probes USB and
// ACM modems on most desktops and keeps their ports open. Two programs that
// talk to a phone at once both get garbage.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct DeviceUser {
    pid_t pid = 0;
    std::string program;  // executable name, else the process's comm
};

// The other processes that hold `path` open, from the descriptors under
// `proc` (/proc/<pid>/fd). Processes whose descriptors this user may not
// read (ModemManager runs as root) are not seen: ask ModemManager itself.
std::vector<DeviceUser> DeviceUsers(const std::string& path,
                                    const std::filesystem::path& proc = "/proc");

enum class ModemManagerAnswer {
    kNotRunning,   // no ModemManager process
    kClaims,       // it lists the device among its modems' ports
    kLeavesAlone,  // it answers and does not list the device
    kNoAnswer,     // it runs but could not be asked (no busctl or gdbus)
};

// Asks ModemManager over the system bus (busctl, else gdbus) whether the
// device (by its name in /dev) is a port of one of its modems.
ModemManagerAnswer AskModemManager(const std::string& device_path);

struct UsbIds {
    std::string vendor;  // four hexadecimal digits, as sysfs gives them
    std::string product;
};

// The USB vendor and product id of a tty device: the first idVendor and
// idProduct found above /sys/class/tty/<name>/device. None for a device
// that is not on USB (or under a test's `sysfs_tty`).
std::optional<UsbIds> UsbIdsOf(const std::string& device_path,
                               const std::filesystem::path& sysfs_tty = "/sys/class/tty");

// The udev rule that makes ModemManager leave a USB device alone.
std::string ModemManagerIgnoreRule(const UsbIds& ids);

// Where the helper writes that rule.
inline constexpr const char* kUdevRuleFile = "/etc/udev/rules.d/77-skyvane-modem.rules";

// A few lines for the user when someone else holds the device: which
// process, and how to make ModemManager leave the device alone. Empty when
// nobody else holds it. `modem_name` is the registered name, for the helper.
struct DeviceHolders {
    std::vector<DeviceUser> users;
    ModemManagerAnswer modem_manager = ModemManagerAnswer::kNotRunning;
    std::optional<UsbIds> ids;
};
DeviceHolders FindDeviceHolders(const std::string& device_path,
                                const std::filesystem::path& sysfs_tty = "/sys/class/tty");
std::string ExplainDeviceHolders(const std::string& device_path, const DeviceHolders& holders,
                                 const std::string& modem_name = "");

// Why a serial device cannot be opened, for the user: the system's reason
// (errno `error`) and, when the device belongs to the group "dialout" and the
// user is not in it, that joining the group is the way. `group` is the
// device's group name. Empty for error 0.
std::string ExplainOpenError(const std::string& device_path, int error, const std::string& group,
                             bool user_in_group);

// The same for the device as it is now: opens it (read-write, not waiting
// for a carrier) and closes it again. Empty when it opens.
std::string ExplainOpenFailure(const std::string& device_path);

}  // namespace platform
