// Reply parsing of the SMS engine: fields of "+CPMS" answers, "+CMGR" answers
// and the operator answers that the detection compares.
#include <gtest/gtest.h>

#include <cctype>

#include "parlo/sms/phone_session.h"
#include "parlo/sms/sms_operations.h"
#include "parlo/sms/tests/pdu_build.h"
#include "platform/oledate.h"
#include "platform/text.h"

namespace parlo {
namespace {

using testing::DeliverPdu;
using testing::SubmitPdu;

std::u16string U(const std::string& s) {
    return platform::WidenBytes(s);
}

TEST(ExtractField, ReadsTheSizesOfAStorageAnswer) {
    std::u16string reply = u"+CPMS: 3,20,3,20,3,20";
    EXPECT_EQ(ExtractField(reply, u":", u",", 1, 1), u" 3");
    EXPECT_EQ(ExtractField(reply, u",", u",", 1, 2), u"20");
    EXPECT_EQ(ExtractField(reply, u",", u",", 2, 3), u"3");
}

TEST(ExtractField, MissingOrMisplacedDelimitersGiveEmpty) {
    EXPECT_EQ(ExtractField(u"+CPMS: 3", u",", u",", 1, 2), u"");     // no comma
    EXPECT_EQ(ExtractField(u"+CPMS: 3,20", u",", u",", 1, 2), u"");  // one comma only
    EXPECT_EQ(ExtractField(u",abc,", u",", u",", 1, 2), u"");        // start at position 0
    EXPECT_EQ(ExtractField(u"a,b:c", u":", u",", 1, 1), u"");        // end before start
    EXPECT_EQ(ExtractField(u"a:,b", u":", u",", 1, 1), u"");         // nothing between
    EXPECT_EQ(ExtractField(u"", u":", u",", 1, 1), u"");
    EXPECT_EQ(ExtractField(u"a:b,c", u":", u",", 0, 1), u"");
    EXPECT_EQ(ExtractField(u"a:b,c", u":", u",", 1, 1), u"b");
}

TEST(DecodeCmgrReply, RejectsMalformedReplies) {
    std::unique_ptr<CSmsMessage> m;
    EXPECT_EQ(DecodeCmgrReply(u"+CMGS: 1", "ME", 1, 0, &m), CMGR_NOT_CMGR);
    EXPECT_EQ(DecodeCmgrReply(u"", "ME", 1, 0, &m), CMGR_NOT_CMGR);
    EXPECT_EQ(DecodeCmgrReply(u"+CMGR:", "ME", 1, 0, &m), CMGR_NO_LINE_END);
    EXPECT_EQ(DecodeCmgrReply(u"+CMGR: 1,,20", "ME", 1, 0, &m), CMGR_NO_LINE_END);
    EXPECT_EQ(DecodeCmgrReply(u"+CMGR: 1,,2\r\n00", "ME", 1, 0, &m), CMGR_TOO_SHORT);
    EXPECT_EQ(DecodeCmgrReply(u"+CMGR: 1,,2\r\n" + std::u16string(901, u'0'), "ME", 1, 0, &m),
              CMGR_PDU_TOO_LONG);
    EXPECT_EQ(DecodeCmgrReply(u"+CMGR: 1,,2\r\nZZZZZZ", "ME", 1, 0, &m), CMGR_BAD_PDU);
    EXPECT_EQ(
        DecodeCmgrReply(u"+CMGR: 1,,2\r\n" + U(DeliverPdu("+4917012", "   ")), "ME", 1, 0, &m),
        CMGR_EMPTY_TEXT);
    EXPECT_FALSE(m);
}

TEST(DecodeCmgrReply, ReadsAReceivedMessage) {
    // "Hi @ you\nbye" in default-alphabet codes: '@' is code 0.
    std::string codes = std::string("Hi ") + '\0' + " you\nbye";
    std::u16string reply = u"+CMGR: 0,,30\r\n" + U(DeliverPdu("+491701234567", codes));
    std::unique_ptr<CSmsMessage> m;
    ASSERT_EQ(DecodeCmgrReply(reply, "SM", 7, CMGR_MODE_READ, &m), CMGR_DONE);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->m_nState, STATE_UNREAD);
    EXPECT_EQ(m->m_strNumber, u"+491701234567");
    EXPECT_EQ(m->m_strText, u"Hi @ you\r\nbye");
    EXPECT_EQ(m->m_nStorage, STORAGE_SIM);
    EXPECT_EQ(m->m_nPhoneIndex, 7);
    EXPECT_EQ(m->m_nFileOffset, -1);
    EXPECT_EQ(m->m_bMarked, 0);
    struct tm t;
    ASSERT_TRUE(m->m_time.ToLocal(&t));
    EXPECT_EQ(t.tm_year + 1900, 2024);
    EXPECT_EQ(t.tm_mon + 1, 3);
    EXPECT_EQ(t.tm_mday, 15);
    EXPECT_EQ(t.tm_hour, 10);
    EXPECT_EQ(t.tm_min, 30);
}

TEST(DecodeCmgrReply, PduTypeDecidesDirectionAndHexMayBeLowercase) {
    std::string deliver = DeliverPdu("+4917011", "text");
    std::u16string submit = U(SubmitPdu("+4917022", "sent text"));
    std::unique_ptr<CSmsMessage> m;
    // A received message in a slot labelled sent: received, read.
    ASSERT_EQ(DecodeCmgrReply(u"+CMGR: 3,,20\r\n" + U(deliver), "ME", 1, 0, &m), CMGR_DONE);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->m_nState, STATE_READ);
    EXPECT_EQ(m->m_strNumber, u"+4917011");
    // A sent message in a slot labelled received unread.
    ASSERT_EQ(DecodeCmgrReply(u"+CMGR: 0,,20\r\n" + submit, "ME", 1, 0, &m), CMGR_DONE);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->m_nState, STATE_PHONE_SENT);
    EXPECT_EQ(m->m_strNumber, u"+4917022");
    // Lowercase hexadecimal, and no blank after the prefix.
    std::string lower = deliver;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ASSERT_NE(lower, deliver);
    ASSERT_EQ(DecodeCmgrReply(u"+CMGR:0,,20\r\n" + U(lower), "SM", 2, 0, &m), CMGR_DONE);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->m_nState, STATE_UNREAD);
    EXPECT_EQ(m->m_strText, u"text");
    // A delivery report is no message: done, nothing.
    EXPECT_EQ(DecodeCmgrReply(u"+CMGR: 0,,25\r\n"
                              u"0006050C91947110111111425031103000004250311030010000",
                              "SM", 3, 0, &m),
              CMGR_DONE);
    EXPECT_FALSE(m);
}

