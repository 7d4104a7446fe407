// parlo-cli contacts, groups and phonebook: the people the messages go to.
#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "parlo/app/parlo_doc.h"
#include "parlo/cli/cli.h"
#include "parlo/cli/store_cli.h"
#include "parlo/contacts/contacts_dir.h"
#include "parlo/contacts/groups.h"
#include "parlo/contacts/phonebook.h"
#include "parlo_strings.h"
#include "platform/text.h"

namespace cli {

namespace {

using parlo::CContactEntry;
using parlo::CParloDoc;
using parlo::CPhonebookEntry;

std::string U8(const std::u16string& s) {
    return platform::ToUtf8(s);
}
std::u16string U16(const std::string& s) {
    return platform::FromUtf8(s);
}

const platform::StringTable& Strings() {
    return strings::parlo();
}

// Writes the phonebook copy after a change; "Save failed." when it cannot.
bool SavePhonebook(CParloDoc& doc) {
    if (doc.SavePhonebook())
        return true;
    doc.Ask(57346);
    return false;
}

// "sim:3" / "phone:12" for a phonebook id.
std::string EntryName(uint32_t id) {
    const char* storage = parlo::StorageFlagOf(id) == parlo::STORAGE_FLAG_SIM     ? "sim"
                          : parlo::StorageFlagOf(id) == parlo::STORAGE_FLAG_PHONE ? "phone"
                                                                                  : "?";
    return std::string(storage) + ":" + std::to_string(parlo::IndexOf(id));
}

bool ParseNumber(const std::string& s, unsigned long max, unsigned long* out) {
    if (s.empty() || s[0] == '-' || s[0] == '+')
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(s.c_str(), &end, 0);
    if (*end != '\0' || errno != 0 || v > max)
        return false;
    *out = v;
    return true;
}

bool ParseEntryId(const std::string& s, uint32_t* id) {
    size_t colon = s.find(':');
    if (colon == std::string::npos)
        return false;
    std::string storage = s.substr(0, colon);
    unsigned long index = 0;
    if (!ParseNumber(s.substr(colon + 1), 0x0FFFFFFF, &index))
        return false;
    uint32_t flag = storage == "sim"     ? parlo::STORAGE_FLAG_SIM
                    : storage == "phone" ? parlo::STORAGE_FLAG_PHONE
                                         : 0;
    if (flag == 0)
        return false;
    *id = flag | static_cast<uint32_t>(index);
    return true;
}

// The phonebook entries named by the arguments; false after a message.
bool FindEntries(Context& ctx, CParloDoc& doc, const std::vector<std::string>& ids,
                 std::vector<CPhonebookEntry*>* out) {
    for (const std::string& a : ids) {
        uint32_t id = 0;
        CPhonebookEntry* e = ParseEntryId(a, &id) ? doc.EditPhonebook().FindById(id) : nullptr;
        if (!e || e->IsDeleted()) {
            ctx.err << "parlo-cli: no phonebook entry " << a << " (see 'phonebook list')\n";
            return false;
        }
        out->push_back(e);
    }
    return true;
}

const CContactEntry* FindContact(const CParloDoc& doc, const std::string& oid_text) {
    unsigned long oid = 0;
    if (!ParseNumber(oid_text, 0xFFFFFFFF, &oid))
        return nullptr;
    for (const auto& c : doc.Contacts()) {
        if (c->m_nId == oid)
            return c.get();
    }
    return nullptr;
}

std::string Numbers(const CContactEntry& c) {
    const std::u16string* numbers[4] = {&c.m_strMobile, &c.m_strBusiness, &c.m_strHome,
                                        &c.m_strCar};
    std::string out;
    for (int i = 0; i < 4; ++i) {
        if (numbers[i]->empty())
            continue;
        if (!out.empty())
            out += "  ";
        out += U8(Strings().Load(parlo::kKindLetterIds[i])) + " " + U8(*numbers[i]);
    }
    return out;
}

// Takes "--sim" / "--phone" out of the arguments; 0 when neither is given.
uint32_t TakeStorageOption(std::vector<std::string>* args) {
    uint32_t flag = 0;
    std::vector<std::string> rest;
    for (const std::string& a : *args) {
        if (a == "--sim") {
            flag = parlo::STORAGE_FLAG_SIM;
        } else if (a == "--phone") {
            flag = parlo::STORAGE_FLAG_PHONE;
        } else {
            rest.push_back(a);
        }
    }
    *args = rest;
    return flag;
}

// --- contacts --------------------------------------------------------------------

constexpr const char* kContactsUsage = "usage: parlo-cli contacts list\n";

int ContactsList(Context& ctx, CParloDoc& doc) {
    if (!doc.ReadContacts())
        return kFailed;
    std::vector<const CContactEntry*> sorted;
    for (const auto& c : doc.Contacts())
        sorted.push_back(c.get());
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto* a, const auto* b) {
        return parlo::CompareByName(*a, *b, 1) < 0;
    });
    for (const CContactEntry* c : sorted) {
        ctx.out << parlo::DisplayId(c->m_nId) << "\t" << U8(c->m_strName) << "\t" << Numbers(*c)
                << "\n";
    }
    return kOk;
}

