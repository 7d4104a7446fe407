// Concatenated messages read from the simulated phone: every message whole or
// shown incomplete exactly once, and no slot deleted whose part is not stored.
// Every case runs with "delete after synchronisation" off and on.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "parlo/sms/sms_joiner.h"
#include "parlo/sms/tests/engine_fixture.h"
#include "parlo/store/parts_table.h"
#include "platform/testing/faulty_env.h"

namespace parlo::testing {
namespace {

constexpr const char* kFrom = "+491701234567";

std::string Part7(int ref, int total, int seq, const std::string& text,
                  const std::string& stamp = "240315103000", bool ref16 = false) {
    return ConcatDeliverPdu(kFrom, stamp, ref, ref16, total, seq, PDU_ALPHABET_GSM7, text);
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

class ConcatSyncTest : public EngineTest, public ::testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        settings_.m_bDeleteAfterSync = GetParam() ? 1 : 0;
    }
    bool DeleteAfter() const { return GetParam(); }

    // The records shown anywhere (not purged) whose text contains `piece`.
    std::vector<CSmsMessage*> With(const std::u16string& piece) const {
        std::vector<CSmsMessage*> out;
        for (CSmsMessage* m : store_->Snapshot()) {
            if (m->m_nState != STATE_PURGED && m->m_strText.find(piece) != std::u16string::npos)
                out.push_back(m);
        }
        return out;
    }
    // The one record holding `piece`; fails the test unless there is exactly one.
    CSmsMessage* One(const std::u16string& piece) const {
        std::vector<CSmsMessage*> v = With(piece);
        EXPECT_EQ(v.size(), 1u) << platform::ToUtf8(piece);
        return v.empty() ? nullptr : v[0];
    }
    void Sync() { Engine().m_sync.SynchronizeMessages(); }
    // A program started afresh on the same files.
    void Restart() {
        engine_.reset();
        store_ = std::make_unique<CMessageStore>(dir_);
        ASSERT_EQ(store_->LoadMessages(), StoreResult::kOk);
    }
    size_t Slots() const { return SlotIndexes("ME").size() + SlotIndexes("SM").size(); }
    // The phone keeps what it had (delete off) or nothing (delete on).
    void ExpectSlots(size_t held) const { EXPECT_EQ(Slots(), DeleteAfter() ? 0u : held); }
};

TEST_P(ConcatSyncTest, PartsInReverseOrderAcrossPhoneAndSimJoinOnce) {
    state_["sms"]["storages"]["ME"] = StorageJson(
        10, {{1, 0, Part7(9, 3, 3, "and the end.")}, {5, 1, Part7(9, 3, 1, "The start, ")}});
    state_["sms"]["storages"]["SM"] = StorageJson(5, {{1, 0, Part7(9, 3, 2, "the middle ")}});
    StartPhone();
    Sync();
    EXPECT_TRUE(Engine().m_errors.Empty()) << platform::ToUtf8(Engine().m_errors.Text());
    CSmsMessage* m = One(u"The start, the middle and the end.");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->m_strText, u"The start, the middle and the end.");
    EXPECT_EQ(m->m_nState, STATE_UNREAD);
    EXPECT_EQ(m->m_strNumber, u"+491701234567");
    EXPECT_EQ(store_->Count(), 1u);
    ExpectSlots(3);
    // Again, and from a program started afresh: nothing new.
    Sync();
    Restart();
    Sync();
    EXPECT_EQ(store_->Count(), 1u);
    One(u"The start, the middle and the end.");
}

TEST_P(ConcatSyncTest, AMissingPartCompletesTheSameRecordSyncsLater) {
    for (int later = 1; later <= 3; ++later) {
        SCOPED_TRACE(later);
        TearDown();
        SetUp();
        state_["sms"]["storages"]["ME"] =
            StorageJson(10, {{2, 1, Part7(4, 3, 1, "One, ")}, {3, 1, Part7(4, 3, 3, "three.")}});
        StartPhone();
        Sync();
        CSmsMessage* m = One(u"One, [part 2 of 3 not received yet]three.");
        ASSERT_TRUE(m);
        EXPECT_EQ(m->m_nState, STATE_READ);
        for (int i = 1; i < later; ++i) {
            Restart();
            Sync();
            m = One(u"[part 2 of 3 not received yet]");
        }
        ASSERT_TRUE(m);
        ASSERT_GT(phone_->AddIncoming("SM", Part7(4, 3, 2, "two, "), true), 0);
        Sync();
        EXPECT_EQ(store_->Count(), 1u);
        CSmsMessage* whole = One(u"One, two, three.");
        EXPECT_EQ(whole, m) << "completed in place";
        ASSERT_TRUE(whole);
        EXPECT_EQ(whole->m_nState, STATE_UNREAD) << "the new part was unread";
        ExpectSlots(3);
        Restart();
        Sync();
        EXPECT_EQ(store_->Count(), 1u);
        One(u"One, two, three.");
    }
}

