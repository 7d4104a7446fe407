// Registering the phone as a modem of the device: an ExtModems entry
// (DeviceType 1, FriendlyName, Port) and a "COMn:" alias for the device path.
#pragma once

#include <string>

namespace phonesim {

// `alias_wanted` empty: the first free "COMn:". Fills the registry key of the
// entry and the alias used.
bool RegisterModem(const std::string& friendly_name, const std::string& device,
                   const std::string& alias_wanted, std::string* key, std::string* alias,
                   std::string* error);
// Removes the entry, and the alias while it still names `device`.
void UnregisterModem(const std::string& key, const std::string& alias, const std::string& device);

}  // namespace phonesim
