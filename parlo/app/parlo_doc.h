// CParloDoc: the single document of the SMS client. It owns the components
// (message store, folder table, settings, port list, device database, the SMS
// engine with its error list) and offers the operations that the front ends
// call as thin members. It never includes a user-interface toolkit: it talks
// to its front end through the view interface (parlo/app/view.h) and the
// prompt interface.
//
// Adding a component: a member in the state section, its operations as thin
// members, and its loading as a step of OnNewDocument().
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "parlo/app/view.h"
#include "parlo/contacts/contact_entry.h"
#include "parlo/contacts/groups.h"
#include "parlo/contacts/phonebook.h"
#include "parlo/contacts/phonebook_sync.h"
#include "parlo/sms/long_messages.h"
#include "parlo/sms/sms_engine.h"
#include "parlo/sms/sms_parts.h"
#include "parlo/store/device_db.h"
#include "parlo/store/folder_table.h"
#include "parlo/store/message_store.h"
#include "parlo/store/port_list.h"
#include "parlo/store/settings.h"
#include "parlo/store/sync_lock.h"
#include "platform/oledate.h"
#include "platform/prompt.h"
#include "platform/registry.h"

class CCordis;

namespace parlo {

class CParloDoc;
std::u16string ErrorHints(CParloDoc& doc, const std::u16string& errors);

// String ids of the start sequence.
inline constexpr unsigned IDS_LOAD_SETTINGS = 65097;
inline constexpr unsigned IDS_LOAD_PHONEBOOK = 65098;
inline constexpr unsigned IDS_LOAD_CONTACTS = 65099;
inline constexpr unsigned IDS_LOAD_MESSAGES = 65100;
inline constexpr unsigned IDS_INITIALISATION = 65101;
inline constexpr unsigned IDS_CANNOT_OPEN_DATA_FILE = 65008;
inline constexpr unsigned IDS_REGISTRY_FAILED = 65009;
inline constexpr unsigned IDS_INIT_ERROR = 65108;
inline constexpr unsigned IDS_NO_MODEM_DEVICES = 65109;
inline constexpr int kStartSteps = 5;

// Delete modes of "Delete SMS".
inline constexpr int DELETE_BOTH = 97;
inline constexpr int DELETE_PHONE_ONLY = 98;
inline constexpr int DELETE_POCKETPC_ONLY = 99;

struct StartOptions {
    // The port list must be built for the program to run (the windowed client
    // and the commands that talk to the phone). When it is not required, a
    // failure is kept (PortListStatus) without a message, and start-up
    // goes on: commands that do not touch the phone work without a modem.
    bool require_ports = true;
    // Start the automatic synchronisation when the settings switch it on.
    bool auto_sync = true;
    PortListOptions ports;  // tests replace the telephony interface
};

// What a front end shows while the document starts (the progress window).
class CStartProgress {
  public:
    virtual ~CStartProgress() = default;
    virtual void SetRange(int steps) { (void)steps; }
    virtual void SetStatus(const std::u16string& text) { (void)text; }
    virtual void Step() {}
};

// What an operation that creates a record returns: the record, which stays
// in the message list either way, and whether it was written to the store.
// Tested as a condition it says whether it was stored:
//     if (!doc.AddOutgoing(number, text, false)) -> not stored ("Save failed."
//     was shown; the record is in the list, in memory only).
// There is deliberately no conversion to the pointer: `if (!doc.AddDraft(..))`
// must never test the pointer (which is never null).
struct StoredRecord {
    CSmsMessage* rec = nullptr;
    bool stored = false;

    explicit operator bool() const { return stored; }
    CSmsMessage* operator->() const { return rec; }
};

class CParloDoc {
  public:
    // `view` and `prompt` belong to the front end and outlive the document
    // (a null view shows nothing); `cordis` is the process's phone link
    // (GetCordis() when null).
    CParloDoc(IParloView* view, platform::Prompt* prompt, CCordis* cordis = nullptr);
    // Closes the document: see OnCloseDocument.
    ~CParloDoc();
    CParloDoc(const CParloDoc&) = delete;
    CParloDoc& operator=(const CParloDoc&) = delete;

