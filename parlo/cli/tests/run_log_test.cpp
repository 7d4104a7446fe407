#include "parlo/cli/run_log.h"

#include <gtest/gtest.h>

#include <sstream>

#include "parlo/store/sms_message.h"

namespace {

TEST(RunLog, OneLinePerRunWithTheErrorsJoined) {
    EXPECT_EQ(cli::RunLine(1, 0, 0, u""), "run 1: sent 0, received 0");
    EXPECT_EQ(cli::RunLine(4, 2, 3, u"Sync failed!\r\n  No answer from the phone. \n\n"),
              "run 4: sent 2, received 3; errors: Sync failed! / No answer from the phone.");
    EXPECT_EQ(cli::RunLine(2, 0, 0, u"\n \n"), "run 2: sent 0, received 0");
}

// What a run sent and received is counted from the engine's calls, per run;
// other programs' records taken in meanwhile do not count.
TEST(RunLog, CountsTheRunsOwnMessagesAndStartsAfreshAfterEachLine) {
    std::ostringstream out;
    cli::RunLogView view(out);
    parlo::CSmsMessage received, sent, phone_sent, other;
    received.m_nState = parlo::STATE_UNREAD;
    phone_sent.m_nState = parlo::STATE_PHONE_SENT;
    sent.m_nState = parlo::STATE_SENT;
    other.m_nState = parlo::STATE_UNREAD;
    view.MessageAdded(&received);
    view.MessageAdded(&phone_sent);
    view.MessageChanged(&sent);
    view.MessagesAdded({&other});
    view.MessagesChanged({&sent});
    view.SetStatusText(u"AS: 00:00:59");
    view.EndRun(1, u"");
    view.EndRun(2, u"Send failed!");
    EXPECT_EQ(out.str(),
              "run 1: sent 1, received 1\n"
              "run 2: sent 0, received 0; errors: Send failed!\n");
}

}  // namespace
