#include "parlo/contacts/phonebook.h"

#include <gtest/gtest.h>

#include "parlo/contacts/file_names.h"
#include "parlo/contacts/tests/temp_dir.h"
#include "parlo_strings.h"
#include "platform/binio.h"
#include "platform/prompt.h"

namespace parlo {
namespace {

using testing::TempDir;
namespace fs = std::filesystem;

TEST(Phonebook, FileRoundTripKeepsEverything) {
    TempDir tmp;
    CPhonebook book;
    book.m_nStoragesRead = 1;
    book.m_descriptors[0] = {static_cast<int32_t>(STORAGE_FLAG_SIM), 1, 250, 18, 40};
    auto e = std::make_unique<CPhonebookEntry>(0x10000003, u"Mum", u"+4917");
    e->m_strSyncName = u"Mom";
    e->m_strSyncNumber = u"+4917";
    e->m_bMarked = 1;
    book.m_entries.push_back(std::move(e));
    fs::path file = PhonebookPath(tmp.path(), u"35123");
    ASSERT_TRUE(book.Save(file));
    EXPECT_EQ(file, tmp.path() / "pb" / "35123.pb");

    CPhonebook back;
    ASSERT_TRUE(back.Load(file));
    EXPECT_EQ(back.m_nStoragesRead, 1);
    EXPECT_EQ(back.m_descriptors[0], book.m_descriptors[0]);
    EXPECT_EQ(back.m_descriptors[1], StorageDescriptor());
    ASSERT_EQ(back.m_entries.size(), 1u);
    EXPECT_EQ(back.m_entries[0]->m_strSyncName, u"Mom");
    EXPECT_EQ(back.m_entries[0]->m_nId, 0x10000003u);

    // Cut short: the entries read so far stay, the load reports failure.
    book.m_entries.push_back(std::make_unique<CPhonebookEntry>(0x10000004, u"Dad", u"1"));
    ASSERT_TRUE(book.Save(file));
    std::string bytes;
    ASSERT_TRUE(platform::ReadFileBytes(file, &bytes));
    ASSERT_TRUE(platform::WriteFileAtomic(file, bytes.substr(0, bytes.size() - 3)));
    EXPECT_FALSE(back.Load(file));
    EXPECT_EQ(back.m_entries.size(), 1u);
    EXPECT_FALSE(back.Load(tmp.path() / "pb" / "none.pb"));
    EXPECT_TRUE(back.m_entries.empty());
}

TEST(Phonebook, IdentityFileNamesStayInsideThePbFolder) {
    EXPECT_EQ(IdentityFileName(u"351234567890123"), "351234567890123");
    EXPECT_EQ(IdentityFileName(u"+CGSN: 35-12 34"), "+CGSN%3A 35-12 34");
    EXPECT_EQ(IdentityFileName(u"../../etc/x"), "%2E.%2F..%2Fetc%2Fx");
    EXPECT_EQ(IdentityFileName(u".."), "%2E.");
    EXPECT_EQ(IdentityFileName(u"a%2F"), "a%252F");  // no two identities share a name
    EXPECT_NE(IdentityFileName(u"a/"), IdentityFileName(u"a%2F"));
    TempDir tmp;
    for (std::u16string id : {u"../../x", u"/abs", u"..", u"a\nb"}) {
        fs::path p = PhonebookPath(tmp.path(), id);
        EXPECT_EQ(p.parent_path(), tmp.path() / "pb") << p;
    }
}

TEST(Phonebook, FirstFreeIndex) {
    CPhonebook book;
    StorageDescriptor d{static_cast<int32_t>(STORAGE_FLAG_SIM), 1, 3, 10, 10};
    EXPECT_EQ(book.FirstFreeIndex(d), 1);
    book.m_entries.push_back(std::make_unique<CPhonebookEntry>(0x10000001, u"a", u"1"));
    book.m_entries.push_back(std::make_unique<CPhonebookEntry>(0x20000002, u"b", u"1"));
    book.m_entries.push_back(std::make_unique<CPhonebookEntry>(0x10000007, u"out", u"1"));
    EXPECT_EQ(book.FirstFreeIndex(d), 2);  // the phone entry at 2 is another storage
    book.m_entries.push_back(std::make_unique<CPhonebookEntry>(0x10000002, u"", u""));  // deleted
    book.m_entries.push_back(std::make_unique<CPhonebookEntry>(0x10000003, u"c", u"1"));
    EXPECT_EQ(book.FirstFreeIndex(d), std::nullopt);  // the last index is used
    d.last = 0;
    EXPECT_EQ(book.FirstFreeIndex(d), std::nullopt);
}

TEST(Phonebook, ImportNamesEntriesByKindAndStopsWhenFull) {
    platform::ScriptedPrompt prompt;
    CPhonebook book;
    CContactEntry c(u"Smith John", u"0170", u"030", u"040", u"", 77);
    // Before any synchronisation the phone storage is unknown.
    EXPECT_EQ(ImportContacts(&book, {&c}, STORAGE_FLAG_PHONE, prompt, strings::parlo()),
              ImportResult::kNeedSync);
    EXPECT_EQ(prompt.texts().back().substr(0, 31), u"First you have to synchronize y");

    book.m_descriptors[1] = {static_cast<int32_t>(STORAGE_FLAG_PHONE), 1, 30, 20, 20};
    book.m_entries.push_back(std::make_unique<CPhonebookEntry>(0x20000002, u"x", u"1"));
    ASSERT_EQ(ImportContacts(&book, {&c}, STORAGE_FLAG_PHONE, prompt, strings::parlo()),
              ImportResult::kImported);
    ASSERT_EQ(book.m_entries.size(), 4u);
    EXPECT_EQ(book.m_entries[1]->m_strName, u"Smith John/M");
    EXPECT_EQ(book.m_entries[1]->m_nId, 0x20000001u);
    EXPECT_EQ(book.m_entries[2]->m_strName, u"Smith John/W");
    EXPECT_EQ(book.m_entries[2]->m_nId, 0x20000003u);
    EXPECT_EQ(book.m_entries[3]->m_strName, u"Smith John/H");
    EXPECT_EQ(book.m_entries[3]->m_strMobile, u"040");
    EXPECT_TRUE(book.m_entries[3]->IsUnsynced());

    book.m_descriptors[1].last = 5;
    EXPECT_EQ(ImportContacts(&book, {&c}, STORAGE_FLAG_PHONE, prompt, strings::parlo()),
              ImportResult::kNeedSync);  // a range below 21 was never read
    book.m_descriptors[1] = {static_cast<int32_t>(STORAGE_FLAG_PHONE), 20, 25, 20, 20};
    for (int i = 20; i <= 24; ++i) {
        book.m_entries.push_back(
            std::make_unique<CPhonebookEntry>(STORAGE_FLAG_PHONE | i, u"f", u"1"));
    }
    size_t before = book.m_entries.size();
    EXPECT_EQ(ImportContacts(&book, {&c}, STORAGE_FLAG_PHONE, prompt, strings::parlo()),
              ImportResult::kFull);
    EXPECT_EQ(prompt.texts().back(),
              u"Phonebook from Mobile is full.\n1 entry was imported, the others were not.");
    EXPECT_EQ(book.m_entries.size(), before + 1);  // the one imported before it filled up
}

TEST(Phonebook, NewEditDelete) {
    platform::ScriptedPrompt prompt;
    const platform::StringTable& s = strings::parlo();
    CPhonebook book;
    book.m_descriptors[0] = {static_cast<int32_t>(STORAGE_FLAG_SIM), 1, 1, 10, 10};
    book.m_descriptors[1] = {static_cast<int32_t>(STORAGE_FLAG_PHONE), 1, 100, 10, 10};
    auto id = NewEntryId(book, STORAGE_FLAG_BOTH, 0, prompt, s);
    ASSERT_TRUE(id);
    EXPECT_EQ(*id, 0x10000001u);
    EXPECT_EQ(AddEntry(&book, *id, u"", u"1", prompt, s), nullptr);
    EXPECT_EQ(prompt.texts().back(), u"Please enter name.");
    EXPECT_EQ(AddEntry(&book, *id, u"A", u"", prompt, s), nullptr);
    EXPECT_EQ(prompt.texts().back(), u"Please enter phone number.");
    EXPECT_EQ(AddEntry(&book, *id, u"A", u"12 3", prompt, s), nullptr);
    CPhonebookEntry* a = AddEntry(&book, *id, u"A", u"+1234", prompt, s);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(NewEntryId(book, STORAGE_FLAG_BOTH, 0, prompt, s), 0x20000001u);
    EXPECT_EQ(NewEntryId(book, STORAGE_FLAG_SIM, 0, prompt, s), std::nullopt);
    EXPECT_EQ(prompt.texts().back(), u"Phonebook from Mobile is full.");
    EXPECT_EQ(NewEntryId(book, STORAGE_FLAG_BOTH, STORAGE_FLAG_SIM, prompt, s), std::nullopt);
    EXPECT_EQ(prompt.texts().back(), u"The memory on Mobile Phone is full.");

    a->m_strSyncName = u"A";
    a->m_strSyncNumber = u"+1234";
    ASSERT_TRUE(EditEntry(a, u"B", u"5", prompt, s));
    EXPECT_EQ(a->m_strSyncName, u"A");  // the next synchronisation writes the change

    EXPECT_FALSE(DeleteEntries({}, prompt, s));
    EXPECT_EQ(prompt.texts().back(), u"Failed, you have to select an entry first.");
    prompt.Push(platform::Answer::Yes);
    ASSERT_TRUE(DeleteEntries({a}, prompt, s));
    EXPECT_TRUE(a->IsDeleted());
    EXPECT_EQ(book.m_entries.size(), 1u);  // kept until the next synchronisation
    EXPECT_TRUE(VisibleEntries(book, STORAGE_FLAG_BOTH).empty());
}

TEST(Phonebook, TheStoragesLimitsAreCheckedOnAddEditAndImport) {
    platform::ScriptedPrompt prompt;
    const platform::StringTable& s = strings::parlo();
    CPhonebook book;
    book.m_descriptors[0] = {static_cast<int32_t>(STORAGE_FLAG_SIM), 1, 250, 14, 20};
    // GSM letters count one, the extension table two, any other script makes
    // the whole name UCS2: 1 + 2 per character.
    EXPECT_EQ(PhonebookTextLength(u"Name/M"), 6);
    EXPECT_EQ(PhonebookTextLength(u"\u00c4rger\u20ac"), 7);
    EXPECT_EQ(PhonebookTextLength(u"\u041f\u0451\u0442\u0440/M"), 13);

    const uint32_t id = STORAGE_FLAG_SIM | 1;
    EXPECT_EQ(AddEntry(&book, id, u"Fourteen chars", u"1", prompt, s) != nullptr, true);
    EXPECT_EQ(AddEntry(&book, id | 2, u"Fifteen letters", u"1", prompt, s), nullptr);
    EXPECT_NE(prompt.texts().back().find(u"14 characters (6 with letters outside"),
              std::u16string::npos);
    EXPECT_EQ(AddEntry(&book, id | 2, u"\u041f\u0451\u0442\u0440 \u0418/M", u"1", prompt, s),
              nullptr);
    EXPECT_EQ(AddEntry(&book, id | 2, u"A", u"0170;0171", prompt, s), nullptr);
    EXPECT_NE(prompt.texts().back().find(u"';'"), std::u16string::npos);
    EXPECT_EQ(AddEntry(&book, id | 2, u"A", u"01+70", prompt, s), nullptr);
    EXPECT_EQ(AddEntry(&book, id | 2, u"A", u"+123456789012345678901", prompt, s), nullptr);
    EXPECT_NE(prompt.texts().back().find(u"20 digits"), std::u16string::npos);
    EXPECT_NE(AddEntry(&book, id | 2, u"A", u"+12345678901234567890", prompt, s), nullptr);

    CPhonebookEntry* e = book.m_entries[0].get();
    EXPECT_FALSE(EditEntry(e, u"Fifteen letters", u"1", prompt, s, DescriptorOf(book, e->m_nId)));
    EXPECT_EQ(e->m_strName, u"Fourteen chars");

    // Import: what fits is imported, the rest named; all of it stays.
    CContactEntry fits(u"Li Bo", u"0170", u"", u"", u"", 1);
    CContactEntry too_long(u"Schmidt Johanna", u"0171", u"", u"0172", u"", 2);
    int added = 0;
    EXPECT_EQ(ImportContacts(&book, {&too_long, &fits}, STORAGE_FLAG_SIM, prompt, s, &added),
              ImportResult::kSomeSkipped);
    EXPECT_EQ(added, 1);
    EXPECT_NE(prompt.texts().back().find(u"Schmidt Johanna/M"), std::u16string::npos);
    EXPECT_NE(prompt.texts().back().find(u"Schmidt Johanna/H"), std::u16string::npos);
    EXPECT_EQ(book.m_entries.back()->m_strName, u"Li Bo/M");
}

TEST(Phonebook, AStorageNeverReadIsNotCalledFull) {
    platform::ScriptedPrompt prompt;
    const platform::StringTable& s = strings::parlo();
    CPhonebook book;  // as before the first synchronisation
    EXPECT_EQ(NewEntryId(book, STORAGE_FLAG_BOTH, STORAGE_FLAG_PHONE, prompt, s), std::nullopt);
    EXPECT_NE(prompt.texts().back().find(u"not been read yet"), std::u16string::npos);
    EXPECT_EQ(NewEntryId(book, STORAGE_FLAG_PHONE, 0, prompt, s), std::nullopt);
    EXPECT_NE(prompt.texts().back().find(u"not been read yet"), std::u16string::npos);
    // The SIM has its defaults until then.
    EXPECT_EQ(NewEntryId(book, STORAGE_FLAG_BOTH, STORAGE_FLAG_SIM, prompt, s), 0x10000001u);
}

}  // namespace
}  // namespace parlo
