// Reading the phone by listing and slot by slot, against the simulated phone:
// phones that refuse or cut short the listing, lines in the middle of it,
// stray result codes, reused slots, and deletion after the synchronisation
// when the phone stops answering or refuses.
#include <gtest/gtest.h>

#include "parlo/sms/phone_listing.h"
#include "parlo/sms/tests/engine_fixture.h"
#include "parlo/sms/unread_journal.h"
#include "platform/binio.h"

namespace parlo::testing {
namespace {

// The phone session's commands before the work: AT, AT, AT+CGMI, AT+CGMM,
// AT+COPS?, AT+CSCA?.
constexpr int kSession = 6;

class ListingTest : public EngineTest {
  protected:
    // ME: two unread, one read, a stored-unsent draft, in a memory much
    // larger than its content. SM: one read, one unread.
    void Preload() {
        state_["sms"]["storages"]["ME"] =
            StorageJson(40, {{2, 0, DeliverPdu("+491701111111", "First unread")},
                             {5, 1, DeliverPdu("+491702222222", "Read already")},
                             {6, 2, SubmitPdu("+491703333333", "Draft on the phone")},
                             {9, 0, DeliverPdu("+491704444444", "Second unread")}});
        state_["sms"]["storages"]["SM"] =
            StorageJson(10, {{1, 1, DeliverPdu("+491705555555", "On the SIM")},
                             {4, 0, DeliverPdu("+491706666666", "Unread on the SIM")}});
        settings_.m_bDeleteAfterSync = 1;
    }

    int Commands() {
        std::string answer = phone_->Control("commands");
        return answer.rfind("OK ", 0) == 0 ? std::atoi(answer.c_str() + 3) : -1;
    }

    int Count(const std::u16string& text) {
        int n = 0;
        for (CSmsMessage* m : store_->Snapshot())
            n += m->m_strText == text && m->m_nState != STATE_PURGED ? 1 : 0;
        return n;
    }
    int32_t StateOf(const std::u16string& text) {
        for (CSmsMessage* m : store_->Snapshot())
            if (m->m_strText == text)
                return m->m_nState;
        return -1;
    }

    // Every message of Preload stored exactly once with the state it had on
    // the phone, the draft left alone on the phone and not stored.
    void ExpectEverythingStoredOnce() {
        EXPECT_EQ(Count(u"First unread"), 1);
        EXPECT_EQ(Count(u"Second unread"), 1);
        EXPECT_EQ(Count(u"Read already"), 1);
        EXPECT_EQ(Count(u"On the SIM"), 1);
        EXPECT_EQ(Count(u"Unread on the SIM"), 1);
        EXPECT_EQ(Count(u"Draft on the phone"), 0);
        EXPECT_EQ(StateOf(u"First unread"), STATE_UNREAD);
        EXPECT_EQ(StateOf(u"Second unread"), STATE_UNREAD);
        EXPECT_EQ(StateOf(u"Unread on the SIM"), STATE_UNREAD);
        EXPECT_EQ(StateOf(u"Read already"), STATE_READ);
    }

    void Sync() { Engine().m_sync.SynchronizeMessages(); }
    bool Says(const std::u16string& text) {
        return Engine().m_errors.Text().find(text) != std::u16string::npos;
    }
    std::string ErrorsText() { return platform::ToUtf8(Engine().m_errors.Text()); }
};

TEST(SplitListing, ReadsEntriesWithAndWithoutAlphaAndBlankLines) {
    std::vector<ListedSlot> out;
    ASSERT_TRUE(
        SplitListing(u"+CMGL: 3,0,,23\r\n0011AA\r\n\r\n+CMGL: 12,1,\"Anna, B\",5\r\n"
                     u"00ff\r\n+CMGL: 4,3,x,7\r\n00AB",
                     &out));
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].index, 3);
    EXPECT_EQ(out[0].status, 0);
    EXPECT_EQ(out[0].reply, u"+CMGR: 0,,23\r\n0011AA");
    EXPECT_EQ(out[1].index, 12);
    EXPECT_EQ(out[1].status, 1);
    EXPECT_EQ(out[2].index, 4);
    EXPECT_EQ(AnswerPdu(out[1].reply), "00FF");
    EXPECT_TRUE(SplitListing(u"", &out));
    EXPECT_TRUE(out.empty());
}

