#include "parlo/store/port_list.h"

#include <chrono>
#include <map>

#include "platform/registry.h"
#include "platform/text.h"

namespace parlo {

namespace {

constexpr size_t kMaxSubkeyName = 999;
constexpr size_t kMaxLineName = 512;
constexpr auto kReinitWait = std::chrono::milliseconds(5000);

std::string ModemKey(const std::string& sub) {
    return std::string(kExtModemsKey) + "\\" + sub;
}

}  // namespace

std::vector<TelephonyLine> RegistryTelephony::Lines() {
    std::vector<TelephonyLine> lines;
    for (const std::string& sub : registry_.Subkeys(platform::Hive::LocalMachine, kExtModemsKey)) {
        auto type = registry_.QueryDword(platform::Hive::LocalMachine, ModemKey(sub), "DeviceType");
        if (!type || *type != 1)
            continue;
        auto name =
            registry_.QueryString(platform::Hive::LocalMachine, ModemKey(sub), "FriendlyName");
        TelephonyLine line;
        line.name = name ? platform::FromUtf8(*name) : std::u16string();
        lines.push_back(line);
    }
    return lines;
}

PortListResult BuildPortList(const platform::Registry& registry, std::vector<ModemEntry>* out,
                             const PortListOptions& options) {
    const auto hklm = platform::Hive::LocalMachine;
    // On this platform a missing ExtModems key means that no modem has been
    // registered yet.
    if (!registry.KeyExists(hklm, kExtModemsKey))
        return PortListResult::kNoModem;

    std::vector<std::pair<std::u16string, std::u16string>> modems;  // friendly name -> port
    bool found = false;
    for (size_t i = 0;; ++i) {
        std::string sub;
        if (!registry.EnumSubkey(hklm, kExtModemsKey, i, &sub))
            break;
        if (sub.size() > kMaxSubkeyName)
            continue;
        auto type = registry.QueryDword(hklm, ModemKey(sub), "DeviceType");
        if (!type || *type != 1)
            continue;
        auto name = registry.QueryString(hklm, ModemKey(sub), "FriendlyName");
        auto port = registry.QueryString(hklm, ModemKey(sub), "Port");
        if (!name || !port)
            return PortListResult::kRegistryError;
        modems.emplace_back(platform::FromUtf8(*name), platform::FromUtf8(*port));
        found = true;
    }
    if (!found)
        return PortListResult::kNoModem;

    RegistryTelephony standin(registry);
    Telephony* tel = options.telephony ? options.telephony : &standin;
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        Telephony::Init init = tel->Initialize();
        if (init == Telephony::Init::kOk)
            break;
        if (init == Telephony::Init::kFailed)
            return PortListResult::kTelephonyError;
        if (std::chrono::steady_clock::now() - start >= kReinitWait) {
            if (!options.ask_stop_retrying || options.ask_stop_retrying()) {
                return PortListResult::kTelephonyError;
            }
            start = std::chrono::steady_clock::now();
        }
    }
    std::vector<TelephonyLine> lines = tel->Lines();
    if (lines.empty())
        return PortListResult::kNoLines;

    for (size_t i = 0; i < lines.size(); ++i) {
        const TelephonyLine& line = lines[i];
        std::u16string name = line.name.substr(0, kMaxLineName / 2);
        if (name.empty())
            name = platform::FromUtf8("Line " + std::to_string(i));
        if (!line.data_modem || !line.data_bearer || !line.voice_bearer)
            continue;
        for (const auto& [friendly, port] : modems) {
            if (friendly == name && !port.empty()) {
                out->push_back(ModemEntry{name, port, static_cast<int32_t>(i)});
                break;
            }
        }
    }
    return PortListResult::kOk;
}

}  // namespace parlo
