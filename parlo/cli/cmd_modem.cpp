// parlo-cli modem and options: the modems the client may use (the ExtModems
// registry entries) and the settings of the Options dialog.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <ostream>
#include <string>
#include <vector>

#include "parlo/app/parlo_doc.h"
#include "parlo/cli/cli.h"
#include "parlo/cli/store_cli.h"
#include "parlo/store/modems.h"
#include "platform/device_users.h"
#include "platform/ports.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace cli {

namespace {

constexpr const char* kModemUsage =
    "usage: parlo-cli modem list\n"
    "       parlo-cli modem add NAME PORT     (PORT: COMn: or a device such as /dev/ttyUSB0)\n"
    "       parlo-cli modem remove NAME\n"
    "       parlo-cli modem detect [--sysfs DIR] [--dev DIR]\n"
    "       parlo-cli modem rule NAME [--sysfs DIR]   (the udev rule that keeps\n"
    "                                       ModemManager away from the modem)\n";

constexpr const char* kOptionsUsage =
    "usage: parlo-cli options [KEY VALUE]...\n"
    "  auto-sync on|off        automatic synchronisation\n"
    "  interval MINUTES        its interval, 2 to 99999\n"
    "  use-smsc on|off         use your own SMS centre number\n"
    "  smsc NUMBER             the SMS centre number\n"
    "  delete-after-sync on|off  delete the messages from the phone after a synchronisation\n"
    "  use-port on|off         always use the port below\n"
    "  port NAME               the port (COMn: or a device path)\n"
    "  connection NAME|auto    the registered modem to use ('parlo-cli modem list');\n"
    "                          auto: the only one, or the one on COM3:\n"
    "  phonebook sim|phone|both  where phonebook entries are saved\n"
    "  concatenated on|off     send a long text as one concatenated message\n"
    "                          (off: separate messages numbered \"1/2:\", \"2/2:\")\n";

bool ChooseIfNone(Context& ctx, const std::string& name);

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
    // A device that another program holds (ModemManager on most desktops)
    // is not probed: both would get garbage, and the other program might
    // take our probe for its own answer.
    std::vector<platform::SerialDevice> free;
    for (const platform::SerialDevice& d : devices) {
        platform::DeviceHolders holders = platform::FindDeviceHolders(d.path, sysfs);
        std::string why = platform::ExplainDeviceHolders(d.path, holders);
        if (!why.empty()) {
            ctx.out << "Skipping " << d.path << ":\n" << why;
            continue;
        }
        ctx.out << "Probing " << d.path << " ...\n";
        free.push_back(d);
    }
    std::vector<parlo::DetectedModem> found = parlo::DetectModems(
        reg, free, [](const std::string& path) { return parlo::ProbeModem(path); });
    if (found.empty()) {
        ctx.out << (free.empty() ? "No free device to probe.\n" : "No device answered \"AT\".\n");
        return kFailed;
    }
    for (const parlo::DetectedModem& m : found) {
        ctx.out << m.device << " answers as " << m.alias
                << (m.key.empty() ? " (registered already)\n"
                                  : " and is registered as ExtModems\\" + m.key + "\n");
    }
    return ChooseIfNone(ctx, found.front().name) ? kOk : kFailed;
}

// The udev rule for a registered modem, on standard output, for the helper
// script that installs it.
int ModemRule(Context& ctx, platform::Registry& reg, const std::string& name,
              const std::string& sysfs) {
    const parlo::ExtModem* modem = nullptr;
    std::vector<parlo::ExtModem> modems = parlo::ListExtModems(reg);
    for (const parlo::ExtModem& m : modems) {
        if (m.key == name || m.friendly_name.value_or("") == name)
            modem = &m;
    }
    if (!modem || !modem->port) {
        ctx.err << "parlo-cli: no modem named '" << name << "' (see 'parlo-cli modem list')\n";
        return kFailed;
    }
    auto device = platform::ResolvePort(reg, *modem->port);
    if (!device) {
        ctx.err << "parlo-cli: the port " << *modem->port << " of '" << name
                << "' leads to no device\n";
        return kFailed;
    }
    auto ids = platform::UsbIdsOf(*device, sysfs);
    if (!ids) {
        ctx.err << "parlo-cli: " << *device
                << " is not a USB device; a rule by vendor and product id does not fit it\n";
        return kFailed;
    }
    ctx.out << "# " << name << " on " << *device << ": keep ModemManager away from it\n"
            << platform::ModemManagerIgnoreRule(*ids) << "\n";
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
            << "connection         "
            << (s.m_strConnection.empty() ? "auto" : platform::ToUtf8(s.m_strConnection)) << "\n"
            << "use-port           " << (s.m_bUsePort ? "on" : "off") << "\n"
            << "port               " << (s.m_bUsePort ? platform::ToUtf8(s.m_strUserPort) : "")
            << "\n"
            << "phonebook          " << place << "\n"
            << "concatenated       " << (s.m_bConcatenated ? "on" : "off") << "\n"
            << "(phone model \"" << platform::ToUtf8(s.m_strPhoneModel) << "\", provider \""
            << platform::ToUtf8(s.m_strProvider) << "\")\n";
}

