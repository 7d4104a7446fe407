// The completeness and trimming rules on whole answers.
#include "cordis/reply_rules.h"

#include <gtest/gtest.h>

#include <vector>

#include "cordis/cordis.h"

namespace cordis {
namespace {

TEST(Indications, MessageInfoNeedsItsLineEnd) {
    EXPECT_TRUE(IsMessageInfo(u"\r\n+CMTI: \"SM\",3\r\n"));
    EXPECT_FALSE(IsMessageInfo(u"\r\n+CMTI: \"SM\",3"));
    EXPECT_FALSE(IsMessageInfo(u"\r\n+CMTI:\"SM\",3\r\n"));  // the blank belongs to it
    EXPECT_FALSE(IsMessageInfo(u"\r\nOK\r\n"));
    EXPECT_FALSE(IsMessageInfo(u""));
}

TEST(Indications, PduMessageNeedsHeaderAndPduLine) {
    EXPECT_TRUE(IsPduMessage(u"\r\n+CMT: ,24\r\n07911326040000F0040B911346610089F60000\r\n"));
    EXPECT_FALSE(IsPduMessage(u"\r\n+CMT: ,24\r\n"));              // header only
    EXPECT_FALSE(IsPduMessage(u"\r\n+CMT: ,24\r\n0791132604"));    // PDU line not ended
    EXPECT_FALSE(IsPduMessage(u"\r\n+CMTI: \"SM\",3\r\nAB\r\n"));  // +CMTI is no delivery
    EXPECT_FALSE(IsPduMessage(u"+CMT: ,2\r\n\n"));  // one character after the header line
}

TEST(Completion, OkPromptAndLength) {
    EXPECT_EQ(CheckComplete(u"\r\nOK\r\n", 0), Completion::Ok);
    EXPECT_EQ(CheckComplete(u"OK\r", 0), Completion::Incomplete);
    EXPECT_EQ(CheckComplete(u"AT+CMGS=9\r\r\n>", 0), Completion::Prompt);
    EXPECT_EQ(CheckComplete(u"\r\n>", 0), Completion::Prompt);  // without echo: 3 characters
    EXPECT_EQ(CheckComplete(u"\r\n>", 1), Completion::Incomplete);
    // A '>' inside a line (a phonebook name) is no prompt.
    EXPECT_EQ(CheckComplete(u"\r\n+CPBR: 1,\"1\",129,\"a>", 0), Completion::Incomplete);
    EXPECT_EQ(CheckComplete(u"\r\n+CMTI: \"ME\",1\r\n", 0), Completion::MessageInfo);
    EXPECT_EQ(CheckComplete(u"\r\n+CMT: ,2\r\nABCD\r\n", 0), Completion::PduMessage);
    EXPECT_EQ(CheckComplete(u"\r\n+CGMI: X\r\n", 0), Completion::Incomplete);
}

TEST(Completion, ErrorResultIsAWholeLine) {
    EXPECT_TRUE(EndsWithErrorResult(u"\r\nERROR\r\n"));
    EXPECT_TRUE(EndsWithErrorResult(u"AT+CPIN?\r\r\nERROR\r\n"));
    EXPECT_TRUE(EndsWithErrorResult(u"\r\n+CMS ERROR: 321\r\n"));
    EXPECT_TRUE(EndsWithErrorResult(u"\r\n+CME ERROR: 10\r\n"));
    EXPECT_TRUE(EndsWithErrorResult(u"ERROR\r\n"));
    EXPECT_FALSE(EndsWithErrorResult(u"\r\nERROR\r"));
    EXPECT_FALSE(EndsWithErrorResult(u"\r\n+CPBR: 1,\"112\",129,\"ERROR\"\r\n"));
    EXPECT_FALSE(EndsWithErrorResult(u"AT+CPBW=1,\"1\",129,\"ERROR\"\r\r\n"));
}

struct Trimmed {
    int status;
    std::u16string reply;
    std::vector<std::u16string> log;
};

Trimmed Trim(std::u16string reply, const std::string& command) {
    Trimmed t;
    t.status = PostProcess(reply, command, [&t](const std::u16string& s) { t.log.push_back(s); });
    t.reply = reply;
    return t;
}

TEST(PostProcess, TrimsEchoFinalOkAndLineEnds) {
    Trimmed t = Trim(u"AT+CGMI\r\r\nACME Phones\r\n\r\nOK\r\n", "AT+CGMI");
    EXPECT_EQ(t.status, SAR_DONE);
    EXPECT_EQ(t.reply, u"ACME Phones");
    EXPECT_EQ(t.log.front(), u"creating output str");
    EXPECT_EQ(t.log.back(), u"result: ACME Phones");

    EXPECT_EQ(Trim(u"AT\r\r\nOK\r\n", "AT").reply, u"");
    EXPECT_EQ(Trim(u"\r\nOK\r\n", "AT").reply, u"");
    EXPECT_EQ(Trim(u"\r\n+CPMS: 1,10,1,10\r\n\r\nOK\r\n", "AT+CPMS=\"ME\"").reply,
              u"+CPMS: 1,10,1,10");
    // A multi-line answer keeps its inner line ends.
    EXPECT_EQ(Trim(u"\r\n+CMGR: 1,,5\r\n0791AB\r\n\r\nOK\r\n", "AT+CMGR=1").reply,
              u"+CMGR: 1,,5\r\n0791AB");
}

TEST(PostProcess, BytesBeforeTheEchoGoWithIt) {
    // The echo of the carriage return that ended an SMS body can come after
    // that body's result and so start the next answer.
    EXPECT_EQ(Trim(u"\rAT\r\r\nOK\r\n", "AT").status, SAR_DONE);
    EXPECT_EQ(Trim(u"\rAT\r\r\nOK\r\n", "AT").reply, u"");
    EXPECT_EQ(Trim(u"\rAT+CGMI\r\r\nACME\r\n\r\nOK\r\n", "AT+CGMI").reply, u"ACME");
}

TEST(PostProcess, TooShortFails) {
    // CR LF and one character once the final OK is gone: 3 characters.
    Trimmed t = Trim(u"\r\nX\r\nOK\r\n", "AT+X");
    EXPECT_EQ(t.status, SAR_FAILED);
    EXPECT_EQ(t.log.back(), u"error - out too short");
}

TEST(PostProcess, IndicationsAndPromptAreKept) {
    Trimmed info = Trim(u"\r\n+CMTI: \"SM\",4\r\n", "AT+CMGR=1");
    EXPECT_EQ(info.reply, u"\r\n+CMTI: \"SM\",4\r\n");
    EXPECT_EQ(info.log, std::vector<std::u16string>{u"Is msg info"});
    Trimmed pdu = Trim(u"\r\n+CMT: ,2\r\nABCD\r\n", "AT");
    EXPECT_EQ(pdu.log, std::vector<std::u16string>{u"Is pdu msg"});
    Trimmed prompt = Trim(u"AT+CMGS=12\r\r\n>", "AT+CMGS=12");
    EXPECT_EQ(prompt.reply, u">");
    EXPECT_EQ(prompt.log, std::vector<std::u16string>{u"is '>' msg"});
}

}  // namespace
}  // namespace cordis
