#include "parlo/contacts/contacts_dir.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <system_error>

#include "platform/binio.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "platform/strings.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace parlo {

namespace {

constexpr uintmax_t kMaxCardFileSize = 16u << 20;

bool EndsWith(const std::string& s, std::string_view suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool IsContactFile(const fs::path& p) {
    std::string name = p.filename().string();
    return !name.empty() && name[0] != '.' && EndsWith(name, ".vcf");
}

// The OID map file: one line per key, "<oid in hex><TAB><key>".
std::map<std::string, uint32_t> ReadOidMap(const fs::path& file) {
    std::map<std::string, uint32_t> map;
    std::string bytes;
    if (!platform::ReadFileBytes(file, &bytes))
        return map;
    std::istringstream in(bytes);
    std::string line;
    while (std::getline(in, line)) {
        size_t tab = line.find('\t');
        if (tab == std::string::npos || tab == 0 || tab > 8)
            continue;
        char* end = nullptr;
        std::string hex = line.substr(0, tab);
        unsigned long v = std::strtoul(hex.c_str(), &end, 16);
        if (*end != '\0' || v == 0 || v > 0x0FFFFFFFul)
            continue;
        map[line.substr(tab + 1)] = static_cast<uint32_t>(v);
    }
    return map;
}

void WriteOidMap(const fs::path& file, const std::map<std::string, uint32_t>& map) {
    std::string out;
    char buf[16];
    for (const auto& [key, oid] : map) {
        if (key.find('\n') != std::string::npos)
            continue;
        std::snprintf(buf, sizeof buf, "%07x\t", oid);
        out += buf;
        out += key;
        out += '\n';
    }
    std::error_code ec;
    if (!file.parent_path().empty())
        fs::create_directories(file.parent_path(), ec);
    platform::WriteFileAtomic(file, out);
}

// Gives every contact its OID: remembered keys keep theirs, new keys take
// their hash or, when that is taken, the next free probe. The map is
// rewritten when keys were added or have gone.
void AssignOids(std::vector<StoredContact>* contacts, const fs::path& map_file) {
    std::map<std::string, uint32_t> known = ReadOidMap(map_file);
    std::set<uint32_t> used;
    std::map<std::string, uint32_t> now;
    // First the keys that are remembered, so that they cannot be taken.
    for (StoredContact& c : *contacts) {
        auto it = known.find(c.key);
        if (it != known.end() && !used.count(it->second) && !now.count(c.key)) {
            c.oid = it->second;
            used.insert(c.oid);
            now[c.key] = c.oid;
        }
    }
    for (StoredContact& c : *contacts) {
        if (c.oid != 0)
            continue;
        auto it = now.find(c.key);
        if (it != now.end()) {
            // The same key twice (a UID copied into two files): the second
            // copy is told apart by its file.
            c.key += "@" + c.file.filename().string();
        }
        uint32_t oid = 0;
        for (uint32_t attempt = 0; oid == 0 || used.count(oid); ++attempt) {
            oid = HashOid(c.key, attempt);
        }
        c.oid = oid;
        used.insert(oid);
        now[c.key] = oid;
    }
    if (now != known)
        WriteOidMap(map_file, now);
}

std::vector<fs::path> SortedEntries(const fs::path& dir, bool dirs, std::error_code* ec) {
    std::vector<fs::path> out;
    fs::directory_iterator it(dir, *ec), end;
    for (; !*ec && it != end; it.increment(*ec)) {
        std::error_code e2;
        bool is_dir = it->is_directory(e2);
        std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.')
            continue;
        if (dirs ? is_dir : (!is_dir && IsContactFile(it->path())))
            out.push_back(it->path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::u16string ErrorText(const char* prefix, ContactsStatus status) {
    return platform::FromUtf8(std::string(prefix) + " -" +
                              std::to_string(static_cast<int>(status)) + "-");
}

}  // namespace

uint32_t HashOid(const std::string& key, uint32_t attempt) {
    // FNV-1a over the key and the attempt number, folded to 28 bits so that
    // the shown id (the low 28 bits) is the whole OID.
    uint32_t h = 2166136261u;
    auto mix = [&h](unsigned char c) {
        h ^= c;
        h *= 16777619u;
    };
    for (char c : key)
        mix(static_cast<unsigned char>(c));
    if (attempt != 0) {
        mix(0);
        for (int i = 0; i < 4; ++i)
            mix(static_cast<unsigned char>(attempt >> (8 * i)));
    }
    uint32_t oid = (h ^ (h >> 28)) & 0x0FFFFFFFu;
    return oid == 0 ? 1 : oid;
}

std::string NewUid() {
    std::random_device rd;
    std::mt19937_64 gen((static_cast<uint64_t>(rd()) << 32) ^ rd());
    uint64_t a = gen(), b = gen();
    a = (a & 0xFFFFFFFFFFFF0FFFull) | 0x0000000000004000ull;  // version 4
    b = (b & 0x3FFFFFFFFFFFFFFFull) | 0x8000000000000000ull;  // variant 1
    char buf[40];
    std::snprintf(buf, sizeof buf, "%08x-%04x-%04x-%04x-%012llx", static_cast<unsigned>(a >> 32),
                  static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>(a & 0xFFFF),
                  static_cast<unsigned>(b >> 48),
                  static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
    return buf;
}

ContactsDir::ContactsDir(fs::path root, fs::path oid_map)
    : root_(std::move(root)), oid_map_(std::move(oid_map)) {}

fs::path ContactsDir::DefaultRoot() {
    if (const char* env = std::getenv("SKYVANE_CONTACTS"); env && *env)
        return fs::path(env);
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : ".") / ".contacts";
}

ContactsDir ContactsDir::Default() {
    return ContactsDir(DefaultRoot(), platform::InstallDir() / "contacts.oid");
}

ContactsStatus ContactsDir::Load(std::vector<StoredContact>* out) const {
    std::error_code ec;
    fs::file_status st = fs::status(root_, ec);
    if (st.type() == fs::file_type::not_found) {
        out->clear();
        return ContactsStatus::kOk;
    }
    if (ec || st.type() != fs::file_type::directory)
        return ContactsStatus::kRootUnusable;
    std::vector<fs::path> books = SortedEntries(root_, true, &ec);
    if (ec)
        return ContactsStatus::kRootUnusable;
    // Cards lying in the root itself (a root that is one address book) too.
    std::vector<std::pair<fs::path, std::string>> files;  // file, key prefix
    for (const fs::path& f : SortedEntries(root_, false, &ec)) {
        files.emplace_back(f, f.filename().string());
    }
    if (ec)
        return ContactsStatus::kRootUnusable;
    for (const fs::path& book : books) {
        std::vector<fs::path> in_book = SortedEntries(book, false, &ec);
        if (ec)
            return ContactsStatus::kBookUnreadable;
        for (const fs::path& f : in_book) {
            files.emplace_back(f, book.filename().string() + "/" + f.filename().string());
        }
    }
    std::vector<StoredContact> contacts;
    for (const auto& [file, rel] : files) {
        // No contact card is this large (photos included): skipped unread.
        if (fs::file_size(file, ec) > kMaxCardFileSize && !ec)
            continue;
        std::string bytes;
        if (!platform::ReadFileBytes(file, &bytes)) {
            // A file that vanished meanwhile is no failure; an unreadable one is.
            if (!fs::exists(file, ec))
                continue;
            return ContactsStatus::kFileFailed;
        }
        std::vector<vcard::Card> cards;
        if (!vcard::Parse(bytes, &cards))
            continue;  // not a vCard: skipped
        for (size_t i = 0; i < cards.size(); ++i) {
            StoredContact c;
            c.file = file;
            c.card = std::move(cards[i]);
            if (!c.card.uid.empty()) {
                c.key = "uid:" + platform::ToUtf8(c.card.uid);
            } else {
                c.key = "file:" + rel + (i ? "#" + std::to_string(i) : "");
            }
            contacts.push_back(std::move(c));
        }
    }
    AssignOids(&contacts, oid_map_);
    *out = std::move(contacts);
    return ContactsStatus::kOk;
}

fs::path ContactsDir::FirstBook(bool create, ContactsStatus* status) const {
    *status = ContactsStatus::kOk;
    std::error_code ec;
    if (!fs::is_directory(root_, ec)) {
        if (!create || !fs::create_directories(root_, ec) || ec) {
            *status = ContactsStatus::kRootUnusable;
            return {};
        }
    }
    std::vector<fs::path> books = SortedEntries(root_, true, &ec);
    if (ec) {
        *status = ContactsStatus::kRootUnusable;
        return {};
    }
    if (!books.empty())
        return books.front();
    // A root that holds cards itself is used as the address book.
    if (!SortedEntries(root_, false, &ec).empty() && !ec)
        return root_;
    fs::path book = root_ / "default";
    if (!create || (fs::create_directory(book, ec), ec)) {
        *status = ContactsStatus::kBookUnreadable;
        return {};
    }
    return book;
}

ContactsStatus ContactsDir::Add(const vcard::Card& card, StoredContact* created) const {
    ContactsStatus status;
    fs::path book = FirstBook(true, &status);
    if (status != ContactsStatus::kOk)
        return status;
    vcard::Card c = card;
    std::string uid = NewUid();
    c.uid = platform::FromUtf8(uid);
    if (c.version.empty())
        c.version = "3.0";
    fs::path file = book / (uid + ".vcf");
    if (!platform::WriteFileAtomic(file, vcard::Write30(c)))
        return ContactsStatus::kFileFailed;
    if (created) {
        created->file = file;
        created->key = "uid:" + uid;
        created->card = c;
    }
    return ContactsStatus::kOk;
}

bool ReadContacts(ContactList* list, platform::Prompt& prompt, const ContactsDir& dir) {
    std::vector<StoredContact> contacts;
    ContactsStatus status = dir.Load(&contacts);
    if (status != ContactsStatus::kOk) {
        prompt.MessageBox(ErrorText("Pocket Outlook Error", status));
        return false;
    }
    list->clear();
    for (const StoredContact& c : contacts) {
        const vcard::Card& k = c.card;
        std::u16string name = k.has_n && !(k.family.empty() && k.given.empty())
                                  ? k.family + u" " + k.given
                                  : k.formatted_name;
        list->push_back(
            std::make_unique<CContactEntry>(name, k.mobile, k.business, k.home, k.car, c.oid));
    }
    return true;
}

bool ReadContacts(ContactList* list, platform::Prompt& prompt) {
    return ReadContacts(list, prompt, ContactsDir::Default());
}

bool ExportToContacts(const std::vector<const CContactEntry*>& entries, platform::Prompt& prompt,
                      const platform::StringTable& strings, const ContactsDir& dir) {
    ContactsStatus status;
    dir.FirstBook(true, &status);
    if (status == ContactsStatus::kOk) {
        for (const CContactEntry* e : entries) {
            if (!e)
                continue;
            vcard::Card card;
            // The name and number pass through a buffer of 512 code units.
            card.family = e->m_strName.substr(0, 511);
            card.has_n = true;
            card.formatted_name = card.family;
            card.mobile = e->m_strMobile.substr(0, 511);
            status = dir.Add(card);
            if (status != ContactsStatus::kOk)
                break;
        }
    }
    if (status != ContactsStatus::kOk) {
        prompt.MessageBox(ErrorText("Pocket Contacts Error", status));
        return false;
    }
    prompt.MessageBox(strings.Load(65078));
    return true;
}

bool FindContactByOid(const ContactsDir& dir, uint32_t oid, StoredContact* out) {
    std::vector<StoredContact> contacts;
    if (dir.Load(&contacts) != ContactsStatus::kOk)
        return false;
    for (StoredContact& c : contacts) {
        if (c.oid == oid) {
            *out = std::move(c);
            return true;
        }
    }
    return false;
}

bool FindContactByUid(const ContactsDir& dir, const std::u16string& uid, StoredContact* out) {
    std::vector<StoredContact> contacts;
    if (uid.empty() || dir.Load(&contacts) != ContactsStatus::kOk)
        return false;
    for (StoredContact& c : contacts) {
        if (c.card.uid == uid) {
            *out = std::move(c);
            return true;
        }
    }
    return false;
}

}  // namespace parlo
