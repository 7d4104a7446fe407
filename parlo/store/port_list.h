// The port list: serial ports that lead to a data-capable modem.
//
// Modems are registered under HKEY_LOCAL_MACHINE\ExtModems\<modem> with
// "DeviceType" (DWORD, only 1 is taken), "FriendlyName" and "Port" (for
// example "COM3:"). The telephony interface lists lines by name; a modem is
// offered when its friendly name names a usable line.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class Registry;
}

namespace parlo {

inline constexpr const char* kExtModemsKey = "ExtModems";

struct ModemEntry {
    std::u16string m_strName;  // the telephony line name
    std::u16string m_strPort;  // the port device name, e.g. "COM3:"
    int32_t m_nDeviceIndex = 0;

    bool operator==(const ModemEntry&) const = default;
};

struct TelephonyLine {
    std::u16string name;       // empty: the line has no name ("Line %d")
    bool data_modem = true;    // media modes include data modem
    bool data_bearer = true;   // bearer modes include data
    bool voice_bearer = true;  // and voice
};

// The telephony interface as the port list uses it.
class Telephony {
  public:
    enum class Init { kOk, kReinit, kFailed };
    virtual ~Telephony() = default;
    virtual Init Initialize() = 0;
    virtual std::vector<TelephonyLine> Lines() = 0;
};

// The stand-in of this platform: one data and voice capable line per
// ExtModems subkey of DeviceType 1, named by its FriendlyName, in subkey order.
class RegistryTelephony : public Telephony {
  public:
    explicit RegistryTelephony(const platform::Registry& registry) : registry_(registry) {}
    Init Initialize() override { return Init::kOk; }
    std::vector<TelephonyLine> Lines() override;

  private:
    const platform::Registry& registry_;
};

enum class PortListResult {
    kOk,
    kRegistryError,   // "Access to registers failed." (65009)
    kTelephonyError,  // "Error during initialisation." (65108)
    kNoLines,         // "There are no modem devices available." (65109)
    kNoModem,         // no ExtModems entry of DeviceType 1 (no message of its own)
};

struct PortListOptions {
    Telephony* telephony = nullptr;  // null: RegistryTelephony
    // Asked after 5000 ms of re-initialisation requests ("Initalisaton
    // failed\n tapi.dll. ..." with OK/Cancel): true = OK, stop retrying.
    std::function<bool()> ask_stop_retrying;
};

// Builds the list; on failure `out` keeps the entries built so far.
PortListResult BuildPortList(const platform::Registry& registry, std::vector<ModemEntry>* out,
                             const PortListOptions& options = {});

}  // namespace parlo