TEST(SplitListing, RefusesWhatIsNoListing) {
    std::vector<ListedSlot> out;
    EXPECT_FALSE(SplitListing(u"+CMGL: 3,0,,23", &out));                // no PDU line
    EXPECT_FALSE(SplitListing(u"+CMGL: 3,0,,23\r\n0011AZ", &out));      // not hexadecimal
    EXPECT_FALSE(SplitListing(u"+CMGL: 3,0,,23\r\n0011A", &out));       // half an octet
    EXPECT_FALSE(SplitListing(u"+CMGL: 3,,23\r\n0011", &out));          // a field missing
    EXPECT_FALSE(SplitListing(u"+CMGL: x,0,,23\r\n0011", &out));        // no index
    EXPECT_FALSE(SplitListing(u"+CMGL: 3,0,\"open,23\r\n0011", &out));  // unclosed alpha
    EXPECT_FALSE(SplitListing(u"+CMGR: 0,,23\r\n0011", &out));          // another answer
    // One good entry, then a line that is neither header nor PDU.
    EXPECT_FALSE(SplitListing(u"+CMGL: 1,0,,2\r\n0011\r\nOK\r\n+CMGL: 2,0,,2\r\n0011", &out));
    EXPECT_EQ(out.size(), 1u);
}

TEST_F(ListingTest, OneListingPerStorageReadsAndDeletesEverything) {
    Preload();
    StartPhone();
    Sync();
    EXPECT_TRUE(Engine().m_errors.Empty()) << ErrorsText();
    ExpectEverythingStoredOnce();
    // Select and list each storage; then select and delete each message:
    // no slot is read one by one.
    EXPECT_EQ(Commands(), kSession + 4 + 1 + 3 + 1 + 2);
    EXPECT_EQ(SlotIndexes("ME"), (std::vector<int>{6}));
    EXPECT_TRUE(SlotIndexes("SM").empty());
    // The progress bar stepped once per message, not per slot.
    EXPECT_EQ(view_.steps(), 6);
}

TEST_F(ListingTest, NothingToSendNorReadTakesTenCommands) {
    StartPhone();
    Sync();
    EXPECT_TRUE(Engine().m_errors.Empty()) << ErrorsText();
    EXPECT_EQ(Commands(), kSession + 4);
}

TEST_F(ListingTest, PhoneThatRefusesTheListingIsReadSlotBySlotUpToItsCount) {
    for (const char* mode : {"error", "cms"}) {
        SCOPED_TRACE(mode);
        TearDown();
        SetUp();
        engine_.reset();
        Preload();
        StartPhone({"--cmgl", mode});
        Sync();
        EXPECT_TRUE(Engine().m_errors.Empty()) << ErrorsText();
        ExpectEverythingStoredOnce();
        EXPECT_EQ(SlotIndexes("ME"), (std::vector<int>{6}));
        EXPECT_TRUE(SlotIndexes("SM").empty());
        // ME up to slot 9 of 40, SM up to slot 4 of 10; the refusal is not
        // asked again for the SIM. The deletion reads each slot again.
        int reading = 2 + 9 + 1 + 4;
        int deleting = 1 + 3 * 2 + 1 + 2 * 2;
        EXPECT_EQ(Commands(), kSession + reading + deleting);
    }
}

TEST_F(ListingTest, ListingCutShortIsReadAgainSlotBySlotKeepingUnreadUnread) {
    Preload();
    // Lists the first two messages of a storage only (and marks them read).
    StartPhone({"--cmgl-limit", "2"});
    Sync();
    EXPECT_TRUE(Engine().m_errors.Empty()) << ErrorsText();
    ExpectEverythingStoredOnce();
    EXPECT_EQ(SlotIndexes("ME"), (std::vector<int>{6}));
    EXPECT_TRUE(SlotIndexes("SM").empty());

    // A second run finds nothing new and duplicates nothing.
    Sync();
    EXPECT_TRUE(Engine().m_errors.Empty()) << ErrorsText();
    ExpectEverythingStoredOnce();
}