    // The start sequence: settings, phonebook copy, contacts, message store,
    // device database (five steps), the port list, and the automatic
    // synchronisation when it is on. False when the port list cannot be
    // built: the program ends.
    bool OnNewDocument(CStartProgress* progress = nullptr, const StartOptions& options = {});
    // What a front end runs to start: the profile value "stamp" = 0 (the
    // application's initialisation; it also creates the profile key), the
    // folder table (as the main view does when it is built), then
    // OnNewDocument.
    bool Start(CStartProgress* progress = nullptr, const StartOptions& options = {});
    void WriteStartStamp();
    // Stops the automatic synchronisation and waits until no run is busy.
    // A front end with an event loop uses CloseAsync instead: a run may be
    // waiting on a prompt that only that loop can answer.
    void OnCloseDocument();
    // The non-blocking close: stops the automatic synchronisation at once and
    // returns; `on_idle` is called (on another thread) when no run is busy
    // any more and the engine's threads have ended. The front end then
    // destroys the document. A second call while one is pending is ignored.
    void CloseAsync(std::function<void()> on_idle);

    // Loads only the message store: for commands that do not touch the phone.
    // Damage is reported as LoadMessages reports it.
    StoreResult LoadMessagesOnly();

    // Takes in what other programs changed in the store since this one last
    // read or wrote it, and shows it: changed records are updated in place,
    // new ones added, and after another program's compaction the lists are
    // rebuilt. A program that keeps the store open calls it when the change
    // log "vok.sms.lock" changes (CStoreWatcher, or a file watcher of its
    // toolkit). Every write takes in others' changes first by itself.
    int TakeInChanges();
    // "parlo-cli store recover": takes back the whole records found in
    // "vok.sms.torn" that the store lacks.
    int RecoverTorn(size_t* found, size_t* added);

    // --- messages -------------------------------------------------------------
    // Each operation stores the record before it returns ("Save failed." when
    // it cannot) and then tells the view. Every operation that stores a
    // record says whether it was stored: 1 / a true StoredRecord when it was,
    // 0 / a false one when not. A record that was not stored keeps its new
    // values in memory and stays in the list.
    void LoadMessages();
    int StoreMessage(CSmsMessage* rec);
    int ReloadMessage(const CSmsMessage& rec, CSmsMessage* out);
    int CompactStore();
    // A new Outbox record (state 12 with `push`, else 5), stored at once.
    StoredRecord AddOutgoing(const std::u16string& number, const std::u16string& text, bool push);
    StoredRecord AddDraft(const std::u16string& number, const std::u16string& text);
    // How the sender will transmit `text` with the current settings: its coding
    // and its parts (PlanSms). SmsCount is the compose dialog's "Num. of SMS".
    CSmsPlan PlanText(const std::u16string& text) const {
        return PlanSms(text, Settings().m_bConcatenated != 0);
    }
    int SmsCount(const std::u16string& text) const {
        return static_cast<int>(PlanText(text).Count());
    }
    // No record: as AddDraft; else the record's number and text are replaced.
    StoredRecord SaveDraft(CSmsMessage* rec, const std::u16string& number,
                           const std::u16string& text);
    StoredRecord AddTemplate(const std::u16string& text);
    StoredRecord AddReceived(int32_t state, const std::u16string& number,
                             const std::u16string& text, platform::OleDate time, int32_t storage,
                             int32_t phone_index);
    int MarkRead(CSmsMessage* rec);
    // To the Recycle Bin (state 9); a record already there is purged (11).
    int DeleteMessage(CSmsMessage* rec);
    // A hidden copy in state 10: the phone's copy goes at the next run.
    StoredRecord OrderPhoneDeletion(CSmsMessage* rec);
    int MoveToFolder(CSmsMessage* rec, int32_t folder_id);
    // Asks first; on Yes the bin is emptied and the store compacted in one
    // step: either both happened (1), or nothing changed ("Save failed.", 0).
    // The view gets one ClearList of the Recycle Bin, not a call per record.
    int EmptyRecycleBin();