// --- groups ----------------------------------------------------------------------

constexpr const char* kGroupsUsage =
    "usage: parlo-cli groups list\n"
    "       parlo-cli groups create NAME\n"
    "       parlo-cli groups delete NAME...\n"
    "       parlo-cli groups members NAME\n"
    "       parlo-cli groups add NAME MEMBER...     MEMBER: a contact id (contacts list)\n"
    "                                               or sim:N / phone:N (phonebook list)\n"
    "       parlo-cli groups remove NAME N...       N: the member's number (groups members)\n"
    "       parlo-cli groups expand NAME\n";

bool CheckGroup(Context& ctx, CParloDoc& doc, const std::string& name) {
    doc.EnumerateGroups();
    if (!parlo::FindGroup(doc.Groups(), U16(name))) {
        ctx.err << "parlo-cli: no group '" << name << "' (see 'groups list')\n";
        return false;
    }
    return true;
}

int GroupsMembers(Context& ctx, CParloDoc& doc, const std::string& name) {
    if (!CheckGroup(ctx, doc, name))
        return kFailed;
    parlo::GroupMemberList members;
    parlo::LoadGroup(&members, parlo::GroupPath(doc.DataDir(), U16(name)));
    parlo::MemberResolver resolver = doc.Resolver();
    int n = 0;
    for (const auto& m : members) {
        std::u16string number = parlo::ResolveMember(*m, resolver);
        bool contact = m->m_strSource == parlo::kContactsSource;
        std::string from =
            contact ? "contact " +
                          std::to_string(parlo::DisplayId(static_cast<uint32_t>(m->m_nSourceId)))
                    : "phone " + U8(m->m_strSource) + " " +
                          EntryName(static_cast<uint32_t>(m->m_nSourceId));
        ctx.out << ++n << "\t" << U8(m->m_strMemberName) << "\t"
                << (number.empty() ? "(no number)" : U8(number)) << "\t" << from << "\n";
    }
    return kOk;
}

int GroupsAdd(Context& ctx, CParloDoc& doc, const std::string& name,
              const std::vector<std::string>& who) {
    if (!CheckGroup(ctx, doc, name))
        return kFailed;
    const std::filesystem::path file = parlo::GroupPath(doc.DataDir(), U16(name));
    parlo::GroupMemberList members;
    parlo::LoadGroup(&members, file);
    int status = kOk;
    for (const std::string& w : who) {
        uint32_t id = 0;
        if (ParseEntryId(w, &id)) {
            CPhonebookEntry* e = doc.EditPhonebook().FindById(id);
            if (!e || e->IsDeleted()) {
                ctx.err << "parlo-cli: no phonebook entry " << w << "\n";
                status = kFailed;
                continue;
            }
            if (!parlo::AddMember(&members, *e, doc.Settings().m_strPhoneIdentity, ctx.prompt,
                                  Strings())) {
                status = kFailed;
            }
        } else if (const CContactEntry* c = FindContact(doc, w)) {
            if (!parlo::AddMember(&members, *c, parlo::kContactsSource, ctx.prompt, Strings())) {
                status = kFailed;
            }
        } else {
            ctx.err << "parlo-cli: no contact or phonebook entry " << w << "\n";
            status = kFailed;
        }
    }
    if (!parlo::SaveGroup(members, file)) {
        ctx.err << "parlo-cli: cannot write the group file\n";
        return kFailed;
    }
    return status;
}