TEST_F(ListingTest, UnsolicitedLinesInsideTheListingAreTakenOut) {
    // Between the first header and its PDU of the phone memory's listing: a
    // ring and a new message announced on the SIM.
    for (const char* kind : {"line:RING", "cmti:SM", "line:^RSSI: 14"}) {
        SCOPED_TRACE(kind);
        TearDown();
        SetUp();
        engine_.reset();
        Preload();
        StartPhone({"--unsolicited", std::to_string(kSession + 2) + ":inside:" + kind});
        Sync();
        ExpectEverythingStoredOnce();
        bool announced = std::string(kind) == "cmti:SM";
        // The new message on the SIM is read with the SIM, or left for the
        // next run (said so); either way it is not deleted unread.
        int incoming = Count(u"Incoming message");
        if (!announced) {
            EXPECT_TRUE(Engine().m_errors.Empty()) << ErrorsText();
        } else if (incoming == 0) {
            EXPECT_FALSE(SlotIndexes("SM").empty());
        }
        EXPECT_LE(incoming, 1);
        EXPECT_EQ(SlotIndexes("ME"), (std::vector<int>{6}));
    }
}

// A stray final result code before the answer of a slot read makes the slot
// look empty and the following answers come one late: nothing unread may be
// deleted, nothing stored twice, and the run must not say it finished.
TEST_F(ListingTest, StrayResultBeforeASlotReadDeletesNothingUnread) {
    const char* strays[] = {"0D0A4F4B0D0A", "0D0A4552524F520D0A",
                            "0D0A2B434D53204552524F523A203530300D0A"};
    for (bool echo : {false, true}) {
        for (const char* stray : strays) {
            SCOPED_TRACE(std::string(stray) + (echo ? " echo" : " no echo"));
            TearDown();
            SetUp();
            engine_.reset();
            Preload();
            state_["echo"] = echo;
            // The reply to AT+CMGR=2 (the first unread message).
            StartPhone(
                {"--cmgl", "error", "--garbage", std::to_string(kSession + 4) + ":" + stray});
            Sync();
            EXPECT_FALSE(Engine().m_errors.Empty()) << "the run said it finished";
            nlohmann::json phone = PhoneState();
            // Each message is in the store or still on the phone; an unread
            // one that left the phone is stored unread.
            for (const char16_t* text : {u"First unread", u"Second unread", u"Unread on the SIM"})
                EXPECT_LE(Count(text), 1);
            std::vector<int> me = SlotIndexes("ME");
            bool first_on_phone = std::find(me.begin(), me.end(), 2) != me.end();
            if (!first_on_phone) {
                EXPECT_EQ(StateOf(u"First unread"), STATE_UNREAD);
            }
            bool second_on_phone = std::find(me.begin(), me.end(), 9) != me.end();
            if (!second_on_phone) {
                EXPECT_EQ(StateOf(u"Second unread"), STATE_UNREAD);
            }
            EXPECT_NE(std::find(me.begin(), me.end(), 6), me.end()) << "draft deleted";

            // A clean run afterwards: every message once.
            phone_->Stop();
            state_ = phone;
            StartPhone({"--cmgl", "error"});
            Sync();
            EXPECT_EQ(Count(u"First unread"), 1);
            EXPECT_EQ(Count(u"Second unread"), 1);
            EXPECT_EQ(Count(u"Read already"), 1);
            EXPECT_EQ(Count(u"On the SIM"), 1);
            EXPECT_EQ(Count(u"Unread on the SIM"), 1);
        }
    }
}