    // Marks live in memory only (the store keeps what it read). Each change
    // refreshes the record's row.
    void ToggleMark(CSmsMessage* rec);
    void SetMarks(const std::vector<CSmsMessage*>& list, bool marked);
    // Move to folder `folder_id`: the marked records of `list` (unmarked on
    // the way), else `selected`; with neither 57351 and 0. 0 as well when a
    // move could not be stored.
    int MoveMarkedOrSelected(const std::vector<CSmsMessage*>& list, CSmsMessage* selected,
                             int32_t folder_id);

    // The numbers a recipient text names: the pieces between ";" (blank ones
    // skipped), each cleaned (only digits and "+" kept), each number once, in
    // order. A piece with letters, or one that keeps no digit, is refused:
    // no message could ever go to it.
    struct Recipients {
        std::vector<std::u16string> numbers;
        std::u16string refused;  // the first piece refused, as typed
        std::string why;         // why it was refused
        bool Ok() const { return refused.empty() && !numbers.empty(); }
    };
    static Recipients CheckRecipients(const std::u16string& typed);
    // The compose dialog's rule for Send: the text holds only digits, "+"
    // and ";", and names at least one number that can be sent to.
    static bool CanSendTo(const std::u16string& phone);

    // Send of the compose dialog and of parlo-cli: the recipients are
    // checked first (CheckRecipients); when one is refused nothing is
    // queued. Else one Outbox record per number, in order. In the Draft mode
    // (4) the shown `draft` then goes to the Recycle Bin, unless a record was
    // not stored.
    struct SendResult {
        int queued = 0;                          // records stored in the Outbox
        std::vector<std::u16string> queued_to;   // the numbers of those records
        std::vector<std::u16string> not_stored;  // numbers whose record was not stored
        std::u16string refused;                  // see Recipients
        std::string why;
    };
    SendResult Send(const std::u16string& numbers, const std::u16string& text, bool push,
                    int mode = VIEW_NEW, CSmsMessage* draft = nullptr);
    // The pieces of a recipient text between ";", empty ones skipped.
    static std::vector<std::u16string> SplitNumbers(const std::u16string& numbers);

    // An Outbox record whose sending ended without an answer may have gone
    // out: the synchronisation holds it until the user releases it.
    static bool IsHeld(const CSmsMessage& rec);
    // Releases a held record: the next synchronisation sends it. 1 when
    // stored; 0 when it is not held (any more) or could not be stored.
    int ReleaseHeld(CSmsMessage* rec);
    // Releases it and starts a synchronisation at once.
    int SendAgain(CSmsMessage* rec);

    // The list that shows a record: folder view code 1..7, or 0 (VIEW_NONE)
    // for the hidden states. A record in a user folder is shown by list 6
    // while that folder is on show (InList).
    static int ListOf(int32_t state);
    static bool InList(const CSmsMessage& rec, int view_code, int32_t shown_folder);
    // Copies of the records of every list (indexed by view code; list 6
    // holds folder `shown_folder`), or of list `only_view` alone, taken in
    // one pass under the store's lock, each with its record as key.
    using ListRow = std::pair<CSmsMessage*, CSmsMessage>;
    using ListCopies = std::array<std::vector<ListRow>, VIEW_RECYCLE + 1>;
    ListCopies CopyLists(int32_t shown_folder, int only_view = VIEW_NONE) const;
    // The same from any thread, of `store`; with `shown_folder` kAnyFolder
    // list 6 holds the records of every user folder.
    static constexpr int32_t kAnyFolder = -2;
    static ListCopies CopyListsOf(const CMessageStore& store, int32_t shown_folder,
                                  int only_view = VIEW_NONE);

    // The name shown for a number: the phonebook copy's entry first, then
    // the contacts, exact comparison; the number itself when none matches.
    std::u16string DisplayName(const std::u16string& number) const;
    static bool SameMessage(const CSmsMessage& a, const CSmsMessage& b) {
        return parlo::SameMessage(a, b);
    }
    // "Delete SMS" on the list of folder view code `view_code`: the marked
    // records of `list`, or `selected` when none is marked. 1 when something
    // was deleted and every change was stored.
    int DeleteMarked(int mode, int view_code, const std::vector<CSmsMessage*>& list,
                     CSmsMessage* selected);

