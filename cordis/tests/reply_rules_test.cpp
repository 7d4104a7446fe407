// The completeness and trimming rules on whole answers.
#include "cordis/reply_rules.h"

#include <gtest/gtest.h>

#include <vector>

#include "cordis/cordis.h"
#include "platform/text.h"

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

TEST(Completion, OnlyAFinalResultCodeOrThePromptEndsAnAnswer) {
    EXPECT_EQ(CheckComplete(u"\r\nOK\r\n", 0), Completion::Ok);
    EXPECT_EQ(CheckComplete(u"OK\r", 0), Completion::Incomplete);
    EXPECT_EQ(CheckComplete(u"\r\n+CMS ERROR: 321\r\n", 0), Completion::Error);
    EXPECT_EQ(CheckComplete(u"AT+CMGS=9\r\r\n>", 0), Completion::Prompt);
    EXPECT_EQ(CheckComplete(u"\r\n>", 0), Completion::Prompt);  // without echo: 3 characters
    EXPECT_EQ(CheckComplete(u"\r\n>", 1), Completion::Incomplete);
    // A '>' inside a line (a phonebook name) is no prompt.
    EXPECT_EQ(CheckComplete(u"\r\n+CPBR: 1,\"1\",129,\"a>", 0), Completion::Incomplete);
    // "OK" at the end of a data line is no result code.
    EXPECT_EQ(CheckComplete(u"\r\n+CPBR: 1,\"1\",129,\"BOOK\r\n", 0), Completion::Incomplete);
    // New-message indications end nothing.
    EXPECT_EQ(CheckComplete(u"\r\n+CMTI: \"ME\",1\r\n", 0), Completion::Incomplete);
    EXPECT_EQ(CheckComplete(u"\r\n+CMT: ,2\r\nABCD\r\n", 0), Completion::Incomplete);
    EXPECT_EQ(CheckComplete(u"\r\n+CGMI: X\r\n", 0), Completion::Incomplete);
}

TEST(Unsolicited, KnownCodesButNeverTheCommandsOwnAnswer) {
    for (const char16_t* line : {u"+CMTI: \"SM\",3", u"+CMT: ,23", u"+CDSI: \"SM\",1", u"RING",
                                 u"+CRING: VOICE", u"+CLIP: \"+4917\",145", u"+CREG: 1",
                                 u"+CGREG: 0", u"^RSSI: 14", u"^BOOT:1,2", u"NO CARRIER"})
        EXPECT_TRUE(IsUnsolicitedLine(line, "AT+CMGR=1")) << platform::ToUtf8(line);
    for (const char16_t* line :
         {u"+CMGR: 0,,23", u"OK", u"ERROR", u"ACME Phones", u"07911326", u"+CMS ERROR: 500", u""})
        EXPECT_FALSE(IsUnsolicitedLine(line, "AT+CMGR=1")) << platform::ToUtf8(line);
    EXPECT_FALSE(IsUnsolicitedLine(u"+CREG: 0,1", "AT+CREG?"));
    EXPECT_FALSE(IsUnsolicitedLine(u"+CREG: 0,1", "at+creg?"));
    EXPECT_FALSE(IsUnsolicitedLine(u"^SYSINFO: 2,3", "AT^SYSINFO"));
    EXPECT_FALSE(IsUnsolicitedLine(u"+CNMI: 2,1", "AT+CMGF=0;+CNMI?"));
    EXPECT_TRUE(IsUnsolicitedLine(u"+CREG: 1", "AT+CREGX"));  // another command's name
    EXPECT_FALSE(IsUnsolicitedLine(u"NO CARRIER", "ATD+4917;"));
    EXPECT_TRUE(IsTwoLineUnsolicited(u"+CMT: ,23"));
    EXPECT_TRUE(IsTwoLineUnsolicited(u"+CDS: 25"));
    EXPECT_FALSE(IsTwoLineUnsolicited(u"+CMTI: \"SM\",3"));
    EXPECT_EQ(CommandPrefix("AT+CMGR=3"), u"+CMGR");
    EXPECT_EQ(CommandPrefix("at+cpms=\"ME\""), u"+CPMS");
    EXPECT_EQ(CommandPrefix("AT"), u"");
    EXPECT_EQ(CommandPrefix("ATZ"), u"");
}

// Feeds `answer` character by character; returns the position (1-based) at
// which the collector said complete, 0 for never.
size_t Feed(AnswerCollector* c, std::u16string_view answer, Completion* how) {
    for (size_t i = 0; i < answer.size(); ++i) {
        Completion done = c->Add(answer[i]);
        if (done != Completion::Incomplete) {
            *how = done;
            return i + 1;
        }
    }
    return 0;
}

