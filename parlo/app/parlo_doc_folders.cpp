// The folder table and the user folders.
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

CSmsFolder* CParloDoc::AddFolder(const std::u16string& text) {
    const std::u16string name = TrimWhite(text);
    if (name.empty())
        return nullptr;
    if (m_folders.ByNameNoCase(name)) {
        Ask(IDS_FOLDER_EXISTS);
        return nullptr;
    }
    // Ids that records carry stay taken even when their folder is missing
    // from the table (a damaged registry): a new folder must not show them.
    std::unordered_set<int32_t> used;
    m_store.ForEach([&](CSmsMessage& m) { used.insert(m.m_nFolderId); });
    CSmsFolder* folder = m_folders.Add(name, [&](int32_t id) { return used.count(id) != 0; });
    if (!folder) {
        Ask(IDS_SAVE_FAILED);
        return nullptr;
    }
    // A folder that is not in the registry does not exist for the next start
    // or for the other programs: it is taken back.
    if (!SaveFolderTable()) {
        m_folders.Remove(folder);
        return nullptr;
    }
    m_pParloView->FolderAdded(*folder);
    return folder;
}

int CParloDoc::RenameFolder(CSmsFolder* folder, const std::u16string& text) {
    const std::u16string name = TrimWhite(text);
    if (name.empty())
        return 0;
    if (name == folder->m_strName)
        return 1;
    CSmsFolder* same = m_folders.ByNameNoCase(name);
    if (same && same != folder) {
        Ask(IDS_FOLDER_EXISTS);
        return 0;
    }
    std::u16string old = folder->m_strName;
    m_folders.Rename(folder, name);
    if (!SaveFolderTable()) {
        m_folders.Rename(folder, old);
        return 0;
    }
    m_pParloView->FolderRenamed(*folder, old);
    return 1;
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
    // The records are purged already; a table that cannot be written keeps
    // naming the empty folder, and the command says it failed.
    return SaveFolderTable();
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
