// The folder table and the user folders. The table is shared with other
// programs (parlo-cli, a second window): every change reads it from disk and
// writes it back in one step under the registry's lock, and what others
// changed is taken in as it is found.
#include <unordered_set>

#include "parlo/app/parlo_doc.h"
#include "parlo_strings.h"
#include "platform/prompt.h"

namespace parlo {

namespace {

constexpr unsigned IDS_DELETE_FOLDER = 65056;
constexpr unsigned IDS_FOLDER_EXISTS = 65057;

}  // namespace

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

int CParloDoc::TakeInFolders() {
    CFolderTable now;
    if (now.Load(m_registry, strings::parlo()) != FolderResult::kOk || now.size() == 0)
        return 0;  // unreadable, or no profile yet: what is shown stays
    TakeInFolderTable(now);
    return 1;
}

void CParloDoc::TakeInFolderTable(const CFolderTable& now) {
    // In place, so that the folders that stay keep their addresses.
    for (CSmsFolder* f : m_folders.UserFolders()) {
        if (!now.ById(f->m_nId)) {
            m_pParloView->FolderRemoved(*f);
            m_folders.Remove(f);
        }
    }
    for (CSmsFolder* f : now.All()) {
        CSmsFolder* mine = m_folders.ById(f->m_nId);
        if (!mine) {
            if (!f->IsUserFolder())
                continue;
            m_pParloView->FolderAdded(*m_folders.Put(f->m_nId, f->m_strName));
        } else if (mine->m_strName != f->m_strName) {
            const std::u16string old = mine->m_strName;
            m_folders.Rename(mine, f->m_strName);
            if (mine->IsUserFolder())
                m_pParloView->FolderRenamed(*mine, old);
        }
    }
}

CSmsFolder* CParloDoc::AddFolder(const std::u16string& text) {
    const std::u16string name = TrimWhite(text);
    if (name.empty())
        return nullptr;
    // Ids that records carry stay taken even when their folder is missing
    // from the table (a damaged registry): a new folder must not show them.
    std::unordered_set<int32_t> used;
    m_store.ForEach([&](CSmsMessage& m) { used.insert(m.m_nFolderId); });
    enum class Outcome { kAdded, kExists, kNoId } outcome = Outcome::kAdded;
    int32_t id = 0;
    CFolderTable now;
    bool read = false;
    const FolderResult r = now.Update(
        m_registry, strings::parlo(),
        [&](CFolderTable& table) {
            if (table.ByNameNoCase(name)) {
                outcome = Outcome::kExists;
                return false;
            }
            CSmsFolder* f = table.Add(name, [&](int32_t i) { return used.count(i) != 0; });
            if (!f) {
                outcome = Outcome::kNoId;
                return false;
            }
            id = f->m_nId;
            return true;
        },
        &read);
    if (r != FolderResult::kOk) {
        // Not written: a folder that is not in the registry does not exist
        // for the next start or for the other programs.
        Ask(IDS_REGISTRY_FAILED);
        TakeInFolders();
        return nullptr;
    }
    TakeInFolderTable(now);
    if (outcome == Outcome::kExists) {
        Ask(IDS_FOLDER_EXISTS);
        return nullptr;
    }
    if (outcome == Outcome::kNoId) {
        Ask(IDS_SAVE_FAILED);
        return nullptr;
    }
    return m_folders.ById(id);
}

int CParloDoc::RenameFolder(CSmsFolder* folder, const std::u16string& text) {
    const std::u16string name = TrimWhite(text);
    if (name.empty())
        return 0;
    const int32_t id = folder->m_nId;
    enum class Outcome { kRenamed, kSame, kExists, kGone } outcome = Outcome::kRenamed;
    CFolderTable now;
    const FolderResult r = now.Update(m_registry, strings::parlo(), [&](CFolderTable& table) {
        CSmsFolder* f = table.ById(id);
        if (!f || !f->IsUserFolder()) {
            outcome = Outcome::kGone;  // another program deleted it
            return false;
        }
        if (f->m_strName == name) {
            outcome = Outcome::kSame;
            return false;
        }
        CSmsFolder* same = table.ByNameNoCase(name);
        if (same && same != f) {
            outcome = Outcome::kExists;
            return false;
        }
        table.Rename(f, name);
        return true;
    });
    if (r != FolderResult::kOk) {
        Ask(IDS_REGISTRY_FAILED);  // the old name stays
        TakeInFolders();
        return 0;
    }
    // `folder` is not used from here on: taking in may remove it.
    TakeInFolderTable(now);
    if (outcome == Outcome::kExists)
        Ask(IDS_FOLDER_EXISTS);
    return outcome == Outcome::kRenamed || outcome == Outcome::kSame;
}

int CParloDoc::DeleteFolder(CSmsFolder* folder) {
    if (Ask(IDS_DELETE_FOLDER, platform::Buttons::YesNo, platform::Icon::Question) !=
        platform::Answer::Yes)
        return 0;
    const int32_t id = folder->m_nId;
    std::vector<const CSmsMessage*> purged;
    StoreResult r = m_store.PurgeAndCompact(STATE_IN_FOLDER, id, &purged);
    ReportStore(r);
    if (r != StoreResult::kOk)
        return 0;  // the folder and its records stay as they were
    // The view leaves the folder before its rows go.
    m_pParloView->FolderRemoved(*folder);
    m_folders.Remove(folder);
    // The records are gone: the pointers are keys of the view's rows only.
    std::vector<CSmsMessage*> rows;
    rows.reserve(purged.size());
    for (const CSmsMessage* p : purged)
        rows.push_back(const_cast<CSmsMessage*>(p));
    m_pParloView->MessagesRemoved(rows);
    m_pParloView->StoreCompacted();
    CFolderTable now;
    const FolderResult saved = now.Update(m_registry, strings::parlo(), [&](CFolderTable& table) {
        CSmsFolder* f = table.ById(id);
        if (!f || !f->IsUserFolder())
            return false;  // another program deleted it already
        table.Remove(f);
        return true;
    });
    if (saved != FolderResult::kOk) {
        // The records are purged already; a table that cannot be written
        // keeps naming the empty folder, and the command says it failed.
        Ask(IDS_REGISTRY_FAILED);
        TakeInFolders();
        return 0;
    }
    TakeInFolderTable(now);
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

}  // namespace parlo
