// Message ids: what they survive, what they tell apart, and that an id which
// no longer names one message is refused rather than taken for another.
#include "parlo/store/message_ids.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/text.h"

namespace parlo {
namespace {

using Found = CMessageIds::Found;

CSmsMessage Message(const std::u16string& text, double time = 45000.5,
                    const std::u16string& number = u"+491701234567") {
    return CSmsMessage(STATE_UNREAD, number, text, platform::OleDate{time, 0}, 0, STORAGE_PHONE, 3,
                       0, 0);
}

std::vector<CSmsMessage*> Pointers(std::vector<CSmsMessage>& records) {
    std::vector<CSmsMessage*> out;
    for (CSmsMessage& m : records)
        out.push_back(&m);
    return out;
}

TEST(MessageIds, AnIdSurvivesEverythingButANewVersion) {
    CSmsMessage m = Message(u"hello");
    const uint64_t id = MessageIdentity(m);
    m.m_nState = STATE_IN_FOLDER;
    m.m_nFolderId = 4;
    m.m_bMarked = 1;
    m.m_nStorage = STORAGE_POCKETPC;  // detached from its phone slot
    m.m_nPhoneIndex = -1;
    m.m_nFileOffset = 4096;  // moved by a compaction
    EXPECT_EQ(MessageIdentity(m), id);

    EXPECT_NE(MessageIdentity(Message(u"hello!")), id);
    EXPECT_NE(MessageIdentity(Message(u"hello", 45000.5 + 1.0 / 86400)), id);
    EXPECT_NE(MessageIdentity(Message(u"hello", 45000.5, u"+491701234568")), id);
    // The boundary between number and text counts.
    EXPECT_NE(MessageIdentity(Message(u"bc", 1, u"a")), MessageIdentity(Message(u"c", 1, u"ab")));
}

TEST(MessageIds, ListedIdsResolveToTheirMessagesAndNothingElse) {
    std::vector<CSmsMessage> records = {Message(u"one"), Message(u"two"), Message(u"three")};
    CMessageIds ids(Pointers(records));
    for (CSmsMessage& m : records) {
        const std::string id = ids.IdOf(&m);
        EXPECT_EQ(id.size(), 8u) << id;
        CSmsMessage* found = nullptr;
        ASSERT_EQ(ids.Resolve(id, &found), Found::kOne) << id;
        EXPECT_EQ(found, &m);
        std::string upper = id;
        for (char& c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        ASSERT_EQ(ids.Resolve(upper, &found), Found::kOne);
        EXPECT_EQ(found, &m);
    }
    CSmsMessage* found = nullptr;
    // List positions, as ids once were, and other junk are no ids.
    for (const char* junk : {"1", "#2", "", "0000000g", "1234567", "123456789", "12345678-",
                             "12345678-0", "12345678-x", "+1234567"})
        EXPECT_EQ(ids.Resolve(junk, &found), Found::kMalformed) << junk;

    // Another program purged "two" and compacted: its id names nothing now,
    // and the other ids still name their messages.
    const std::string two = ids.IdOf(&records[1]);
    std::vector<CSmsMessage> after = {records[0], records[2], Message(u"four")};
    CMessageIds later(Pointers(after));
    EXPECT_EQ(later.Resolve(two, &found), Found::kNone);
    ASSERT_EQ(later.Resolve(ids.IdOf(&records[2]), &found), Found::kOne);
    EXPECT_EQ(found->m_strText, u"three");
}

TEST(MessageIds, CollidingShortFormsGetTheFullForm) {
    // Texts whose identities share their upper 32 bits.
    std::unordered_map<uint32_t, int> seen;
    int a = -1, b = -1;
    for (int i = 0; a < 0 && i < 1000000; ++i) {
        const uint64_t id = MessageIdentity(Message(platform::FromUtf8("c" + std::to_string(i))));
        auto [it, fresh] = seen.emplace(static_cast<uint32_t>(id >> 32), i);
        if (!fresh) {
            a = it->second;
            b = i;
        }
    }
    ASSERT_GE(a, 0);
    std::vector<CSmsMessage> records = {Message(platform::FromUtf8("c" + std::to_string(a))),
                                        Message(platform::FromUtf8("c" + std::to_string(b))),
                                        Message(u"other")};
    CMessageIds ids(Pointers(records));
    const std::string first = ids.IdOf(&records[0]), second = ids.IdOf(&records[1]);
    EXPECT_EQ(first.size(), 16u);
    EXPECT_EQ(second.size(), 16u);
    EXPECT_EQ(first.substr(0, 8), second.substr(0, 8));
    EXPECT_EQ(ids.IdOf(&records[2]).size(), 8u);
    CSmsMessage* found = nullptr;
    EXPECT_EQ(ids.Resolve(first.substr(0, 8), &found), Found::kAmbiguous);
    ASSERT_EQ(ids.Resolve(second, &found), Found::kOne);
    EXPECT_EQ(found, &records[1]);
}

TEST(MessageIds, CopiesOfOneMessageAreCountedAndABareIdIsRefused) {
    std::vector<CSmsMessage> records = {Message(u"copy"), Message(u"single"), Message(u"copy"),
                                        Message(u"copy")};
    records[2].m_nStorage = STORAGE_SIM;  // read twice from the phone
    CMessageIds ids(Pointers(records));
    const std::string base = ids.IdOf(&records[0]).substr(0, 8);
    EXPECT_EQ(ids.IdOf(&records[0]), base + "-1");
    EXPECT_EQ(ids.IdOf(&records[2]), base + "-2");
    EXPECT_EQ(ids.IdOf(&records[3]), base + "-3");
    EXPECT_EQ(ids.IdOf(&records[1]).size(), 8u);
    CSmsMessage* found = nullptr;
    EXPECT_EQ(ids.Resolve(base, &found), Found::kAmbiguous);
    ASSERT_EQ(ids.Resolve(base + "-2", &found), Found::kOne);
    EXPECT_EQ(found, &records[2]);
    EXPECT_EQ(ids.Resolve(base + "-4", &found), Found::kNone);
    // A copy counted past the others of its kind is no id of the single one.
    EXPECT_EQ(ids.Resolve(ids.IdOf(&records[1]) + "-1", &found), Found::kOne);
    EXPECT_EQ(ids.Resolve(ids.IdOf(&records[1]) + "-2", &found), Found::kNone);
}

}  // namespace
}  // namespace parlo