TEST_P(ConcatSyncTest, DuplicatedPartReferenceReusedADayLaterAndSixteenBitReference) {
    state_["sms"]["storages"]["ME"] =
        StorageJson(10, {{1, 1, Part7(7, 2, 1, "Monday ")},
                         {2, 1, Part7(7, 2, 2, "news")},
                         {3, 1, Part7(7, 2, 2, "news")},  // the same part twice
                         {4, 1, Part7(7, 2, 1, "Tuesday ", "240316103000")},
                         {5, 1, Part7(7, 2, 2, "again", "240316103005")},
                         {6, 1, Part7(7, 2, 2, " bits", "240315103000", true)},
                         {7, 1, Part7(7, 2, 1, "Sixteen", "240315103000", true)}});
    StartPhone();
    Sync();
    EXPECT_EQ(store_->Count(), 3u);
    One(u"Monday news");
    One(u"Tuesday again");
    One(u"Sixteen bits");
    ExpectSlots(7);
    Sync();
    EXPECT_EQ(store_->Count(), 3u);
}

TEST_P(ConcatSyncTest, Ucs2PartsWithASurrogatePairCutBetweenThem) {
    const std::u16string text = u"Gr\u00FC\u00DFe \U0001F600 und \u20AC";
    const std::u16string first = text.substr(0, 7);  // ends with the high surrogate
    ASSERT_EQ(first.back() & 0xFC00, 0xD800);
    state_["sms"]["storages"]["SM"] =
        StorageJson(5, {{1, 0,
                         ConcatDeliverPdu(kFrom, "240315103000", 200, false, 2, 2,
                                          PDU_ALPHABET_UCS2, Ucs2Octets(text.substr(7)))},
                        {2, 0,
                         ConcatDeliverPdu(kFrom, "240315103000", 200, false, 2, 1,
                                          PDU_ALPHABET_UCS2, Ucs2Octets(first))}});
    StartPhone();
    Sync();
    EXPECT_EQ(store_->Count(), 1u);
    CSmsMessage* m = One(u"Gr\u00FC\u00DFe");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->m_strText, text);
    ExpectSlots(2);
}

TEST_P(ConcatSyncTest, AMessageOf255Parts) {
    std::vector<Slot> slots;
    std::u16string expected;
    for (int seq = 1; seq <= 255; ++seq) {
        std::string piece = "<" + std::to_string(seq) + ">";
        expected += platform::WidenBytes(piece);
        // In reverse order through the phone memory.
        slots.push_back({256 - seq, seq % 2, Part7(77, 255, seq, piece)});
    }
    state_["sms"]["storages"]["ME"] = StorageJson(260, slots);
    StartPhone();
    Sync();
    EXPECT_EQ(store_->Count(), 1u);
    CSmsMessage* m = One(u"<1><2><3>");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->m_strText, expected);
    ExpectSlots(255);
}

TEST_P(ConcatSyncTest, PartsSentFromThePhoneJoinIntoSentMessages) {
    const std::u16string text(200, u'x');
    CSmsPlan plan = PlanSms(text + u"yz", true);
    ASSERT_EQ(plan.Count(), 2u);
    std::string p1, p2;
    ASSERT_GT(BuildPartPdu(&p1, plan, text + u"yz", 0, "+491709999999", "", false, 33), 0);
    ASSERT_GT(BuildPartPdu(&p2, plan, text + u"yz", 1, "+491709999999", "", false, 33), 0);
    state_["sms"]["storages"]["ME"] = StorageJson(10, {{4, 3, p2}, {6, 3, p1}});
    StartPhone();
    Sync();
    ASSERT_EQ(store_->Count(), 1u);
    CSmsMessage* m = One(text + u"yz");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->m_nState, STATE_PHONE_SENT);
    EXPECT_EQ(m->m_strNumber, u"+491709999999");
    ExpectSlots(2);
}

