// parlo-cli modem and options: the modems the client may use (the ExtModems
// registry entries) and the settings of the Options dialog.
#include <cstdlib>
#include <iomanip>
#include <ostream>
#include <string>
#include <vector>

#include "parlo/app/parlo_doc.h"
#include "parlo/cli/cli.h"
#include "parlo/cli/store_cli.h"
#include "parlo/store/modems.h"
#include "platform/ports.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace cli {

namespace {

constexpr const char* kModemUsage =
    "usage: parlo-cli modem list\n"
    "       parlo-cli modem add NAME PORT     (PORT: COMn: or a device such as /dev/ttyUSB0)\n"
    "       parlo-cli modem remove NAME\n"
    "       parlo-cli modem detect [--sysfs DIR] [--dev DIR]\n";

constexpr const char* kOptionsUsage =
    "usage: parlo-cli options [KEY VALUE]...\n"
    "  auto-sync on|off        automatic synchronisation\n"
    "  interval MINUTES        its interval, 2 to 99999\n"
    "  use-smsc on|off         use your own SMS centre number\n"
    "  smsc NUMBER             the SMS centre number\n"
    "  delete-after-sync on|off  delete the messages from the phone after a synchronisation\n"
    "  use-port on|off         always use the port below\n"
    "  port NAME               the port (COMn: or a device path)\n"
    "  phonebook sim|phone|both  where phonebook entries are saved\n"
    "  concatenated on|off     send a long text as one concatenated message\n"
    "                          (off: separate messages numbered \"1/2:\", \"2/2:\")\n";

int ModemList(Context& ctx, platform::Registry& reg) {
    std::vector<parlo::ExtModem> modems = parlo::ListExtModems(reg);
    if (modems.empty()) {
        ctx.out << "No modem is registered. Add one with 'parlo-cli modem add NAME PORT' or "
                   "'parlo-cli modem detect'.\n";
        return kOk;
    }
    std::vector<parlo::ModemEntry> ports;
    parlo::BuildPortList(reg, &ports);
    for (const parlo::ExtModem& m : modems) {
        std::string port = m.port.value_or("(no port)");
        auto device = m.port ? platform::ResolvePort(reg, *m.port) : std::nullopt;
        bool usable = false;
        for (const parlo::ModemEntry& e : ports)
            usable |= m.friendly_name && platform::ToUtf8(e.m_strName) == *m.friendly_name;
        ctx.out << m.friendly_name.value_or("(no name)") << "\n"
                << "  key:         ExtModems\\" << m.key << "\n"
                << "  device type: "
                << (m.device_type ? std::to_string(*m.device_type) : std::string("(none)"))
                << (usable ? "  (offered as a port)" : "  (not offered)") << "\n"
                << "  port:        " << port;
        if (device && *device != port)
            ctx.out << " -> " << *device;
        else if (!device)
            ctx.out << "  (cannot be resolved)";
        ctx.out << "\n";
    }
    return kOk;
}

int ModemDetect(Context& ctx, platform::Registry& reg, const std::vector<std::string>& a) {
    std::string sysfs = "/sys/class/tty", dev = "/dev";
    for (size_t i = 1; i < a.size(); ++i) {
        if (a[i] == "--sysfs" && i + 1 < a.size()) {
            sysfs = a[++i];
        } else if (a[i] == "--dev" && i + 1 < a.size()) {
            dev = a[++i];
        } else {
            ctx.err << kModemUsage;
            return kUsage;
        }
    }
    std::vector<platform::SerialDevice> devices = platform::DiscoverSerialDevices(sysfs, dev);
    if (devices.empty()) {
        ctx.out << "No serial device found (USB serial, ACM, rfcomm or IrDA).\n";
        return kFailed;
    }
    for (const platform::SerialDevice& d : devices)
        ctx.out << "Probing " << d.path << " ...\n";
    std::vector<parlo::DetectedModem> found = parlo::DetectModems(
        reg, devices, [](const std::string& path) { return parlo::ProbeModem(path); });
    if (found.empty()) {
        ctx.out << "No device answered \"AT\".\n";
        return kFailed;
    }
    for (const parlo::DetectedModem& m : found) {
        ctx.out << m.device << " answers as " << m.alias
                << (m.key.empty() ? " (registered already)\n"
                                  : " and is registered as ExtModems\\" + m.key + "\n");
    }
    return kOk;
}

void PrintOptions(Context& ctx, const parlo::CSettings& s) {
    const char* place = s.m_nPhonebookFlags == parlo::PB_SIM     ? "sim"
                        : s.m_nPhonebookFlags == parlo::PB_PHONE ? "phone"
                                                                 : "both";
    int interval = s.m_nAutoSyncInterval < 2 ? 60 : s.m_nAutoSyncInterval;
    ctx.out << "auto-sync          " << (s.m_bAutoSync ? "on" : "off") << "\n"
            << "interval           " << interval << "\n"
            << "use-smsc           " << (s.m_bOwnSmsCentre ? "on" : "off") << "\n"
            << "smsc               " << platform::ToUtf8(s.m_strSmsCentre) << "\n"
            << "delete-after-sync  " << (s.m_bDeleteAfterSync ? "on" : "off") << "\n"
            << "use-port           " << (s.m_bUsePort ? "on" : "off") << "\n"
            << "port               " << platform::ToUtf8(s.m_strUserPort) << "\n"
            << "phonebook          " << place << "\n"
            << "concatenated       " << (s.m_bConcatenated ? "on" : "off") << "\n"
            << "(phone model \"" << platform::ToUtf8(s.m_strPhoneModel) << "\", provider \""
            << platform::ToUtf8(s.m_strProvider) << "\", connection \""
            << platform::ToUtf8(s.m_strConnection) << "\")\n";
}

bool ValidSmsCentre(const std::u16string& n) {
    return !n.empty() && n.find_first_not_of(u"+;0123456789") == std::u16string::npos;
}

}  // namespace

