// Serial port names and the machine's serial devices.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class Registry;

// "COMn:" aliases live under HKEY_LOCAL_MACHINE\Ports (value "COMn:", data a
// device path); a name starting with "/" is a device path as it is. Anything
// else, or an alias without an entry, cannot be resolved.
std::optional<std::string> ResolvePort(const std::string& name);
std::optional<std::string> ResolvePort(const Registry& registry, const std::string& name);

// Registers "COMn:" -> device path. An empty alias picks the first free
// "COMn:" (n from 1); the alias used is returned, or "" on failure.
std::string AddPortAlias(Registry& registry, const std::string& device,
                         const std::string& alias = "");

inline constexpr const char* kPortsKey = "Ports";

enum class SerialKind { UsbSerial, Acm, Rfcomm, Irda, Other };

struct SerialDevice {
    std::string path;  // /dev/ttyUSB0
    SerialKind kind = SerialKind::Other;
    std::string description;  // from sysfs where known (driver or product)
};

// Serial devices that can carry a phone: USB serial (ttyUSB*), ACM (ttyACM*),
// rfcomm (rfcomm*) and IrDA (ircomm*) devices under /sys/class/tty, sorted by
// path. `sysfs_tty` and `dev` can be redirected for tests.
std::vector<SerialDevice> DiscoverSerialDevices(
    const std::filesystem::path& sysfs_tty = "/sys/class/tty",
    const std::filesystem::path& dev = "/dev");

}  // namespace platform
