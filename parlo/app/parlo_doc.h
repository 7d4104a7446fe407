// CParloDoc: the single document of the SMS client. It owns the message
// store, the settings, the port list, the device database, the error list and
// the SMS engine, and offers the operations that the front ends call. It
// never includes a user-interface toolkit: it talks to its front end through
// the engine's view interface and the prompt interface.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "parlo/sms/sms_engine.h"
#include "parlo/store/device_db.h"
#include "parlo/store/message_store.h"
#include "parlo/store/port_list.h"
#include "parlo/store/settings.h"
#include "platform/registry.h"

class CCordis;

namespace platform {
class Prompt;
}

namespace parlo {

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

// What a front end shows while the document starts (the progress window).
class CStartProgress {
  public:
    virtual ~CStartProgress() = default;
    virtual void SetRange(int steps) { (void)steps; }
    virtual void SetStatus(const std::u16string& text) { (void)text; }
    virtual void Step() {}
};

class CParloDoc {
  public:
    // `view` and `prompt` belong to the front end and outlive the document;
    // `cordis` is the process's phone link (GetCordis() when null).
    CParloDoc(CEngineView* view, platform::Prompt* prompt, CCordis* cordis = nullptr);
    // Closes the document: see OnCloseDocument.
    ~CParloDoc();
    CParloDoc(const CParloDoc&) = delete;
    CParloDoc& operator=(const CParloDoc&) = delete;

    // The start sequence: settings, phonebook copy, contacts, message store,
    // device database (five steps), the port list, and the automatic
    // synchronisation when it is on. False when the port list cannot be
    // built: the program ends.
    bool OnNewDocument(CStartProgress* progress = nullptr);
    // Stops the automatic synchronisation and waits until no run is busy.
    void OnCloseDocument();

    // Loads only the message store: for commands that do not touch the phone.
    StoreResult LoadMessagesOnly() {
        m_store.SetDirectory(m_dataDir);
        return m_store.LoadMessages();
    }

    // --- messages -------------------------------------------------------------
    // A new Outbox record (state 12 with `push`, else 5), stored at once.
    CSmsMessage* AddOutgoing(const std::u16string& number, const std::u16string& text, bool push);

    // --- synchronisation -------------------------------------------------------
    void SynchronizeMessages() { m_engine->m_sync.SynchronizeMessages(); }
    // The sync command of the main view: a run on a worker thread.
    bool StartSync() { return m_engine->m_sync.StartManualSync(); }
    // The same run on the calling thread (command-line front end).
    bool SyncNow() { return m_engine->m_sync.RunManualSync(); }
    void StartAutoSync() { m_engine->m_sync.StartAutoSync(); }
    void StopAutoSync() { m_engine->m_sync.StopAutoSync(); }
    int ClearPhoneMemory() { return m_engine->ClearPhoneCommand(); }
    int ClearSimMemory() { return m_engine->ClearSimCommand(); }
    // The error indicator was tapped: shows and empties the error list.
    int ShowErrors() { return m_engine->ShowErrors(); }
    bool IsSyncBusy() const { return m_engine->m_sync.m_bSyncBusy != 0; }

    CSmsEngine& Engine() { return *m_engine; }
    CErrorList& Errors() { return m_engine->m_errors; }

    // --- state ------------------------------------------------------------------
    std::filesystem::path m_dataDir;
    platform::Registry m_registry;
    CSettings m_settings;
    CMessageStore m_store;
    std::vector<ModemEntry> m_ports;
    std::vector<PhoneModelRecord> m_phoneModels;
    std::vector<OperatorRecord> m_operators;
    int m_nCurrentFolder = 0;  // folder view code; Inbox after start

    // Loaders of the phonebook copy and the contacts, run by the start
    // sequence in their steps; empty: nothing to load.
    std::function<void(CParloDoc&)> m_loadPhonebook;
    std::function<void(CParloDoc&)> m_loadContacts;

  private:
    void Message(const std::u16string& text);
    bool BuildPorts();

    CEngineView* m_pView;
    platform::Prompt* m_pPrompt;
    CCordis* m_pCordis;
    std::unique_ptr<CSmsEngine> m_engine;
};

// The message shown when no modem is registered: it names the commands that
// register one.
std::u16string NoModemMessage();

}  // namespace parlo
