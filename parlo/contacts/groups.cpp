#include "parlo/contacts/groups.h"

#include <algorithm>
#include <system_error>

#include "parlo/contacts/contact_entry.h"
#include "parlo/contacts/file_names.h"
#include "platform/binio.h"
#include "platform/prompt.h"
#include "platform/strings.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace parlo {

bool CGroupMember::Read(platform::BinaryReader& in) {
    return in.ReadRecordString(&m_strSource, kMaxRecordString) && in.ReadInt32(&m_nSourceId) &&
           in.ReadRecordString(&m_strMemberName, kMaxRecordString);
}

void CGroupMember::Write(platform::BinaryWriter& out) const {
    out.WriteRecordString(m_strSource);
    out.WriteInt32(m_nSourceId);
    out.WriteRecordString(m_strMemberName);
}

fs::path GroupsFolder(const fs::path& data_dir) {
    return data_dir / "groups";
}

fs::path GroupPath(const fs::path& data_dir, std::u16string_view name) {
    return GroupsFolder(data_dir) / (platform::ToUtf8(name) + ".grp");
}

bool EnumerateGroups(GroupInfoList* list, const fs::path& folder) {
    std::error_code ec;
    std::vector<std::string> names;
    fs::directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::string file = it->path().filename().string();
        if (file.size() < 4 || file.compare(file.size() - 4, 4, ".grp") != 0)
            continue;
        std::error_code e2;
        if (it->is_directory(e2))
            continue;
        names.push_back(file.substr(0, file.size() - 4));
    }
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
        auto info = std::make_unique<CGroupInfo>();
        info->m_strName = platform::FromUtf8(n);
        GroupMemberList members;
        info->m_bDamaged = !LoadGroup(&members, folder / (n + ".grp"));
        info->m_nCount = static_cast<int32_t>(members.size());
        list->push_back(std::move(info));
    }
    return !names.empty();
}

bool LoadGroup(GroupMemberList* members, const fs::path& file) {
    std::string bytes;
    if (!platform::ReadFileBytes(file, &bytes))
        return false;
    return ParseGroup(members, bytes);
}

bool ParseGroup(GroupMemberList* members, std::string_view bytes) {
    platform::BinaryReader in(bytes);
    int32_t count = 0;
    if (!in.ReadInt32(&count) || count < 0)
        return false;
    for (int32_t i = 0; i < count; ++i) {
        auto m = std::make_unique<CGroupMember>();
        if (!m->Read(in))
            return false;
        members->push_back(std::move(m));
    }
    return true;
}

bool SaveGroup(const GroupMemberList& members, const fs::path& file) {
    platform::BinaryWriter out;
    out.WriteInt32(static_cast<int32_t>(members.size()));
    for (const auto& m : members)
        m->Write(out);
    return platform::WriteFileAtomic(file, out.data());
}

int32_t ReadGroupCount(const fs::path& file) {
    std::string bytes;
    if (!platform::ReadFileBytes(file, &bytes))
        return 0;
    platform::BinaryReader in(bytes);
    int32_t count = 0;
    return in.ReadInt32(&count) ? count : 0;
}

CGroupInfo* FindGroup(const GroupInfoList& list, std::u16string_view name) {
    for (const auto& g : list) {
        if (g->m_strName == name)
            return g.get();
    }
    return nullptr;
}

CreateGroupResult CreateGroup(GroupInfoList* list, const fs::path& data_dir,
                              std::u16string_view name, platform::Prompt& prompt,
                              const platform::StringTable& strings) {
    // A name of blanks only would be an invisible row: it counts as none.
    if (TrimWhite(std::u16string(name)).empty()) {
        prompt.MessageBox(strings.Load(65073), platform::Buttons::Ok, platform::Icon::Warning);
        return CreateGroupResult::kEmptyName;
    }
    if (FindGroup(*list, name)) {
        prompt.MessageBox(strings.Load(65075), platform::Buttons::Ok, platform::Icon::Warning);
        return CreateGroupResult::kExists;
    }
    if (!IsValidGroupName(name)) {
        prompt.MessageBox(u"A group name can not contain \"/\".", platform::Buttons::Ok,
                          platform::Icon::Warning);
        return CreateGroupResult::kInvalidName;
    }
    std::error_code ec;
    fs::create_directories(GroupsFolder(data_dir), ec);
    if (!SaveGroup(GroupMemberList(), GroupPath(data_dir, name))) {
        return CreateGroupResult::kWriteFailed;
    }
    auto info = std::make_unique<CGroupInfo>();
    info->m_strName = std::u16string(name);
    list->push_back(std::move(info));
    return CreateGroupResult::kCreated;
}

bool DeleteGroups(GroupInfoList* list, const fs::path& data_dir,
                  const std::vector<std::u16string>& names, platform::Prompt& prompt,
                  const platform::StringTable& strings) {
    if (names.empty())
        return false;
    if (prompt.MessageBox(strings.Load(65074), platform::Buttons::YesNo,
                          platform::Icon::Question) != platform::Answer::Yes) {
        return false;
    }
    for (const std::u16string& name : names) {
        auto it = std::find_if(list->begin(), list->end(),
                               [&](const auto& g) { return g->m_strName == name; });
        if (it != list->end())
            list->erase(it);
        if (!IsValidGroupName(name))
            continue;  // never a file of ours
        std::error_code ec;
        fs::remove(GroupPath(data_dir, name), ec);
    }
    return true;
}

bool AddMember(GroupMemberList* members, const CContactEntry& entry, std::u16string_view source,
               platform::Prompt& prompt, const platform::StringTable& strings) {
    if (CleanedNumber(entry.m_strMobile).empty()) {
        std::u16string text = strings.Load(65096);
        size_t at = text.find(u"%1");
        if (at != std::u16string::npos)
            text.replace(at, 2, entry.m_strName);
        prompt.MessageBox(text, platform::Buttons::Ok, platform::Icon::Warning);
        return false;
    }
    auto m = std::make_unique<CGroupMember>();
    m->m_strSource = std::u16string(source);
    m->m_nSourceId = static_cast<int32_t>(entry.m_nId);
    m->m_strMemberName = entry.m_strName;
    members->push_back(std::move(m));
    return true;
}

std::u16string ResolveMember(const CGroupMember& member, const MemberResolver& r) {
    uint32_t id = static_cast<uint32_t>(member.m_nSourceId);
    std::u16string number;
    if (member.m_strSource == kContactsSource) {
        if (r.contacts)
            number = LookupByIdentity(*r.contacts, id, member.m_strMemberName);
    } else if (member.m_strSource == r.identity) {
        if (r.phonebook)
            number = LookupByIdentity(*r.phonebook, id, member.m_strMemberName);
    } else {
        CPhonebook other;
        other.Load(PhonebookPath(r.data_dir, member.m_strSource));
        number = LookupByIdentity(other.m_entries, id, member.m_strMemberName);
    }
    CleanNumber(number);
    return number;
}

std::u16string ExpandGroup(std::u16string_view name, const MemberResolver& r) {
    std::u16string out;
    if (!IsValidGroupName(name))
        return out;
    GroupMemberList members;
    LoadGroup(&members, GroupPath(r.data_dir, name));
    for (const auto& m : members) {
        std::u16string number = ResolveMember(*m, r);
        if (!number.empty())
            out += u";" + number;
    }
    return out;
}

}  // namespace parlo
