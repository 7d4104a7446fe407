// Synchronisation runs against the simulated phone through the real serial
// code: sending, ordered deletions, wipes, reading both storages and merging.
#include <gtest/gtest.h>

#include <algorithm>

#include "parlo/sms/tests/engine_fixture.h"
#include "parlo/store/sync_lock.h"
#include "platform/ports.h"
#include "platform/registry.h"
#include "platform/testing/faulty_env.h"

namespace parlo::testing {
namespace {

const std::string kBadPdu = "07911326040000F0040B911346610089F6000020";  // cut short

class SyncTest : public EngineTest {
  protected:
    // ME: unread, stored sent, stored unsent. SM: read, undecodable, and one
    // that a deletion order refers to.
    void PreloadPhone() {
        state_["sms"]["storages"]["ME"] =
            StorageJson(10, {{1, 0, DeliverPdu("+491701111111", "Hello from Anna")},
                             {2, 3, SubmitPdu("+491702222222", "I sent this from the phone")},
                             {3, 2, SubmitPdu("+491703333333", "Draft on the phone")}});
        state_["sms"]["storages"]["SM"] =
            StorageJson(5, {{1, 1, DeliverPdu("+491704444444", "Old news")},
                            {2, 1, kBadPdu},
                            {3, 1, DeliverPdu("+491705555555", "Delete me")},
                            {4, 1, DeliverPdu("+491706666666", "Keep me")}});
    }
};

TEST_F(SyncTest, FullRunSendsDeletesReadsAndMergesWithoutDuplicates) {
    PreloadPhone();
    StartPhone();
    std::u16string long_text;
    for (int i = 0; i < 320; ++i)
        long_text.push_back(static_cast<char16_t>(u'a' + i % 26));
    CSmsMessage* short_msg = AddRecord(STATE_OUTBOX, u"+491709999999", u"Short one");
    CSmsMessage* long_msg = AddRecord(STATE_OUTBOX_PUSH, u"+491708888888", long_text);
    // A deletion order whose slot still holds the message, and one whose slot
    // now holds another text.
    CSmsMessage* del_ok = AddRecord(STATE_PHONE_DELETE, u"+491705555555", u"Delete me", STORAGE_SIM,
                                    3, DefaultStamp());
    CSmsMessage* del_other =
        AddRecord(STATE_PHONE_DELETE, u"+491706666666", u"Changed", STORAGE_SIM, 4);

    Engine().m_sync.SynchronizeMessages();
    // The undecodable slot is named; nothing else is wrong.
    EXPECT_EQ(Engine().m_errors.Text(), u"SM slot 2 was not read: the message cannot be decoded.");

    EXPECT_EQ(short_msg->m_nState, STATE_SENT);
    EXPECT_EQ(long_msg->m_nState, STATE_SENT);
    EXPECT_EQ(del_ok->m_nState, STATE_DELETED);
    EXPECT_EQ(del_other->m_nState, STATE_DELETED);
    // 1 + 3 parts went out, the long text as numbered parts with the push
    // coding.
    nlohmann::json state = PhoneState();
    ASSERT_EQ(state["sms"]["sent"].size(), 4u);
    for (int k = 1; k <= 3; ++k) {
        CPduMessage part;
        ASSERT_GE(
            CPduCodec::ParseSubmitPdu(state["sms"]["sent"][k]["pdu"].get<std::string>(), &part), 0);
        std::u16string prefix = platform::WidenBytes(std::to_string(k) + "/3:");
        EXPECT_EQ(part.m_strText.substr(0, 4), prefix);
        EXPECT_EQ(part.m_nDcs, PDU_DCS_PUSH);
        EXPECT_EQ(part.m_strSmsc, kSmsCentre);
    }
    EXPECT_EQ(SlotIndexes("SM"), (std::vector<int>{1, 2, 4}));

    // Read: the unread and the phone-sent of ME, and two of SM; the unsent
    // draft and the broken PDU stay out of the store.
    auto unread = InState(STATE_UNREAD);
    ASSERT_EQ(unread.size(), 1u);
    EXPECT_EQ(unread[0]->m_strText, u"Hello from Anna");
    EXPECT_EQ(unread[0]->m_nStorage, STORAGE_PHONE);
    EXPECT_EQ(unread[0]->m_nPhoneIndex, 1);
    auto phone_sent = InState(STATE_PHONE_SENT);
    ASSERT_EQ(phone_sent.size(), 1u);
    EXPECT_EQ(phone_sent[0]->m_strNumber, u"+491702222222");
    EXPECT_EQ(InState(STATE_READ).size(), 2u);  // Old news, Keep me
    size_t count = store_->Count();
    EXPECT_EQ(count, 4u + 4u);
    EXPECT_EQ(view_.added(), 4u);
    EXPECT_TRUE(view_.indicator());  // the undecodable slot

    // A second run sends nothing again and adds nothing; a message read on
    // the handheld and still unread on the phone is the same message.
    store_->Change(unread[0], [](CSmsMessage& m) { m.m_nState = STATE_READ; });
    Engine().m_sync.SynchronizeMessages();
    EXPECT_EQ(Engine().m_errors.Text(), u"SM slot 2 was not read: the message cannot be decoded.");
    EXPECT_EQ(SentCount(), 4u);
    EXPECT_EQ(store_->Count(), count);

    // The store on disk holds the same.
    CMessageStore reloaded(dir_);
    ASSERT_EQ(reloaded.LoadMessages(), StoreResult::kOk);
    EXPECT_EQ(reloaded.Count(), count);
}

TEST_F(SyncTest, BothStoragesAreReadRightAfterSending) {
    state_["sms"]["storages"]["ME"] =
        StorageJson(10, {{1, 0, DeliverPdu("+491701111111", "Hello from Anna")}});
    StartPhone();
    AddRecord(STATE_OUTBOX, u"+491709999999", u"first");
    AddRecord(STATE_OUTBOX, u"+491709999998", u"second");
    Engine().m_sync.SynchronizeMessages();
    EXPECT_TRUE(Engine().m_errors.Empty()) << platform::ToUtf8(Engine().m_errors.Text());
    EXPECT_EQ(InState(STATE_SENT).size(), 2u);
    EXPECT_EQ(InState(STATE_UNREAD).size(), 1u);
}

TEST_F(SyncTest, DeleteAfterReadingRemovesOnlyWhatTheStoreHolds) {
    PreloadPhone();
    StartPhone();
    settings_.m_bDeleteAfterSync = 1;
    Engine().m_sync.SynchronizeMessages();
    EXPECT_EQ(Engine().m_errors.Text(), u"SM slot 2 was not read: the message cannot be decoded.");
    // The unsent draft (ME 3) and the undecodable slot (SM 2) are still there.
    EXPECT_EQ(SlotIndexes("ME"), (std::vector<int>{3}));
    EXPECT_EQ(SlotIndexes("SM"), (std::vector<int>{2}));
    EXPECT_EQ(store_->Count(), 5u);
}

// Messages the store could not take stay on the phone: deleting their slots
// would lose them for good.
TEST_F(SyncTest, DeleteAfterReadingKeepsTheSlotsOfMessagesThatWereNotSaved) {
    state_["sms"]["storages"]["ME"] =
        StorageJson(10, {{1, 0, DeliverPdu("+491701111111", "Hello from Anna")},
                         {2, 1, DeliverPdu("+491702222222", "Hello from Bert")}});
    StartPhone();
    settings_.m_bDeleteAfterSync = 1;
    {
        // Nothing reaches the disk: the store takes neither.
        platform::testing::FaultyEnv env;
        env.CrashAfter(0);
        Engine().m_sync.SynchronizeMessages();
    }
    EXPECT_EQ(view_.added(), 2u);  // both were read
    CMessageStore fresh(dir_);
    ASSERT_EQ(fresh.LoadMessages(), StoreResult::kOk);
    EXPECT_EQ(fresh.Count(), 0u);
    EXPECT_EQ(SlotIndexes("ME"), (std::vector<int>{1, 2}));
    EXPECT_FALSE(Engine().m_errors.Empty()) << "the failed save was not reported";
}

TEST_F(SyncTest, WipeOrdersEmptyBothStoragesAndAreCleared) {
    PreloadPhone();
    StartPhone();
    prompt_.Push(platform::Answer::Ok);
    prompt_.Push(platform::Answer::Ok);
    prompt_.Push(platform::Answer::Ok);
    prompt_.Push(platform::Answer::Ok);
    EXPECT_EQ(Engine().ClearPhoneCommand(), 1);
    EXPECT_EQ(Engine().ClearSimCommand(), 1);
    ASSERT_EQ(prompt_.texts().size(), 4u);
    EXPECT_EQ(prompt_.texts()[0], Error(IDS_CLEAR_PHONE_QUESTION));
    EXPECT_EQ(prompt_.texts()[1], Error(IDS_CLEAR_ORDERED));

    Engine().m_sync.SynchronizeMessages();
    EXPECT_TRUE(Engine().m_errors.Empty()) << platform::ToUtf8(Engine().m_errors.Text());
    EXPECT_TRUE(SlotIndexes("ME").empty());
    EXPECT_TRUE(SlotIndexes("SM").empty());
    EXPECT_EQ(Engine().m_operations.m_bClearPhonePending, 0);
    EXPECT_EQ(Engine().m_operations.m_bClearSimPending, 0);
    EXPECT_EQ(store_->Count(), 0u);
}

TEST_F(SyncTest, CancelledWipeQuestionPlacesNoOrder) {
    prompt_.Push(platform::Answer::Cancel);
    EXPECT_EQ(Engine().ClearSimCommand(), 0);
    EXPECT_EQ(Engine().m_operations.m_bClearSimPending, 0);
    EXPECT_EQ(prompt_.texts().size(), 1u);
}

TEST_F(SyncTest, ARunSendsWhatAnotherProgramQueuedJustBeforeIt) {
    StartPhone();
    CMessageStore other(dir_);
    ASSERT_EQ(other.LoadMessages(), StoreResult::kOk);
    StoreResult r;
    other.Add(
        std::make_unique<CSmsMessage>(STATE_OUTBOX, u"+491708888888", u"from a script",
                                      platform::OleDate::Now(), 0, STORAGE_POCKETPC, -1, -1, 0),
        &r);
    ASSERT_EQ(r, StoreResult::kOk);
    Engine().m_sync.SynchronizeMessages();
    EXPECT_TRUE(Engine().m_errors.Empty()) << platform::ToUtf8(Engine().m_errors.Text());
    EXPECT_EQ(SentCount(), 1u);
    ASSERT_EQ(InState(STATE_SENT).size(), 1u);
    EXPECT_EQ(InState(STATE_SENT)[0]->m_strText, u"from a script");
}

TEST_F(SyncTest, ConnectionListedUnderCom3IsTakenWithoutConfiguration) {
    StartPhone();
    platform::Registry registry = platform::Registry::Device();
    ASSERT_EQ(platform::AddPortAlias(registry, phone_->device(), "COM3:"), "COM3:");
    settings_.m_strConnection.clear();
    ports_ = {ModemEntry{u"Other", u"COM1:", 0}, ModemEntry{u"Phonesim", u"COM3:", 1}};
    AddRecord(STATE_OUTBOX, u"+491709999999", u"via COM3");
    Engine().m_sync.SynchronizeMessages();
    EXPECT_TRUE(Engine().m_errors.Empty()) << platform::ToUtf8(Engine().m_errors.Text());
    EXPECT_EQ(SentCount(), 1u);
    EXPECT_EQ(Engine().m_session.Connection().m_strName, u"Phonesim");
}

// What real phones store: PDUs whose type disagrees with the slot status,
// lowercase hexadecimal, delivery reports.
TEST_F(SyncTest, EachPduIsReadByItsOwnType) {
    // A delivery report for message 5 to +491701111111.
    const std::string report = "0006050C91947110111111425031103000004250311030010000";
    state_["sms"]["storages"]["ME"] =
        StorageJson(10, {{1, 1, SubmitPdu("+491702222222", "Sent, labelled received")},
                         {2, 3, DeliverPdu("+491703333333", "Received, labelled sent")},
                         {3, 0, report},
                         {4, 2, DeliverPdu("+491704444444", "Received, labelled unsent")}});
    StartPhone({"--lowercase-hex"});
    settings_.m_bDeleteAfterSync = 1;
    Engine().m_sync.SynchronizeMessages();
    EXPECT_TRUE(Engine().m_errors.Empty()) << platform::ToUtf8(Engine().m_errors.Text());
    auto sent = InState(STATE_PHONE_SENT);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]->m_strNumber, u"+491702222222");
    auto read = InState(STATE_READ);
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0]->m_strText, u"Received, labelled sent");
    EXPECT_EQ(read[1]->m_strText, u"Received, labelled unsent");
    // The report is no message of the user's: skipped, and left on the phone.
    EXPECT_EQ(store_->Count(), 3u);
    EXPECT_EQ(SlotIndexes("ME"), (std::vector<int>{3}));
}

