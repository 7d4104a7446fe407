#include "parlo/contacts/phonebook_sync.h"

#include <gtest/gtest.h>

#include "parlo/contacts/tests/fake_phone.h"
#include "parlo/contacts/tests/phonebook_sync_fixture.h"
#include "parlo/contacts/tests/temp_dir.h"
#include "parlo/store/sync_lock.h"
#include "parlo_strings.h"
#include "platform/exclusive_file.h"
#include "platform/prompt.h"
#include "platform/text.h"

namespace parlo {
namespace {

using testing::FakePhone;
using testing::FakeRecord;
using testing::FakeStorage;
using testing::PhonebookSyncTest;
using testing::TempDir;

TEST(PhonebookParse, RangeReply) {
    StorageDescriptor d;
    ASSERT_TRUE(ParsePhonebookRange(u"+CPBR: (1-250),40,18", &d));
    EXPECT_EQ(d.first, 1);
    EXPECT_EQ(d.last, 250);
    EXPECT_EQ(d.number_length, 40);
    EXPECT_EQ(d.text_length, 18);
    ASSERT_TRUE(ParsePhonebookRange(u"+CPBR: (0-99),(20),(14)", &d));
    EXPECT_EQ(d.first, 0);
    EXPECT_EQ(d.text_length, 14);
    EXPECT_FALSE(ParsePhonebookRange(u"", &d));
    EXPECT_FALSE(ParsePhonebookRange(u"+CPBS: (1-250),40,18", &d));
    EXPECT_FALSE(ParsePhonebookRange(u"+CPBR: (1-", &d));
    EXPECT_FALSE(ParsePhonebookRange(u"+CPBR: (9-1),40,18", &d));
    EXPECT_FALSE(ParsePhonebookRange(u"+CPBR: (1-99999999999),40,18", &d));
}

TEST(PhonebookParse, EntryLineAndTheInternationalType) {
    PhoneEntryLine e;
    ASSERT_TRUE(ParsePhonebookLine(u"+CPBR: 3,\"0301234\",129,\"Office\"", &e));
    EXPECT_EQ(e.index, 3);
    EXPECT_EQ(e.number, u"0301234");
    EXPECT_EQ(e.text, u"Office");
    ASSERT_TRUE(ParsePhonebookLine(u"+CPBR: 3,\"49301234\",145,\"Office\"", &e));
    EXPECT_EQ(e.number, u"+49301234");
    ASSERT_TRUE(ParsePhonebookLine(u"+CPBR: 3,\"+49301234\",145,\"\"", &e));
    EXPECT_EQ(e.number, u"+49301234");
    EXPECT_EQ(e.text, u"");
    ASSERT_TRUE(ParsePhonebookLine(u"+CPBR: 12,\"1\",129,\"A\",0", &e));
    EXPECT_EQ(e.index, 12);
    for (std::u16string_view bad :
         {u"", u"+CPBR:", u"+CPBR: x,\"1\",129,\"A\"", u"+CPBR: 1,\"1", u"+CPBR: 1,\"1\",129,\"A",
          u"+CPBR: 1,1,1,1", u"+CPBR: 1,\"1\",,\"A\""}) {
        EXPECT_FALSE(ParsePhonebookLine(bad, &e)) << platform::ToUtf8(bad);
    }
}

TEST_F(PhonebookSyncTest, NewOnEitherSideTravelsToTheOther) {
    Sim().records[2] = {"+4930", 145, "Phone side"};
    AddLocal(STORAGE_FLAG_SIM | 5, u"Handheld side", u"0170", false);
    ASSERT_EQ(Sync(), PhonebookSyncResult::kCompleted);
    EXPECT_EQ(prompt_.texts().back(), u"Synchronization completed successfully");
    ASSERT_NE(Local(STORAGE_FLAG_SIM | 2), nullptr);
    EXPECT_EQ(Local(STORAGE_FLAG_SIM | 2)->m_strName, u"Phone side");
    EXPECT_EQ(Local(STORAGE_FLAG_SIM | 2)->m_strSyncNumber, u"+4930");
    ASSERT_EQ(Sim().records.count(5), 1u);
    EXPECT_EQ(Sim().records[5].text, "Handheld side");
    EXPECT_EQ(Sim().records[5].number, "0170");
    EXPECT_EQ(Local(STORAGE_FLAG_SIM | 5)->m_strSyncName, u"Handheld side");
    EXPECT_EQ(book_.m_nStoragesRead, 2);
    // The identity was learnt and the copy saved under it.
    EXPECT_EQ(identity_, u"350000000000001");
    EXPECT_EQ(settings_saved_, 1);
    CPhonebook saved;
    ASSERT_TRUE(saved.Load(PhonebookPath(tmp_.path(), identity_)));
    EXPECT_EQ(saved.m_entries.size(), 2u);
    EXPECT_EQ(saved.m_descriptors[1].flag, static_cast<int32_t>(STORAGE_FLAG_PHONE));
    EXPECT_EQ(saved.m_descriptors[1].last, 100);
    // The order of a connection.
    EXPECT_EQ(phone_.log.front(), "StartSAR");
    EXPECT_EQ(phone_.log[1], "OpenPhone");
    EXPECT_EQ(phone_.log[2], "IdentifyPhone");
    EXPECT_EQ(phone_.log[3], "AT+CGSN");
    EXPECT_EQ(phone_.log[4], "AT+CSCS=\"GSM\"");
    EXPECT_EQ(phone_.log[phone_.log.size() - 2], "ClosePort");
    EXPECT_EQ(phone_.log.back(), "StopSAR");
}

TEST_F(PhonebookSyncTest, ChangedOnEitherSideAndOnBoth) {
    Sim().records[1] = {"111", 129, "Handheld edits me"};
    Sim().records[2] = {"222-new", 129, "Phone edited me"};
    Sim().records[3] = {"333-phone", 129, "Both edited me"};
    CPhonebookEntry* a = AddLocal(STORAGE_FLAG_SIM | 1, u"Handheld edits me", u"111", true);
    a->m_strMobile = u"111-new";
    AddLocal(STORAGE_FLAG_SIM | 2, u"Phone edited me", u"222", true);
    CPhonebookEntry* c = AddLocal(STORAGE_FLAG_SIM | 3, u"Both edited me", u"333", true);
    c->m_strName = u"Mine";
    ASSERT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kCompleted);
    EXPECT_EQ(Sim().records[1].number, "111-new");
    EXPECT_EQ(Local(STORAGE_FLAG_SIM | 1)->m_strSyncNumber, u"111-new");
    EXPECT_EQ(Local(STORAGE_FLAG_SIM | 2)->m_strMobile, u"222-new");
    // The phone wins, in the values and in the sync fields.
    EXPECT_EQ(Local(STORAGE_FLAG_SIM | 3)->m_strName, u"Both edited me");
    EXPECT_EQ(Local(STORAGE_FLAG_SIM | 3)->m_strMobile, u"333-phone");
    EXPECT_EQ(Local(STORAGE_FLAG_SIM | 3)->m_strSyncNumber, u"333-phone");
    EXPECT_EQ(Sim().records[3].number, "333-phone");
    EXPECT_EQ(book_.m_nStoragesRead, 1);
    EXPECT_EQ(phone_.CountCommands("AT+CPBS=\"ME\""), 0);
}

TEST_F(PhonebookSyncTest, DeletedOnEitherSide) {
    Sim().records[1] = {"1", 129, "Deleted on handheld"};
    Sim().records[2] = {"2-changed", 129, "Deleted on handheld, changed on phone"};
    CPhonebookEntry* a = AddLocal(STORAGE_FLAG_SIM | 1, u"Deleted on handheld", u"1", true);
    CPhonebookEntry* b =
        AddLocal(STORAGE_FLAG_SIM | 2, u"Deleted on handheld, changed on phone", u"2", true);
    AddLocal(STORAGE_FLAG_SIM | 3, u"Deleted on phone", u"3", true);
    AddLocal(STORAGE_FLAG_SIM | 4, u"", u"", false);  // created and deleted on the handheld
    a->m_strName.clear();
    a->m_strMobile.clear();
    b->m_strName.clear();
    b->m_strMobile.clear();
    ASSERT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kCompleted);
    EXPECT_TRUE(Sim().records.empty());
    EXPECT_TRUE(book_.m_entries.empty());
    EXPECT_EQ(phone_.CountCommands("AT+CPBW=1"), 1);
    EXPECT_EQ(phone_.CountCommands("AT+CPBW=2"), 1);
    EXPECT_EQ(phone_.CountCommands("AT+CPBW=4"), 0);
}

