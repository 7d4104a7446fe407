// Settings, the device database and the ports the Options dialog offers.
#include "parlo/app/damage_report.h"
#include "parlo/app/parlo_doc.h"
#include "parlo_strings.h"
#include "platform/exclusive_file.h"
#include "platform/paths.h"
#include "platform/ports.h"
#include "platform/strings.h"
#include "platform/text.h"

namespace parlo {

namespace {

std::u16string AsciiUpper(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
    }
    return text;
}

}  // namespace

int CParloDoc::LoadSettings() {
    std::lock_guard lock(m_settingsMutex);
    return parlo::LoadSettings(m_dataDir, m_registry, &m_settings);
}

int CParloDoc::LoadPhonebookSettings() {
    PbIniRead read = PbIniRead::kWhole;
    int ok;
    {
        std::lock_guard lock(m_settingsMutex);
        ok = parlo::LoadPhonebookSettings(m_dataDir, &m_settings, &read);
    }
    if (read != PbIniRead::kWhole) {
        Message(DamageText("pb.ini",
                           read == PbIniRead::kNothing
                               ? "nothing of it could be used; both phonebooks are synchronised "
                                 "and the phonebook copy of phone identity 0 is used."
                               : "the phonebook choice was read and kept; the phone identity "
                                 "could not be read, so the phonebook copy of phone identity 0 "
                                 "is used.",
                           KeepDamagedCopy(m_dataDir / "pb.ini")));
    }
    return ok;
}

int CParloDoc::SaveSettings() {
    return parlo::SaveSettings(m_dataDir, m_registry, Settings());
}

CSettings CParloDoc::Settings() const {
    std::lock_guard lock(m_settingsMutex);
    return m_settings;
}

void CParloDoc::SetSettings(const CSettings& settings) {
    std::lock_guard lock(m_settingsMutex);
    m_settings = settings;
}

std::filesystem::path CParloDoc::DeviceDatabasePath() const {
    std::filesystem::path own = m_dataDir / "vok.dat";
    std::error_code ec;
    if (!std::filesystem::exists(own, ec)) {
        std::filesystem::path shipped = platform::ShippedFile("vok.dat");
        if (!shipped.empty())
            return shipped;
    }
    return own;
}

int CParloDoc::LoadDeviceDatabase() {
    m_phoneModels.clear();
    m_operators.clear();
    DeviceDbResult db = LoadDeviceDb(DeviceDatabasePath(), &m_phoneModels, &m_operators);
    if (!db.ok)
        Message(db.failure == 1 ? strings::parlo().Load(IDS_CANNOT_OPEN_DATA_FILE)
                                : db.CheckMessage());
    return db.ok ? 1 : 0;
}

std::u16string CParloDoc::CheckOptions(const CSettings& s) {
    if (s.m_bAutoSync && (s.m_nAutoSyncInterval < 2 || s.m_nAutoSyncInterval > 99999))
        return u"The interval of the automatic synchronisation is 2 to 99999 minutes.";
    if (s.m_bOwnSmsCentre && !IsValidNumber(s.m_strSmsCentre))
        return u"An SMS centre number (digits and \"+\") is needed when it is set.";
    if (s.m_bUsePort && TrimWhite(s.m_strUserPort).empty())
        return u"\"Use port\" needs a port.";
    return {};
}

int CParloDoc::ApplyOptions(const CSettings& settings) {
    if (const std::u16string why = CheckOptions(settings); !why.empty()) {
        Message(why);
        return 0;
    }
    CSynchronizer& sync = m_engine->m_sync;
    bool interval_changed = false;
    {
        std::lock_guard lock(m_settingsMutex);
        interval_changed = settings.m_nAutoSyncInterval != m_settings.m_nAutoSyncInterval;
        m_settings = settings;
    }
    const int saved = SaveSettings();
    if (!saved)
        Ask(IDS_SAVE_FAILED);
    if (settings.m_bAutoSync) {
        if (!sync.m_bAutoSyncRunning)
            sync.StartAutoSync();
        else if (interval_changed)
            sync.RestartCountdown();
    } else {
        sync.StopAutoSync();
    }
    return saved;
}

std::vector<std::u16string> CParloDoc::OfferedPorts() const {
    std::vector<std::u16string> out;
    auto listed = [&](const std::u16string& name) {
        const std::u16string upper = AsciiUpper(name);
        for (const std::u16string& p : out) {
            if (AsciiUpper(p).rfind(upper, 0) == 0)
                return true;
        }
        return false;
    };
    for (const ModemEntry& m : m_ports) {
        if (!m.m_strPort.empty() && !listed(m.m_strPort))
            out.push_back(m.m_strPort);
    }
    for (int n = 2; n <= 9; ++n) {
        const std::string name = "COM" + std::to_string(n) + ":";
        std::optional<std::string> device = platform::ResolvePort(m_registry, name);
        if (!device)
            continue;
        platform::ExclusiveFile probe;
        if (!probe.OpenDevice(*device))
            continue;
        probe.Close();
        const std::u16string wide = platform::FromUtf8(name);
        if (!listed(wide))
            out.push_back(wide);
    }
    return out;
}

}  // namespace parlo