    // --- folders ----------------------------------------------------------------
    int LoadFolderTable();
    int SaveFolderTable();
    // Takes in what another program changed in the folder table: folders
    // added, renamed and deleted there are added, renamed and removed here
    // (FolderAdded, FolderRenamed, FolderRemoved); the others keep their
    // addresses. 0 when the table cannot be read (nothing changes).
    int TakeInFolders();
    // Trims the name; a name that any folder has (case aside, fixed names
    // included) is refused with 65057 "The folder already exists.", an empty one silently.
    // Null also when the folder table cannot be written (65009 shown).
    // The name check and the new id are made on the table as it is on disk,
    // under its lock; other programs' folders are taken in on the way.
    CSmsFolder* AddFolder(const std::u16string& name);
    // Trims the name; refuses an empty one silently and one that another
    // folder has (case aside, fixed names included) with 65057. 1 when the
    // folder has the name now; 0 (with 65009 shown) also when the folder
    // table cannot be written, and the old name stays.
    int RenameFolder(CSmsFolder* folder, const std::u16string& name);
    // Asks first; on Yes the folder's records are purged and the store
    // compacted in one step, then the folder goes. 1 when deleted; 0 when not
    // confirmed or when the store could not be written ("Save failed.";
    // the folder and its records stay). The view gets one MessagesRemoved.
    int DeleteFolder(CSmsFolder* folder);
    // The records filed in user folder `id`, in list order.
    std::vector<CSmsMessage*> FolderRecords(int32_t id) const;

    // --- settings, device database, port list, lock ---------------------------
    // m_settings is shared with the synchronisation worker, which reads it
    // under m_settingsMutex. While a worker may run, a front end reads it
    // with Settings() and changes it with SetSettings() (or holds the mutex);
    // the loaders and SaveSettings take the mutex themselves.
    int LoadSettings();
    int LoadPhonebookSettings();
    int SaveSettings();
    CSettings Settings() const;
    void SetSettings(const CSettings& settings);
    // dir/vok.dat, else the one shipped beside the programs; shows its
    // message on failure.
    int LoadDeviceDatabase();
    std::filesystem::path DeviceDatabasePath() const;
    // Shows the failure's message unless `quiet`.
    int BuildPortList(bool quiet = false, const PortListOptions& options = {});
    // The Options dialog's "Set": the interval-changed flag, the settings,
    // the configuration file ("Save failed." when it cannot be written; the
    // settings stay), and the automatic run started, stopped or re-timed.
    // 1 when the file was written.
    // Settings that break a rule are refused first (CheckOptions, shown
    // with a message box; nothing changes, 0).
    int ApplyOptions(const CSettings& settings);
    // What is wrong with `settings` as the Options dialog and parlo-cli
    // would set them; empty when nothing is.
    static std::u16string CheckOptions(const CSettings& settings);
    // The ports that the Options dialog offers: the port list's ports, then
    // "COM2:" to "COM9:" where they can be opened (never COM1), each once.
    std::vector<std::u16string> OfferedPorts() const;

    // Programs of the suite started from the installation directory; a
    // failed start is silent.
    void StartConnect();  // "connect.exe" "s"
    void StartDialer();   // "dialer.exe"

    // The hand-off file, at each activation of the main window: consumes it;
    // 1 and the number (cleaned) when a new message is to be opened to it.
    // During a synchronisation the number is dropped with 65088.
    int TakeHandoffNumber(std::u16string* number);
    // The same in two steps, so that the file is never lost: Peek reads it and
    // leaves it (1, the raw and the cleaned number); DropHandoff deletes it
    // once the new message is open, unless another number came meanwhile. A
    // refused file, and one found during a synchronisation (with 65088), is
    // consumed by Peek, which then returns 0.
    int PeekHandoffNumber(std::u16string* raw, std::u16string* number);
    void DropHandoff(const std::u16string& raw);

    // "vok.lock" for a phonebook synchronisation (the message run takes its
    // own).
    int AcquireSyncLock();
    void ReleaseSyncLock();

    // Shows string `id` in a message box.
    platform::Answer Ask(unsigned id, platform::Buttons buttons = platform::Buttons::Ok,
                         platform::Icon icon = platform::Icon::None);
    IParloView& View() { return *m_pParloView; }
    // The prompt of the front end (null when it has none).
    platform::Prompt* GetPrompt() const { return m_pPrompt; }

