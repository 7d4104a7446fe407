// Joining the parts of concatenated messages: grouping, order, gaps, codings.
#include "parlo/sms/sms_joiner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "parlo/sms/pdu_codec.h"
#include "parlo/sms/tests/pdu_build.h"
#include "parlo/store/sms_message.h"

namespace parlo {
namespace {

constexpr double kHour = 1.0 / 24;
constexpr double kDay0 = 46000.5;  // an OLE date

CReadPart Part(int seq, int total, const std::u16string& text, int slot, double time = kDay0,
               int ref = 7, const std::u16string& from = u"+4917011", bool ref16 = false) {
    CReadPart p;
    p.m_strNumber = from;
    p.m_nRef = ref;
    p.m_bRef16 = ref16;
    p.m_nTotal = total;
    p.m_part.m_nSeq = seq;
    p.m_part.m_nStorage = STORAGE_PHONE;
    p.m_part.m_nSlot = slot;
    p.m_part.m_nState = STATE_UNREAD;
    p.m_part.m_time = time;
    p.m_part.m_strText = text;
    return p;
}

TEST(SmsJoinerTest, PartsJoinInPartOrderWithCopiesKeptOnceAndGapsMarked) {
    CPartsFile file;
    CPartJoiner joiner(&file);
    CJoinResult r3 = joiner.Add(Part(3, 3, u"and the end.", 1));
    EXPECT_TRUE(r3.m_bNewGroup);
    ASSERT_EQ(file.m_groups.size(), 1u);
    EXPECT_EQ(JoinedText(file.m_groups[0]),
              u"[part 1 of 3 not received yet][part 2 of 3 not received yet]and the end.");
    CJoinResult r1 = joiner.Add(Part(1, 3, u"  The start, ", 2));
    EXPECT_EQ(r1.m_nGroup, r3.m_nGroup);
    EXPECT_EQ(r1.m_fate, PartFate::kAdded);
    EXPECT_EQ(JoinedText(file.m_groups[0]),
              u"The start, [part 2 of 3 not received yet]and the end.");
    EXPECT_FALSE(file.m_groups[0].Complete());

    // Read again from its slot: known. The same part in another slot: a copy.
    EXPECT_EQ(joiner.Add(Part(1, 3, u"  The start, ", 2)).m_fate, PartFate::kKnown);
    EXPECT_EQ(joiner.Add(Part(1, 3, u"  The start, ", 9)).m_fate, PartFate::kCopy);
    EXPECT_EQ(joiner.Add(Part(2, 3, u"the middle\n", 4)).m_fate, PartFate::kAdded);
    ASSERT_EQ(file.m_groups.size(), 1u);
    EXPECT_TRUE(file.m_groups[0].Complete());
    EXPECT_EQ(file.m_groups[0].Received(), 3);
    EXPECT_EQ(file.m_groups[0].m_parts.size(), 4u);
    // Seams keep their blanks; line feeds become CR LF; the ends are trimmed.
    EXPECT_EQ(JoinedText(file.m_groups[0]), u"The start, the middle\r\nand the end.");
}

TEST(SmsJoinerTest, ReferenceReusedLaterOrWithOtherTextStartsANewMessage) {
    CPartsFile file;
    CPartJoiner joiner(&file);
    uint32_t first = joiner.Add(Part(1, 2, u"Monday ", 1)).m_nGroup;
    // Within the window: the same message.
    EXPECT_EQ(joiner.Add(Part(2, 2, u"part two", 2, kDay0 + 2 * kHour)).m_nGroup, first);
    // A day later the sender numbers a new message with the same reference.
    CJoinResult later = joiner.Add(Part(1, 2, u"Tuesday ", 3, kDay0 + 1));
    EXPECT_TRUE(later.m_bNewGroup);
    EXPECT_NE(later.m_nGroup, first);
    // Its second part joins the new message, not the old one.
    EXPECT_EQ(joiner.Add(Part(2, 2, u"again", 4, kDay0 + 1 + kHour)).m_nGroup, later.m_nGroup);
    // The same reference within the window, but a held part number with
    // another text: another message.
    CJoinResult clash = joiner.Add(Part(1, 2, u"Other ", 5, kDay0 + 1 + kHour));
    EXPECT_TRUE(clash.m_bNewGroup);
    ASSERT_EQ(file.m_groups.size(), 3u);
    EXPECT_EQ(JoinedText(file.m_groups[0]), u"Monday part two");
    EXPECT_EQ(JoinedText(file.m_groups[1]), u"Tuesday again");
}

TEST(SmsJoinerTest, SenderReferenceWidthCountAndDirectionKeepMessagesApart) {
    CPartsFile file;
    CPartJoiner joiner(&file);
    uint32_t a = joiner.Add(Part(1, 2, u"a", 1)).m_nGroup;
    EXPECT_NE(joiner.Add(Part(2, 2, u"b", 2, kDay0, 7, u"+4917022")).m_nGroup, a);
    EXPECT_NE(joiner.Add(Part(2, 2, u"c", 3, kDay0, 7, u"+4917011", true)).m_nGroup, a);
    EXPECT_NE(joiner.Add(Part(2, 3, u"d", 4)).m_nGroup, a);
    EXPECT_NE(joiner.Add(Part(2, 2, u"e", 5, kDay0, 8)).m_nGroup, a);
    CReadPart sent = Part(2, 2, u"f", 6);
    sent.m_bSent = true;
    EXPECT_NE(joiner.Add(sent).m_nGroup, a);
    EXPECT_EQ(joiner.Add(Part(2, 2, u"g", 7)).m_nGroup, a);
    EXPECT_EQ(file.m_groups.size(), 6u);
}

TEST(SmsJoinerTest, ExistingGroupsAreCompletedAcrossRuns) {
    CPartsFile file;
    {
        CPartJoiner joiner(&file);
        joiner.Add(Part(2, 2, u"world", 3));
    }
    CPartsFile copy;
    ASSERT_TRUE(ParsePartsFile(SerialisePartsFile(file), &copy));
    CPartJoiner joiner(&copy);
    EXPECT_EQ(joiner.Add(Part(2, 2, u"world", 3)).m_fate, PartFate::kKnown);
    CJoinResult r = joiner.Add(Part(1, 2, u"Hello ", 1, kDay0 - kHour));
    EXPECT_FALSE(r.m_bNewGroup);
    EXPECT_EQ(JoinedText(copy.m_groups[0]), u"Hello world");
    EXPECT_EQ(GroupState(copy.m_groups[0]), STATE_UNREAD);
    for (CStoredPart& p : copy.m_groups[0].m_parts)
        p.m_nState = STATE_READ;
    EXPECT_EQ(GroupState(copy.m_groups[0]), STATE_READ);
    copy.m_groups[0].m_priorTexts.push_back(u"[part 1 of 2 not received yet]world");
    EXPECT_TRUE(IsGroupText(copy.m_groups[0], u"Hello world"));
    EXPECT_TRUE(IsGroupText(copy.m_groups[0], u"[part 1 of 2 not received yet]world"));
    EXPECT_FALSE(IsGroupText(copy.m_groups[0], u"world"));
}

// Parses a built PDU and joins it.
CReadPart FromPdu(const std::string& hex, int slot) {
    CPduMessage msg;
    EXPECT_GE(CPduCodec::ParsePdu(hex, &msg), 0) << hex;
    CReadPart p;
    EXPECT_TRUE(PartFromPdu(msg, &p)) << hex;
    p.m_part.m_nStorage = STORAGE_SIM;
    p.m_part.m_nSlot = slot;
    p.m_part.m_time = kDay0;
    return p;
}

TEST(SmsJoinerTest, EveryCodingJoinsFromThePdus) {
    using testing::ConcatDeliverPdu;
    CPartsFile file;
    CPartJoiner joiner(&file);
    // 7-bit after an 8-bit and a 16-bit header: the fill bits differ. Code 0
    // is '@'.
    joiner.Add(FromPdu(ConcatDeliverPdu("+4917011", "240315103000", 0x12, false, 2, 2,
                                        PDU_ALPHABET_GSM7, std::string("ld \0 7", 6)),
                       1));
    joiner.Add(FromPdu(ConcatDeliverPdu("+4917011", "240315103000", 0x12, false, 2, 1,
                                        PDU_ALPHABET_GSM7, "Hello wor"),
                       2));
    joiner.Add(FromPdu(ConcatDeliverPdu("+4917011", "240315103000", 0x1234, true, 2, 1,
                                        PDU_ALPHABET_GSM7, "Sixteen "),
                       3));
    joiner.Add(FromPdu(
        ConcatDeliverPdu("+4917011", "240315103000", 0x1234, true, 2, 2, PDU_ALPHABET_GSM7, "bit"),
        4));
    // UCS2 with a surrogate pair (U+1F600) cut between the parts.
    const std::u16string smile = u"Hi \U0001F600!";
    joiner.Add(FromPdu(ConcatDeliverPdu("+4917011", "240315103000", 3, false, 2, 2,
                                        PDU_ALPHABET_UCS2, testing::Ucs2Octets(smile.substr(4))),
                       5));
    joiner.Add(FromPdu(ConcatDeliverPdu("+4917011", "240315103000", 3, false, 2, 1,
                                        PDU_ALPHABET_UCS2, testing::Ucs2Octets(smile.substr(0, 4))),
                       6));
    // 8-bit data.
    joiner.Add(FromPdu(
        ConcatDeliverPdu("+4917011", "240315103000", 4, false, 2, 1, PDU_ALPHABET_8BIT, "ab"), 7));
    joiner.Add(FromPdu(
        ConcatDeliverPdu("+4917011", "240315103000", 4, false, 2, 2, PDU_ALPHABET_8BIT, "\xE9z"),
        8));
    ASSERT_EQ(file.m_groups.size(), 4u);
    EXPECT_EQ(JoinedText(file.m_groups[0]), u"Hello world @ 7");
    EXPECT_EQ(JoinedText(file.m_groups[1]), u"Sixteen bit");
    EXPECT_TRUE(file.m_groups[1].m_bRef16);
    EXPECT_EQ(file.m_groups[1].m_nRef, 0x1234);
    EXPECT_EQ(JoinedText(file.m_groups[2]), smile);
    EXPECT_EQ(JoinedText(file.m_groups[3]), u"ab\u00E9z");
}

TEST(SmsJoinerTest, PduWithoutConcatenationOrWithOnePartIsNoPart) {
    CPduMessage msg;
    ASSERT_GE(CPduCodec::ParsePdu(testing::DeliverPdu("+4917011", "plain"), &msg), 0);
    CReadPart p;
    EXPECT_FALSE(PartFromPdu(msg, &p));
    ASSERT_GE(CPduCodec::ParsePdu(testing::ConcatDeliverPdu("+4917011", "240315103000", 1, false, 1,
                                                            1, PDU_ALPHABET_GSM7, "one"),
                                  &msg),
              0);
    EXPECT_FALSE(PartFromPdu(msg, &p));
}

TEST(SmsJoinerTest, AMessageOf255PartsJoinsInAnyOrder) {
    std::vector<int> order(255);
    for (int i = 0; i < 255; ++i)
        order[i] = i + 1;
    std::shuffle(order.begin(), order.end(), std::mt19937(29));
    CPartsFile file;
    CPartJoiner joiner(&file);
    for (int seq : order) {
        if (seq != 100)
            joiner.Add(
                Part(seq, 255, u"<" + std::u16string(1, char16_t(u'0' + seq % 10)) + u">", seq));
    }
    ASSERT_EQ(file.m_groups.size(), 1u);
    EXPECT_EQ(file.m_groups[0].Received(), 254);
    std::u16string text = JoinedText(file.m_groups[0]);
    EXPECT_NE(text.find(u"<9>[part 100 of 255 not received yet]<1>"), std::u16string::npos);
    joiner.Add(Part(100, 255, u"<0>", 100));
    text = JoinedText(file.m_groups[0]);
    ASSERT_EQ(text.size(), 255u * 3);
    for (int seq = 1; seq <= 255; ++seq)
        EXPECT_EQ(text[(seq - 1) * 3 + 1], char16_t(u'0' + seq % 10)) << seq;
}

}  // namespace
}  // namespace parlo