int CmdModem(Context& ctx) {
    const std::vector<std::string>& a = ctx.args;
    platform::Registry reg = platform::Registry::Device();
    const std::string sub = a.empty() ? "list" : a[0];
    if (sub == "list" && a.size() <= 1)
        return ModemList(ctx, reg);
    if (sub == "add" && a.size() == 3) {
        std::string error;
        std::string key = parlo::AddExtModem(reg, a[1], a[2], &error);
        if (key.empty()) {
            ctx.err << "parlo-cli: " << error << "\n";
            return kFailed;
        }
        ctx.out << "Registered " << a[1] << " on "
                << reg.QueryString(platform::Hive::LocalMachine, "ExtModems\\" + key, "Port")
                       .value_or("")
                << ".\n";
        return kOk;
    }
    if (sub == "remove" && a.size() == 2) {
        if (!parlo::RemoveExtModem(reg, a[1])) {
            ctx.err << "parlo-cli: no modem named '" << a[1] << "'\n";
            return kFailed;
        }
        return kOk;
    }
    if (sub == "detect")
        return ModemDetect(ctx, reg, a);
    ctx.err << kModemUsage;
    return kUsage;
}

int CmdOptions(Context& ctx) {
    const std::vector<std::string>& a = ctx.args;
    if (a.size() % 2 != 0) {
        ctx.err << kOptionsUsage;
        return kUsage;
    }
    parlo::NullParloView view;
    parlo::CParloDoc doc(&view, &ctx.prompt);
    doc.LoadSettings();
    doc.LoadPhonebookSettings();
    parlo::CSettings s = doc.m_settings;
    if (a.empty()) {
        PrintOptions(ctx, s);
        return kOk;
    }
    for (size_t i = 0; i < a.size(); i += 2) {
        const std::string& key = a[i];
        const std::string& value = a[i + 1];
        bool ok = true;
        if (key == "auto-sync") {
            ok = ParseOnOff(value, &s.m_bAutoSync);
        } else if (key == "interval") {
            char* end = nullptr;
            long v = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || v < 2 || v > 99999) {
                doc.Ask(61714);  // "Please enter a number between %1 and %2."
                ctx.err << "parlo-cli: the interval is 2 to 99999 minutes\n";
                return kFailed;
            }
            s.m_nAutoSyncInterval = static_cast<int32_t>(v);
        } else if (key == "use-smsc") {
            ok = ParseOnOff(value, &s.m_bOwnSmsCentre);
        } else if (key == "smsc") {
            s.m_strSmsCentre = platform::FromUtf8(value);
        } else if (key == "delete-after-sync") {
            ok = ParseOnOff(value, &s.m_bDeleteAfterSync);
        } else if (key == "use-port") {
            ok = ParseOnOff(value, &s.m_bUsePort);
        } else if (key == "port") {
            // Port names are kept in upper case, device paths as they are.
            std::string port = value;
            if (!port.empty() && port[0] != '/') {
                for (char& c : port)
                    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            s.m_strUserPort = platform::FromUtf8(port);
        } else if (key == "concatenated") {
            ok = ParseOnOff(value, &s.m_bConcatenated);
        } else if (key == "phonebook") {
            if (value == "sim")
                s.m_nPhonebookFlags = parlo::PB_SIM;
            else if (value == "phone")
                s.m_nPhonebookFlags = parlo::PB_PHONE;
            else if (value == "both")
                s.m_nPhonebookFlags = parlo::PB_BOTH;
            else
                ok = false;
        } else {
            ok = false;
        }
        if (!ok) {
            ctx.err << "parlo-cli: bad option " << key << " " << value << "\n" << kOptionsUsage;
            return kUsage;
        }
    }
    // What the dialog's "Set" button allows.
    if (s.m_bOwnSmsCentre && !ValidSmsCentre(s.m_strSmsCentre)) {
        ctx.err << "parlo-cli: an SMS centre number (digits, '+') is needed with use-smsc on\n";
        return kFailed;
    }
    if (s.m_bUsePort && s.m_strUserPort.empty()) {
        ctx.err << "parlo-cli: use-port on needs a port\n";
        return kFailed;
    }
    if (s.m_nAutoSyncInterval < 2)
        s.m_nAutoSyncInterval = 60;
    doc.m_settings = s;
    if (!doc.SaveSettings()) {
        doc.Ask(57346);  // "Save failed."
        return kFailed;
    }
    PrintOptions(ctx, s);
    return kOk;
}

}  // namespace cli