// A stray result code before the answer of a storage selection, when the
// storage is read and when it is selected for the deletion: the selection is
// asked again, and the run reads and deletes everything.
TEST_F(ListingTest, StrayResultBeforeAStorageSelectionIsAskedAgain) {
    // AT+CPMS="ME" to read, and again to delete.
    for (int command : {kSession + 1, kSession + 5}) {
        for (const char* stray : {"0D0A4F4B0D0A", "0D0A2B434D53204552524F523A203530300D0A"}) {
            SCOPED_TRACE(std::to_string(command) + " " + stray);
            TearDown();
            SetUp();
            engine_.reset();
            Preload();
            StartPhone({"--garbage", std::to_string(command) + ":" + stray});
            Sync();
            EXPECT_TRUE(Engine().m_errors.Empty()) << ErrorsText();
            ExpectEverythingStoredOnce();
            EXPECT_EQ(SlotIndexes("ME"), (std::vector<int>{6}));
            EXPECT_TRUE(SlotIndexes("SM").empty());
        }
    }
}

// Each message is stored the moment it is read: a run that loses the phone
// half-way keeps what the phone has marked read, unread.
TEST_F(ListingTest, MessagesReadBeforeTheLineWentAreStoredUnread) {
    Preload();
    // Slot by slot; the line goes at AT+CMGR=7, after slots 2 and 5.
    StartPhone({"--cmgl", "error", "--drop", std::to_string(kSession + 2 + 7)});
    Sync();
    EXPECT_TRUE(Engine().m_errors.Contains(IDS_COMM_ERROR)) << ErrorsText();
    EXPECT_EQ(Count(u"First unread"), 1);
    EXPECT_EQ(StateOf(u"First unread"), STATE_UNREAD);
    EXPECT_EQ(Count(u"Read already"), 1);
    CMessageStore reloaded(dir_);
    ASSERT_EQ(reloaded.LoadMessages(), StoreResult::kOk);
    EXPECT_EQ(reloaded.Count(), 2u);
}

// A listing marks every message it lists read on the phone. The unread ones
// are noted on disk first: a run that ends before it has stored them (killed)
// leaves the note, and the next run stores them unread although the phone
// now calls them read.
TEST_F(ListingTest, MessagesListedUnreadByARunThatEndedAreStoredUnread) {
    Preload();
    // The line goes at the SIM's selection, after the phone memory's listing.
    StartPhone({"--drop", std::to_string(kSession + 3)});
    Sync();
    EXPECT_TRUE(Engine().m_errors.Contains(IDS_COMM_ERROR)) << ErrorsText();
    std::string note;
    ASSERT_TRUE(platform::ReadFileBytes(UnreadJournal::PathIn(dir_), &note));
    EXPECT_EQ(note, "ME " + DeliverPdu("+491701111111", "First unread") + "\nME " +
                        DeliverPdu("+491704444444", "Second unread") + "\n");
    nlohmann::json phone = PhoneState();
    for (const auto& slot : phone["sms"]["storages"]["ME"]["slots"])
        ASSERT_NE(slot["status"], 0) << "the listing left an unread message";

    // The same phone and note with a store that holds nothing of it: a run
    // killed after the listing came, before it stored a message.
    TearDown();
    SetUp();
    engine_.reset();
    ASSERT_TRUE(platform::WriteFileAtomic(UnreadJournal::PathIn(dir_), note));
    state_ = phone;
    settings_.m_bDeleteAfterSync = 1;
    StartPhone();
    Sync();
    EXPECT_TRUE(Engine().m_errors.Empty()) << ErrorsText();
    EXPECT_EQ(StateOf(u"First unread"), STATE_UNREAD);
    EXPECT_EQ(StateOf(u"Second unread"), STATE_UNREAD);
    EXPECT_EQ(StateOf(u"Read already"), STATE_READ);
    EXPECT_EQ(StateOf(u"Unread on the SIM"), STATE_UNREAD);
    // Everything is stored: the note is gone.
    EXPECT_FALSE(std::filesystem::exists(UnreadJournal::PathIn(dir_)));
}