int GroupsRemove(Context& ctx, CParloDoc& doc, const std::string& name,
                 const std::vector<std::string>& numbers) {
    if (!CheckGroup(ctx, doc, name))
        return kFailed;
    const std::filesystem::path file = parlo::GroupPath(doc.DataDir(), U16(name));
    parlo::GroupMemberList members;
    parlo::LoadGroup(&members, file);
    std::vector<bool> drop(members.size(), false);
    for (const std::string& s : numbers) {
        unsigned long n = 0;
        if (!ParseNumber(s, members.size(), &n) || n == 0) {
            ctx.err << "parlo-cli: no member " << s << " (see 'groups members')\n";
            return kUsage;
        }
        drop[n - 1] = true;
    }
    parlo::GroupMemberList kept;
    for (size_t i = 0; i < members.size(); ++i) {
        if (!drop[i])
            kept.push_back(std::move(members[i]));
    }
    if (!parlo::SaveGroup(kept, file)) {
        ctx.err << "parlo-cli: cannot write the group file\n";
        return kFailed;
    }
    return kOk;
}

int RunGroups(Context& ctx, CParloDoc& doc) {
    const std::vector<std::string>& a = ctx.args;
    std::string verb = a.empty() ? "list" : a[0];
    if (verb == "list" && a.size() <= 1) {
        doc.EnumerateGroups();
        std::vector<const parlo::CGroupInfo*> sorted;
        for (const auto& g : doc.Groups())
            sorted.push_back(g.get());
        std::stable_sort(sorted.begin(), sorted.end(), [](const auto* x, const auto* y) {
            return parlo::CompareNoCase(x->m_strName, y->m_strName) < 0;
        });
        for (const auto* g : sorted)
            ctx.out << U8(g->m_strName) << " (" << g->m_nCount << ")\n";
        return kOk;
    }
    if (verb == "create" && a.size() == 2) {
        doc.EnumerateGroups();
        auto r = doc.CreateGroup(U16(a[1]), ctx.prompt);
        if (r == parlo::CreateGroupResult::kWriteFailed) {
            ctx.err << "parlo-cli: cannot write the group file\n";
        }
        return r == parlo::CreateGroupResult::kCreated ? kOk : kFailed;
    }
    if (verb == "delete" && a.size() >= 2) {
        doc.EnumerateGroups();
        std::vector<std::u16string> names;
        for (size_t i = 1; i < a.size(); ++i) {
            if (!CheckGroup(ctx, doc, a[i]))
                return kFailed;
            names.push_back(U16(a[i]));
        }
        return doc.DeleteGroups(names, ctx.prompt) ? kOk : kFailed;
    }
    if (verb == "members" && a.size() == 2)
        return GroupsMembers(ctx, doc, a[1]);
    if (verb == "add" && a.size() >= 3) {
        return GroupsAdd(ctx, doc, a[1], std::vector<std::string>(a.begin() + 2, a.end()));
    }
    if (verb == "remove" && a.size() >= 3) {
        return GroupsRemove(ctx, doc, a[1], std::vector<std::string>(a.begin() + 2, a.end()));
    }
    if (verb == "expand" && a.size() == 2) {
        if (!CheckGroup(ctx, doc, a[1]))
            return kFailed;
        std::u16string numbers = doc.ExpandGroup(U16(a[1]));
        if (!numbers.empty())
            numbers.erase(0, 1);  // the leading ';'
        ctx.out << U8(numbers) << "\n";
        return kOk;
    }
    ctx.err << kGroupsUsage;
    return kUsage;
}