// The last slot of each storage, and a full SIM.
TEST_F(SyncTest, LastSlotOfPhoneMemoryAndFullSimAreRead) {
    std::vector<Slot> sim;
    for (int i = 1; i <= 5; ++i)
        sim.push_back(
            {i, 1, DeliverPdu("+49170555555" + std::to_string(i), "SIM " + std::to_string(i))});
    state_["sms"]["storages"]["ME"] =
        StorageJson(10, {{10, 0, DeliverPdu("+491701111111", "In the last slot")}});
    state_["sms"]["storages"]["SM"] = StorageJson(5, sim);
    StartPhone();
    Engine().m_sync.SynchronizeMessages();
    EXPECT_TRUE(Engine().m_errors.Empty()) << platform::ToUtf8(Engine().m_errors.Text());
    auto unread = InState(STATE_UNREAD);
    ASSERT_EQ(unread.size(), 1u);
    EXPECT_EQ(unread[0]->m_nPhoneIndex, 10);
    auto read = InState(STATE_READ);
    ASSERT_EQ(read.size(), 5u);
    EXPECT_EQ(read.back()->m_strText, u"SIM 5");
    EXPECT_EQ(read.back()->m_nPhoneIndex, 5);
}

// The phone reuses a freed slot; a message that repeats the text of the one
// deleted from it ("OK") is a new message: its time stamp differs.
TEST_F(SyncTest, RepeatedTextInAFreedSlotIsANewMessage) {
    const std::string ok = DeliverPdu("+491705555555", "OK");
    state_["sms"]["storages"]["SM"] = StorageJson(5, {{1, 0, ok}});
    StartPhone();
    settings_.m_bDeleteAfterSync = 1;
    Engine().m_sync.SynchronizeMessages();
    EXPECT_TRUE(Engine().m_errors.Empty()) << platform::ToUtf8(Engine().m_errors.Text());
    ASSERT_EQ(store_->Count(), 1u);
    EXPECT_TRUE(SlotIndexes("SM").empty());
    // The record no longer points at the slot it was deleted from.
    EXPECT_EQ(store_->Snapshot()[0]->m_nStorage, STORAGE_POCKETPC);

    ASSERT_EQ(phone_->Control("store SM " + DeliverPdu("+491705555555", "OK", "240316090000")),
              "OK 1");
    Engine().m_sync.SynchronizeMessages();
    EXPECT_TRUE(Engine().m_errors.Empty()) << platform::ToUtf8(Engine().m_errors.Text());
    EXPECT_EQ(store_->Count(), 2u);
    EXPECT_TRUE(SlotIndexes("SM").empty());
}

}  // namespace
}  // namespace parlo::testing