TEST_F(PhonebookSyncTest, NamesTravelInTheGsmAlphabet) {
    Sim().records[1] = {"1", 129, "[rger"};  // 0x5B is 'Ä' in the GSM alphabet
    // Codes below 32, the quote and the backslash travel as "\HH".
    AddLocal(STORAGE_FLAG_SIM | 2, u"\u00d6l_\"\u00e9\"", u"2", false);
    ASSERT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kCompleted)
        << platform::ToUtf8(prompt_.texts().back());
    EXPECT_EQ(Local(STORAGE_FLAG_SIM | 1)->m_strName, u"\u00c4rger");
    EXPECT_EQ(phone_.CountCommands("AT+CPBW=2,\"2\",,\"\\5Cl\\11\\22\\05\\22\""), 1);
    EXPECT_EQ(Sim().records[2].text, "\x5Cl\x11\"\x05\"");

    // '@' is code 0, which comes back as nothing; Cyrillic has no code at all:
    // neither is written, each is named, and the rest still goes.
    AddLocal(STORAGE_FLAG_SIM | 3, u"J\u00f6rg@Home", u"3", false);
    AddLocal(STORAGE_FLAG_SIM | 4, u"\u0418\u0432\u0430\u043d", u"4", false);
    AddLocal(STORAGE_FLAG_SIM | 5, u"Plain", u"5", false);
    PhonebookSyncReport report;
    EXPECT_EQ(Sync(STORAGE_FLAG_SIM, &report), PhonebookSyncResult::kFailed);
    EXPECT_EQ(Sim().records.count(3) + Sim().records.count(4), 0u);
    EXPECT_EQ(Sim().records[5].text, "Plain");
    ASSERT_EQ(report.skipped.size(), 2u);
    EXPECT_NE(report.skipped[0].find(u"J\u00f6rg@Home (3), SIM 3"), std::u16string::npos);
    EXPECT_NE(prompt_.texts().back().find(u"\u0418\u0432\u0430\u043d (4), SIM 4"),
              std::u16string::npos);
    EXPECT_TRUE(Local(STORAGE_FLAG_SIM | 3)->IsUnsynced());
}