    // --- synchronisation -------------------------------------------------------
    void SynchronizeMessages() { m_engine->m_sync.SynchronizeMessages(); }
    // The sync command of the main view: a run on a worker thread.
    bool StartSync() { return m_engine->m_sync.StartManualSync(); }
    // The same run on the calling thread (command-line front end).
    bool SyncNow() { return m_engine->m_sync.RunManualSync(); }
    void StartAutoSync() { m_engine->m_sync.StartAutoSync(); }
    void StopAutoSync() { m_engine->m_sync.StopAutoSync(); }
    // Asks the run in progress to end at its next safe point (nothing is
    // lost: what it did not send or read stays where it was).
    void StopSync() { m_engine->m_sync.RequestStop(); }
    int ClearPhoneMemory() { return m_engine->ClearPhoneCommand(); }
    int ClearSimMemory() { return m_engine->ClearSimCommand(); }
    // The error indicator was tapped: shows and empties the error list,
    // followed by what its errors mean here (ErrorHints).
    int ShowErrors();
    bool IsSyncBusy() const { return m_engine->m_sync.m_bSyncBusy != 0; }
    // The interface-idle flag: cleared while a command of the front end runs.
    void SetInterfaceIdle(bool idle) { m_engine->m_sync.SetInterfaceIdle(idle); }
    bool IsInterfaceIdle() const { return m_engine->m_sync.m_bSyncIdle != 0; }
    bool IsAutoSyncActive() const { return m_engine->m_sync.m_bAutoSyncRunning != 0; }

    // --- contacts, groups and phonebook ----------------------------------------
    // Refills the contact list from the contacts (shows the contacts' error
    // message and returns false when they cannot be read).
    bool ReadContacts();
    // The phonebook copy of the current phone identity.
    std::filesystem::path PhonebookFile() const;
    bool LoadPhonebook() {
        const std::filesystem::path file = PhonebookFile();
        std::lock_guard lock(m_phonebookMutex);
        return m_phonebook.Load(file);
    }
    bool SavePhonebook() const { return m_phonebook.Save(PhonebookFile()); }
    // Rebuilds the group list from the groups folder.
    void EnumerateGroups();
    // Other programs' changes, read again when they are found (a front end
    // calls these while none of its dialogs holds contacts, groups or
    // phonebook entries). The contacts and the phonebook copy tell the view
    // NamesChanged when what they hold changed; a file that cannot be read
    // leaves what was read before. True when something changed.
    bool TakeInContacts();
    bool TakeInGroups();
    bool TakeInPhonebook();
    // The files and folders that this program shares with others, for a
    // watcher of their changes.
    struct SharedPaths {
        std::filesystem::path registry;            // the folder table (and settings)
        std::filesystem::path contacts;            // the address books' root
        std::filesystem::path groups;              // the groups folder
        std::filesystem::path phonebook;           // the current phone's phonebook copy
        std::filesystem::path phonebook_settings;  // which phone that is
    };
    SharedPaths SharedFiles() const;
    // The groups dialog and parlo-cli: a new empty group, deleting groups,
    // and a group's member count read again; `prompt` asks and reports.
    CreateGroupResult CreateGroup(const std::u16string& name, platform::Prompt& prompt);
    bool DeleteGroups(const std::vector<std::u16string>& names, platform::Prompt& prompt);
    void RecountGroup(const std::u16string& name);
    // The contacts that can be imported into the phonebook, in list order.
    std::vector<CContactEntry*> ImportableContacts();
    // What group members resolve against: the contact list (read it first),
    // the phonebook copy and the current phone identity.
    MemberResolver Resolver() const;
    std::u16string ExpandGroup(const std::u16string& name) const {
        return parlo::ExpandGroup(name, Resolver());
    }
    // The phonebook's Synchronize command; `status` shows the status field,
    // `report` receives the skipped entries and the conflicts, `progress` the
    // share read (of 1000). The automatic message run is held off meanwhile
    // (interface not idle); may run on a worker thread, the callbacks are
    // called there.
    PhonebookSyncResult SynchronizePhonebook(
        std::function<void(const std::u16string&)> status = nullptr,
        std::function<void()> refresh = nullptr, PhonebookSyncReport* report = nullptr,
        std::function<void(int, int)> progress = nullptr);
    // The phonebook's Call command.
    bool CallNumber(const std::u16string& number);