TEST(Collector, UnsolicitedLinesAreTakenOutAtEveryPosition) {
    const std::u16string echo = u"AT+CMGR=1\r";
    const std::u16string header = u"\r\n+CMGR: 0,,23\r\n";
    const std::u16string pdu = u"07911326040000F0\r\n";
    const std::u16string final_ok = u"\r\nOK\r\n";
    const std::u16string clean = echo + header + pdu + final_ok;
    struct Line {
        std::u16string bytes;
        std::u16string reported;
    };
    const Line lines[] = {
        {u"\r\n+CMTI: \"SM\",2\r\n", u"+CMTI: \"SM\",2"},
        {u"\r\nRING\r\n", u"RING"},
        {u"\r\n^RSSI: 14\r\n", u"^RSSI: 14"},
        {u"\r\n+CREG: 1\r\n", u"+CREG: 1"},
        {u"\r\n+CMT: ,23\r\n0791AABB\r\n", u"+CMT: ,23\r\n0791AABB"},
    };
    // Before the echo, after it, between header and PDU, between PDU and the
    // final result.
    const size_t positions[] = {0, echo.size(), echo.size() + header.size(),
                                echo.size() + header.size() + pdu.size()};
    for (const Line& line : lines) {
        for (size_t at : positions) {
            std::u16string answer = clean;
            answer.insert(at, line.bytes);
            AnswerCollector c("AT+CMGR=1", 0);
            Completion how = Completion::Incomplete;
            SCOPED_TRACE(platform::ToUtf8(line.reported) + " at " + std::to_string(at));
            EXPECT_EQ(Feed(&c, answer, &how), answer.size());
            EXPECT_EQ(how, Completion::Ok);
            EXPECT_EQ(c.reply(), clean);
            EXPECT_EQ(c.final_line(), u"OK");
            EXPECT_EQ(c.TakeUnsolicited(), std::vector<std::u16string>{line.reported});
        }
    }
}

TEST(Collector, AnIndicationAloneCompletesNothing) {
    AnswerCollector c("AT+CPMS=\"SM\"", 0);
    Completion how = Completion::Incomplete;
    EXPECT_EQ(Feed(&c, u"\r\n+CMTI: \"SM\",3\r\n\r\n+CMTI: \"SM\",4\r\n", &how), 0u);
    EXPECT_EQ(c.reply(), u"");
    EXPECT_EQ(c.TakeUnsolicited().size(), 2u);
    // The prompt and an error still end it, with an indication in front.
    AnswerCollector p("AT+CMGS=9", 0);
    EXPECT_EQ(Feed(&p, u"AT+CMGS=9\r\r\nRING\r\n\r\n> ", &how), 21u);
    EXPECT_EQ(how, Completion::Prompt);
    EXPECT_EQ(p.reply(), u"AT+CMGS=9\r\r\n>");
    AnswerCollector e("AT+CMGR=9", 0);
    EXPECT_NE(Feed(&e, u"\r\nRING\r\n\r\n+CMS ERROR: 321\r\n", &how), 0u);
    EXPECT_EQ(how, Completion::Error);
    EXPECT_EQ(e.final_line(), u"+CMS ERROR: 321");
}

TEST(Pairing, AnAnswerOfAnotherCommandIsRecognised) {
    EXPECT_TRUE(
        IsPairedAnswer(u"AT+CMGR=1\r\r\n+CMGR: 0,,3\r\nAB\r\n\r\nOK\r\n", "AT+CMGR=1", false));
    EXPECT_TRUE(IsPairedAnswer(u"\r\n+CMGR: 0,,3\r\nAB\r\n\r\nOK\r\n", "AT+CMGR=1", false));
    EXPECT_TRUE(IsPairedAnswer(u"\r\nACME\r\n\r\nOK\r\n", "AT+CGMI", false));
    // The echo of another command.
    EXPECT_FALSE(IsPairedAnswer(u"AT+CMGR=1\r\r\nOK\r\n", "AT+CMGR=2", false));
    // A late answer to a send, taken for the storage selection or for "AT".
    EXPECT_FALSE(IsPairedAnswer(u"\r\n+CMGS: 5\r\n\r\nOK\r\n", "AT+CPMS=\"ME\"", false));
    EXPECT_FALSE(IsPairedAnswer(u"\r\n+CMGS: 5\r\n\r\nOK\r\n", "AT", false));
    EXPECT_TRUE(IsPairedAnswer(u"\r\n+CMEE: 1\r\n\r\nOK\r\n", "AT&V", false));
    // An error result belongs to whoever asked.
    EXPECT_TRUE(IsPairedAnswer(u"\r\n+CMS ERROR: 321\r\n", "AT+CMGR=2", false));
    // An SMS body is paired by its result.
    EXPECT_TRUE(IsPairedAnswer(u"0011AB\x1a\r\n+CMGS: 7\r\n\r\nOK\r\n", "0011AB\x1a", true));
    EXPECT_FALSE(IsPairedAnswer(u"\r\n+CPMS: 1,10,1,10\r\n\r\nOK\r\n", "0011AB\x1a", true));
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

TEST(PostProcess, PromptIsHandedBackAlone) {
    Trimmed prompt = Trim(u"AT+CMGS=12\r\r\n>", "AT+CMGS=12");
    EXPECT_EQ(prompt.reply, u">");
    EXPECT_EQ(prompt.log, std::vector<std::u16string>{u"is '>' msg"});
}

}  // namespace
}  // namespace cordis
