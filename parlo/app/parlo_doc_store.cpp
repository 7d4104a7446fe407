// The document's message store: loading, taking in other programs' changes,
// and the operations that add or change one record.
#include "parlo/app/parlo_doc.h"
#include "parlo_strings.h"
#include "platform/prompt.h"
#include "platform/text.h"

namespace parlo {

namespace {

constexpr unsigned IDS_READ_DATAFILE = 65023;

}  // namespace

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

bool CParloDoc::MessageParts(const CSmsMessage& rec, PartsCount* out) const {
    return m_longMessages.Find(m_store.StorePath().parent_path(), rec, out);
}

}  // namespace parlo
