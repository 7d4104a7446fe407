#include "parlo/app/parlo_doc.h"

#include "cordis/cordis.h"
#include "parlo/app/error_hints.h"
#include "parlo/app/phonebook_link.h"
#include "parlo/contacts/contacts_dir.h"
#include "parlo/contacts/handoff_file.h"
#include "parlo_strings.h"
#include "platform/exclusive_file.h"
#include "platform/paths.h"
#include "platform/ports.h"
#include "platform/process.h"
#include "platform/prompt.h"
#include "platform/strings.h"
#include "platform/text.h"

namespace parlo {

namespace {

constexpr unsigned IDS_PLACE_PHONE = 57348;
constexpr unsigned IDS_PLACE_BOTH = 57349;
constexpr unsigned IDS_PLACE_POCKETPC = 57350;
constexpr unsigned IDS_SELECT_FIRST = 57351;
constexpr unsigned IDS_READ_DATAFILE = 65023;
constexpr unsigned IDS_DELETE_FOLDER = 65056;
constexpr unsigned IDS_PURGE_MARKED = 65060;
constexpr unsigned IDS_PURGE_ONE = 65061;
constexpr unsigned IDS_EMPTY_BIN = 65062;
constexpr unsigned IDS_FOLDER_EXISTS = 65057;
constexpr unsigned IDS_NEW_SMS_DURING_SYNC = 65088;

std::u16string AsciiUpper(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
    }
    return text;
}

unsigned PlaceOf(int mode) {
    switch (mode) {
        case DELETE_BOTH:
            return IDS_PLACE_BOTH;
        case DELETE_PHONE_ONLY:
            return IDS_PLACE_PHONE;
        default:
            return IDS_PLACE_POCKETPC;
    }
}

}  // namespace

