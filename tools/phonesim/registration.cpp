#include "tools/phonesim/registration.h"

#include <filesystem>

#include "platform/ports.h"
#include "platform/registry.h"

namespace phonesim {
namespace {
constexpr const char* kExtModems = "ExtModems";
}

bool RegisterModem(const std::string& friendly_name, const std::string& device,
                   const std::string& alias_wanted, std::string* key, std::string* alias,
                   std::string* error) {
    platform::Registry registry = platform::Registry::Device();
    std::string name = friendly_name;
    for (char& c : name) {
        if (c == '\\')
            c = '_';
    }
    *key = std::string(kExtModems) + "\\" + name;
    if (registry.KeyExists(platform::Hive::LocalMachine, *key)) {
        // An entry left behind by a phone that was killed names a device that
        // is gone: take its place. One whose device exists belongs to a
        // running phone.
        auto port = registry.QueryString(platform::Hive::LocalMachine, *key, "Port");
        auto path = port ? platform::ResolvePort(registry, *port) : std::nullopt;
        std::error_code ec;
        if (path && std::filesystem::exists(*path, ec)) {
            *error = "an ExtModems entry \"" + name + "\" exists already for " + *path;
            key->clear();
            return false;
        }
        UnregisterModem(*key, port.value_or(""), path.value_or(""));
    }
    *alias = platform::AddPortAlias(registry, device, alias_wanted);
    if (alias->empty()) {
        *error = "cannot add the port alias in " + registry.file().string();
        key->clear();
        return false;
    }
    if (!registry.SetDword(platform::Hive::LocalMachine, *key, "DeviceType", 1) ||
        !registry.SetString(platform::Hive::LocalMachine, *key, "FriendlyName", friendly_name) ||
        !registry.SetString(platform::Hive::LocalMachine, *key, "Port", *alias)) {
        *error = "cannot write the ExtModems entry in " + registry.file().string();
        UnregisterModem(*key, *alias, device);
        key->clear();
        return false;
    }
    return true;
}

void UnregisterModem(const std::string& key, const std::string& alias, const std::string& device) {
    platform::Registry registry = platform::Registry::Device();
    registry.DeleteKey(platform::Hive::LocalMachine, key);
    auto current = registry.QueryString(platform::Hive::LocalMachine, platform::kPortsKey, alias);
    if (current && *current == device) {
        registry.DeleteValue(platform::Hive::LocalMachine, platform::kPortsKey, alias);
    }
}

}  // namespace phonesim
