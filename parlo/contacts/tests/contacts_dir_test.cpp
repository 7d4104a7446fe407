#include "parlo/contacts/contacts_dir.h"

#include <gtest/gtest.h>

#include <map>
#include <unordered_map>

#include "parlo/contacts/tests/temp_dir.h"
#include "parlo_strings.h"
#include "platform/prompt.h"

namespace parlo {
namespace {

using testing::TempDir;
using testing::WriteText;
namespace fs = std::filesystem;

std::string Card(const std::string& uid, const std::string& n, const std::string& cell) {
    std::string text = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    if (!uid.empty())
        text += "UID:" + uid + "\r\n";
    return text + "N:" + n + "\r\nTEL;TYPE=CELL:" + cell + "\r\nEND:VCARD\r\n";
}

class ContactsDirTest : public ::testing::Test {
  protected:
    fs::path root() const { return tmp_.path() / "contacts"; }
    ContactsDir dir() const { return ContactsDir(root(), tmp_.path() / "home" / "contacts.oid"); }
    std::map<std::u16string, uint32_t> OidsByName() {
        ContactList list;
        EXPECT_TRUE(ReadContacts(&list, prompt_, dir()));
        std::map<std::u16string, uint32_t> out;
        for (const auto& e : list)
            out[e->m_strName] = e->m_nId;
        return out;
    }
    TempDir tmp_;
    platform::ScriptedPrompt prompt_;
};

TEST_F(ContactsDirTest, ReadsBooksAndBuildsEntries) {
    WriteText(root() / "work" / "a.vcf", Card("A", "Smith;John;;;", "+1 (555) 0100"));
    WriteText(root() / "private" / "b.vcf", Card("", ";Eva;;;", "0170"));
    WriteText(root() / "private" / "junk.vcf", "not a vcard at all");
    WriteText(root() / "private" / "c.vcf.tmp", Card("C", "Tmp;T;;;", "1"));
    WriteText(root() / "private" / "notes.txt", Card("D", "Txt;T;;;", "1"));
    // A huge file is no contact card: skipped without being read.
    WriteText(root() / "private" / "huge.vcf", Card("E", "Huge;H;;;", "1"));
    fs::resize_file(root() / "private" / "huge.vcf", 17u << 20);
    ContactList list;
    list.push_back(std::make_unique<CContactEntry>());  // emptied first
    ASSERT_TRUE(ReadContacts(&list, prompt_, dir()));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->m_strName, u"Eva");  // "private" sorts before "work"
    EXPECT_EQ(list[1]->m_strName, u"Smith John");
    EXPECT_EQ(list[1]->m_strMobile, u"+1 (555) 0100");
    EXPECT_NE(list[0]->m_nId, 0u);
    EXPECT_EQ(list[0]->m_nId & 0xF0000000u, 0u);
    EXPECT_TRUE(prompt_.texts().empty());
}

TEST_F(ContactsDirTest, MissingRootIsEmptyAndUnusableRootIsErrorOne) {
    ContactList list;
    EXPECT_TRUE(ReadContacts(&list, prompt_, dir()));
    EXPECT_TRUE(list.empty());
    WriteText(root(), "a file where the folder should be");
    list.push_back(std::make_unique<CContactEntry>(u"keep", u"", u"", u"", u"", 1));
    EXPECT_FALSE(ReadContacts(&list, prompt_, dir()));
    EXPECT_EQ(list.size(), 1u);  // untouched
    ASSERT_EQ(prompt_.texts().size(), 1u);
    EXPECT_EQ(prompt_.texts()[0], u"Pocket Outlook Error -1-");
}

TEST_F(ContactsDirTest, UnreadableFileIsErrorThree) {
    // A card that opens but whose read fails with an I/O error, for every
    // user, root included: offset 0 of a process's own memory is never mapped.
    WriteText(root() / "b" / "a.vcf", Card("A", "A;B;;;", "1"));
    fs::create_symlink("/proc/self/mem", root() / "b" / "x.vcf");
    ContactList list;
    EXPECT_FALSE(ReadContacts(&list, prompt_, dir()));
    EXPECT_EQ(prompt_.texts().at(0), u"Pocket Outlook Error -3-");
}

TEST_F(ContactsDirTest, OidsSurviveRestartsAndEditsOfOthers) {
    WriteText(root() / "b" / "1.vcf", Card("uid-1", "One;A;;;", "1"));
    WriteText(root() / "b" / "2.vcf", Card("", "Two;B;;;", "2"));
    auto before = OidsByName();
    // Another contact is edited, a new one arrives, the file of one is rewritten.
    WriteText(root() / "b" / "2.vcf", Card("", "Two;B;;;", "22222"));
    WriteText(root() / "a" / "0.vcf", Card("uid-0", "Zero;Z;;;", "0"));
    WriteText(root() / "b" / "1.vcf", Card("uid-1", "One;A;;;", "111"));
    auto after = OidsByName();
    EXPECT_EQ(after[u"One A"], before[u"One A"]);
    EXPECT_EQ(after[u"Two B"], before[u"Two B"]);
    EXPECT_EQ(after.size(), 3u);
    // The map file gone (a fresh installation): the ids are the same hashes.
    fs::remove(tmp_.path() / "home" / "contacts.oid");
    EXPECT_EQ(OidsByName(), after);
}

TEST_F(ContactsDirTest, CollisionNeverMovesTheContactSeenFirst) {
    // Find two UIDs whose OIDs collide.
    std::unordered_map<uint32_t, std::string> seen;
    std::string a, b;
    for (int i = 0; a.empty(); ++i) {
        std::string uid = "u" + std::to_string(i);
        auto [it, fresh] = seen.emplace(HashOid("uid:" + uid), uid);
        if (!fresh) {
            a = it->second;
            b = uid;
        }
    }
    // The later one sorts first, so a fresh assignment would give it the hash.
    WriteText(root() / "b" / "2.vcf", Card(b, "Later;L;;;", "2"));
    auto first = OidsByName();
    EXPECT_EQ(first[u"Later L"], HashOid("uid:" + b));
    WriteText(root() / "b" / "1.vcf", Card(a, "Earlier;E;;;", "1"));
    auto both = OidsByName();
    EXPECT_EQ(both[u"Later L"], first[u"Later L"]);
    EXPECT_NE(both[u"Earlier E"], both[u"Later L"]);
    EXPECT_EQ(OidsByName(), both);
}

TEST_F(ContactsDirTest, SameUidInTwoFilesGivesTwoIds) {
    WriteText(root() / "b" / "1.vcf", Card("dup", "One;A;;;", "1"));
    WriteText(root() / "b" / "2.vcf", Card("dup", "Two;B;;;", "2"));
    auto ids = OidsByName();
    EXPECT_NE(ids[u"One A"], ids[u"Two B"]);
}

TEST_F(ContactsDirTest, ExportCreatesContactsInTheFirstBook) {
    WriteText(root() / "zeta" / "keep.vcf", Card("K", "Keep;K;;;", "9"));
    fs::create_directories(root() / "alpha");
    CContactEntry e1(u"Pizza Service", u"+49301234", u"", u"", u"", 0x10000001);
    CContactEntry e2(u"Taxi", u"0800", u"", u"", u"", 0x20000002);
    ASSERT_TRUE(ExportToContacts({&e1, &e2}, prompt_, strings::parlo(), dir()));
    EXPECT_EQ(prompt_.texts().back(), u"Entries successfully exported");
    int files = 0;
    for (const auto& f : fs::directory_iterator(root() / "alpha")) {
        EXPECT_EQ(f.path().extension(), ".vcf");
        ++files;
    }
    EXPECT_EQ(files, 2);
    auto ids = OidsByName();
    EXPECT_EQ(ids.count(u"Pizza Service"), 1u);
    ContactList list;
    ASSERT_TRUE(ReadContacts(&list, prompt_, dir()));
    int taxis = 0;
    for (const auto& e : list) {
        if (e->m_strName == u"Taxi") {
            EXPECT_EQ(e->m_strMobile, u"0800");
            ++taxis;
        }
    }
    EXPECT_EQ(taxis, 1);
}

TEST_F(ContactsDirTest, ExportMakesABookWhenThereIsNone) {
    CContactEntry e(u"A", u"1", u"", u"", u"", 1);
    ASSERT_TRUE(ExportToContacts({&e}, prompt_, strings::parlo(), dir()));
    EXPECT_TRUE(fs::is_directory(root() / "default"));
    WriteText(tmp_.path() / "file", "x");
    ContactsDir broken(tmp_.path() / "file" / "sub", tmp_.path() / "oid");
    EXPECT_FALSE(ExportToContacts({&e}, prompt_, strings::parlo(), broken));
    EXPECT_EQ(prompt_.texts().back(), u"Pocket Contacts Error -1-");
}

TEST_F(ContactsDirTest, FindByOidAndUid) {
    WriteText(root() / "b" / "1.vcf", Card("uid-1", "One;A;;;", "1 2 3"));
    ContactList list;
    ASSERT_TRUE(ReadContacts(&list, prompt_, dir()));
    StoredContact found;
    ASSERT_TRUE(FindContactByOid(dir(), list[0]->m_nId, &found));
    EXPECT_EQ(found.card.mobile, u"1 2 3");
    ASSERT_TRUE(FindContactByUid(dir(), u"uid-1", &found));
    EXPECT_EQ(found.oid, list[0]->m_nId);
    EXPECT_FALSE(FindContactByOid(dir(), list[0]->m_nId + 1, &found));
    EXPECT_FALSE(FindContactByUid(dir(), u"nope", &found));
}

}  // namespace
}  // namespace parlo
