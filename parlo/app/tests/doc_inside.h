// What tests see of a document's components: the document keeps them
// private, a test sets them up and looks at them directly.
#pragma once

#include "parlo/app/parlo_doc.h"

namespace parlo {

struct DocInside {
    explicit DocInside(CParloDoc& doc)
        : m_dataDir(doc.m_dataDir),
          m_registry(doc.m_registry),
          m_settings(doc.m_settings),
          m_store(doc.m_store),
          m_folders(doc.m_folders),
          m_contacts(doc.m_contacts),
          m_groups(doc.m_groups),
          m_phonebook(doc.m_phonebook),
          engine_(*doc.m_engine) {}

    std::filesystem::path& m_dataDir;
    platform::Registry& m_registry;
    CSettings& m_settings;
    CMessageStore& m_store;
    CFolderTable& m_folders;
    ContactList& m_contacts;
    GroupInfoList& m_groups;
    CPhonebook& m_phonebook;
    CSmsEngine& Engine() { return engine_; }

  private:
    CSmsEngine& engine_;
};

inline DocInside Inside(CParloDoc& doc) {
    return DocInside(doc);
}

}  // namespace parlo
