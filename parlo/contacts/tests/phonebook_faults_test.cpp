// The phonebook synchronisation under faults: stray answers of the phone, a
// copy that cannot be saved, a run that stops at any point, and new entries
// whose index lies outside the storage's range.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "parlo/contacts/phonebook_sync.h"
#include "parlo/contacts/tests/phonebook_sync_fixture.h"
#include "platform/testing/faulty_env.h"
#include "platform/text.h"

namespace parlo {
namespace {

using platform::testing::FaultyEnv;
using testing::FakeStorage;
using testing::PhonebookSyncTest;

// How often each text is on the phone's SIM.
std::map<std::string, int> Counts(const FakeStorage& s) {
    std::map<std::string, int> n;
    for (const auto& [index, r] : s.records)
        ++n[r.text];
    return n;
}

TEST_F(PhonebookSyncTest, ANewEntryBelowTheFirstIndexIsWrittenInsideTheRange) {
    Sim().records[1] = {"0301", 129, "On the SIM"};
    AddLocal(STORAGE_FLAG_SIM | 0, u"Below the range", u"0170", false);
    ASSERT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kCompleted);
    EXPECT_EQ(Counts(Sim())["Below the range"], 1);
    ASSERT_NE(Local(STORAGE_FLAG_SIM | 2), nullptr);
    EXPECT_EQ(Local(STORAGE_FLAG_SIM | 2)->m_strName, u"Below the range");
    EXPECT_FALSE(Local(STORAGE_FLAG_SIM | 2)->IsUnsynced());
}

// A stray "OK" ends the first block's answer before it comes: the block looks
// empty and its answer arrives with the next command. Nothing of the block may
// be taken as deleted on the phone: a local edit is written, a local deletion
// carried out, an agreed entry kept.
TEST_F(PhonebookSyncTest, AStrayOkBeforeABlockIsNotTakenAsAnEmptyPhone) {
    Sim().records[1] = {"0301", 129, "Anna"};
    Sim().records[2] = {"0302", 129, "Bert"};
    Sim().records[3] = {"0303", 129, "Carl"};
    AddLocal(STORAGE_FLAG_SIM | 1, u"Anna", u"0301", true)->m_strName = u"Anna B.";
    CPhonebookEntry* bert = AddLocal(STORAGE_FLAG_SIM | 2, u"Bert", u"0302", true);
    bert->m_strName.clear();
    bert->m_strMobile.clear();
    AddLocal(STORAGE_FLAG_SIM | 3, u"Carl", u"0303", true);
    phone_.stray_ok_at_range_read = 1;
    ASSERT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kCompleted);
    EXPECT_EQ(Sim().records[1].text, "Anna B.");
    EXPECT_EQ(Sim().records.count(2), 0u);
    EXPECT_EQ(Local(STORAGE_FLAG_SIM | 2), nullptr);
    ASSERT_NE(Local(STORAGE_FLAG_SIM | 3), nullptr);
    EXPECT_EQ(Local(STORAGE_FLAG_SIM | 3)->m_strName, u"Carl");
    EXPECT_EQ(phone_.CountCommands("AT+CPBR=1,10"), 2);
}

// The same stray answer before a block the copy holds nothing of: the late
// answer reaches the next block's read, which sees indices that are not its
// own, brings the line back in step and reads again.
TEST_F(PhonebookSyncTest, ALateAnswerIsNeverTakenForTheNextBlock) {
    Sim().last = 30;
    Sim().records[5] = {"05", 129, "Five"};
    Sim().records[15] = {"15", 129, "Fifteen"};
    AddLocal(STORAGE_FLAG_SIM | 15, u"Fifteen", u"15", true)->m_strName = u"Fifteen, edited";
    AddLocal(STORAGE_FLAG_SIM | 16, u"Sixteen", u"16", true);
    Sim().records[16] = {"16", 129, "Sixteen"};
    phone_.stray_ok_at_range_read = 1;
    ASSERT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kCompleted);
    EXPECT_EQ(Sim().records[15].text, "Fifteen, edited");
    ASSERT_NE(Local(STORAGE_FLAG_SIM | 16), nullptr) << "agreed, and still on the phone";
    EXPECT_NE(Local(STORAGE_FLAG_SIM | 16)->m_strName, u"");
    EXPECT_EQ(Counts(Sim())["Five"], 1);
    // What the first block held is taken over by the next run.
    ASSERT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kCompleted);
    ASSERT_NE(Local(STORAGE_FLAG_SIM | 5), nullptr);
}