    CErrorList& Errors() { return m_engine->m_errors; }
    // Runs of the automatic synchronisation so far.
    int SyncRuns() const;

    // What the start sequence read: the port list and its result, and the
    // device database. Only the document changes them.
    const std::vector<ModemEntry>& Ports() const { return m_ports; }
    PortListResult PortListStatus() const { return m_portListResult; }
    const std::vector<PhoneModelRecord>& PhoneModels() const { return m_phoneModels; }
    const std::vector<OperatorRecord>& Operators() const { return m_operators; }

    // --- what the front ends read ------------------------------------------------
    // Read-only views of the components. The message store is shared with the
    // synchronisation worker: read records through its Read/ForEach (they take
    // its lock). Folder pointers stay valid until the folder table changes
    // (a folder call of this document, or TakeInFolders).
    const std::filesystem::path& DataDir() const { return m_dataDir; }
    void SetDataDir(const std::filesystem::path& dir) { m_dataDir = dir; }
    platform::Registry& Registry() { return m_registry; }
    const CMessageStore& Store() const { return m_store; }
    // How many parts of a message joined from parts (a long message) were
    // received; false for a message of one part. Any thread.
    bool MessageParts(const CSmsMessage& rec, PartsCount* out) const;
    const CFolderTable& Folders() const { return m_folders; }
    const ContactList& Contacts() const { return m_contacts; }
    const GroupInfoList& Groups() const { return m_groups; }
    const CPhonebook& Phonebook() const { return m_phonebook; }
    // The phonebook copy for the phonebook dialog and commands that edit it
    // on the front end's thread (no phonebook synchronisation runs then).
    CPhonebook& EditPhonebook() { return m_phonebook; }

    // Further loaders run by the start sequence after the phonebook copy and
    // the contacts; empty: nothing more to load.
    std::function<void(CParloDoc&)> m_loadPhonebook;
    std::function<void(CParloDoc&)> m_loadContacts;

  private:
    friend struct DocInside;  // tests look at the components
    friend std::u16string ErrorHints(CParloDoc& doc, const std::u16string& errors);

    std::filesystem::path m_dataDir;
    platform::Registry m_registry;
    CSettings m_settings;
    mutable std::mutex m_settingsMutex;  // guards m_settings, see Settings()
    CMessageStore m_store;
    mutable CLongMessages m_longMessages;
    CFolderTable m_folders;
    ContactList m_contacts;
    GroupInfoList m_groups;
    CPhonebook m_phonebook;
    // Held while m_phonebook is replaced (by a phonebook synchronisation on
    // a worker) and while names are looked up in it from another thread.
    mutable std::mutex m_phonebookMutex;

  private:
    std::vector<ModemEntry> m_ports;
    PortListResult m_portListResult = PortListResult::kNoModem;
    std::vector<PhoneModelRecord> m_phoneModels;
    std::vector<OperatorRecord> m_operators;

    void Message(const std::u16string& text);
    void ReportStore(StoreResult r);
    void ReportDamage(const LoadReport& report);
    void ShowTakenIn(const TakenIn& taken);
    void TakeInFolderTable(const CFolderTable& now);
    StoredRecord AddNew(int32_t state, const std::u16string& number, const std::u16string& text,
                        platform::OleDate time, int32_t storage, int32_t phone_index);
    int DeleteOne(int mode, CSmsMessage* rec);

    IParloView m_nullParloView;
    IParloView* m_pParloView;
    CSyncLock m_syncLock;
    platform::Prompt* m_pPrompt;
    CCordis* m_pCordis;
    std::unique_ptr<CSmsEngine> m_engine;
    std::mutex m_closeMutex;
    std::thread m_closer;  // CloseAsync's waiter
};

// The message shown when no modem is registered: it names the commands that
// register one.
std::u16string NoModemMessage();

// Fills the first "%i" with `count` and the first "%s" with `text`.
std::u16string FormatCountText(std::u16string format, int count, const std::u16string& text);

}  // namespace parlo