TEST_F(PhonebookSyncTest, NamesTravelInUcs2WhereThePhoneOffersIt) {
    phone_.ucs2 = true;
    Sim().records[1] = {"1", 129, "0418043204300434"};  // "Ивад"
    AddLocal(STORAGE_FLAG_SIM | 2, u"J\u00f6rg@\u20ac", u"2", false);
    ASSERT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kCompleted)
        << platform::ToUtf8(prompt_.texts().back());
    EXPECT_EQ(Local(STORAGE_FLAG_SIM | 1)->m_strName, u"\u0418\u0432\u0430\u0434");
    EXPECT_EQ(Sim().records[2].text, "004A00F600720067004020AC");
    EXPECT_EQ(phone_.CountCommands("AT+CSCS=\"UCS2\""), 1);
    // Set back for the message commands afterwards.
    EXPECT_EQ(phone_.commands.back(), "AT+CSCS=\"GSM\"");
}

TEST_F(PhonebookSyncTest, LargeStorageIsReadInBlocksOfTen) {
    Sim().last = 250;
    for (int i = 1; i <= 250; i += 9)
        Sim().records[i] = {std::to_string(i), 129, "n"};
    ASSERT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kCompleted);
    EXPECT_EQ(phone_.CountRangeReads(), 25);
    EXPECT_EQ(phone_.commands.back(), "AT+CPBR=241,250");
    EXPECT_EQ(book_.m_entries.size(), Sim().records.size());

    // A range of five is one block; the last index of a range of eleven is read.
    phone_.commands.clear();
    Sim() = FakeStorage{1, 5, {{5, {"5", 129, "five"}}}};
    Sync(STORAGE_FLAG_SIM);
    EXPECT_EQ(phone_.CountCommands("AT+CPBR=1,5"), 1);
    phone_.commands.clear();
    Sim() = FakeStorage{1, 11, {{11, {"11", 129, "last"}}}};
    Sync(STORAGE_FLAG_SIM);
    EXPECT_EQ(phone_.CountCommands("AT+CPBR=11,11"), 1);
    EXPECT_NE(Local(STORAGE_FLAG_SIM | 11), nullptr);
}

