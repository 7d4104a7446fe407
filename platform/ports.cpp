#include "platform/ports.h"

#include <algorithm>

#include "platform/registry.h"
#include "platform/text.h"

namespace platform {
namespace fs = std::filesystem;

std::optional<std::string> ResolvePort(const Registry& registry, const std::string& name) {
    if (!name.empty() && name[0] == '/')
        return name;
    if (name.size() < 4 || !EqualsNoCase(name.substr(0, 3), "COM"))
        return std::nullopt;
    std::string alias = name.back() == ':' ? name : name + ":";
    auto device = registry.QueryString(Hive::LocalMachine, kPortsKey, alias);
    if (!device || device->empty() || (*device)[0] != '/')
        return std::nullopt;
    return device;
}

std::optional<std::string> ResolvePort(const std::string& name) {
    if (!name.empty() && name[0] == '/')
        return name;
    return ResolvePort(Registry::Device(), name);
}

std::string AddPortAlias(Registry& registry, const std::string& device, const std::string& alias) {
    std::string name = alias;
    if (name.empty()) {
        std::vector<RegValue> taken = registry.Values(Hive::LocalMachine, kPortsKey);
        for (int n = 1; name.empty() && n < 1000; ++n) {
            std::string candidate = "COM" + std::to_string(n) + ":";
            bool used = std::any_of(taken.begin(), taken.end(), [&](const RegValue& v) {
                return EqualsNoCase(v.name, candidate);
            });
            if (!used)
                name = candidate;
        }
    }
    if (name.empty() || !registry.SetString(Hive::LocalMachine, kPortsKey, name, device))
        return "";
    return name;
}

namespace {

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

std::string ReadLine(const fs::path& p) {
    FILE* f = std::fopen(p.c_str(), "r");
    if (!f)
        return "";
    char buf[256] = {};
    std::string line = std::fgets(buf, sizeof buf, f) ? buf : "";
    std::fclose(f);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

}  // namespace

std::vector<SerialDevice> DiscoverSerialDevices(const fs::path& sysfs_tty, const fs::path& dev) {
    std::vector<SerialDevice> found;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(sysfs_tty, ec)) {
        std::string name = e.path().filename().string();
        SerialDevice d;
        if (StartsWith(name, "ttyUSB"))
            d.kind = SerialKind::UsbSerial;
        else if (StartsWith(name, "ttyACM"))
            d.kind = SerialKind::Acm;
        else if (StartsWith(name, "rfcomm"))
            d.kind = SerialKind::Rfcomm;
        else if (StartsWith(name, "ircomm"))
            d.kind = SerialKind::Irda;
        else
            continue;
        d.path = (dev / name).string();
        // USB devices name their product two levels up from the interface.
        for (const char* rel : {"device/../product", "device/../../product"}) {
            if (d.description.empty())
                d.description = ReadLine(e.path() / rel);
        }
        if (d.description.empty()) {
            std::error_code lec;
            fs::path driver = fs::read_symlink(e.path() / "device" / "driver", lec);
            if (!lec)
                d.description = driver.filename().string();
        }
        found.push_back(d);
    }
    std::sort(found.begin(), found.end(),
              [](const SerialDevice& a, const SerialDevice& b) { return a.path < b.path; });
    return found;
}

}  // namespace platform
