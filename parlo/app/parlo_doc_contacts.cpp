// Contacts, groups and the phonebook copy.
#include <algorithm>

#include "parlo/app/damage_report.h"
#include "parlo/app/parlo_doc.h"
#include "parlo/app/phonebook_link.h"
#include "parlo/contacts/contacts_dir.h"
#include "parlo/contacts/recipients.h"
#include "parlo_strings.h"
#include "platform/binio.h"
#include "platform/prompt.h"
#include "platform/text.h"

namespace parlo {

bool CParloDoc::ReadContacts() {
    platform::ScriptedPrompt quiet;
    return parlo::ReadContacts(&m_contacts, m_pPrompt ? *m_pPrompt : quiet);
}

std::filesystem::path CParloDoc::PhonebookFile() const {
    return PhonebookPath(m_dataDir, Settings().m_strPhoneIdentity);
}

namespace {

CPhonebook CopyOf(const CPhonebook& book) {
    CPhonebook copy;
    copy.m_entries.reserve(book.m_entries.size());
    for (const auto& e : book.m_entries)
        copy.m_entries.push_back(std::make_unique<CPhonebookEntry>(*e));
    copy.m_nStoragesRead = book.m_nStoragesRead;
    copy.m_descriptors = book.m_descriptors;
    return copy;
}

}  // namespace

void CParloDoc::EnumerateGroups() {
    m_groups.clear();
    parlo::EnumerateGroups(&m_groups, GroupsFolder(m_dataDir));
    for (const auto& g : m_groups) {
        if (!g->m_bDamaged)
            continue;
        const std::string name = platform::ToUtf8(g->m_strName);
        const int32_t n = g->m_nCount;
        Message(DamageText("groups/" + name + ".grp",
                           std::to_string(n) + (n == 1 ? " member was" : " members were") +
                               " read and kept; the rest could not be read.",
                           KeepDamagedCopy(GroupPath(m_dataDir, g->m_strName))));
    }
}

bool CParloDoc::TakeInContacts() {
    // Read quietly: a message box for each change that another program made
    // would come at any time. The list stays when they cannot be read.
    platform::ScriptedPrompt quiet;
    ContactList now;
    if (!parlo::ReadContacts(&now, quiet))
        return false;
    auto same = [](const ContactList& a, const ContactList& b) {
        auto equal = [](const auto& x, const auto& y) {
            return x->m_nId == y->m_nId && x->m_strName == y->m_strName &&
                   x->m_strMobile == y->m_strMobile && x->m_strBusiness == y->m_strBusiness &&
                   x->m_strHome == y->m_strHome && x->m_strCar == y->m_strCar;
        };
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), equal);
    };
    if (same(now, m_contacts))
        return false;
    m_contacts = std::move(now);
    m_pParloView->NamesChanged();
    return true;
}

bool CParloDoc::TakeInGroups() {
    std::vector<std::pair<std::u16string, int32_t>> before;
    for (const auto& g : m_groups)
        before.emplace_back(g->m_strName, g->m_nCount);
    EnumerateGroups();
    std::vector<std::pair<std::u16string, int32_t>> after;
    for (const auto& g : m_groups)
        after.emplace_back(g->m_strName, g->m_nCount);
    return before != after;
}

