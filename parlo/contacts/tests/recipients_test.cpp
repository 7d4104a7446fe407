#include "parlo/contacts/recipients.h"

#include <gtest/gtest.h>

namespace parlo {
namespace {

ContactList People() {
    ContactList list;
    list.push_back(std::make_unique<CContactEntry>(u"zoe", u"0170 1", u"", u"", u"", 1));
    list.push_back(std::make_unique<CContactEntry>(u"Home Only", u"", u"", u"(030) 2", u"", 2));
    list.push_back(std::make_unique<CContactEntry>(u"Adam", u"+49 171", u"", u"", u"", 3));
    list.push_back(std::make_unique<CContactEntry>(u"", u"", u"", u"", u"", 4));
    return list;
}

TEST(Recipients, WhoIsOfferedWhere) {
    ContactList people = People();
    // Select the phone number offers mobile numbers only, by name, any case.
    auto mobile = MobileContacts(people);
    ASSERT_EQ(mobile.size(), 2u);
    EXPECT_EQ(mobile[0]->m_strName, u"Adam");
    EXPECT_EQ(mobile[1]->m_strName, u"zoe");
    // Select Contacts offers everyone with a name or a number, cleaned.
    people[1]->m_bMarked = 1;
    auto import = PrepareImportList(&people);
    ASSERT_EQ(import.size(), 3u);
    EXPECT_EQ(import[1]->m_strName, u"Home Only");
    EXPECT_EQ(import[1]->m_strHome, u"0302");
    EXPECT_EQ(import[1]->m_bMarked, 0);

    CPhonebook book;
    book.m_entries.push_back(std::make_unique<CPhonebookEntry>(0x10000001, u"b", u"1"));
    book.m_entries.push_back(std::make_unique<CPhonebookEntry>(0x10000002, u"", u""));
    book.m_entries.push_back(std::make_unique<CPhonebookEntry>(0x10000003, u"A", u"3"));
    book.m_entries.push_back(std::make_unique<CPhonebookEntry>(0x10000004, u"No number", u""));
    auto numbered = NumberedPhonebookEntries(book);
    ASSERT_EQ(numbered.size(), 2u);
    EXPECT_EQ(numbered[0]->m_strName, u"A");
    EXPECT_EQ(GroupSourcePhonebook(book).size(), 3u);
}

TEST(Recipients, TheResultStringPutsTheGroupFirst) {
    EXPECT_EQ(JoinRecipients(u";111;222", {u"0170", u"0171"}), u"111;222;0170;0171");
    EXPECT_EQ(JoinRecipients(u"", {u"0170", u"0170"}), u"0170;0170");
    EXPECT_EQ(JoinRecipients(u"", {}), u"");
    EXPECT_EQ(JoinRecipients(u";111", {}), u"111");
}

TEST(Recipients, ImportTargetIsLockedWithOneStorage) {
    EXPECT_EQ(ImportTargetFor(STORAGE_FLAG_BOTH).selected, 0);
    EXPECT_TRUE(ImportTargetFor(STORAGE_FLAG_BOTH).changeable);
    EXPECT_EQ(ImportTargetFor(STORAGE_FLAG_SIM).selected, 1);
    EXPECT_FALSE(ImportTargetFor(STORAGE_FLAG_SIM).changeable);
    EXPECT_EQ(ImportTargetFor(STORAGE_FLAG_PHONE).selected, 0);
    EXPECT_FALSE(ImportTargetFor(STORAGE_FLAG_PHONE).changeable);
    EXPECT_EQ(ImportTargetFlag(1), STORAGE_FLAG_SIM);
}

}  // namespace
}  // namespace parlo
