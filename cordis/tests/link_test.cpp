// The AT transaction byte by byte against a scripted peer on a
// pseudo-terminal: what is written, what the caller gets, what stays on the
// line for the next job, and what the log says.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <termios.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "cordis/serial_port.h"
#include "cordis/tests/link_fixture.h"

namespace cordis {
namespace {

using ::testing::Contains;

TEST_F(LinkTest, AtWithEchoGivesEmptyReply) {
    Connect();
    peer_.Expect("AT\r").Send("AT\r\r\nOK\r\n");
    std::u16string reply = u"old";
    EXPECT_EQ(Send("AT", &reply), 1);
    EXPECT_EQ(reply, u"");
    ASSERT_TRUE(peer_.Done()) << peer_.error();
    EXPECT_EQ(peer_.received(), "AT\r");
}

TEST_F(LinkTest, InformationTextWithAndWithoutEcho) {
    Connect();
    peer_.Expect("AT+CGMI\r").Send("AT+CGMI\r\r\nACME\r\n\r\nOK\r\n");
    peer_.Expect("AT+CPMS=\"ME\"\r").Send("\r\n+CPMS: 2,20,2,20\r\n\r\nOK\r\n");
    peer_.Expect("AT+CMGR=1\r").Send("\r\n+CMGR: 1,,3\r\n07911326\r\n\r\nOK\r\n");
    std::u16string reply;
    EXPECT_EQ(Send("AT+CGMI", &reply), 1);
    EXPECT_EQ(reply, u"ACME");
    EXPECT_EQ(Send("AT+CPMS=\"ME\"", &reply), 1);
    EXPECT_EQ(reply, u"+CPMS: 2,20,2,20");
    EXPECT_EQ(Send("AT+CMGR=1", &reply), 1);
    EXPECT_EQ(reply, u"+CMGR: 1,,3\r\n07911326");
    EXPECT_TRUE(peer_.Done()) << peer_.error();
}

TEST_F(LinkTest, TooShortAnswerFails) {
    Connect();
    peer_.Expect("AT+X\r").Send("\r\nX\r\nOK\r\n");
    std::u16string reply;
    EXPECT_EQ(Send("AT+X", &reply), 0);
    EXPECT_EQ(CountLog(u"error - out too short"), 1u);
    EXPECT_EQ(CountLog(u"SAR - END: status: 2"), 1u);
}

TEST_F(LinkTest, ErrorResultsGiveSuccessAndEmptyReply) {
    Connect();
    peer_.Expect("AT+CPIN?\r").Send("AT+CPIN?\r\r\nERROR\r\n");
    peer_.Expect("AT+CMGR=9\r").Send("\r\n+CMS ERROR: 321\r\n");
    peer_.Expect("AT+CGSN\r").Send("\r\n+CME ERROR: 10\r\n");
    peer_.Expect("AT\r").Send("\r\nOK\r\n");
    std::u16string reply;
    EXPECT_EQ(Send("AT+CPIN?", &reply), 1);
    EXPECT_EQ(reply, u"");
    EXPECT_EQ(Send("AT+CMGR=9", &reply), 1);
    EXPECT_EQ(reply, u"");
    EXPECT_EQ(Send("AT+CGSN", &reply), 1);
    EXPECT_EQ(reply, u"");
    EXPECT_EQ(Send("AT", &reply), 1);
    EXPECT_TRUE(peer_.Done()) << peer_.error();
    EXPECT_THAT(LogLines(), Contains(u"ERROR: \r\n+CMS ERROR: 321\r\n"));
}

TEST_F(LinkTest, ErrorInsideDataIsData) {
    Connect();
    // A phonebook entry named ERROR, and a command whose echo holds ERROR.
    peer_.Expect("AT+CPBR=1,2\r")
        .Send(
            "\r\n+CPBR: 1,\"112\",129,\"ERROR\"\r\n+CPBR: 2,\"110\",129,\"Police\"\r\n\r\nOK\r\n");
    peer_.Expect("AT+CPBW=3,\"1\",129,\"ERROR\"\r")
        .Send("AT+CPBW=3,\"1\",129,\"ERROR\"\r\r\nOK\r\n");
    peer_.Expect("AT+CGMM\r").Send("\r\nModel 7\r\n\r\nOK\r\n");
    std::u16string reply;
    EXPECT_EQ(Send("AT+CPBR=1,2", &reply, 0, 30), 1);
    EXPECT_EQ(reply, u"+CPBR: 1,\"112\",129,\"ERROR\"\r\n+CPBR: 2,\"110\",129,\"Police\"");
    EXPECT_EQ(Send("AT+CPBW=3,\"1\",129,\"ERROR\"", &reply), 1);
    EXPECT_EQ(reply, u"");
    // Nothing of the earlier answers is left over for this one.
    EXPECT_EQ(Send("AT+CGMM", &reply), 1);
    EXPECT_EQ(reply, u"Model 7");
    EXPECT_TRUE(peer_.Done()) << peer_.error();
}

TEST_F(LinkTest, UnsolicitedLinesGoToTheHandlerNotTheAnswer) {
    Connect();
    std::vector<std::u16string> seen;
    std::mutex mutex;
    link_->SetUnsolicitedHandler([&](const std::u16string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(line);
    });
    peer_.Expect("AT+CMGR=2\r")
        .Send("\r\n+CMTI: \"SM\",3\r\n\r\n+CMGR: 1,,3\r\nABCDEF\r\n\r\nRING\r\n\r\nOK\r\n");
    std::u16string reply;
    EXPECT_EQ(Send("AT+CMGR=2", &reply), 1);
    EXPECT_EQ(reply, u"+CMGR: 1,,3\r\nABCDEF");
    // A delivery between commands is read with the next answer and taken out.
    peer_.Send("\r\n+CMT: ,3\r\n000000\r\n");
    peer_.Expect("AT\r").Send("\r\nOK\r\n");
    EXPECT_EQ(Send("AT", &reply), 1);
    EXPECT_EQ(reply, u"");
    EXPECT_TRUE(peer_.Done()) << peer_.error();
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(seen,
              (std::vector<std::u16string>{u"+CMTI: \"SM\",3", u"RING", u"+CMT: ,3\r\n000000"}));
    EXPECT_EQ(CountLog(u"unsolicited: RING"), 1u);
}

TEST_F(LinkTest, AnAnswerOfAnotherCommandIsNeverUsed) {
    Connect();
    // A late "+CMGS:" answer arrives ahead of the storage selection's own.
    peer_.Expect("AT+CPMS=\"ME\"\r")
        .Send("\r\n+CMGS: 5\r\n\r\nOK\r\n\r\n+CPMS: 1,10,1,10,1,10\r\n\r\nOK\r\n");
    // In step again: the rest is drained, "AT" answers "OK", and the command
    // is sent once more.
    peer_.Expect("AT\r").Send("\r\nOK\r\n");
    peer_.Expect("AT+CPMS=\"ME\"\r").Send("\r\n+CPMS: 2,10,2,10,2,10\r\n\r\nOK\r\n");
    std::u16string reply;
    EXPECT_EQ(Send("AT+CPMS=\"ME\"", &reply), 1);
    EXPECT_EQ(reply, u"+CPMS: 2,10,2,10,2,10");
    EXPECT_TRUE(peer_.Done()) << peer_.error();
    EXPECT_EQ(CountLog(u"resync"), 1u);
    EXPECT_EQ(CountLog(u"in step"), 1u);
}

TEST_F(LinkTest, LeftoverInputOfAnEarlierSessionIsDiscarded) {
    // Bytes on the line before the port is opened.
    peer_.Send("\r\nOK\r\n");
    ASSERT_TRUE(peer_.Done()) << peer_.error();
    Connect();
    peer_.Expect("AT\r").Send("\r\nOK\r\n");
    peer_.Expect("AT+CSQ\r").Send("\r\n+CSQ: 20,99\r\n\r\nOK\r\n");
    std::u16string reply;
    EXPECT_EQ(Send("AT", &reply), 1);
    EXPECT_EQ(Send("AT+CSQ", &reply), 1);
    EXPECT_EQ(reply, u"+CSQ: 20,99");
    EXPECT_TRUE(peer_.Done()) << peer_.error();
}

TEST_F(LinkTest, BytesAfterACompleteAnswerStayForTheNextJob) {
    Connect();
    // Two answers in one burst: the second one belongs to the next job.
    peer_.Expect("AT\r").Send("\r\nOK\r\n\r\n+CSQ: 20,99\r\n\r\nOK\r\n");
    std::u16string reply;
    EXPECT_EQ(Send("AT", &reply), 1);
    EXPECT_EQ(reply, u"");
    peer_.Expect("AT+CSQ\r");
    EXPECT_EQ(Send("AT+CSQ", &reply), 1);
    EXPECT_EQ(reply, u"+CSQ: 20,99");
    EXPECT_TRUE(peer_.Done()) << peer_.error();
}

// The SMS prompt: "> " after the command (with echo) or after CR LF alone
// (without echo). The answer ends at the '>', the blank is dropped, and the
// body's answer starts clean.
TEST_F(LinkTest, SmsPromptWithEcho) {
    Connect();
    const std::string pdu = "0011000B911326880736F40000A90B";
    peer_.Expect("AT+CMGS=15\r").Send("AT+CMGS=15\r\r\n> ");
    peer_.Expect(pdu + "\x1a\r").Send(pdu + "\x1a\r\n+CMGS: 7\r\n\r\nOK\r\n");
    std::u16string reply;
    EXPECT_EQ(Send("AT+CMGS=15", &reply), 1);
    EXPECT_EQ(reply, u">");
    EXPECT_EQ(Send(pdu + "\x1a", &reply, 1, 15), 1);
    EXPECT_NE(reply.find(u"CMGS: 7"), std::u16string::npos);
    EXPECT_EQ(CountLog(u"is '>' msg"), 1u);
    EXPECT_TRUE(peer_.Done()) << peer_.error();
}

TEST_F(LinkTest, SmsPromptWithoutEcho) {
    Connect();
    const std::string pdu = "0011000B911326880736F40000A90B";
    peer_.Expect("AT+CMGS=15\r").Send("\r\n> ");
    peer_.Expect(pdu + "\x1a\r").Send("\r\n+CMGS: 8\r\n\r\nOK\r\n");
    peer_.Expect("AT+CMGS=15\r").Send("\r\n>");  // the blank comes late
    peer_.Expect(pdu + "\x1a\r").Send(" \r\n+CMGS: 9\r\n\r\nOK\r\n");
    std::u16string reply;
    for (const char16_t* ref : {u"+CMGS: 8", u"+CMGS: 9"}) {
        EXPECT_EQ(Send("AT+CMGS=15", &reply, 0, 5), 1);
        EXPECT_EQ(reply, u">");
        EXPECT_EQ(Send(pdu + "\x1a", &reply, 1, 15), 1);
        EXPECT_EQ(reply, ref);
    }
    EXPECT_TRUE(peer_.Done()) << peer_.error();
    EXPECT_EQ(CountLog(u"thread terminated - timeout"), 0u);
}

TEST_F(LinkTest, PromptCharacterInsideALineIsData) {
    Connect();
    peer_.Expect("AT+CPBR=4\r").Send("\r\n+CPBR: 4,\"5\",129,\"a>b\"\r\n\r\nOK\r\n");
    std::u16string reply;
    EXPECT_EQ(Send("AT+CPBR=4", &reply), 1);
    EXPECT_EQ(reply, u"+CPBR: 4,\"5\",129,\"a>b\"");
}

TEST_F(LinkTest, TimeOutAndRecovery) {
    Connect();
    peer_.Expect("AT+CGMI\r").Send("\r\nACM");  // then silence
    std::u16string reply;
    EXPECT_EQ(Send("AT+CGMI", &reply, 0, 1), 0);
    EXPECT_EQ(reply, u"\r\nACM");  // the partial answer
    EXPECT_EQ(CountLog(u"thread terminated - timeout"), 1u);
    // A fresh listener takes the next job, after the line is back in step:
    // the rest of the late answer is drained and "AT" answered first. No
    // command has been answered since the port was opened, so the phone may
    // still wait for a message body that another program began: escape ends
    // it first.
    peer_.Send("E\r\n\r\nOK\r\n");
    peer_.Expect("\x1b");
    peer_.Expect("AT\r").Send("\r\nOK\r\n");
    peer_.Expect("AT+CGMM\r").Send("\r\nModel\r\n\r\nOK\r\n");
    EXPECT_EQ(Send("AT+CGMM", &reply), 1);
    EXPECT_EQ(reply, u"Model");
    EXPECT_TRUE(peer_.Done()) << peer_.error();
    EXPECT_EQ(CountLog(u"starting thread"), 2u);
    EXPECT_EQ(CountLog(u"in step"), 1u);
}

TEST_F(LinkTest, ReadFailureGivesPartialReply) {
    Connect();
    peer_.Expect("AT+CGMI\r").Send("\r\nAC").Hangup();
    std::u16string reply;
    EXPECT_EQ(Send("AT+CGMI", &reply), 0);
    // A hang-up may flush what was not read yet: the reply is what came so far.
    EXPECT_EQ(std::u16string(u"\r\nAC").substr(0, reply.size()), reply);
    EXPECT_THAT(LogLines(), Contains(u"SAR - END: status: 2"));
}

TEST_F(LinkTest, JobWithoutOpenPortFails) {
    link_->StartSAR();
    std::u16string reply;
    EXPECT_EQ(Send("AT", &reply), 0);
    EXPECT_EQ(link_->OpenPort(u"/nonexistent/tty"), 0);
    EXPECT_EQ(Send("AT", &reply), 0);
    EXPECT_EQ(link_->OpenPort(u"COM97:"), 0);  // no such alias
}

// The command, its carriage return and a terminating zero fill the buffer:
// SAR_BUFFER_SIZE - 2 characters is the longest command written.
TEST_F(LinkTest, CommandLengthLimitIsExactlyAtTheBuffer) {
    Connect();
    std::u16string reply;
    EXPECT_EQ(Send(std::string(SAR_BUFFER_SIZE - 1, 'A'), &reply), 0);
    EXPECT_EQ(Send(std::string(SAR_BUFFER_SIZE, 'A'), &reply), 0);
    const std::string longest = "AT" + std::string(SAR_BUFFER_SIZE - 4, 'A');
    ASSERT_EQ(longest.size() + 2, static_cast<size_t>(SAR_BUFFER_SIZE));
    peer_.Expect(longest + "\r").Send("\r\nOK\r\n");
    EXPECT_EQ(Send(longest, &reply), 1);
    peer_.Expect("AT\r").Send("\r\nOK\r\n");
    EXPECT_EQ(Send("AT", &reply), 1);
    EXPECT_TRUE(peer_.Done()) << peer_.error();
    // Nothing of the refused commands reached the line.
    EXPECT_EQ(peer_.received(), longest + "\rAT\r");
}

TEST_F(LinkTest, PortIsExclusive) {
    Connect();
    CCordis other(log_file());
    EXPECT_EQ(other.OpenPort(U(peer_.device())), 0);
    link_->ClosePort();
    EXPECT_EQ(other.OpenPort(U(peer_.device())), 1);
    other.ClosePort();
}

TEST(LineSettings, TermiosMapping) {
    auto apply = [](int baud, int parity, int size, int stop, termios* t) {
        *t = termios{};
        t->c_iflag = IXON | ICRNL | INPCK;
        t->c_lflag = ICANON | ECHO;
        t->c_cflag = CRTSCTS | HUPCL;
        LineSettings s{baud, parity, size, stop};
        return ApplyLineSettings(s, t);
    };
    termios t;
    ASSERT_TRUE(apply(19200, 0, 8, 0, &t));
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK | ICRNL), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    ASSERT_TRUE(apply(9600, 1, 7, 1, &t));  // odd; one and a half: two
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR | CSTOPB),
              static_cast<tcflag_t>(PARENB | PARODD | CSTOPB));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    ASSERT_TRUE(apply(9600, 2, 8, 2, &t));  // even, two
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR | CSTOPB),
              static_cast<tcflag_t>(PARENB | CSTOPB));
    ASSERT_TRUE(apply(9600, 3, 8, 0, &t));  // mark
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR),
              static_cast<tcflag_t>(PARENB | PARODD | CMSPAR));
    ASSERT_TRUE(apply(9600, 4, 8, 0, &t));  // space
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB | CMSPAR));
    EXPECT_FALSE(apply(12345, 0, 8, 0, &t));  // no such rate
    EXPECT_FALSE(apply(9600, 0, 9, 0, &t));   // no such byte size
}

