// The ports that the Options dialog offers, each with the names under which
// a desktop user knows the device: the registered modem's name, the device
// path, its /dev/serial/by-id name and the "COMn:" alias.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "parlo/store/port_list.h"

namespace platform {
class Registry;
}

namespace parlo {

struct PortChoice {
    std::u16string name;         // what "Use port" stores: "COM3:" or a device path
    std::u16string description;  // e.g. "Nokia 6310i, /dev/ttyUSB0 (usb-Nokia-if00)"

    bool operator==(const PortChoice&) const = default;
};

// Whether a device can be opened exclusively now (no other program holds it).
using PortProbe = std::function<bool(const std::string& device)>;
bool CanOpenExclusively(const std::string& device);

// `offered` are the names that may be offered (the port list's ports, then the
// "COMn:" ports that opened). Each gets its description; then every link of
// `by_id_dir` is offered under its own name, unless its device is already
// offered under a by-id name, and only when the port list names its device or
// `probe` can open it: a port open elsewhere is not offered otherwise.
std::vector<PortChoice> DescribePorts(const std::vector<std::u16string>& offered,
                                      const std::vector<ModemEntry>& port_list,
                                      const platform::Registry& registry,
                                      const std::filesystem::path& by_id_dir = "/dev/serial/by-id",
                                      const PortProbe& probe = CanOpenExclusively);

}  // namespace parlo