// --- phonebook -------------------------------------------------------------------

constexpr const char* kPhonebookUsage =
    "usage: parlo-cli phonebook list\n"
    "       parlo-cli phonebook sync\n"
    "       parlo-cli phonebook add NAME NUMBER [--sim|--phone]\n"
    "       parlo-cli phonebook edit ID NAME NUMBER          ID: sim:N or phone:N\n"
    "       parlo-cli phonebook delete ID...\n"
    "       parlo-cli phonebook import CONTACT... [--sim|--phone]   CONTACT: contact id\n"
    "       parlo-cli phonebook export ID...\n"
    "       parlo-cli phonebook call ID\n";

int PhonebookList(Context& ctx, CParloDoc& doc) {
    std::vector<CPhonebookEntry*> shown =
        parlo::VisibleEntries(doc.Phonebook(), doc.Settings().m_nPhonebookFlags);
    std::stable_sort(shown.begin(), shown.end(), [](const auto* a, const auto* b) {
        return parlo::CompareByName(*a, *b, 1) < 0;
    });
    for (const CPhonebookEntry* e : shown) {
        ctx.out << EntryName(e->m_nId) << "\t" << U8(e->m_strName) << "\t" << U8(e->m_strMobile)
                << (e->IsUnsynced() ? "\t(not on the phone yet)" : "") << "\n";
    }
    return kOk;
}

int PhonebookSync(Context& ctx, CParloDoc& doc) {
    auto status = [&ctx](const std::u16string& text) {
        if (!text.empty())
            ctx.out << U8(text) << "\n";
    };
    parlo::PhonebookSyncResult r = doc.SynchronizePhonebook(status);
    if (r != parlo::PhonebookSyncResult::kCompleted && !doc.Errors().Empty()) {
        ctx.err << U8(doc.Errors().Text()) << "\n";
    }
    return r == parlo::PhonebookSyncResult::kCompleted ? kOk : kFailed;
}

