// The document's operations on the message lists: marks, moving, deleting,
// emptying the Recycle Bin, held Outbox messages and which list shows a record.
#include <unordered_set>

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
    std::vector<CSmsMessage*> changed;
    for (CSmsMessage* rec : list) {
        bool differs = false;
        m_store.ChangeInMemory(rec, [&](CSmsMessage& m) {
            differs = m.m_bMarked != value;
            m.m_bMarked = value;
        });
        if (differs)
            changed.push_back(rec);
    }
    // "Mark all" of a long list reaches the lists as one batch.
    if (changed.size() == 1)
        m_pParloView->MessageUpdated(changed.front());
    else if (!changed.empty())
        m_pParloView->MarksChanged(changed, marked);
}

namespace {

// The marked records of `list`, in its order.
std::vector<CSmsMessage*> MarkedOf(const CMessageStore& store,
                                   const std::vector<CSmsMessage*>& list) {
    std::unordered_set<const CSmsMessage*> marked;
    store.ForEach([&](CSmsMessage& m) {
        if (m.m_bMarked)
            marked.insert(&m);
    });
    std::vector<CSmsMessage*> out;
    for (CSmsMessage* rec : list) {
        if (marked.count(rec))
            out.push_back(rec);
    }
    return out;
}

}  // namespace

int CParloDoc::MoveMarkedOrSelected(const std::vector<CSmsMessage*>& list, CSmsMessage* selected,
                                    int32_t folder_id) {
    std::vector<CSmsMessage*> marked = MarkedOf(m_store, list);
    if (marked.empty()) {
        if (!selected) {
            Ask(IDS_SELECT_FIRST);
            return 0;
        }
        marked.push_back(selected);
    }
    const int32_t state = StateForFolder(folder_id);
    // Each record written once, in one hold of the store's lock.
    StoreResult failed = m_store.ChangeMany(marked, [&](CSmsMessage& m) {
        m.m_bMarked = 0;
        if (state < 0)
            return;  // not a folder: the state stays
        m.m_nState = state;
        m.m_nFolderId = state == STATE_IN_FOLDER ? folder_id : 0;
    });
    ReportStore(failed);  // once, not once per record
    m_pParloView->StatesChanged(marked);
    return failed == StoreResult::kOk;
}

int CParloDoc::DeleteMarked(int mode, int view_code, const std::vector<CSmsMessage*>& list,
                            CSmsMessage* selected) {
    std::vector<CSmsMessage*> recs = MarkedOf(m_store, list);
    const bool in_bin = view_code == VIEW_RECYCLE;
    auto confirm = [&](unsigned id, int count) {
        std::u16string text =
            FormatCountText(strings::parlo().Load(id), count, strings::parlo().Load(PlaceOf(mode)));
        return m_pPrompt && m_pPrompt->MessageBox(text, platform::Buttons::OkCancel,
                                                  platform::Icon::Question) == platform::Answer::Ok;
    };
    if (!recs.empty()) {
        if (in_bin && !confirm(IDS_PURGE_MARKED, static_cast<int>(recs.size())))
            return 0;
    } else {
        if (!selected) {
            Ask(IDS_SELECT_FIRST);
            return 0;
        }
        if (in_bin && !confirm(IDS_PURGE_ONE, 1))
            return 0;
        recs.push_back(selected);
    }
    // Marks live in memory: unmarking writes nothing.
    for (CSmsMessage* rec : recs)
        m_store.ChangeInMemory(rec, [](CSmsMessage& m) { m.m_bMarked = 0; });
    int ok = 1;
    if (mode == DELETE_BOTH || mode == DELETE_PHONE_ONLY) {
        for (CSmsMessage* rec : recs) {
            if (!OrderPhoneDeletion(rec))
                ok = 0;
        }
    }
    if (mode == DELETE_PHONE_ONLY) {
        for (CSmsMessage* rec : recs)
            m_pParloView->MessageUpdated(rec);  // the rows stay, unmarked
        return ok;
    }
    // To the Recycle Bin, or nowhere when purged: each record written once,
    // the lists told once.
    StoreResult failed = m_store.ChangeMany(recs, [](CSmsMessage& m) {
        m.m_nState = m.m_nState == STATE_DELETED ? STATE_PURGED : STATE_DELETED;
    });
    ReportStore(failed);
    m_pParloView->StatesChanged(recs);
    return ok && failed == StoreResult::kOk;
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
    return CopyListsOf(m_store, shown_folder, only_view);
}

CParloDoc::ListCopies CParloDoc::CopyListsOf(const CMessageStore& store, int32_t shown_folder,
                                             int only_view) {
    ListCopies lists;
    store.ForEach([&](CSmsMessage& m) {
        const int code = ListOf(m.m_nState);
        if (only_view != VIEW_NONE && code != only_view)
            return;
        if (InList(m, code, shown_folder) ||
            (code == VIEW_USER_FOLDER && shown_folder == kAnyFolder))
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
    if (r != StoreResult::kOk || !released)
        return 0;
    // The error that the synchronisation reported for it no longer holds,
    // unless another held message goes to the same number.
    bool other = false;
    m_store.ForEach([&](CSmsMessage& m) {
        other = other || (&m != rec && IsHeld(m) && m.m_strNumber == copy.m_strNumber);
    });
    if (!other) {
        CErrorList& errors = m_engine->m_errors;
        errors.Remove(errors.Format(IDS_FATE_UNKNOWN, {copy.m_strNumber}));
        errors.Remove(errors.Format(IDS_HELD_IN_OUTBOX, {copy.m_strNumber}));
    }
    return 1;
}

int CParloDoc::SendAgain(CSmsMessage* rec) {
    if (!ReleaseHeld(rec))
        return 0;
    StartSync();
    return 1;
}

}  // namespace parlo
