// Registering modems under HKEY_LOCAL_MACHINE\ExtModems, and finding the
// machine's serial devices that answer "AT".
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ports.h"

namespace platform {
class Registry;
}

namespace parlo {

struct ExtModem {
    std::string key;  // subkey name below ExtModems
    std::optional<uint32_t> device_type;
    std::optional<std::string> friendly_name;
    std::optional<std::string> port;  // e.g. "COM3:" or a device path
};

std::vector<ExtModem> ListExtModems(const platform::Registry& registry);

// Registers a data modem (DeviceType 1) named `friendly_name` on `port`. A
// device path ("/dev/ttyUSB0") gets a free "COMn:" alias, which becomes the
// stored port. Returns the subkey name, or "" when the name is taken or the
// registry cannot be written (`error` tells which).
std::string AddExtModem(platform::Registry& registry, const std::string& friendly_name,
                        const std::string& port, std::string* error = nullptr);

// Removes the modem whose subkey or friendly name is `name`.
bool RemoveExtModem(platform::Registry& registry, const std::string& name);

// Sends "AT" to a serial device (9600 8N1, raw) and waits up to `timeout` for
// "OK". The device is opened exclusively; a device in use does not answer.
bool ProbeModem(const std::string& device_path,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

using ModemProber = std::function<bool(const std::string& device_path)>;

struct DetectedModem {
    std::string device;
    std::string name;   // its friendly name
    std::string key;    // "" when it was registered already
    std::string alias;  // its "COMn:" name
};

// Probes each device and registers every one that answers and is not
// registered yet (by device path or by an alias that resolves to it).
std::vector<DetectedModem> DetectModems(platform::Registry& registry,
                                        const std::vector<platform::SerialDevice>& devices,
                                        const ModemProber& prober);

}  // namespace parlo