TEST_F(PhonebookSyncTest, TheReadEndsWhenTheUsedCountWasFound) {
    Sim().last = 250;
    for (int i = 1; i <= 40; ++i) {
        AddLocal(STORAGE_FLAG_SIM | i, u"n" + platform::FromUtf8(std::to_string(i)), u"1",
                 i % 2 == 0);
    }
    AddLocal(STORAGE_FLAG_SIM | 245, u"new far out", u"245", false);
    // An empty SIM reads no block; what is new here is written, what was
    // agreed before is gone from the phone.
    ASSERT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kCompleted);
    EXPECT_EQ(phone_.CountRangeReads(), 0);
    EXPECT_EQ(Sim().records.size(), 21u);
    EXPECT_EQ(Sim().records.count(1), 1u);
    EXPECT_EQ(Sim().records.count(2), 0u);
    EXPECT_EQ(Local(STORAGE_FLAG_SIM | 2), nullptr);
    EXPECT_EQ(Sim().records.count(245), 1u);

    // A sparse SIM: the entry at 80 is found after seven empty blocks.
    phone_.commands.clear();
    Sim().records.clear();
    Sim().records[80] = {"80", 129, "Far in"};
    book_.m_entries.clear();
    ASSERT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kCompleted);
    EXPECT_EQ(phone_.CountRangeReads(), 8);
    ASSERT_NE(Local(STORAGE_FLAG_SIM | 80), nullptr);

    // A phone that does not tell the used count: the whole range is read.
    phone_.commands.clear();
    phone_.report_used = false;
    ASSERT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kCompleted);
    EXPECT_EQ(phone_.CountRangeReads(), 25);
}

TEST_F(PhonebookSyncTest, BlockReadsAreTriedThreeTimes) {
    Sim().records[1] = {"1", 129, "a"};
    phone_.failing_reads = 2;
    ASSERT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kCompleted);
    EXPECT_NE(Local(STORAGE_FLAG_SIM | 1), nullptr);
    phone_.failing_reads = 3;
    EXPECT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kFailed);
    EXPECT_EQ(prompt_.texts().back().rfind(u"Synchronization failed.\n\nThe phone's answers", 0),
              0u);
    // The storage still counts as read and the file was written.
    EXPECT_EQ(book_.m_nStoragesRead, 1);
}

TEST_F(PhonebookSyncTest, FailedWriteFailsTheRunButKeepsTheCopy) {
    AddLocal(STORAGE_FLAG_SIM | 1, u"a", u"1", false);
    phone_.fail_writes = true;
    EXPECT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kFailed);
    ASSERT_NE(Local(STORAGE_FLAG_SIM | 1), nullptr);
    EXPECT_TRUE(Local(STORAGE_FLAG_SIM | 1)->IsUnsynced());
}

TEST_F(PhonebookSyncTest, WriteThePhoneRefusedIsAFailureNotADeletion) {
    // The phone answers "+CME ERROR", which the link hands back like an "OK".
    AddLocal(STORAGE_FLAG_SIM | 1, u"Refused name", u"1", false);
    phone_.refuse_writes = true;
    EXPECT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kFailed);
    ASSERT_NE(Local(STORAGE_FLAG_SIM | 1), nullptr);
    EXPECT_TRUE(Local(STORAGE_FLAG_SIM | 1)->IsUnsynced());
    // The next run does not take it for deleted on the phone.
    EXPECT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kFailed);
    EXPECT_NE(Local(STORAGE_FLAG_SIM | 1), nullptr);
    phone_.refuse_writes = false;
    EXPECT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kCompleted);
    EXPECT_EQ(Sim().records[1].text, "Refused name");
}

TEST_F(PhonebookSyncTest, TheReadBackComparesTheNumberToo) {
    Sim().records[1] = {"0301", 129, "Anna"};
    AddLocal(STORAGE_FLAG_SIM | 1, u"Anna", u"0301", true)->m_strMobile = u"0309";
    phone_.keep_numbers = true;
    PhonebookSyncReport report;
    EXPECT_EQ(Sync(STORAGE_FLAG_SIM, &report), PhonebookSyncResult::kFailed);
    ASSERT_EQ(report.skipped.size(), 1u);
    // Still to be written: the agreement stays the old one.
    EXPECT_EQ(Local(STORAGE_FLAG_SIM | 1)->m_strMobile, u"0309");
    EXPECT_EQ(Local(STORAGE_FLAG_SIM | 1)->m_strSyncNumber, u"0301");
    phone_.keep_numbers = false;
    EXPECT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kCompleted);
    EXPECT_EQ(Sim().records[1].number, "0309");
}