// A run cut short after any number of writes (the disk stops taking them, as
// when the program is killed), then a run from a program started afresh:
// first for a new message, then for the run that completes it.
TEST_P(ConcatSyncTest, ARunCutShortAfterAnyWriteLosesAndDuplicatesNothing) {
    state_["sms"]["storages"]["ME"] =
        StorageJson(10, {{1, 0, Part7(5, 3, 3, "gamma")}, {2, 1, Part7(5, 3, 1, "alpha ")}});
    StartPhone();
    const nlohmann::json phone_before = PhoneState();
    nlohmann::json phone_then = phone_before;
    phone_then["sms"]["storages"]["SM"]["slots"].push_back(
        {{"index", 3}, {"status", 0}, {"pdu", Part7(5, 3, 2, "beta ")}});
    const std::vector<std::string> files = {"vok.sms", "vok.sms.lock", "vok.parts",
                                            "vok.parts.old"};
    std::map<std::string, std::string> incomplete;  // the files after the first run

    for (bool completing : {false, true}) {
        bool crashed = true;
        for (int writes = 0; crashed; ++writes) {
            SCOPED_TRACE(std::string(completing ? "completing" : "new") + " write " +
                         std::to_string(writes));
            ASSERT_LT(writes, 100);
            // The starting point: the empty installation, or the one holding
            // the incomplete message, and the phone as it was then.
            engine_.reset();
            for (const std::string& f : files) {
                std::filesystem::remove(dir_ / f);
                if (completing && incomplete.count(f))
                    WriteFile(dir_ / f, incomplete[f]);
            }
            Restart();
            ASSERT_TRUE(
                phonesim::testing::WriteState(StatePath(), completing ? phone_then : phone_before));
            ASSERT_TRUE(phone_->Reload());
            {
                platform::testing::FaultyEnv env;
                env.CrashAfter(writes);
                Sync();
                crashed = env.crashed();
            }
            Restart();
            Sync();
            const std::u16string want =
                completing ? u"alpha beta gamma" : u"alpha [part 2 of 3 not received yet]gamma";
            EXPECT_EQ(store_->Count(), 1u);
            EXPECT_TRUE(With(completing ? u"not received" : u"beta").empty());
            CSmsMessage* m = One(want);
            if (m) {
                // (Reading a slot marks it read on the phone: the state may
                // be either after a run cut short.)
                EXPECT_EQ(m->m_strText, want);
            }
            ExpectSlots(completing ? 3 : 2);
            if (!completing && !crashed) {
                for (const std::string& f : files) {
                    if (std::filesystem::exists(dir_ / f))
                        incomplete[f] = ReadFile(dir_ / f);
                }
                // The phone loses the slots this run deleted.
                phone_then = PhoneState();
                phone_then["sms"]["storages"]["SM"]["slots"].push_back(
                    {{"index", 3}, {"status", 0}, {"pdu", Part7(5, 3, 2, "beta ")}});
            }
        }
    }
}

// Another program moves or deletes the incomplete message before the run
// that completes it writes: the message stays where that program put it.
TEST_P(ConcatSyncTest, AnotherProgramMovesOrDeletesTheIncompleteMessage) {
    for (int32_t other : {STATE_IN_FOLDER, STATE_DELETED, STATE_PURGED}) {
        SCOPED_TRACE(other);
        TearDown();
        SetUp();
        state_["sms"]["storages"]["ME"] = StorageJson(10, {{1, 1, Part7(6, 2, 1, "Half ")}});
        StartPhone();
        Sync();
        ASSERT_TRUE(One(u"Half [part 2 of 2"));
        {
            CMessageStore elsewhere(dir_);
            ASSERT_EQ(elsewhere.LoadMessages(), StoreResult::kOk);
            CSmsMessage* rec = elsewhere.At(0);
            ASSERT_EQ(elsewhere.Change(rec,
                                       [&](CSmsMessage& m) {
                                           m.m_nState = other;
                                           m.m_nFolderId = other == STATE_IN_FOLDER ? 5 : 0;
                                       }),
                      StoreResult::kOk);
            if (other == STATE_PURGED) {
                ASSERT_EQ(elsewhere.CompactStore(), StoreResult::kOk);
            }
        }
        ASSERT_GT(phone_->AddIncoming("ME", Part7(6, 2, 2, "full."), true), 0);
        Sync();
        CSmsMessage* m = One(u"Half full.");
        ASSERT_TRUE(m);
        EXPECT_EQ(m->m_nState, other == STATE_PURGED ? STATE_UNREAD : other);
        Restart();
        One(u"Half full.");
        EXPECT_TRUE(With(u"not received yet").empty());
        ExpectSlots(2);
    }
}