TEST(DecodeCmgrReply, StatusDecidesStateAndWhatIsIgnored) {
    std::u16string deliver = U(DeliverPdu("+4917011", "text"));
    std::u16string submit = U(SubmitPdu("+4917022", "sent text"));
    std::unique_ptr<CSmsMessage> m;

    ASSERT_EQ(DecodeCmgrReply(u"+CMGR: 1,,20\r\n" + deliver, "ME", 2, 0, &m), CMGR_DONE);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->m_nState, STATE_READ);
    EXPECT_EQ(m->m_nStorage, STORAGE_PHONE);

    // Stored unsent: ignored in both modes.
    EXPECT_EQ(DecodeCmgrReply(u"+CMGR: 2,,20\r\n" + submit, "ME", 2, 0, &m), CMGR_DONE);
    EXPECT_FALSE(m);
    EXPECT_EQ(DecodeCmgrReply(u"+CMGR: 2,,20\r\n" + submit, "ME", 2, 1, &m), CMGR_DONE);
    EXPECT_FALSE(m);

    // Stored sent: the destination, and the current time.
    platform::OleDate before = platform::OleDate::Now();
    ASSERT_EQ(DecodeCmgrReply(u"+CMGR: 3,,20\r\n" + submit, "SM", 4, 0, &m), CMGR_DONE);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->m_nState, STATE_PHONE_SENT);
    EXPECT_EQ(m->m_strNumber, u"+4917022");
    EXPECT_EQ(m->m_strText, u"sent text");
    EXPECT_GE(m->m_time.m_dt, before.m_dt - 1.0 / 86400);

    // Another status: a slot that is reported when reading, state 20 when
    // checking.
    EXPECT_EQ(DecodeCmgrReply(u"+CMGR: 4,,20\r\n" + deliver, "ME", 2, 0, &m), CMGR_BAD_STATUS);
    EXPECT_FALSE(m);
    ASSERT_EQ(DecodeCmgrReply(u"+CMGR: 4,,20\r\n" + deliver, "ME", 2, 1, &m), CMGR_DONE);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->m_nState, STATE_IN_FOLDER);
}

TEST(DecodeCmgrReply, AnInvalidTimeStampGivesTheCurrentTime) {
    std::u16string reply = u"+CMGR: 0,,20\r\n" + U(DeliverPdu("+4917011", "x", "241399256199"));
    std::unique_ptr<CSmsMessage> m;
    platform::OleDate before = platform::OleDate::Now();
    ASSERT_EQ(DecodeCmgrReply(reply, "ME", 1, 0, &m), CMGR_DONE);
    ASSERT_TRUE(m);
    EXPECT_GE(m->m_time.m_dt, before.m_dt - 1.0 / 86400);
}

TEST(PhoneKeys, NamesOfStorages) {
    EXPECT_STREQ(StorageName(STORAGE_PHONE), "ME");
    EXPECT_STREQ(StorageName(STORAGE_SIM), "SM");
    EXPECT_STREQ(StorageName(STORAGE_POCKETPC), "XX");
    EXPECT_EQ(PhoneKey("ME", 3), "ME#3");
}

TEST(NormaliseOperatorAnswer, KeepsTheQuotedTextWithoutBlanksInUpperCase) {
    std::u16string op = u"+COPS: 0,0,\"T-Mobile D\"";
    NormaliseOperatorAnswer(&op);
    EXPECT_EQ(op, u"T-MOBILED");
    std::u16string centre = u"+CSCA: \"+491710760000\",145";
    NormaliseOperatorAnswer(&centre);
    EXPECT_EQ(centre, u"+491710760000");
    std::u16string unquoted = u"+cops: 0";
    NormaliseOperatorAnswer(&unquoted);
    EXPECT_EQ(unquoted, u"+COPS:0");
    std::u16string open = u"x\"abc";
    NormaliseOperatorAnswer(&open);
    EXPECT_EQ(open, u"ABC");
}

}  // namespace
}  // namespace parlo
