#include "parlo/app/parlo_doc.h"

#include "cordis/cordis.h"
#include "parlo_strings.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "platform/strings.h"

namespace parlo {

std::u16string NoModemMessage() {
    return u"No modem is registered. Register the phone's serial port with "
           u"'parlo-cli modem add NAME PORT', or let 'parlo-cli modem detect' find it.";
}

CParloDoc::CParloDoc(CEngineView* view, platform::Prompt* prompt, CCordis* cordis)
    : m_dataDir(platform::InstallDir()),
      m_registry(platform::Registry::Device()),
      m_pView(view),
      m_pPrompt(prompt),
      m_pCordis(cordis ? cordis : GetCordis()) {
    CEngineContext ctx;
    ctx.cordis = m_pCordis;
    ctx.store = &m_store;
    ctx.settings = &m_settings;
    ctx.ports = &m_ports;
    ctx.phones = &m_phoneModels;
    ctx.operators = &m_operators;
    ctx.view = m_pView;
    ctx.prompt = m_pPrompt;
    ctx.dir = m_dataDir;
    m_engine = std::make_unique<CSmsEngine>(ctx);
}

CParloDoc::~CParloDoc() {
    OnCloseDocument();
}

void CParloDoc::Message(const std::u16string& text) {
    if (m_pPrompt && !text.empty())
        m_pPrompt->MessageBox(text, platform::Buttons::Ok, platform::Icon::Warning);
}

bool CParloDoc::OnNewDocument(CStartProgress* progress) {
    CStartProgress none;
    CStartProgress& p = progress ? *progress : none;
    const platform::StringTable& table = strings::parlo();
    p.SetRange(kStartSteps);

    m_store.SetDirectory(m_dataDir);

    p.SetStatus(table.Load(IDS_LOAD_SETTINGS));
    LoadSettings(m_dataDir, m_registry, &m_settings);
    LoadPhonebookSettings(m_dataDir, &m_settings);
    p.Step();

    p.SetStatus(table.Load(IDS_LOAD_PHONEBOOK));
    if (m_loadPhonebook)
        m_loadPhonebook(*this);
    p.Step();

    p.SetStatus(table.Load(IDS_LOAD_CONTACTS));
    if (m_loadContacts)
        m_loadContacts(*this);
    p.Step();

    p.SetStatus(table.Load(IDS_LOAD_MESSAGES));
    m_nCurrentFolder = VIEW_INBOX;
    if (m_store.LoadMessages() == StoreResult::kReadError)
        Message(table.Load(65023));
    p.Step();

    p.SetStatus(table.Load(IDS_INITIALISATION));
    m_phoneModels.clear();
    m_operators.clear();
    // The installation's own copy, else the one shipped beside the programs.
    std::filesystem::path db_path = m_dataDir / "vok.dat";
    std::error_code ec;
    if (!std::filesystem::exists(db_path, ec) &&
        std::filesystem::exists(platform::BinDir() / "vok.dat", ec))
        db_path = platform::BinDir() / "vok.dat";
    DeviceDbResult db = LoadDeviceDb(db_path, &m_phoneModels, &m_operators);
    if (!db.ok)
        Message(db.failure == 1 ? table.Load(IDS_CANNOT_OPEN_DATA_FILE) : db.CheckMessage());
    p.Step();

    if (!BuildPorts())
        return false;
    if (m_settings.m_bAutoSync)
        m_engine->m_sync.StartAutoSync();
    return true;
}

bool CParloDoc::BuildPorts() {
    const platform::StringTable& table = strings::parlo();
    m_ports.clear();
    PortListOptions options;
    options.ask_stop_retrying = [this, &table]() {
        if (!m_pPrompt)
            return true;
        return m_pPrompt->MessageBox(table.Load(57361), platform::Buttons::OkCancel,
                                     platform::Icon::Warning, u"Warning") == platform::Answer::Ok;
    };
    switch (BuildPortList(m_registry, &m_ports, options)) {
        case PortListResult::kOk:
            return true;
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
    return false;
}

void CParloDoc::OnCloseDocument() {
    if (m_engine)
        m_engine->m_sync.Shutdown();
}

CSmsMessage* CParloDoc::AddOutgoing(const std::u16string& number, const std::u16string& text,
                                    bool push) {
    CSmsMessage* rec = m_store.Add(
        std::make_unique<CSmsMessage>(push ? STATE_OUTBOX_PUSH : STATE_OUTBOX, number, text,
                                      platform::OleDate::Now(), 0, STORAGE_POCKETPC, -1, -1, 0));
    if (rec && m_pView)
        m_pView->MessageAdded(rec);
    return rec;
}

}  // namespace parlo