TEST_F(PhonebookSyncTest, SwitchingBetweenTwoPhones) {
    // Entries made before any phone was known go with the first phone.
    AddLocal(STORAGE_FLAG_SIM | 1, u"early", u"1", false);
    phone_.imei = "PHONE-A";
    ASSERT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kCompleted);
    EXPECT_EQ(identity_, u"PHONE-A");
    EXPECT_EQ(Sim().records[1].text, "early");

    FakePhone a_sim = phone_;
    phone_.storages["SM"] = FakeStorage{1, 20, {{7, {"7", 129, "on B"}}}};
    phone_.imei = "PHONE-B";
    ASSERT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kCompleted);
    EXPECT_EQ(identity_, u"PHONE-B");
    ASSERT_EQ(book_.m_entries.size(), 1u);
    EXPECT_EQ(book_.m_entries[0]->m_strName, u"on B");
    EXPECT_EQ(settings_saved_, 2);

    // Back to the first phone: its own copy returns.
    phone_.storages = a_sim.storages;
    phone_.imei = "PHONE-A";
    ASSERT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kCompleted);
    ASSERT_EQ(book_.m_entries.size(), 1u);
    EXPECT_EQ(book_.m_entries[0]->m_strName, u"early");
    CPhonebook b;
    ASSERT_TRUE(b.Load(PhonebookPath(tmp_.path(), u"PHONE-B")));
    EXPECT_EQ(b.m_entries.at(0)->m_strName, u"on B");
}

TEST_F(PhonebookSyncTest, HostileIdentityStaysInsideThePbFolder) {
    phone_.imei = "../../evil";
    ASSERT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kCompleted);
    EXPECT_FALSE(std::filesystem::exists(tmp_.path().parent_path() / "evil.pb"));
    int files = 0;
    for (const auto& f : std::filesystem::directory_iterator(tmp_.path() / "pb")) {
        (void)f;
        ++files;
    }
    EXPECT_EQ(files, 1);
    phone_.imei = "";
    EXPECT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kFailed);
    EXPECT_EQ(prompt_.texts()[prompt_.texts().size() - 2], u"Error checking IMEI");
}

TEST_F(PhonebookSyncTest, FailuresOfTheConnection) {
    phone_.open_ok = 0;
    EXPECT_EQ(Sync(), PhonebookSyncResult::kFailed);
    auto texts = prompt_.texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].substr(0, 34), u"Kommunikationsport konnte nicht ge");
    EXPECT_EQ(texts[1], u"Synchronization failed.");
    EXPECT_EQ(phone_.log.back(), "StopSAR");
    EXPECT_EQ(phone_.CountCommands("AT"), 0);

    prompt_.Clear();
    phone_.open_ok = 1;
    phone_.identify_ok = 0;
    EXPECT_EQ(Sync(), PhonebookSyncResult::kFailed);
    EXPECT_EQ(prompt_.texts()[0], u"Error in configuration");

    prompt_.Clear();
    phone_.identify_ok = 1;
    phone_.cscs_ok = 0;
    EXPECT_EQ(Sync(), PhonebookSyncResult::kFailed);
    EXPECT_EQ(phone_.CountCommands("AT+CPBS"), 0);
}

TEST_F(PhonebookSyncTest, ASecondSynchronisationIsNotTheInternetConnection) {
    CSyncLock running;
    ASSERT_TRUE(running.Acquire(tmp_.path()));
    EXPECT_EQ(Sync(), PhonebookSyncResult::kBusy);
    // The lock's mark names the run that holds it.
    EXPECT_EQ(prompt_.texts().back(),
              u"A synchronization is running already. Try again when it has ended.\n"
              u"The messages are being synchronised (in this program).");
    EXPECT_TRUE(phone_.log.empty());
    running.Release();
    EXPECT_EQ(Sync(), PhonebookSyncResult::kCompleted);
}

TEST_F(PhonebookSyncTest, LockHeldByAnotherRun) {
    platform::ExclusiveFile other;
    ASSERT_TRUE(other.Open(tmp_.path() / "vok.lock"));
    EXPECT_EQ(Sync(), PhonebookSyncResult::kLocked);
    EXPECT_EQ(prompt_.texts().back(),
              u"Please first stop the Internet connection and try to synchronize again.");
    EXPECT_TRUE(phone_.log.empty());
    EXPECT_FALSE(CallNumber(u"0170", tmp_.path(), phone_, prompt_, strings::parlo()));
    other.Close();
    EXPECT_TRUE(CallNumber(u"+49 (170) 1", tmp_.path(), phone_, prompt_, strings::parlo()));
    EXPECT_EQ(phone_.CountCommands("ATD+491701;"), 1);
}

}  // namespace
}  // namespace parlo