TEST_F(LinkTest, SetParamsOnThePort) {
    link_->StartSAR();
    ASSERT_EQ(link_->OpenPort(U(peer_.device())), 1);
    // Parity 7 means none and stop bits 5 one stop bit.
    ASSERT_EQ(link_->SetParams(115200, 7, 8, 5), 1);
    termios t{};
    int fd = open(peer_.device().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    close(fd);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(link_->SetParams(12345, 0, 8, 0), 0);
    EXPECT_EQ(CountLog(u"SetParams - end"), 1u);
    link_->ClosePort();
    EXPECT_EQ(link_->SetParams(9600, 0, 8, 0), 0);  // no open port
}

TEST_F(LinkTest, StartAndStopListener) {
    link_->StartSAR();
    link_->StartSAR();  // already active: nothing
    EXPECT_EQ(CountLog(u"starting SAR"), 1u);
    link_->StopSAR();
    EXPECT_EQ(CountLog(u"SAR stoped."), 1u);
    EXPECT_EQ(CountLog(u"timeout while stopping SAR - terminating"), 0u);
    EXPECT_THAT(LogLines(), Contains(u"got something (in:) thread end."));
    link_->StopSAR();  // none running: returns at once
    EXPECT_EQ(CountLog(u"SAR stoped."), 2u);
    // A new listener after a stop.
    Connect();
    peer_.Expect("AT\r").Send("\r\nOK\r\n");
    std::u16string reply;
    EXPECT_EQ(Send("AT", &reply), 1);
    EXPECT_EQ(CountLog(u"starting SAR"), 2u);
}

TEST_F(LinkTest, StopDuringALongJobCutsTheListenerOff) {
    Connect();
    peer_.Expect("AT+CPBR=1,250\r");  // and no answer
    std::u16string reply;
    int result = -1;
    std::thread caller([&] { result = Send("AT+CPBR=1,250", &reply, 0, 8); });
    ASSERT_TRUE(peer_.Done()) << peer_.error();
    link_->StopSAR();
    caller.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(CountLog(u"timeout while stopping SAR - terminating"), 1u);
    EXPECT_EQ(CountLog(u"thread terminated - timeout"), 1u);
}

TEST_F(LinkTest, LogLinesOfAJob) {
    Connect();
    peer_.Expect("AT\r").Send("\r\nOK\r\n");
    std::u16string reply;
    ASSERT_EQ(Send("AT", &reply), 1);
    link_->ClosePort();
    link_->StopSAR();
    std::vector<std::u16string> lines = LogLines();
    auto at = std::find(lines.begin(), lines.end(), u"SAR - GO: AT");
    ASSERT_NE(at, lines.end());
    const std::vector<std::u16string> expected = {u"starting SAR",
                                                  u"starting thread",
                                                  u"waiting for AT...",
                                                  u"opening port",
                                                  u"SetParams - start",
                                                  u"SetParams - end",
                                                  u"SAR - GO: AT",
                                                  u"got something (in:AT)",
                                                  u"IN: AT",
                                                  u"writing to port",
                                                  u"write done",
                                                  u"reading: <s>\r</s>",
                                                  u"reading: <s>\n</s>",
                                                  u"reading: <s>O</s>",
                                                  u"reading: <s>K</s>",
                                                  u"reading: <s>\r</s>",
                                                  u"reading: <s>\n</s>",
                                                  u"OUT: \r\nOK\r\n",
                                                  u"creating output str",
                                                  u"OUT: ",
                                                  u"result: ",
                                                  u"SAR - END: status: 1",
                                                  u"waiting for AT...",
                                                  u"closing port",
                                                  u"Stoping SAR",
                                                  u"got something (in:AT) thread end.",
                                                  u"SAR stoped."};
    // The caller's and the listener's lines interleave; compare each thread's order.
    auto subsequence = [&lines](const std::vector<std::u16string>& want) {
        size_t i = 0;
        for (const auto& l : lines) {
            if (i < want.size() && l == want[i])
                ++i;
        }
        return i == want.size();
    };
    EXPECT_TRUE(
        subsequence({u"starting SAR", u"starting thread", u"opening port", u"SetParams - start",
                     u"SetParams - end", u"SAR - GO: AT", u"SAR - END: status: 1", u"closing port",
                     u"Stoping SAR", u"SAR stoped."}));
    EXPECT_TRUE(subsequence({u"starting thread", u"waiting for AT...", u"got something (in:AT)",
                             u"IN: AT", u"writing to port", u"write done", u"reading: <s>\r</s>",
                             u"reading: <s>\n</s>", u"reading: <s>O</s>", u"reading: <s>K</s>",
                             u"reading: <s>\r</s>", u"reading: <s>\n</s>", u"OUT: \r\nOK\r\n",
                             u"creating output str", u"OUT: ", u"result: ", u"waiting for AT...",
                             u"got something (in:AT) thread end."}));
    EXPECT_EQ(lines.size(), expected.size());
}

TEST_F(LinkTest, LogIsUtf16WithTimeStamps) {
    link_->StartSAR();
    link_->StopSAR();
    std::ifstream in(log_file(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_NE(static_cast<unsigned char>(bytes[0]), 0xFF);  // no byte-order mark
    EXPECT_EQ(bytes.size() % 2, 0u);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), std::string("\n\0", 2));
    std::vector<std::u16string> raw;
    // Every line is "<date> <time>: <message>".
    for (const auto& l : LogLines())
        EXPECT_FALSE(l.empty());
    std::u16string first;
    for (size_t i = 0; i + 1 < bytes.size() && bytes[i] != '\n'; i += 2) {
        first.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i])));
    }
    EXPECT_NE(first.find(u": starting SAR"), std::u16string::npos);
    EXPECT_GT(first.find(u": starting SAR"), 8u);
}

