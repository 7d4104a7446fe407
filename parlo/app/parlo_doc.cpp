#include "parlo/app/parlo_doc.h"

#include <set>

#include "cordis/cordis.h"
#include "parlo/app/damage_report.h"
#include "parlo/app/error_hints.h"
#include "parlo/contacts/handoff_file.h"
#include "parlo_strings.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/prompt.h"
#include "platform/strings.h"
#include "platform/text.h"

namespace parlo {

namespace {

constexpr unsigned IDS_NEW_SMS_DURING_SYNC = 65088;

}  // namespace

std::u16string NoModemMessage() {
    return u"No modem is registered. Register the phone's serial port with "
           u"'parlo-cli modem add NAME PORT', or let 'parlo-cli modem detect' find it, "
           u"then try again.";
}

std::u16string FormatCountText(std::u16string format, int count, const std::u16string& text) {
    size_t i = format.find(u"%i");
    if (i != std::u16string::npos)
        format.replace(i, 2, platform::FromUtf8(std::to_string(count)));
    size_t s = format.find(u"%s");
    if (s != std::u16string::npos)
        format.replace(s, 2, text);
    return format;
}

CParloDoc::CParloDoc(IParloView* view, platform::Prompt* prompt, CCordis* cordis)
    : m_dataDir(platform::InstallDir()),
      m_registry(platform::Registry::Device()),
      m_pParloView(view ? view : &m_nullParloView),
      m_pPrompt(prompt),
      m_pCordis(cordis ? cordis : GetCordis()) {
    CEngineContext ctx;
    ctx.cordis = m_pCordis;
    ctx.store = &m_store;
    ctx.settings = &m_settings;
    ctx.settings_mutex = &m_settingsMutex;
    ctx.ports = &m_ports;
    ctx.phones = &m_phoneModels;
    ctx.operators = &m_operators;
    ctx.view = m_pParloView;
    ctx.prompt = m_pPrompt;
    ctx.dir = m_dataDir;
    m_engine = std::make_unique<CSmsEngine>(ctx);
    m_store.SetTakenInListener([this](const TakenIn& taken) { ShowTakenIn(taken); });
}

CParloDoc::~CParloDoc() {
    OnCloseDocument();
}

void CParloDoc::Message(const std::u16string& text) {
    if (m_pPrompt && !text.empty())
        m_pPrompt->MessageBox(text, platform::Buttons::Ok, platform::Icon::Warning);
}

bool CParloDoc::OnNewDocument(CStartProgress* progress, const StartOptions& options) {
    CStartProgress none;
    CStartProgress& p = progress ? *progress : none;
    const platform::StringTable& table = strings::parlo();
    p.SetRange(kStartSteps);

    m_store.SetDirectory(m_dataDir);

    p.SetStatus(table.Load(IDS_LOAD_SETTINGS));
    LoadSettings();
    LoadPhonebookSettings();
    p.Step();

    p.SetStatus(table.Load(IDS_LOAD_PHONEBOOK));
    if (!LoadPhonebook() && std::filesystem::exists(PhonebookFile())) {
        const std::string name = "pb/" + PhonebookFile().filename().string();
        const size_t n = m_phonebook.m_entries.size();
        Message(DamageText(name,
                           std::to_string(n) + (n == 1 ? " entry was" : " entries were") +
                               " read and kept; the rest could not be read.",
                           KeepDamagedCopy(PhonebookFile())));
    }
    if (m_loadPhonebook)
        m_loadPhonebook(*this);
    p.Step();

    p.SetStatus(table.Load(IDS_LOAD_CONTACTS));
    ReadContacts();
    if (m_loadContacts)
        m_loadContacts(*this);
    p.Step();

    p.SetStatus(table.Load(IDS_LOAD_MESSAGES));
    LoadMessages();
    p.Step();

    p.SetStatus(table.Load(IDS_INITIALISATION));
    LoadDeviceDatabase();
    p.Step();

    if (!BuildPortList(/*quiet=*/!options.require_ports, options.ports) && options.require_ports)
        return false;
    if (options.auto_sync && m_settings.m_bAutoSync)
        m_engine->m_sync.StartAutoSync();
    return true;
}

bool CParloDoc::Start(CStartProgress* progress, const StartOptions& options) {
    // Damage of the registry is looked at before the start stamp rewrites it
    // (which keeps a copy of the damaged file).
    RegistryDamage damage;
    const bool damaged = m_registry.Damaged(&damage.lines, &damage.no_header);
    WriteStartStamp();
    LoadFolderTable();
    const bool ok = OnNewDocument(progress, options);
    if (damaged) {
        damage.user_folders = m_folders.UserFolders().size();
        std::set<int32_t> missing;
        m_store.ForEach([&](CSmsMessage& m) {
            if (m.m_nState == STATE_IN_FOLDER && !m_folders.ById(m.m_nFolderId)) {
                missing.insert(m.m_nFolderId);
                ++damage.hidden_messages;
            }
        });
        damage.missing_ids.assign(missing.begin(), missing.end());
        Message(RegistryDamageText(damage));
    }
    return ok;
}

void CParloDoc::WriteStartStamp() {
    m_registry.SetDword(platform::Hive::CurrentUser, kProfileDataKey, "stamp", 0);
}

int CParloDoc::BuildPortList(bool quiet, const PortListOptions& options) {
    const platform::StringTable& table = strings::parlo();
    m_ports.clear();
    PortListOptions opt = options;
    if (!opt.ask_stop_retrying) {
        opt.ask_stop_retrying = [this, &table]() {
            if (!m_pPrompt)
                return true;
            return m_pPrompt->MessageBox(table.Load(57361), platform::Buttons::OkCancel,
                                         platform::Icon::Warning,
                                         u"Warning") == platform::Answer::Ok;
        };
    }
    m_portListResult = parlo::BuildPortList(m_registry, &m_ports, opt);
    if (m_portListResult == PortListResult::kOk)
        return 1;
    if (quiet)
        return 0;
    switch (m_portListResult) {
        case PortListResult::kOk:
            break;
        case PortListResult::kRegistryError:
            Message(table.Load(IDS_REGISTRY_FAILED));
            break;
        case PortListResult::kTelephonyError:
            Message(table.Load(IDS_INIT_ERROR));
            break;
        case PortListResult::kNoLines:
            Message(table.Load(IDS_NO_MODEM_DEVICES));
            break;
        case PortListResult::kNoModem:
            Message(NoModemMessage());
            break;
    }
    return 0;
}

void CParloDoc::OnCloseDocument() {
    {
        std::lock_guard lock(m_closeMutex);
        if (m_closer.joinable())
            m_closer.join();
    }
    if (m_engine)
        m_engine->m_sync.Shutdown();
}

void CParloDoc::CloseAsync(std::function<void()> on_idle) {
    std::lock_guard lock(m_closeMutex);
    if (m_closer.joinable())
        return;
    m_engine->m_sync.StopAutoSync();
    m_closer = std::thread([this, done = std::move(on_idle)] {
        m_engine->m_sync.Shutdown();
        if (done)
            done();
    });
}

platform::Answer CParloDoc::Ask(unsigned id, platform::Buttons buttons, platform::Icon icon) {
    if (!m_pPrompt)
        return buttons == platform::Buttons::YesNo ? platform::Answer::No
                                                   : platform::Answer::Cancel;
    return m_pPrompt->MessageBox(strings::parlo().Load(id), buttons, icon);
}

void CParloDoc::StartConnect() {
    std::filesystem::path program = platform::ResolveProgram(m_dataDir, "connect.exe");
    if (!program.empty())
        platform::StartDetached(program, {"s"});
}

void CParloDoc::StartDialer() {
    std::filesystem::path program = platform::ResolveProgram(m_dataDir, "dialer.exe");
    if (!program.empty())
        platform::StartDetached(program, {});
}

int CParloDoc::TakeHandoffNumber(std::u16string* number) {
    std::u16string taken;
    const HandoffRead read = TakeHandoffFile(m_dataDir, &taken);
    if (read == HandoffRead::kRefused) {
        Message(
            u"The file newsms.tmp is damaged: no number could be read from it, so no new "
            u"message was opened. The file was removed; pick the contact again.");
    }
    if (read != HandoffRead::kNumber)
        return 0;
    if (IsSyncBusy()) {
        Ask(IDS_NEW_SMS_DURING_SYNC);
        return 0;
    }
    CleanNumber(taken);
    *number = std::move(taken);
    return 1;
}

int CParloDoc::PeekHandoffNumber(std::u16string* raw, std::u16string* number) {
    std::u16string read;
    const HandoffRead r = ReadHandoffFile(m_dataDir, &read);
    if (r == HandoffRead::kNone)
        return 0;
    if (r == HandoffRead::kRefused || IsSyncBusy()) {
        RemoveHandoffFileIf(m_dataDir, read);
        if (r == HandoffRead::kNumber)
            Ask(IDS_NEW_SMS_DURING_SYNC);
        return 0;
    }
    *raw = read;
    CleanNumber(read);
    *number = std::move(read);
    return 1;
}

void CParloDoc::DropHandoff(const std::u16string& raw) {
    RemoveHandoffFileIf(m_dataDir, raw);
}

int CParloDoc::ShowErrors() {
    if (IsSyncBusy() || !m_pPrompt || Errors().Empty())
        return 0;
    std::u16string text = Errors().Take();
    std::u16string hints = ErrorHints(*this, text);
    if (!hints.empty())
        text += u"\n\n" + hints;
    m_pPrompt->MessageBox(text, platform::Buttons::Ok, platform::Icon::Warning);
    return 1;
}

int CParloDoc::SyncRuns() const {
    return m_engine->m_sync.m_nRuns;
}

int CParloDoc::AcquireSyncLock() {
    return m_syncLock.Acquire(m_dataDir) ? 1 : 0;
}

void CParloDoc::ReleaseSyncLock() {
    m_syncLock.Release();
}

}  // namespace parlo
