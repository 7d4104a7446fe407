#include "parlo/store/port_choices.h"

#include <algorithm>
#include <optional>
#include <system_error>

#include "platform/exclusive_file.h"
#include "platform/ports.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace parlo {

namespace {

namespace fs = std::filesystem;

// The device a path finally names ("" when it cannot be resolved).
std::string Canonical(const std::string& path) {
    std::error_code ec;
    fs::path real = fs::canonical(path, ec);
    return ec ? std::string() : real.string();
}

struct ByIdLink {
    std::string link;    // /dev/serial/by-id/usb-...
    std::string device;  // its canonical target
};

std::vector<ByIdLink> ReadById(const fs::path& dir) {
    std::vector<ByIdLink> out;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string device = Canonical(it->path().string());
        if (!device.empty())
            out.push_back({it->path().string(), device});
    }
    std::sort(out.begin(), out.end(),
              [](const ByIdLink& a, const ByIdLink& b) { return a.link < b.link; });
    return out;
}

void Append(std::u16string* text, const std::u16string& part) {
    if (part.empty())
        return;
    if (!text->empty())
        *text += u", ";
    *text += part;
}

}  // namespace

bool CanOpenExclusively(const std::string& device) {
    platform::ExclusiveFile probe;
    if (!probe.OpenDevice(device))
        return false;
    probe.Close();
    return true;
}

std::vector<PortChoice> DescribePorts(const std::vector<std::u16string>& offered,
                                      const std::vector<ModemEntry>& port_list,
                                      const platform::Registry& registry, const fs::path& by_id_dir,
                                      const PortProbe& probe) {
    const std::vector<ByIdLink> by_id = ReadById(by_id_dir);
    auto device_of = [&](const std::u16string& name) -> std::string {
        std::optional<std::string> dev = platform::ResolvePort(registry, platform::ToUtf8(name));
        return dev ? Canonical(*dev) : std::string();
    };
    // The modems registered on a device, and the aliases that lead to it.
    auto modems_on = [&](const std::string& device, const std::u16string& name) {
        std::u16string names;
        for (const ModemEntry& m : port_list) {
            bool same =
                platform::EqualsNoCase(platform::ToUtf8(m.m_strPort), platform::ToUtf8(name));
            if (!same && !device.empty())
                same = device_of(m.m_strPort) == device;
            if (same)
                Append(&names, m.m_strName);
        }
        return names;
    };
    auto aliases_of = [&](const std::string& device) {
        std::u16string names;
        for (const platform::RegValue& v :
             registry.Values(platform::Hive::LocalMachine, platform::kPortsKey)) {
            if (!device.empty() && Canonical(v.str) == device)
                Append(&names, platform::FromUtf8(v.name));
        }
        return names;
    };

    std::vector<PortChoice> out;
    for (const std::u16string& name : offered) {
        const std::string device = device_of(name);
        std::u16string text = modems_on(device, name);
        if (!device.empty()) {
            std::u16string where = platform::FromUtf8(device);
            for (const ByIdLink& l : by_id) {
                if (l.device == device)
                    where +=
                        u" (" + platform::FromUtf8(fs::path(l.link).filename().string()) + u")";
            }
            Append(&text, where);
        }
        out.push_back({name, text});
    }
    for (const ByIdLink& l : by_id) {
        const std::u16string name = platform::FromUtf8(l.link);
        const bool listed = std::any_of(out.begin(), out.end(),
                                        [&](const PortChoice& c) { return c.name == name; });
        if (listed)
            continue;
        const std::u16string modems = modems_on(l.device, name);
        if (modems.empty() && !probe(l.link))
            continue;  // open elsewhere and not a port of the port list
        std::u16string text = modems;
        Append(&text, aliases_of(l.device));
        Append(&text, platform::FromUtf8(l.device));
        out.push_back({name, text});
    }
    return out;
}

}  // namespace parlo