std::u16string NoModemMessage() {
    return u"No modem is registered. Register the phone's serial port with "
           u"'parlo-cli modem add NAME PORT', or let 'parlo-cli modem detect' find it. "
           u"The Options dialog (\"Use port\"; 'parlo-cli options use-port on port NAME') "
           u"chooses the port to use.";
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
    LoadPhonebook();
    if (m_loadPhonebook)
        m_loadPhonebook(*this);
    p.Step();

    p.SetStatus(table.Load(IDS_LOAD_CONTACTS));
    ReadContacts();
    if (m_loadContacts)
        m_loadContacts(*this);
    p.Step();

    p.SetStatus(table.Load(IDS_LOAD_MESSAGES));
    m_nCurrentFolder = VIEW_INBOX;
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
    WriteStartStamp();
    LoadFolderTable();
    return OnNewDocument(progress, options);
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

// --- message store -------------------------------------------------------------

void CParloDoc::ReportStore(StoreResult r) {
    if (r == StoreResult::kSaveFailed)
        Ask(IDS_SAVE_FAILED);
    else if (r == StoreResult::kReadError)
        Ask(IDS_READ_DATAFILE);
}

void CParloDoc::LoadMessages() {
    m_store.SetDirectory(m_dataDir);
    LoadReport report;
    ReportStore(m_store.LoadMessages(&report));
    ReportDamage(report);
    m_pParloView->RefillLists();
}

StoreResult CParloDoc::LoadMessagesOnly() {
    m_store.SetDirectory(m_dataDir);
    LoadReport report;
    StoreResult r = m_store.LoadMessages(&report);
    ReportDamage(report);
    return r;
}

void CParloDoc::ReportDamage(const LoadReport& report) {
    if (report.good_length >= report.file_length)
        return;
    const uint64_t rest = report.file_length - report.good_length;
    std::string text = "The message store vok.sms is damaged at byte " +
                       std::to_string(report.good_length) + ": " + std::to_string(report.records) +
                       (report.records == 1 ? " message was read. " : " messages were read. ");
    if (report.tail_saved) {
        text += "The " + std::to_string(rest) +
                " bytes from there on were moved to vok.sms.torn; "
                "'parlo-cli store recover' takes back the messages in them.";
    } else {
        text += "The " + std::to_string(rest) +
                " bytes from there on could not be kept aside and are left in vok.sms.";
    }
    Message(platform::FromUtf8(text));
}

void CParloDoc::ShowTakenIn(const TakenIn& taken) {
    if (taken.reset) {
        m_pParloView->RefillLists();
        return;
    }
    if (!taken.added.empty())
        m_pParloView->MessagesAdded(taken.added);
    if (!taken.changed.empty())
        m_pParloView->MessagesChanged(taken.changed);
}

int CParloDoc::TakeInChanges() {
    return m_store.TakeInChanges() == StoreResult::kOk;
}

int CParloDoc::RecoverTorn(size_t* found, size_t* added) {
    StoreResult r = m_store.Recover(found, added);
    ReportStore(r);
    return r == StoreResult::kOk;
}

int CParloDoc::StoreMessage(CSmsMessage* rec) {
    StoreResult r = m_store.StoreMessage(rec);
    ReportStore(r);
    return r == StoreResult::kOk;
}

int CParloDoc::ReloadMessage(const CSmsMessage& rec, CSmsMessage* out) {
    StoreResult r = m_store.ReloadMessage(rec, out);
    ReportStore(r);
    return r == StoreResult::kOk;
}

int CParloDoc::CompactStore() {
    StoreResult r = m_store.CompactStore();
    ReportStore(r);
    if (r == StoreResult::kOk)
        m_pParloView->StoreCompacted();
    return r == StoreResult::kOk;
}

StoredRecord CParloDoc::AddNew(int32_t state, const std::u16string& number,
                               const std::u16string& text, platform::OleDate time, int32_t storage,
                               int32_t phone_index) {
    StoreResult r;
    CSmsMessage* rec = m_store.Add(
        std::make_unique<CSmsMessage>(state, number, text, time, 0, storage, phone_index, -1, 0),
        &r);
    ReportStore(r);
    m_pParloView->MessageAdded(rec);
    return {rec, r == StoreResult::kOk};
}

StoredRecord CParloDoc::AddOutgoing(const std::u16string& number, const std::u16string& text,
                                    bool push) {
    return AddNew(push ? STATE_OUTBOX_PUSH : STATE_OUTBOX, number, text, platform::OleDate::Now(),
                  STORAGE_POCKETPC, -1);
}

StoredRecord CParloDoc::AddDraft(const std::u16string& number, const std::u16string& text) {
    return AddNew(STATE_DRAFT, number, text, platform::OleDate::Now(), STORAGE_POCKETPC, -1);
}

StoredRecord CParloDoc::SaveDraft(CSmsMessage* rec, const std::u16string& number,
                                  const std::u16string& text) {
    if (!rec)
        return AddDraft(number, text);
    StoreResult r = m_store.Change(rec, [&](CSmsMessage& m) {
        m.m_strNumber = number;
        m.m_strText = text;
    });
    ReportStore(r);
    m_pParloView->MessageUpdated(rec);
    return {rec, r == StoreResult::kOk};
}

StoredRecord CParloDoc::AddTemplate(const std::u16string& text) {
    return AddNew(STATE_TEMPLATE, u"", text, platform::OleDate::Now(), STORAGE_POCKETPC, -1);
}

StoredRecord CParloDoc::AddReceived(int32_t state, const std::u16string& number,
                                    const std::u16string& text, platform::OleDate time,
                                    int32_t storage, int32_t phone_index) {
    return AddNew(state, number, text, time, storage, phone_index);
}

int CParloDoc::MarkRead(CSmsMessage* rec) {
    StoreResult r = m_store.Change(rec, [](CSmsMessage& m) { m.m_nState = STATE_READ; });
    ReportStore(r);
    m_pParloView->MessageChanged(rec);
    return r == StoreResult::kOk;
}

int CParloDoc::DeleteMessage(CSmsMessage* rec) {
    StoreResult r = m_store.Change(rec, [](CSmsMessage& m) {
        m.m_nState = m.m_nState == STATE_DELETED ? STATE_PURGED : STATE_DELETED;
    });
    ReportStore(r);
    m_pParloView->MessageChanged(rec);
    return r == StoreResult::kOk;
}

StoredRecord CParloDoc::OrderPhoneDeletion(CSmsMessage* rec) {
    CSmsMessage source;
    if (!m_store.Read(rec, &source))
        return {};
    auto copy = std::make_unique<CSmsMessage>(source);
    copy->m_nState = STATE_PHONE_DELETE;
    copy->m_bMarked = 0;
    copy->m_nFileOffset = -1;
    StoreResult r;
    CSmsMessage* p = m_store.Add(std::move(copy), &r);
    ReportStore(r);
    return {p, r == StoreResult::kOk};
}

int CParloDoc::MoveToFolder(CSmsMessage* rec, int32_t folder_id) {
    const int32_t state = StateForFolder(folder_id);
    StoreResult r = m_store.Change(rec, [&](CSmsMessage& m) {
        if (state < 0)
            return;  // not a folder: the state stays
        m.m_nState = state;
        m.m_nFolderId = state == STATE_IN_FOLDER ? folder_id : 0;
    });
    ReportStore(r);
    m_pParloView->MessageChanged(rec);
    return r == StoreResult::kOk;
}

int CParloDoc::EmptyRecycleBin() {
    if (Ask(IDS_EMPTY_BIN, platform::Buttons::YesNo, platform::Icon::Question) !=
        platform::Answer::Yes)
        return 0;
    StoreResult r = m_store.PurgeAndCompact(STATE_DELETED, -1);
    ReportStore(r);
    if (r != StoreResult::kOk)
        return 0;
    m_pParloView->ClearList(VIEW_RECYCLE);
    m_pParloView->StoreCompacted();
    return 1;
}

void CParloDoc::ToggleMark(CSmsMessage* rec) {
    if (!rec)
        return;
    m_store.ChangeInMemory(rec, [](CSmsMessage& m) { m.m_bMarked = m.m_bMarked ? 0 : 1; });
    m_pParloView->MessageUpdated(rec);
}

void CParloDoc::SetMarks(const std::vector<CSmsMessage*>& list, bool marked) {
    const int32_t value = marked ? 1 : 0;
    for (CSmsMessage* rec : list) {
        bool changed = false;
        m_store.ChangeInMemory(rec, [&](CSmsMessage& m) {
            changed = m.m_bMarked != value;
            m.m_bMarked = value;
        });
        if (changed)
            m_pParloView->MessageUpdated(rec);
    }
}

int CParloDoc::MoveMarkedOrSelected(const std::vector<CSmsMessage*>& list, CSmsMessage* selected,
                                    int32_t folder_id) {
    std::vector<CSmsMessage*> marked;
    for (CSmsMessage* rec : list) {
        CSmsMessage copy;
        if (m_store.Read(rec, &copy) && copy.m_bMarked)
            marked.push_back(rec);
    }
    if (marked.empty()) {
        if (!selected) {
            Ask(IDS_SELECT_FIRST);
            return 0;
        }
        marked.push_back(selected);
    }
    int ok = 1;
    for (CSmsMessage* rec : marked) {
        m_store.ChangeInMemory(rec, [](CSmsMessage& m) { m.m_bMarked = 0; });
        if (!MoveToFolder(rec, folder_id))
            ok = 0;  // "Save failed." was shown
    }
    return ok;
}

std::vector<std::u16string> CParloDoc::SplitNumbers(const std::u16string& numbers) {
    std::vector<std::u16string> out;
    size_t start = 0;
    while (start <= numbers.size()) {
        size_t end = numbers.find(u';', start);
        if (end == std::u16string::npos)
            end = numbers.size();
        if (end > start)
            out.push_back(numbers.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

CParloDoc::SendResult CParloDoc::Send(const std::u16string& numbers, const std::u16string& text,
                                      bool push, int mode, CSmsMessage* draft) {
    SendResult result;
    for (const std::u16string& number : SplitNumbers(numbers)) {
        if (AddOutgoing(number, text, push))
            ++result.queued;
        else
            result.not_stored.push_back(number);
    }
    // The draft stays where it is when a message of it was not stored: it is
    // then the only copy of the text that the user can send again.
    if (mode == VIEW_DRAFT && draft && result.queued > 0 && result.not_stored.empty())
        DeleteMessage(draft);
    return result;
}

std::u16string CParloDoc::DisplayName(const std::u16string& number) const {
    if (number.empty())
        return number;
    for (const auto& entry : m_phonebook.m_entries) {
        if (entry->m_strMobile == number)
            return entry->m_strName;
    }
    for (const auto& contact : m_contacts) {
        if (contact->m_strMobile == number)
            return contact->m_strName;
    }
    return number;
}

int CParloDoc::DeleteOne(int mode, CSmsMessage* rec) {
    int ok = 1;
    StoreResult r = m_store.Change(rec, [](CSmsMessage& m) { m.m_bMarked = 0; });
    if (r != StoreResult::kOk) {
        ReportStore(r);
        ok = 0;
    }
    if (mode == DELETE_BOTH || mode == DELETE_PHONE_ONLY) {
        if (!OrderPhoneDeletion(rec))
            ok = 0;
    }
    if (mode == DELETE_BOTH || mode == DELETE_POCKETPC_ONLY) {
        if (!DeleteMessage(rec))  // to the Recycle Bin, or nowhere when purged
            ok = 0;
    } else {
        m_pParloView->MessageUpdated(rec);  // the row stays, unmarked
    }
    return ok;
}

int CParloDoc::DeleteMarked(int mode, const std::vector<CSmsMessage*>& list,
                            CSmsMessage* selected) {
    std::vector<CSmsMessage*> marked;
    for (CSmsMessage* rec : list) {
        if (rec->m_bMarked)
            marked.push_back(rec);
    }
    const bool in_bin = m_nCurrentFolder == VIEW_RECYCLE;
    auto confirm = [&](unsigned id, int count) {
        std::u16string text =
            FormatCountText(strings::parlo().Load(id), count, strings::parlo().Load(PlaceOf(mode)));
        return m_pPrompt && m_pPrompt->MessageBox(text, platform::Buttons::OkCancel,
                                                  platform::Icon::Question) == platform::Answer::Ok;
    };
    if (!marked.empty()) {
        if (in_bin && !confirm(IDS_PURGE_MARKED, static_cast<int>(marked.size())))
            return 0;
        int ok = 1;
        for (CSmsMessage* rec : marked)
            ok &= DeleteOne(mode, rec);
        return ok;
    }
    if (!selected) {
        Ask(IDS_SELECT_FIRST);
        return 0;
    }
    if (in_bin && !confirm(IDS_PURGE_ONE, 1))
        return 0;
    return DeleteOne(mode, selected);
}

// --- folders ---------------------------------------------------------------------

int CParloDoc::LoadFolderTable() {
    if (m_folders.Load(m_registry, strings::parlo()) != FolderResult::kOk) {
        Ask(IDS_REGISTRY_FAILED);
        return 0;
    }
    return 1;
}

int CParloDoc::SaveFolderTable() {
    if (m_folders.Save(m_registry) != FolderResult::kOk) {
        Ask(IDS_REGISTRY_FAILED);
        return 0;
    }
    return 1;
}

CSmsFolder* CParloDoc::AddFolder(const std::u16string& text) {
    const std::u16string name = TrimWhite(text);
    if (name.empty())
        return nullptr;
    if (m_folders.ByName(name)) {
        Ask(IDS_FOLDER_EXISTS);
        return nullptr;
    }
    CSmsFolder* folder = m_folders.Add(name);
    if (!folder) {
        Ask(IDS_SAVE_FAILED);
        return nullptr;
    }
    m_pParloView->FolderAdded(*folder);
    SaveFolderTable();
    return folder;
}

void CParloDoc::RenameFolder(CSmsFolder* folder, const std::u16string& name) {
    std::u16string old = folder->m_strName;
    m_folders.Rename(folder, name);
    m_pParloView->FolderRenamed(*folder, old);
    SaveFolderTable();
}

int CParloDoc::DeleteFolder(CSmsFolder* folder) {
    if (Ask(IDS_DELETE_FOLDER, platform::Buttons::YesNo, platform::Icon::Question) !=
        platform::Answer::Yes)
        return 0;
    std::vector<const CSmsMessage*> purged;
    StoreResult r = m_store.PurgeAndCompact(STATE_IN_FOLDER, folder->m_nId, &purged);
    ReportStore(r);
    if (r != StoreResult::kOk)
        return 0;  // the folder and its records stay as they were
    m_pParloView->FolderRemoved(*folder);
    // The records are gone: the pointers are keys of the view's rows only.
    std::vector<CSmsMessage*> rows;
    rows.reserve(purged.size());
    for (const CSmsMessage* p : purged)
        rows.push_back(const_cast<CSmsMessage*>(p));
    m_pParloView->MessagesRemoved(rows);
    m_pParloView->StoreCompacted();
    m_folders.Remove(folder);
    SaveFolderTable();
    return 1;
}

std::vector<CSmsMessage*> CParloDoc::FolderRecords(int32_t id) const {
    std::vector<CSmsMessage*> out;
    m_store.ForEach([&](CSmsMessage& m) {
        if (m.m_nState == STATE_IN_FOLDER && m.m_nFolderId == id)
            out.push_back(&m);
    });
    return out;
}

// --- settings, device database, lock ------------------------------------------------

int CParloDoc::LoadSettings() {
    std::lock_guard lock(m_settingsMutex);
    return parlo::LoadSettings(m_dataDir, m_registry, &m_settings);
}

int CParloDoc::LoadPhonebookSettings() {
    std::lock_guard lock(m_settingsMutex);
    return parlo::LoadPhonebookSettings(m_dataDir, &m_settings);
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

int CParloDoc::ApplyOptions(const CSettings& settings) {
    CSynchronizer& sync = m_engine->m_sync;
    const bool interval_changed = settings.m_nAutoSyncInterval != m_settings.m_nAutoSyncInterval;
    m_settings = settings;
    const int saved = SaveSettings();
    if (!saved)
        Ask(IDS_SAVE_FAILED);
    if (m_settings.m_bAutoSync) {
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
    if (TakeHandoffFile(m_dataDir, &taken) != HandoffRead::kNumber)
        return 0;
    if (IsSyncBusy()) {
        Ask(IDS_NEW_SMS_DURING_SYNC);
        return 0;
    }
    CleanNumber(taken);
    *number = std::move(taken);
    return 1;
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

int CParloDoc::AcquireSyncLock() {
    return m_syncLock.Acquire(m_dataDir) ? 1 : 0;
}

void CParloDoc::ReleaseSyncLock() {
    m_syncLock.Release();
}

// --- contacts, groups and phonebook -------------------------------------------

bool CParloDoc::ReadContacts() {
    platform::ScriptedPrompt quiet;
    return parlo::ReadContacts(&m_contacts, m_pPrompt ? *m_pPrompt : quiet);
}

std::filesystem::path CParloDoc::PhonebookFile() const {
    return PhonebookPath(m_dataDir, m_settings.m_strPhoneIdentity);
}

void CParloDoc::EnumerateGroups() {
    m_groups.clear();
    parlo::EnumerateGroups(&m_groups, GroupsFolder(m_dataDir));
}

MemberResolver CParloDoc::Resolver() const {
    return MemberResolver{&m_contacts, &m_phonebook.m_entries, m_settings.m_strPhoneIdentity,
                          m_dataDir};
}

PhonebookSyncResult CParloDoc::SynchronizePhonebook(
    std::function<void(const std::u16string&)> status, std::function<void()> refresh,
    PhonebookSyncReport* report, std::function<void(int, int)> progress) {
    platform::ScriptedPrompt quiet;
    CDocPhoneLink link(m_pCordis, &m_engine->m_session);
    PhonebookSyncContext ctx;
    ctx.data_dir = m_dataDir;
    ctx.link = &link;
    ctx.prompt = m_pPrompt ? m_pPrompt : &quiet;
    ctx.strings = &strings::parlo();
    ctx.enabled_flags = m_settings.m_nPhonebookFlags;
    ctx.identity = &m_settings.m_strPhoneIdentity;
    ctx.save_settings = [this] { return SaveSettings() != 0; };
    ctx.status = std::move(status);
    ctx.refresh = std::move(refresh);
    ctx.report = report;
    ctx.progress = std::move(progress);
    // The automatic message run waits while the phonebook uses the phone.
    CSynchronizer& sync = m_engine->m_sync;
    const bool was_idle = sync.m_bSyncIdle != 0;
    sync.SetInterfaceIdle(false);
    PhonebookSyncResult r = parlo::SynchronizePhonebook(&m_phonebook, ctx);
    sync.SetInterfaceIdle(was_idle);
    return r;
}

bool CParloDoc::CallNumber(const std::u16string& number) {
    platform::ScriptedPrompt quiet;
    CDocPhoneLink link(m_pCordis, &m_engine->m_session);
    return parlo::CallNumber(number, m_dataDir, link, m_pPrompt ? *m_pPrompt : quiet,
                             strings::parlo());
}

}  // namespace parlo