bool CParloDoc::TakeInPhonebook() {
    // Another program's phonebook synchronisation may have met another
    // phone: the copy shown is the one of the phone named in pb.ini.
    CSettings stored = Settings();
    PbIniRead read = PbIniRead::kNothing;
    if (parlo::LoadPhonebookSettings(m_dataDir, &stored, &read) && read == PbIniRead::kWhole) {
        std::lock_guard lock(m_settingsMutex);
        m_settings.m_strPhoneIdentity = stored.m_strPhoneIdentity;
        m_settings.m_nPhonebookFlags = stored.m_nPhonebookFlags;
    }
    std::string bytes;
    const std::filesystem::path file = PhonebookFile();
    CPhonebook now;
    // A phonebook synchronisation on a worker replaces the copy under its
    // lock; the comparison and the replacement here hold it too.
    std::unique_lock lock(m_phonebookMutex);
    if (platform::ReadFileBytes(file, &bytes)) {
        if (bytes == m_phonebook.Serialize())
            return false;  // this program's own write
        if (!now.Parse(bytes))
            return false;  // half a file is not taken: what was read stays
    } else {
        std::error_code ec;
        if (std::filesystem::exists(file, ec) || m_phonebook.m_entries.empty())
            return false;
    }
    m_phonebook = std::move(now);
    lock.unlock();
    m_pParloView->NamesChanged();
    return true;
}

CParloDoc::SharedPaths CParloDoc::SharedFiles() const {
    SharedPaths paths;
    paths.registry = m_registry.file();
    paths.contacts = ContactsDir::DefaultRoot();
    paths.groups = GroupsFolder(m_dataDir);
    paths.phonebook = PhonebookFile();
    paths.phonebook_settings = m_dataDir / "pb.ini";
    return paths;
}

MemberResolver CParloDoc::Resolver() const {
    return MemberResolver{&m_contacts, &m_phonebook.m_entries, Settings().m_strPhoneIdentity,
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
    // The run works on copies: the phonebook that the window reads names
    // from, and the settings, change only under their locks, when the run
    // has something to keep.
    const CSettings settings = Settings();
    ctx.enabled_flags = settings.m_nPhonebookFlags;
    std::u16string identity = settings.m_strPhoneIdentity;
    ctx.identity = &identity;
    ctx.save_settings = [this, &identity] {
        {
            std::lock_guard lock(m_settingsMutex);
            m_settings.m_strPhoneIdentity = identity;
        }
        return SaveSettings() != 0;
    };
    ctx.status = std::move(status);
    ctx.refresh = std::move(refresh);
    ctx.report = report;
    ctx.progress = std::move(progress);
    // The automatic message run waits while the phonebook uses the phone.
    CSynchronizer& sync = m_engine->m_sync;
    const bool was_idle = sync.m_bSyncIdle != 0;
    sync.SetInterfaceIdle(false);
    CPhonebook work;
    {
        std::lock_guard lock(m_phonebookMutex);
        work = CopyOf(m_phonebook);
    }
    PhonebookSyncResult r = parlo::SynchronizePhonebook(&work, ctx);
    {
        std::lock_guard lock(m_settingsMutex);
        m_settings.m_strPhoneIdentity = identity;
    }
    {
        std::lock_guard lock(m_phonebookMutex);
        m_phonebook = std::move(work);
    }
    sync.SetInterfaceIdle(was_idle);
    return r;
}

bool CParloDoc::CallNumber(const std::u16string& number) {
    platform::ScriptedPrompt quiet;
    CDocPhoneLink link(m_pCordis, &m_engine->m_session);
    return parlo::CallNumber(number, m_dataDir, link, m_pPrompt ? *m_pPrompt : quiet,
                             strings::parlo());
}

CreateGroupResult CParloDoc::CreateGroup(const std::u16string& name, platform::Prompt& prompt) {
    return parlo::CreateGroup(&m_groups, m_dataDir, name, prompt, strings::parlo());
}

bool CParloDoc::DeleteGroups(const std::vector<std::u16string>& names, platform::Prompt& prompt) {
    return parlo::DeleteGroups(&m_groups, m_dataDir, names, prompt, strings::parlo());
}

void CParloDoc::RecountGroup(const std::u16string& name) {
    if (CGroupInfo* g = FindGroup(m_groups, name))
        g->m_nCount = ReadGroupCount(GroupPath(m_dataDir, name));
}

std::vector<CContactEntry*> CParloDoc::ImportableContacts() {
    return PrepareImportList(&m_contacts);
}

}  // namespace parlo
