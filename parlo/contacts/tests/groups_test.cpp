#include "parlo/contacts/groups.h"

#include <gtest/gtest.h>

#include <fstream>

#include "parlo/contacts/file_names.h"
#include "parlo/contacts/tests/temp_dir.h"
#include "parlo_strings.h"
#include "platform/binio.h"
#include "platform/prompt.h"
#include "platform/text.h"

namespace parlo {
namespace {

using testing::TempDir;
namespace fs = std::filesystem;

class GroupsTest : public ::testing::Test {
  protected:
    const fs::path& data() const { return tmp_.path(); }
    CreateGroupResult Create(std::u16string_view name) {
        return CreateGroup(&groups_, data(), name, prompt_, strings::parlo());
    }
    void SaveMembers(std::u16string_view group,
                     std::vector<std::tuple<std::u16string, int32_t, std::u16string>> members) {
        fs::create_directories(GroupsFolder(data()));
        GroupMemberList list;
        for (auto& [source, id, name] : members) {
            auto m = std::make_unique<CGroupMember>();
            m->m_strSource = source;
            m->m_nSourceId = id;
            m->m_strMemberName = name;
            list.push_back(std::move(m));
        }
        ASSERT_TRUE(SaveGroup(list, GroupPath(data(), group)));
    }
    TempDir tmp_;
    GroupInfoList groups_;
    platform::ScriptedPrompt prompt_;
};

TEST_F(GroupsTest, CreateChecksNameAndWritesAnEmptyFile) {
    EXPECT_EQ(Create(u""), CreateGroupResult::kEmptyName);
    EXPECT_EQ(prompt_.texts().back(), u"You have to assign a name to your group.");
    EXPECT_EQ(Create(u"Friends"), CreateGroupResult::kCreated);
    std::string bytes;
    ASSERT_TRUE(platform::ReadFileBytes(data() / "groups" / "Friends.grp", &bytes));
    EXPECT_EQ(bytes, std::string(4, '\0'));
    EXPECT_EQ(Create(u"Friends"), CreateGroupResult::kExists);
    EXPECT_EQ(prompt_.texts().back(), u"Group name still exists!");
    // The duplicate check is case-sensitive.
    EXPECT_EQ(Create(u"friends"), CreateGroupResult::kCreated);
    ASSERT_EQ(groups_.size(), 2u);
    EXPECT_EQ(groups_[1]->m_nCount, 0);
}

TEST_F(GroupsTest, NamesNeverLeaveTheGroupsFolder) {
    EXPECT_EQ(Create(u"../escape"), CreateGroupResult::kInvalidName);
    EXPECT_EQ(Create(u"a/b"), CreateGroupResult::kInvalidName);
    EXPECT_EQ(Create(std::u16string(300, u'x')), CreateGroupResult::kInvalidName);
    EXPECT_FALSE(fs::exists(data() / "escape.grp"));
    // Every name without a slash is a file inside the folder.
    for (std::u16string name :
         {u"..", u".", u"Family & Friends", u"  spaced  ", u"\u00dcbung", u"a\\b", u"..grp"}) {
        EXPECT_EQ(Create(name), CreateGroupResult::kCreated) << platform::ToUtf8(name);
    }
    GroupInfoList listed;
    ASSERT_TRUE(EnumerateGroups(&listed, data() / "groups"));
    EXPECT_EQ(listed.size(), 7u);
    for (const auto& g : listed) {
        EXPECT_TRUE(FindGroup(groups_, g->m_strName)) << platform::ToUtf8(g->m_strName);
    }
    // Nothing was written beside the folder.
    for (const auto& f : fs::directory_iterator(data())) {
        EXPECT_EQ(f.path().filename(), "groups");
    }
}

TEST_F(GroupsTest, EnumerateCountsTheMembersThatCanBeRead) {
    GroupInfoList list;
    EXPECT_FALSE(EnumerateGroups(&list, data() / "groups"));
    SaveMembers(u"B", {{u"Contacts", 1, u"x"}, {u"Contacts", 2, u"y"}});
    fs::create_directories(GroupsFolder(data()));
    // A file that promises more records than it holds.
    platform::BinaryWriter w;
    w.WriteInt32(5);
    w.WriteRecordString(u"Contacts");
    w.WriteInt32(9);
    w.WriteRecordString(u"Ann");
    w.WriteRecordString(u"Contacts");  // cut off inside the second record
    ASSERT_TRUE(platform::WriteFileAtomic(data() / "groups" / "A.grp", w.data()));
    platform::WriteFileAtomic(data() / "groups" / "tiny.grp", "ab");
    platform::WriteFileAtomic(data() / "groups" / "other.txt", "");
    ASSERT_TRUE(EnumerateGroups(&list, data() / "groups"));
    ASSERT_EQ(list.size(), 3u);
    // The members that can be read are counted, not what a damaged file
    // claims, and the damage is told.
    EXPECT_EQ(list[0]->m_strName, u"A");
    EXPECT_EQ(list[0]->m_nCount, 1);
    EXPECT_TRUE(list[0]->m_bDamaged);
    EXPECT_EQ(list[1]->m_nCount, 2);
    EXPECT_FALSE(list[1]->m_bDamaged);
    EXPECT_EQ(list[2]->m_nCount, 0);
    EXPECT_TRUE(list[2]->m_bDamaged);
    GroupMemberList members;
    EXPECT_FALSE(LoadGroup(&members, data() / "groups" / "A.grp"));
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members[0]->m_strMemberName, u"Ann");
    EXPECT_EQ(ReadGroupCount(data() / "groups" / "missing.grp"), 0);
}

TEST_F(GroupsTest, DeleteAsksOnceAndRemovesFiles) {
    Create(u"A");
    Create(u"B");
    prompt_.Push(platform::Answer::No);
    EXPECT_FALSE(DeleteGroups(&groups_, data(), {u"A", u"B"}, prompt_, strings::parlo()));
    EXPECT_EQ(groups_.size(), 2u);
    EXPECT_TRUE(fs::exists(data() / "groups" / "A.grp"));
    prompt_.Push(platform::Answer::Yes);
    fs::remove(data() / "groups" / "B.grp");  // already gone: no error
    EXPECT_TRUE(DeleteGroups(&groups_, data(), {u"A", u"B"}, prompt_, strings::parlo()));
    EXPECT_TRUE(groups_.empty());
    EXPECT_FALSE(fs::exists(data() / "groups" / "A.grp"));
    EXPECT_EQ(prompt_.shown().back().text, u"Do you really want to delete the group?");
    EXPECT_EQ(prompt_.shown().back().buttons, platform::Buttons::YesNo);
}

TEST_F(GroupsTest, DeletingANameWithASlashRemovesNothingOutsideTheGroupsFolder) {
    // The caller's own check may be missing: the deletion checks the name itself.
    Create(u"A");
    std::ofstream(data() / "x.grp") << "keep";
    prompt_.Push(platform::Answer::Yes);
    DeleteGroups(&groups_, data(), {u"../x", u"/x", u"A"}, prompt_, strings::parlo());
    EXPECT_TRUE(fs::exists(data() / "x.grp"));
    EXPECT_FALSE(fs::exists(data() / "groups" / "A.grp"));
}

TEST_F(GroupsTest, AddMemberNeedsAMobileNumber) {
    GroupMemberList members;
    CContactEntry without(u"Smith John", u"n/a", u"030 1", u"", u"", 3);
    EXPECT_FALSE(AddMember(&members, without, u"Contacts", prompt_, strings::parlo()));
    EXPECT_EQ(prompt_.texts().back(),
              u"Can not add contact Smith John. The Phone number is missing.");
    CContactEntry with(u"Eva", u"0170 1", u"", u"", u"", 4);
    EXPECT_TRUE(AddMember(&members, with, u"Contacts", prompt_, strings::parlo()));
    EXPECT_TRUE(AddMember(&members, with, u"Contacts", prompt_, strings::parlo()));
    ASSERT_EQ(members.size(), 2u);
    EXPECT_EQ(members[0]->m_nSourceId, 4);
    EXPECT_EQ(members[0]->m_strMemberName, u"Eva");
}

TEST_F(GroupsTest, ExpandResolvesEachSourceAndSkipsTheLost) {
    ContactList contacts;
    contacts.push_back(std::make_unique<CContactEntry>(u"Eva", u"0170 (1)", u"", u"", u"", 4));
    contacts.push_back(std::make_unique<CContactEntry>(u"Renamed", u"0171", u"", u"", u"", 5));
    CPhonebook current;
    current.m_entries.push_back(std::make_unique<CPhonebookEntry>(0x10000001, u"Pizza", u"+3901"));
    // The phonebook file of another phone.
    CPhonebook other;
    other.m_entries.push_back(std::make_unique<CPhonebookEntry>(0x20000007, u"Taxi", u"0800-1"));
    ASSERT_TRUE(other.Save(PhonebookPath(data(), u"OLDPHONE")));

    SaveMembers(u"Mixed", {{u"Contacts", 4, u"Eva"},
                           {u"Contacts", 5, u"Old name"},
                           {u"IMEI1", 0x10000001, u"Pizza"},
                           {u"OLDPHONE", 0x20000007, u"Taxi"},
                           {u"NOFILE", 1, u"Ghost"}});
    MemberResolver r{&contacts, &current.m_entries, u"IMEI1", data()};
    EXPECT_EQ(ExpandGroup(u"Mixed", r), u";01701;+3901;08001");
    Create(u"Empty");
    EXPECT_EQ(ExpandGroup(u"Empty", r), u"");
    EXPECT_EQ(ExpandGroup(u"../Mixed", r), u"");
    // A member whose phone identity would leave the pb folder resolves to nothing.
    CGroupMember evil;
    evil.m_strSource = u"../groups/Mixed";
    evil.m_nSourceId = 1;
    evil.m_strMemberName = u"x";
    EXPECT_EQ(ResolveMember(evil, r), u"");
}

}  // namespace
}  // namespace parlo