// What reading "vok.ini" found, beyond what the loading rules make of it.
struct SettingsFileCheck {
    enum class State { kAbsent, kComplete, kDamaged, kUnreadable } state = State::kAbsent;
    std::string reason;                        // kDamaged, kUnreadable
    std::vector<std::string> kept, fell_back;  // kDamaged: names of settings
};

// Which settings a damaged file still gives: the file is parsed over two
// different starting values; a field that ends up the same in both was
// read from the file, the others fell back.
void CompareFields(std::string_view bytes, SettingsFileCheck* check) {
    parlo::CSettings a, b;
    b.m_strPhoneModel = b.m_strProvider = b.m_strConnection = b.m_strSmsCentre = u"\x1";
    b.m_strKept4 = b.m_strKept5 = b.m_strKept6 = b.m_strKept8 = b.m_strKept9 = b.m_strKept11 =
        u"\x1";
    b.m_bAutoSync = b.m_nAutoSyncInterval = b.m_bOwnSmsCentre = b.m_bDeleteAfterSync = -7;
    b.m_nKept10 = b.m_nKept16 = b.m_nKept17 = b.m_nKept18 = b.m_nKept19 = -7;
    b.m_pairs[u"\x1"] = u"\x1";
    parlo::ParseVokIni(bytes, &a);
    parlo::ParseVokIni(bytes, &b);
    auto note = [check](const char* name, bool read) {
        (read ? check->kept : check->fell_back).push_back(name);
    };
    note("phone model", a.m_strPhoneModel == b.m_strPhoneModel);
    note("provider", a.m_strProvider == b.m_strProvider);
    note("connection", a.m_strConnection == b.m_strConnection);
    note("auto-sync", a.m_bAutoSync == b.m_bAutoSync);
    note("interval", a.m_nAutoSyncInterval == b.m_nAutoSyncInterval);
    note("use-smsc", a.m_bOwnSmsCentre == b.m_bOwnSmsCentre);
    note("smsc", a.m_strSmsCentre == b.m_strSmsCentre);
    note("delete-after-sync", a.m_bDeleteAfterSync == b.m_bDeleteAfterSync);
    bool others = a.m_strKept4 == b.m_strKept4 && a.m_strKept5 == b.m_strKept5 &&
                  a.m_strKept6 == b.m_strKept6 && a.m_strKept8 == b.m_strKept8 &&
                  a.m_strKept9 == b.m_strKept9 && a.m_nKept10 == b.m_nKept10 &&
                  a.m_strKept11 == b.m_strKept11 && a.m_nKept16 == b.m_nKept16 &&
                  a.m_nKept17 == b.m_nKept17 && a.m_nKept18 == b.m_nKept18 &&
                  a.m_nKept19 == b.m_nKept19 && a.m_pairs == b.m_pairs;
    note("the values kept for other programs", others);
}

SettingsFileCheck CheckSettingsFile(const std::filesystem::path& file) {
    SettingsFileCheck check;
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return check;
        check.state = SettingsFileCheck::State::kUnreadable;
        check.reason = std::strerror(errno);
        return check;
    }
    std::string bytes;
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            check.state = SettingsFileCheck::State::kUnreadable;
            check.reason = std::strerror(errno);
            ::close(fd);
            return check;
        }
        if (n == 0)
            break;
        bytes.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    parlo::CSettings probe;
    int r = parlo::ParseVokIni(bytes, &probe);
    if (r == 1) {
        check.state = SettingsFileCheck::State::kComplete;
        return check;
    }
    check.state = SettingsFileCheck::State::kDamaged;
    if (bytes.empty()) {
        check.reason = "it is empty";
    } else if (r == 2) {
        check.reason = "it is not a settings file";
    } else {
        check.reason = "it ends in the middle of a setting";
    }
    if (r == 0) {
        CompareFields(bytes, &check);
    } else {
        // Nothing of it is read: every setting takes its default.
        CompareFields(std::string_view(), &check);
    }
    return check;
}

std::string JoinNames(const std::vector<std::string>& names) {
    std::string out;
    for (size_t i = 0; i < names.size(); ++i)
        out += (i ? ", " : "") + names[i];
    return out.empty() ? "none" : out;
}

