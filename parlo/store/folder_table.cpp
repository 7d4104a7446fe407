#include "parlo/store/folder_table.h"

#include <string_view>
#include <unordered_map>

#include "parlo/store/text_util.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "platform/text.h"

namespace parlo {

namespace {

constexpr size_t kMaxValueName = 999;
constexpr size_t kMaxValueData = 999;

bool IsIdValue(const std::string& name) {
    return !name.empty() && name[0] == 'I';
}
bool IsNameValue(const std::string& name) {
    return !name.empty() && name[0] == 'N';
}

}  // namespace

int32_t StateForFolder(int32_t id) {
    if (id >= 1 && id <= kMaxUserFolderId)
        return 20;
    switch (id) {
        case FOLDER_OUTBOX:
            return 5;
        case FOLDER_INBOX:
            return 1;
        case FOLDER_DRAFT:
            return 6;
        case FOLDER_SENT:
            return 8;
        case FOLDER_RECYCLE:
            return 9;
        case FOLDER_TEMPLATES:
            return 7;
        default:
            return -1;
    }
}

int ViewOfFolder(int32_t id) {
    if (id >= 1 && id <= kMaxUserFolderId)
        return 6;
    switch (id) {
        case FOLDER_OUTBOX:
            return 2;
        case FOLDER_INBOX:
            return 1;
        case FOLDER_DRAFT:
            return 4;
        case FOLDER_SENT:
            return 3;
        case FOLDER_RECYCLE:
            return 7;
        case FOLDER_TEMPLATES:
            return 5;
        default:
            return 0;
    }
}

void CFolderTable::Clear() {
    by_name_.clear();
    by_id_.clear();
}

void CFolderTable::Insert(std::unique_ptr<CSmsFolder> folder) {
    uint16_t key = static_cast<uint16_t>(folder->m_nId);
    auto old = by_id_.find(key);
    if (old != by_id_.end()) {
        auto n = by_name_.find(old->second->m_strName);
        if (n != by_name_.end() && n->second == old->second.get())
            by_name_.erase(n);
    }
    by_name_[folder->m_strName] = folder.get();
    by_id_[key] = std::move(folder);
}

FolderResult CFolderTable::Load(const platform::Registry& registry,
                                const platform::StringTable& strings) {
    Clear();
    if (!registry.KeyExists(platform::Hive::CurrentUser, platform::kProfileKey)) {
        return FolderResult::kOk;
    }
    FromValues(registry.Values(platform::Hive::CurrentUser, platform::kProfileKey), strings);
    return FolderResult::kOk;
}

void CFolderTable::FromValues(const std::vector<platform::RegValue>& values,
                              const platform::StringTable& strings) {
    Clear();
    last_id_ = 0;
    // Names by suffix: "N7" names the folder whose id is in "I7".
    std::unordered_map<std::string, const platform::RegValue*> names;
    for (const auto& v : values) {
        if (v.type == platform::RegType::String && IsNameValue(v.name)) {
            names[v.name.substr(1)] = &v;
        }
    }
    std::u16string pending;
    for (const auto& v : values) {
        if (v.type != platform::RegType::String)
            continue;
        if (v.name.size() > kMaxValueName || v.str.size() + 1 > kMaxValueData)
            continue;
        if (!IsIdValue(v.name)) {
            pending = platform::FromUtf8(v.str);
            continue;
        }
        int32_t id = WToL(platform::FromUtf8(v.str));
        if (id < 1 || id > kMaxUserFolderId)
            continue;  // not a user folder id
        std::u16string name = pending;
        auto n = names.find(v.name.substr(1));
        if (n != names.end())
            name = platform::FromUtf8(n->second->str);
        Insert(std::make_unique<CSmsFolder>(id, name));
        if (id > last_id_)
            last_id_ = id;
    }
    struct Fixed {
        int32_t id;
        unsigned ids;
    };
    static const Fixed kFixed[] = {
        {FOLDER_OUTBOX, IDS_OUTBOX},   {FOLDER_INBOX, IDS_INBOX},
        {FOLDER_DRAFT, IDS_DRAFT},     {FOLDER_SENT, IDS_SENT},
        {FOLDER_RECYCLE, IDS_RECYCLE}, {FOLDER_TEMPLATES, IDS_TEMPLATES}};
    for (const Fixed& f : kFixed)
        Insert(std::make_unique<CSmsFolder>(f.id, strings.Load(f.ids)));
}

void CFolderTable::ToValues(std::vector<platform::RegValue>* values) const {
    // The old "I" and "N" string values go; the new ones come at the end.
    std::erase_if(*values, [](const platform::RegValue& v) {
        return v.type == platform::RegType::String && (IsIdValue(v.name) || IsNameValue(v.name));
    });
    int k = 0;
    for (const auto& [id, folder] : by_id_) {
        if (folder->m_nId >= FOLDER_OUTBOX)
            continue;
        const std::string suffix = std::to_string(k);
        auto add = [&](std::string name, std::string data) {
            platform::RegValue v;
            v.name = std::move(name);
            v.type = platform::RegType::String;
            v.str = std::move(data);
            values->push_back(std::move(v));
        };
        add("I" + suffix, std::to_string(folder->m_nId));
        add("N" + suffix, platform::ToUtf8(folder->m_strName));
        ++k;
    }
}

FolderResult CFolderTable::Save(platform::Registry& registry) const {
    // The old values go and the new ones come in one atomic rewrite of the
    // registry: a failure or a crash leaves the old table.
    const bool ok = registry.UpdateValues(platform::Hive::CurrentUser, platform::kProfileKey,
                                          [&](std::vector<platform::RegValue>& values) {
                                              ToValues(&values);
                                              return true;
                                          });
    return ok ? FolderResult::kOk : FolderResult::kRegistryError;
}

FolderResult CFolderTable::Update(platform::Registry& registry,
                                  const platform::StringTable& strings,
                                  const std::function<bool(CFolderTable&)>& change, bool* read) {
    bool was_read = false;
    const bool ok = registry.UpdateValues(platform::Hive::CurrentUser, platform::kProfileKey,
                                          [&](std::vector<platform::RegValue>& values) {
                                              was_read = true;
                                              FromValues(values, strings);
                                              if (!change(*this))
                                                  return false;
                                              ToValues(&values);
                                              return true;
                                          });
    if (read)
        *read = was_read;
    return ok ? FolderResult::kOk : FolderResult::kRegistryError;
}

CSmsFolder* CFolderTable::Put(int32_t id, const std::u16string& name) {
    if (id < 1 || id > kMaxUserFolderId)
        return nullptr;
    auto folder = std::make_unique<CSmsFolder>(id, name);
    CSmsFolder* p = folder.get();
    Insert(std::move(folder));
    if (id > last_id_)
        last_id_ = id;
    return p;
}

CSmsFolder* CFolderTable::Add(const std::u16string& name,
                              const std::function<bool(int32_t)>& in_use) {
    auto taken = [&](int32_t i) { return ById(i) || (in_use && in_use(i)); };
    int32_t id = last_id_ + 1;
    while (id <= kMaxUserFolderId && taken(id))
        ++id;
    if (id > kMaxUserFolderId) {
        // The counter has run out: take the lowest free user folder id rather
        // than collide with the fixed folders.
        id = 0;
        for (int32_t i = 1; i <= kMaxUserFolderId; ++i) {
            if (!taken(i)) {
                id = i;
                break;
            }
        }
        if (id == 0)
            return nullptr;
    } else {
        last_id_ = id;
    }
    auto folder = std::make_unique<CSmsFolder>(id, name);
    CSmsFolder* p = folder.get();
    Insert(std::move(folder));
    return p;
}

void CFolderTable::Rename(CSmsFolder* folder, const std::u16string& name) {
    auto n = by_name_.find(folder->m_strName);
    if (n != by_name_.end() && n->second == folder)
        by_name_.erase(n);
    folder->m_strName = name;
    by_name_[name] = folder;
}

void CFolderTable::Remove(CSmsFolder* folder) {
    auto n = by_name_.find(folder->m_strName);
    if (n != by_name_.end() && n->second == folder)
        by_name_.erase(n);
    by_id_.erase(static_cast<uint16_t>(folder->m_nId));
}

CSmsFolder* CFolderTable::ById(int32_t id) const {
    auto it = by_id_.find(static_cast<uint16_t>(id));
    return it == by_id_.end() ? nullptr : it->second.get();
}

CSmsFolder* CFolderTable::ByName(const std::u16string& name) const {
    auto it = by_name_.find(name);
    return it == by_name_.end() ? nullptr : it->second;
}

namespace {

char16_t FoldCase(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return static_cast<char16_t>(c + 0x20);
    return c;
}

bool SameNoCase(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i]))
            return false;
    }
    return true;
}

}  // namespace

CSmsFolder* CFolderTable::ByNameNoCase(const std::u16string& name) const {
    for (const auto& [id, f] : by_id_) {
        if (SameNoCase(f->m_strName, name))
            return f.get();
    }
    return nullptr;
}

std::vector<CSmsFolder*> CFolderTable::All() const {
    std::vector<CSmsFolder*> out;
    for (const auto& [id, f] : by_id_)
        out.push_back(f.get());
    return out;
}

std::vector<CSmsFolder*> CFolderTable::UserFolders() const {
    std::vector<CSmsFolder*> out;
    for (const auto& [id, f] : by_id_) {
        if (f->IsUserFolder())
            out.push_back(f.get());
    }
    return out;
}

}  // namespace parlo