TEST_F(LinkTest, DisablePinSendsTheFirst20Characters) {
    link_->StartSAR();
    std::string pin25 = "1234567890123456789012345";
    std::string pin20 = pin25.substr(0, 20);
    peer_.Expect("AT\r").Send("\r\nOK\r\n");
    peer_.Expect("at+cpin=\"" + pin20 + "\"\r").Send("\r\nOK\r\n");
    peer_.Expect("at+clck=\"SC\",0,\"" + pin20 + "\"\r").Send("\r\nOK\r\n");
    EXPECT_EQ(link_->DisablePIN(U(peer_.device()), U(pin25), 9600, 0, 8, 0), 1);
    EXPECT_TRUE(peer_.Done()) << peer_.error();
    EXPECT_EQ(CountLog(u"closing port"), 1u);
    EXPECT_EQ(link_->DisablePIN(u"/nonexistent/tty", u"1234", 9600, 0, 8, 0), 0);
}

TEST_F(LinkTest, DisablePinTriesThreeTimes) {
    link_->StartSAR();
    for (int i = 0; i < 3; ++i) {
        peer_.Expect("AT\r").Send("\r\nOK\r\n");
        peer_.Expect("at+cpin=\"0000\"\r").Send("\r\nX\r\nOK\r\n");  // fails: too short
    }
    EXPECT_EQ(link_->DisablePIN(U(peer_.device()), u"0000", 9600, 0, 8, 0), 1);
    EXPECT_TRUE(peer_.Done()) << peer_.error();
}

TEST(SetBuf, AppendsCarriageReturn) {
    CCordis link(std::filesystem::temp_directory_path() / "cordis_setbuf.log");
    char buf[16];
    std::memset(buf, 'x', sizeof buf);
    link._SetBuf(buf, "AT+CGMI");
    EXPECT_EQ(std::string(buf, 9), std::string("AT+CGMI\r\0", 9));
    std::filesystem::remove(std::filesystem::temp_directory_path() / "cordis_setbuf.log");
}

TEST(GetCordis, OneObjectPerProcess) {
    EXPECT_EQ(GetCordis(), GetCordis());
}

}  // namespace
}  // namespace cordis