// modem add and detect: while no connection is chosen, the modem just
// registered becomes the one the client uses. A settings file that cannot be
// read whole is left alone: saving would replace the user's other settings.
// False when the choice was due and could not be saved.
bool ChooseIfNone(Context& ctx, const std::string& name) {
    parlo::NullParloView view;
    parlo::CParloDoc doc(&view, &ctx.prompt);
    const SettingsFileCheck check = CheckSettingsFile(doc.DataDir() / "vok.ini");
    if (check.state == SettingsFileCheck::State::kDamaged ||
        check.state == SettingsFileCheck::State::kUnreadable) {
        ctx.err << "parlo-cli: the connection was not set, since vok.ini cannot be read whole ("
                << check.reason << "); choose it with 'parlo-cli options connection \"" << name
                << "\"'\n";
        return false;
    }
    doc.LoadSettings();
    doc.LoadPhonebookSettings();
    parlo::CSettings s = doc.Settings();
    if (!s.m_strConnection.empty())
        return true;
    s.m_strConnection = platform::FromUtf8(name);
    doc.SetSettings(s);
    if (!doc.SaveSettings()) {
        ctx.err << "parlo-cli: the connection could not be set to " << name
                << ": the settings cannot be written\n";
        return false;
    }
    ctx.out << "No connection was chosen: the client now uses " << name
            << " ('parlo-cli options connection NAME' chooses another).\n";
    return true;
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
        std::string port =
            reg.QueryString(platform::Hive::LocalMachine, "ExtModems\\" + key, "Port").value_or("");
        ctx.out << "Registered " << a[1] << " on " << port << ".\n";
        if (auto device = platform::ResolvePort(reg, port)) {
            std::string why =
                platform::ExplainDeviceHolders(*device, platform::FindDeviceHolders(*device), a[1]);
            if (!why.empty())
                ctx.err << "Warning: " << why;
        }
        return ChooseIfNone(ctx, a[1]) ? kOk : kFailed;
    }
    if (sub == "rule" && (a.size() == 2 || (a.size() == 4 && a[2] == "--sysfs")))
        return ModemRule(ctx, reg, a[1], a.size() == 4 ? a[3] : "/sys/class/tty");
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
    const std::filesystem::path file = doc.DataDir() / "vok.ini";
    SettingsFileCheck check = CheckSettingsFile(file);
    doc.LoadSettings();
    doc.LoadPhonebookSettings();
    if (check.state == SettingsFileCheck::State::kDamaged) {
        // The port lives in the registry, not in the damaged file: keep it.
        auto port = doc.Registry().QueryString(platform::Hive::CurrentUser, parlo::kProfileDataKey,
                                               "userport");
        parlo::CSettings kept = doc.Settings();
        kept.m_strUserPort = port ? platform::FromUtf8(*port) : std::u16string();
        kept.m_bUsePort = kept.m_strUserPort.empty() ? 0 : 1;
        doc.SetSettings(kept);
        check.kept.push_back("use-port and port");
        check.kept.push_back("concatenated");  // a profile value too
    }
    parlo::CSettings s = doc.Settings();
    if (check.state == SettingsFileCheck::State::kUnreadable) {
        ctx.err << "parlo-cli: " << file.string() << " cannot be read (" << check.reason << ")"
                << (a.empty() ? "; these are the defaults, not your settings" : "") << "\n";
        if (!a.empty()) {
            ctx.err << "parlo-cli: nothing was changed: saving now would replace your settings "
                       "with the defaults\n";
            return kFailed;
        }
    } else if (check.state == SettingsFileCheck::State::kDamaged) {
        ctx.err << "parlo-cli: " << file.string() << " is damaged (" << check.reason << ").\n"
                << "  kept:                      " << JoinNames(check.kept) << "\n"
                << "  fell back to the defaults: " << JoinNames(check.fell_back) << "\n";
        if (!a.empty())
            ctx.err << "  Saving writes these values.\n";
    }
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
        } else if (key == "connection") {
            if (value == "auto") {
                s.m_strConnection.clear();
            } else {
                std::vector<parlo::ModemEntry> ports;
                parlo::BuildPortList(doc.Registry(), &ports);
                bool registered = false;
                for (const parlo::ModemEntry& e : ports)
                    registered |= platform::ToUtf8(e.m_strName) == value;
                if (!registered) {
                    ctx.err << "parlo-cli: no registered modem is named '" << value
                            << "' (see 'parlo-cli modem list')\n";
                    return kFailed;
                }
                s.m_strConnection = platform::FromUtf8(value);
            }
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
    if (s.m_nAutoSyncInterval < 2)
        s.m_nAutoSyncInterval = 60;
    // What the Options dialog's "Set" allows.
    if (const std::u16string why = parlo::CParloDoc::CheckOptions(s); !why.empty()) {
        ctx.err << "parlo-cli: " << platform::ToUtf8(why) << " Nothing was changed.\n";
        return kFailed;
    }
    doc.SetSettings(s);
    if (!doc.SaveSettings()) {
        doc.Ask(57346);  // "Save failed."
        return kFailed;
    }
    // What was saved, read back: a value cut on the way shows cut.
    parlo::CParloDoc saved(&view, &ctx.prompt);
    saved.LoadSettings();
    saved.LoadPhonebookSettings();
    ctx.out << "Saved:\n";
    PrintOptions(ctx, saved.Settings());
    return kOk;
}

}  // namespace cli