int RunPhonebook(Context& ctx, CParloDoc& doc) {
    std::vector<std::string> a = ctx.args;
    const uint32_t storage = TakeStorageOption(&a);
    const std::string verb = a.empty() ? "list" : a[0];
    if (verb == "list" && a.size() <= 1)
        return PhonebookList(ctx, doc);
    if (verb == "add" && a.size() == 3) {
        auto id = parlo::NewEntryId(doc.Phonebook(), doc.Settings().m_nPhonebookFlags, storage,
                                    ctx.prompt, Strings());
        if (!id)
            return kFailed;
        CPhonebookEntry* e =
            parlo::AddEntry(&doc.EditPhonebook(), *id, U16(a[1]), U16(a[2]), ctx.prompt, Strings());
        if (!e) {
            if (!a[2].empty() && !parlo::IsValidPhonebookNumber(U16(a[2])))
                ctx.err << "parlo-cli: a phonebook number has only digits, with '+' at the start\n";
            return kFailed;
        }
        if (!SavePhonebook(doc))
            return kFailed;
        ctx.out << EntryName(e->m_nId) << "\n";
        return kOk;
    }
    if (verb == "edit" && a.size() == 4) {
        std::vector<CPhonebookEntry*> entries;
        if (!FindEntries(ctx, doc, {a[1]}, &entries))
            return kFailed;
        if (!parlo::EditEntry(entries[0], U16(a[2]), U16(a[3]), ctx.prompt, Strings(),
                              parlo::DescriptorOf(doc.Phonebook(), entries[0]->m_nId))) {
            return kFailed;
        }
        return SavePhonebook(doc) ? kOk : kFailed;
    }
    if (verb == "delete" && a.size() >= 2) {
        std::vector<CPhonebookEntry*> entries;
        if (!FindEntries(ctx, doc, {a.begin() + 1, a.end()}, &entries))
            return kFailed;
        if (!parlo::DeleteEntries(entries, ctx.prompt, Strings()))
            return kFailed;
        return SavePhonebook(doc) ? kOk : kFailed;
    }
    if (verb == "import" && a.size() >= 2) {
        // As the Select Contacts list offers them: numbers cleaned.
        std::vector<CContactEntry> picked;
        for (size_t i = 1; i < a.size(); ++i) {
            const CContactEntry* c = FindContact(doc, a[i]);
            if (!c) {
                ctx.err << "parlo-cli: no contact " << a[i] << " (see 'contacts list')\n";
                return kFailed;
            }
            CContactEntry copy = *c;
            for (std::u16string* n :
                 {&copy.m_strMobile, &copy.m_strBusiness, &copy.m_strHome, &copy.m_strCar}) {
                parlo::CleanNumber(*n);
            }
            picked.push_back(copy);
        }
        std::vector<const CContactEntry*> pointers;
        for (const CContactEntry& c : picked)
            pointers.push_back(&c);
        const uint32_t flags = doc.Settings().m_nPhonebookFlags;
        uint32_t target = storage                               ? storage
                          : (flags & parlo::STORAGE_FLAG_PHONE) ? parlo::STORAGE_FLAG_PHONE
                                                                : parlo::STORAGE_FLAG_SIM;
        int added = 0;
        parlo::ImportResult r = parlo::ImportContacts(&doc.EditPhonebook(), pointers, target,
                                                      ctx.prompt, Strings(), &added);
        // What was imported stays, also when the rest could not be.
        if (added > 0 && !SavePhonebook(doc))
            return kFailed;
        ctx.out << added << (added == 1 ? " entry" : " entries") << " imported\n";
        return r == parlo::ImportResult::kImported ? kOk : kFailed;
    }
    if (verb == "export" && a.size() >= 2) {
        std::vector<CPhonebookEntry*> entries;
        if (!FindEntries(ctx, doc, {a.begin() + 1, a.end()}, &entries))
            return kFailed;
        std::vector<const CContactEntry*> chosen(entries.begin(), entries.end());
        return parlo::ExportToContacts(chosen, ctx.prompt, Strings(), parlo::ContactsDir::Default())
                   ? kOk
                   : kFailed;
    }
    ctx.err << kPhonebookUsage;
    return kUsage;
}

}  // namespace

int CmdContacts(Context& ctx) {
    if (ctx.args.size() > 1 || (ctx.args.size() == 1 && ctx.args[0] != "list")) {
        ctx.err << kContactsUsage;
        return kUsage;
    }
    CParloDoc doc(nullptr, &ctx.prompt);
    OpenStoreDoc(ctx, doc);
    return ContactsList(ctx, doc);
}

int CmdGroups(Context& ctx) {
    if (!ctx.args.empty() && (ctx.args[0] == "--help" || ctx.args[0] == "-h")) {
        ctx.out << kGroupsUsage;
        return kOk;
    }
    CParloDoc doc(nullptr, &ctx.prompt);
    OpenStoreDoc(ctx, doc);
    return RunGroups(ctx, doc);
}

int CmdPhonebook(Context& ctx) {
    const std::vector<std::string>& a = ctx.args;
    if (!a.empty() && (a[0] == "--help" || a[0] == "-h")) {
        ctx.out << kPhonebookUsage;
        return kOk;
    }
    CParloDoc doc(nullptr, &ctx.prompt);
    const bool phone = !a.empty() && (a[0] == "sync" || a[0] == "call");
    if (!phone) {
        OpenStoreDoc(ctx, doc);
        return RunPhonebook(ctx, doc);
    }
    if (!doc.OnNewDocument())
        return kFailed;
    if (a[0] == "sync" && a.size() == 1)
        return PhonebookSync(ctx, doc);
    if (a[0] == "call" && a.size() == 2) {
        std::vector<CPhonebookEntry*> entries;
        if (!FindEntries(ctx, doc, {a[1]}, &entries))
            return kFailed;
        return doc.CallNumber(entries[0]->m_strMobile) ? kOk : kFailed;
    }
    ctx.err << kPhonebookUsage;
    return kUsage;
}

}  // namespace cli