TEST_F(ListingTest, RepeatedTextInAReusedSlotIsNewAndSurvivesDeletingTheOld) {
    state_["sms"]["storages"]["ME"] =
        StorageJson(10, {{3, 1, DeliverPdu("+491701111111", "OK", "240315103000")}});
    StartPhone();
    Sync();
    ASSERT_EQ(Count(u"OK"), 1);
    CSmsMessage* old = store_->Snapshot()[0];
    phone_->Stop();
    // The user deleted it on the phone; the same sender wrote "OK" again,
    // and it landed in the same slot.
    state_["sms"]["storages"]["ME"] =
        StorageJson(10, {{3, 0, DeliverPdu("+491701111111", "OK", "240316090000")}});
    StartPhone();
    Sync();
    EXPECT_TRUE(Engine().m_errors.Empty()) << ErrorsText();
    EXPECT_EQ(Count(u"OK"), 2);
    EXPECT_EQ(InState(STATE_UNREAD).size(), 1u);

    // Deleting the old record on the phone as well leaves the new message.
    store_->Change(old, [](CSmsMessage& m) { m.m_nState = STATE_PHONE_DELETE; });
    Sync();
    EXPECT_EQ(old->m_nState, STATE_DELETED);
    EXPECT_EQ(SlotIndexes("ME"), (std::vector<int>{3}));
}

TEST_F(ListingTest, DeletionStopsAtTheFirstSlotThePhoneNoLongerAnswers) {
    Preload();
    // Silent for good from the second AT+CMGD of the phone memory on.
    StartPhone({"--silence", std::to_string(kSession + 4 + 1 + 2) + ":0"});
    Sync();
    // Said so, once, with the slots left.
    EXPECT_TRUE(
        Says(Engine().m_errors.Format(IDS_DELETION_STOPPED, {u"ME", u"5", u"no answer", u"4"})))
        << ErrorsText();
    ExpectEverythingStoredOnce();
    // Every record whose slot was not deleted still points at it.
    int attached = 0;
    for (CSmsMessage* m : store_->Snapshot())
        attached += m->m_nStorage != STORAGE_POCKETPC ? 1 : 0;
    EXPECT_EQ(attached, 4);

    // The phone answers again: no duplicates, the rest is deleted.
    nlohmann::json phone = PhoneState();
    phone_->Stop();
    state_ = phone;
    StartPhone();
    Sync();
    EXPECT_TRUE(Engine().m_errors.Empty()) << ErrorsText();
    ExpectEverythingStoredOnce();
    EXPECT_EQ(SlotIndexes("ME"), (std::vector<int>{6}));
    EXPECT_TRUE(SlotIndexes("SM").empty());
}

TEST_F(ListingTest, RefusedDeletionKeepsTheRecordOnItsSlot) {
    Preload();
    // The first AT+CMGD (ME slot 2) is refused.
    StartPhone({"--garbage", std::to_string(kSession + 4 + 2) +
                                 ":0D0A2B434D53204552524F523A203332310D0A:replace"});
    Sync();
    EXPECT_TRUE(Says(Engine().m_errors.Format(
        IDS_SLOT_NOT_DELETED, {u"ME", u"2", u"the phone answered +CMS ERROR: 321"})))
        << ErrorsText();
    CSmsMessage* first = nullptr;
    for (CSmsMessage* m : store_->Snapshot())
        if (m->m_strText == u"First unread")
            first = m;
    ASSERT_TRUE(first);
    EXPECT_EQ(first->m_nStorage, STORAGE_PHONE);
    EXPECT_EQ(first->m_nPhoneIndex, 2);
    // The phone of the fault carried the command out all the same; a phone
    // that refuses keeps the message, and the next run must not store it
    // again.
    nlohmann::json phone = PhoneState();
    phone_->Stop();
    state_ = phone;
    state_["sms"]["storages"]["ME"]["slots"].push_back(
        {{"index", 2}, {"status", 1}, {"pdu", DeliverPdu("+491701111111", "First unread")}});
    settings_.m_bDeleteAfterSync = 0;
    StartPhone();
    Sync();
    EXPECT_TRUE(Engine().m_errors.Empty()) << ErrorsText();
    EXPECT_EQ(Count(u"First unread"), 1);
}

}  // namespace
}  // namespace parlo::testing