// Answers that stay out of step fail the run instead of changing the copy.
TEST_F(PhonebookSyncTest, AnswersThatStayOutOfStepFailTheRun) {
    // Every block read is answered with an index of another block.
    struct StuckPhone : testing::FakePhone {
        int SendAndReceive(const std::string& command, std::u16string& reply,
                           int timeout) override {
            if (command.rfind("AT+CPBR=", 0) == 0 && command.find(',') != std::string::npos) {
                commands.push_back(command);
                reply = u"+CPBR: 29,\"29\",129,\"Late\"";
                return 1;
            }
            return FakePhone::SendAndReceive(command, reply, timeout);
        }
    };
    StuckPhone stuck;
    stuck.storages["SM"].last = 30;
    stuck.storages["SM"].records[5] = {"5", 129, "Five"};
    AddLocal(STORAGE_FLAG_SIM | 5, u"Five", u"5", true);
    PhonebookSyncReport report;
    EXPECT_EQ(SynchronizePhonebook(&book_, Context(&stuck, STORAGE_FLAG_SIM, &report)),
              PhonebookSyncResult::kFailed);
    EXPECT_EQ(stuck.CountRangeReads(), 3);
    ASSERT_NE(Local(STORAGE_FLAG_SIM | 5), nullptr);
    EXPECT_EQ(Local(STORAGE_FLAG_SIM | 29), nullptr);
    EXPECT_FALSE(report.skipped.empty());
}

// A copy that cannot be saved stops the run before the next write, says
// "failed", and the next run writes nothing twice.
TEST_F(PhonebookSyncTest, ACopyThatCannotBeSavedFailsTheRunAndNothingIsWrittenTwice) {
    Sim().last = 20;
    for (int i = 1; i <= 5; ++i)
        AddLocal(STORAGE_FLAG_SIM | (30 + i), u"New " + platform::FromUtf8(std::to_string(i)),
                 platform::FromUtf8(std::to_string(i)), false);
    ASSERT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kCompleted);  // the identity
    for (int i = 6; i <= 10; ++i)
        AddLocal(STORAGE_FLAG_SIM | (30 + i), u"New " + platform::FromUtf8(std::to_string(i)),
                 platform::FromUtf8(std::to_string(i)), false);
    PhonebookSyncReport report;
    {
        FaultyEnv env;
        env.ShortWriteNth(4);  // the disk fills up half way through the run
        EXPECT_EQ(Sync(STORAGE_FLAG_SIM, &report), PhonebookSyncResult::kFailed);
    }
    EXPECT_EQ(prompt_.texts().back().rfind(u"Synchronization failed.", 0), 0u);
    EXPECT_NE(prompt_.texts().back().find(u"could not be saved"), std::u16string::npos);
    // The program ends; the next one starts from the file.
    ASSERT_TRUE(book_.Load(PhonebookPath(tmp_.path(), identity_)));
    ASSERT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kCompleted);
    std::map<std::string, int> counts = Counts(Sim());
    for (int i = 1; i <= 10; ++i)
        EXPECT_EQ(counts["New " + std::to_string(i)], 1) << i;
    EXPECT_EQ(book_.m_entries.size(), 10u);
}

// A run that stops at any file change (as a kill would) and a run after it:
// every new entry is on the phone exactly once, and in the copy.
TEST_F(PhonebookSyncTest, ARunStoppedAtAnyPointWritesNothingTwiceAndLosesNothing) {
    for (int stop = 0; stop < 40; ++stop) {
        SCOPED_TRACE(stop);
        phone_ = testing::FakePhone();
        Sim().records[1] = {"0301", 129, "Old"};
        Sim().records[2] = {"0302", 129, "Also old"};
        book_.m_entries.clear();
        identity_ = u"0";
        std::filesystem::remove_all(tmp_.path() / "pb");
        // New here: one at an index the phone uses, one past the range, one
        // below it, two at free indices.
        AddLocal(STORAGE_FLAG_SIM | 1, u"Taken index", u"11", false);
        AddLocal(STORAGE_FLAG_SIM | 25, u"Past the end", u"12", false);
        AddLocal(STORAGE_FLAG_SIM | 0, u"Below", u"13", false);
        AddLocal(STORAGE_FLAG_SIM | 3, u"Free three", u"14", false);
        AddLocal(STORAGE_FLAG_SIM | 4, u"Free four", u"15", false);
        {
            FaultyEnv env;
            env.CrashAfter(stop);
            Sync(STORAGE_FLAG_SIM);
        }
        book_.m_entries.clear();
        book_.Load(PhonebookPath(tmp_.path(), identity_));
        if (book_.m_entries.empty()) {
            // Stopped before the first save: the copy is the one the user had.
            AddLocal(STORAGE_FLAG_SIM | 1, u"Taken index", u"11", false);
            AddLocal(STORAGE_FLAG_SIM | 25, u"Past the end", u"12", false);
            AddLocal(STORAGE_FLAG_SIM | 0, u"Below", u"13", false);
            AddLocal(STORAGE_FLAG_SIM | 3, u"Free three", u"14", false);
            AddLocal(STORAGE_FLAG_SIM | 4, u"Free four", u"15", false);
        }
        ASSERT_EQ(Sync(STORAGE_FLAG_SIM), PhonebookSyncResult::kCompleted);
        std::map<std::string, int> counts = Counts(Sim());
        for (const char* name :
             {"Old", "Also old", "Taken index", "Past the end", "Below", "Free three", "Free four"})
            EXPECT_EQ(counts[name], 1) << name;
        EXPECT_EQ(book_.m_entries.size(), 7u);
    }
}

}  // namespace
}  // namespace parlo
