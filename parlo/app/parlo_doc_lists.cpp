// The document's operations on the message lists: marks, moving, deleting,
// emptying the Recycle Bin, held Outbox messages and which list shows a record.
#include "parlo/app/parlo_doc.h"
#include "parlo/sms/sms_operations.h"
#include "parlo_strings.h"
#include "platform/prompt.h"

namespace parlo {

namespace {

constexpr unsigned IDS_PLACE_PHONE = 57348;
constexpr unsigned IDS_PLACE_BOTH = 57349;
constexpr unsigned IDS_PLACE_POCKETPC = 57350;
constexpr unsigned IDS_SELECT_FIRST = 57351;
constexpr unsigned IDS_PURGE_MARKED = 65060;
constexpr unsigned IDS_PURGE_ONE = 65061;
constexpr unsigned IDS_EMPTY_BIN = 65062;

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

int CParloDoc::DeleteMarked(int mode, int view_code, const std::vector<CSmsMessage*>& list,
                            CSmsMessage* selected) {
    std::vector<CSmsMessage*> marked;
    for (CSmsMessage* rec : list) {
        if (rec->m_bMarked)
            marked.push_back(rec);
    }
    const bool in_bin = view_code == VIEW_RECYCLE;
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

// --- which list shows a record ----------------------------------------------------

int CParloDoc::ListOf(int32_t state) {
    return ViewOfState(state);
}

bool CParloDoc::InList(const CSmsMessage& rec, int view_code, int32_t shown_folder) {
    if (view_code == VIEW_NONE || ListOf(rec.m_nState) != view_code)
        return false;
    return view_code != VIEW_USER_FOLDER || rec.m_nFolderId == shown_folder;
}

CParloDoc::ListCopies CParloDoc::CopyLists(int32_t shown_folder, int only_view) const {
    ListCopies lists;
    m_store.ForEach([&](CSmsMessage& m) {
        const int code = ListOf(m.m_nState);
        if (only_view != VIEW_NONE && code != only_view)
            return;
        if (InList(m, code, shown_folder))
            lists[static_cast<size_t>(code)].emplace_back(&m, m);
    });
    return lists;
}

// --- held Outbox messages -------------------------------------------------------------

bool CParloDoc::IsHeld(const CSmsMessage& rec) {
    return (rec.m_nState == STATE_OUTBOX || rec.m_nState == STATE_OUTBOX_PUSH) &&
           rec.m_nPhoneIndex == kFateUnknownIndex;
}

int CParloDoc::ReleaseHeld(CSmsMessage* rec) {
    CSmsMessage copy;
    if (!rec || !m_store.Read(rec, &copy) || !IsHeld(copy))
        return 0;
    bool released = false;
    StoreResult r = m_store.Change(rec, [&](CSmsMessage& m) {
        // Another program may have released or sent it meanwhile.
        released = IsHeld(m);
        if (released)
            m.m_nPhoneIndex = -1;
    });
    ReportStore(r);
    m_pParloView->MessageUpdated(rec);
    return r == StoreResult::kOk && released;
}

int CParloDoc::SendAgain(CSmsMessage* rec) {
    if (!ReleaseHeld(rec))
        return 0;
    StartSync();
    return 1;
}

}  // namespace parlo