TEST_P(ConcatSyncTest, DeletingAJoinedMessageOnThePhoneDeletesEveryPart) {
    state_["sms"]["storages"]["ME"] =
        StorageJson(10, {{1, 1, Part7(8, 2, 2, "there")}, {2, 1, Part7(8, 2, 1, "Hello ")}});
    state_["sms"]["storages"]["SM"] =
        StorageJson(5, {{4, 1, DeliverPdu("+491700000000", "Single")}});
    settings_.m_bDeleteAfterSync = 0;
    StartPhone();
    Sync();
    CSmsMessage* m = One(u"Hello there");
    ASSERT_TRUE(m);
    auto order = std::make_unique<CSmsMessage>(*m);
    order->m_nState = STATE_PHONE_DELETE;
    order->m_nFileOffset = -1;
    store_->Add(std::move(order));
    Sync();
    EXPECT_TRUE(SlotIndexes("ME").empty());
    EXPECT_EQ(SlotIndexes("SM"), (std::vector<int>{4}));
    EXPECT_EQ(InState(STATE_DELETED).size(), 1u);
    // The run does not read the deleted parts back.
    EXPECT_EQ(With(u"Hello there").size(), 2u);  // the Inbox copy and the deleted order
}

// The phone makes the parts itself: two arrive first (+CMTI each), the
// missing one later on the SIM.
TEST_P(ConcatSyncTest, PartsThePhoneAnnouncesOneByOne) {
    std::string text;
    for (int i = 0; text.size() < 400; ++i)
        text += "word" + std::to_string(i) + " ";
    text += "end";
    StartPhone();
    EXPECT_EQ(phone_->Control("long ME +491701234567 42 3,1 " + text).substr(0, 3), "OK ");
    Sync();
    CSmsMessage* m = One(u"[part 2 of 3 not received yet]");
    ASSERT_TRUE(m);
    EXPECT_EQ(phone_->Control("long SM +491701234567 42 2 " + text).substr(0, 3), "OK ");
    Sync();
    EXPECT_EQ(store_->Count(), 1u);
    EXPECT_EQ(One(platform::WidenBytes(text)), m);
    ExpectSlots(3);
}

// Parts that the phone hands over on the line ("+CMT:", stored nowhere on
// the phone) join the parts read from its slots, in this run or a later one.
TEST_P(ConcatSyncTest, PartsDeliveredOnTheLineJoinLikeStoredParts) {
    auto cmt = [](const std::string& pdu_hex) {
        // The TPDU length leaves out the service centre address.
        const int smsc = std::stoi(pdu_hex.substr(0, 2), nullptr, 16);
        const int length = static_cast<int>(pdu_hex.size() / 2) - 1 - smsc;
        return "line:+CMT: ," + std::to_string(length) + "\\r\\n" + pdu_hex;
    };
    state_["sms"]["storages"]["ME"] = StorageJson(10, {{3, 1, Part7(12, 3, 2, "second, ")}});
    // Part 3 arrives during the identification, part 1 during the reading.
    StartPhone({"--unsolicited", "3:before:" + cmt(Part7(12, 3, 3, "third.")), "--unsolicited",
                "9:after:" + cmt(Part7(12, 3, 1, "First, "))});
    Sync();
    EXPECT_TRUE(Engine().m_errors.Empty()) << platform::ToUtf8(Engine().m_errors.Text());
    EXPECT_EQ(store_->Count(), 1u);
    CSmsMessage* m = One(u"First, second, third.");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->m_nState, STATE_UNREAD);
    ExpectSlots(1);
    Restart();
    Sync();
    EXPECT_EQ(store_->Count(), 1u);
    One(u"First, second, third.");
}

