// SMS groups: one file per group in the data directory's "groups" folder,
// holding where each member came from and its identity there.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "parlo/contacts/contact_entry.h"
#include "parlo/contacts/phonebook.h"

namespace platform {
class Prompt;
class StringTable;
}  // namespace platform

namespace parlo {

// The source of a member taken from the contacts.
inline constexpr char16_t kContactsSource[] = u"Contacts";

class CGroupMember : public CSerialRecord {
  public:
    bool Read(platform::BinaryReader& in) override;
    void Write(platform::BinaryWriter& out) const override;

    std::u16string m_strSource;  // "Contacts" or a phone identity
    int32_t m_nSourceId = 0;
    std::u16string m_strMemberName;
};

struct CGroupInfo {
    std::u16string m_strName;
    int32_t m_nCount = 0;     // the members that could be read
    bool m_bDamaged = false;  // the file could not be read to its end
};

using GroupMemberList = std::vector<std::unique_ptr<CGroupMember>>;
using GroupInfoList = std::vector<std::unique_ptr<CGroupInfo>>;

std::filesystem::path GroupsFolder(const std::filesystem::path& data_dir);
// folder + name + ".grp"; the name must be valid (IsValidGroupName).
std::filesystem::path GroupPath(const std::filesystem::path& data_dir, std::u16string_view name);

// Adds a CGroupInfo for every "*.grp" file of the folder (in name order),
// counting the members that can be read (not the count the file claims).
// Returns false when there is none.
bool EnumerateGroups(GroupInfoList* list, const std::filesystem::path& folder);
// Appends the records of the file; false on a missing file or a short read
// (the records read so far stay).
bool LoadGroup(GroupMemberList* members, const std::filesystem::path& file);
// The same on the bytes of a group file.
bool ParseGroup(GroupMemberList* members, std::string_view bytes);
// Writes the count and every record, atomically.
bool SaveGroup(const GroupMemberList& members, const std::filesystem::path& file);
// The first int32 of the file; 0 on any failure.
int32_t ReadGroupCount(const std::filesystem::path& file);
CGroupInfo* FindGroup(const GroupInfoList& list, std::u16string_view name);

enum class CreateGroupResult { kCreated, kEmptyName, kExists, kInvalidName, kWriteFailed };

// Creates an empty group file and appends its CGroupInfo (messages 65073 and
// 65075 on an empty or existing name). A name that cannot be a file name
// inside the groups folder is refused with a message of its own.
CreateGroupResult CreateGroup(GroupInfoList* list, const std::filesystem::path& data_dir,
                              std::u16string_view name, platform::Prompt& prompt,
                              const platform::StringTable& strings);

// Deletes the named groups after one confirmation 65074 (Yes/No). Returns
// whether the user agreed.
bool DeleteGroups(GroupInfoList* list, const std::filesystem::path& data_dir,
                  const std::vector<std::u16string>& names, platform::Prompt& prompt,
                  const platform::StringTable& strings);

// Appends a member for the entry taken from `source` ("Contacts" or the
// phone identity); refuses with 65096 an entry without a usable mobile number.
bool AddMember(GroupMemberList* members, const CContactEntry& entry, std::u16string_view source,
               platform::Prompt& prompt, const platform::StringTable& strings);

// What the resolution of members needs of the document.
struct MemberResolver {
    const ContactList* contacts = nullptr;     // read with ReadContacts first
    const PhonebookList* phonebook = nullptr;  // the current phone's copy
    std::u16string identity;                   // the current phone identity
    std::filesystem::path data_dir;
};

// The member's current number, cleaned; empty when the person is gone or
// renamed, or its phonebook file is missing.
std::u16string ResolveMember(const CGroupMember& member, const MemberResolver& resolver);

// ';' + number for every member of the named group that resolves.
std::u16string ExpandGroup(std::u16string_view name, const MemberResolver& resolver);

}  // namespace parlo