TEST_P(ConcatSyncTest, APartDeliveredOnTheLineIsCompletedFromASlotLater) {
    auto cmt = [](const std::string& pdu_hex) {
        const int smsc = std::stoi(pdu_hex.substr(0, 2), nullptr, 16);
        return "line:+CMT: ," + std::to_string(pdu_hex.size() / 2 - 1 - smsc) + "\\r\\n" + pdu_hex;
    };
    StartPhone({"--unsolicited", "4:after:" + cmt(Part7(13, 2, 2, "later."))});
    Sync();
    CSmsMessage* m = One(u"[part 1 of 2 not received yet]later.");
    ASSERT_TRUE(m);
    ASSERT_GT(phone_->AddIncoming("SM", Part7(13, 2, 1, "Sooner or "), true), 0);
    Restart();
    Sync();
    EXPECT_EQ(store_->Count(), 1u);
    One(u"Sooner or later.");
    ExpectSlots(1);
}

// The parts table keeps what a later run needs: parts still on the phone and
// messages still incomplete. A whole message whose parts are all gone from
// the phone, and a message whose record was purged, are dropped.
TEST_P(ConcatSyncTest, TheTableDropsMessagesItNoLongerNeeds) {
    state_["sms"]["storages"]["ME"] = StorageJson(10, {{1, 1, Part7(20, 2, 1, "Whole ")},
                                                       {2, 1, Part7(20, 2, 2, "message")},
                                                       {3, 1, Part7(21, 2, 1, "Half ")},
                                                       {4, 1, Part7(22, 2, 2, "purged")}});
    StartPhone();
    Sync();
    ASSERT_EQ(store_->Count(), 3u);
    auto groups = [&] {
        CPartsFile file;
        EXPECT_EQ(CPartsTable(dir_).Load(&file), PartsResult::kOk);
        std::set<int32_t> refs;
        for (const CPartGroup& g : file.m_groups)
            refs.insert(g.m_nRef);
        return refs;
    };
    // Deleted on the phone after the run: its parts are gone.
    EXPECT_EQ(groups(),
              DeleteAfter() ? (std::set<int32_t>{21, 22}) : (std::set<int32_t>{20, 21, 22}));

    // Another program empties the Recycle Bin holding the third message, and
    // the phone loses its part.
    {
        CMessageStore elsewhere(dir_);
        ASSERT_EQ(elsewhere.LoadMessages(), StoreResult::kOk);
        for (CSmsMessage* rec : elsewhere.Snapshot()) {
            if (rec->m_strText.find(u"purged") != std::u16string::npos) {
                ASSERT_EQ(elsewhere.Change(rec, [](CSmsMessage& m) { m.m_nState = STATE_DELETED; }),
                          StoreResult::kOk);
            }
        }
        ASSERT_EQ(elsewhere.PurgeAndCompact(STATE_DELETED, -1), StoreResult::kOk);
    }
    nlohmann::json phone = PhoneState();
    nlohmann::json kept = nlohmann::json::array();
    for (const auto& slot : phone["sms"]["storages"]["ME"]["slots"]) {
        if (slot["index"].get<int>() != 4)
            kept.push_back(slot);
    }
    phone["sms"]["storages"]["ME"]["slots"] = kept;
    ASSERT_TRUE(phonesim::testing::WriteState(StatePath(), phone));
    ASSERT_TRUE(phone_->Reload());
    Restart();
    Sync();
    EXPECT_EQ(groups(), DeleteAfter() ? (std::set<int32_t>{21}) : (std::set<int32_t>{20, 21}));
    EXPECT_TRUE(With(u"purged").empty());
    One(u"Whole message");
    One(u"Half [part 2 of 2 not received yet]");

    // The missing part comes: the message is whole, and then, once its
    // parts are off the phone, no longer in the table.
    ASSERT_GT(phone_->AddIncoming("SM", Part7(21, 2, 2, "full"), true), 0);
    Sync();
    One(u"Half full");
    EXPECT_EQ(groups(), DeleteAfter() ? (std::set<int32_t>{}) : (std::set<int32_t>{20, 21}));
}

INSTANTIATE_TEST_SUITE_P(DeleteAfterSync, ConcatSyncTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "DeleteOn" : "DeleteOff";
                         });

}  // namespace
}  // namespace parlo::testing
