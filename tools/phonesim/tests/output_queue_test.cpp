#include "tools/phonesim/output_queue.h"

#include <gtest/gtest.h>

#include "tools/phonesim/transcript.h"

namespace phonesim {
namespace {

TEST(OutputQueueTest, EchoOvertakesAnAnswerThatWaits) {
    OutputQueue q;
    q.Answer("ANSWER", 1000, 500);
    q.Echo("\r", 1100);
    EXPECT_EQ(q.Ready(1100), "\r");
    q.Consume(1, 1100);
    EXPECT_EQ(q.Ready(1400), "");
    EXPECT_EQ(q.NextTime(1400), 1500);
    EXPECT_EQ(q.Ready(1500), "ANSWER");
}

TEST(OutputQueueTest, AnswersKeepTheirOrder) {
    OutputQueue q;
    q.Answer("A", 0, 100);
    q.Answer("B", 10, 0);  // may not pass A
    EXPECT_EQ(q.Ready(50), "");
    EXPECT_EQ(q.Ready(100), "AB");
    q.Consume(1, 100);
    EXPECT_EQ(q.Ready(100), "B");
}

TEST(OutputQueueTest, PacesToTheBaudRate) {
    OutputQueue q(1000);  // 100 bytes per second: 10 ms a byte
    q.Answer("abcdef", 0, 0);
    EXPECT_EQ(q.Ready(0), "a");
    q.Consume(1, 0);
    EXPECT_EQ(q.Ready(5'000), "");
    EXPECT_EQ(q.NextTime(5'000), 10'000);
    EXPECT_EQ(q.Ready(30'000), "bcd");  // a late wake-up catches up
    q.Consume(3, 30'000);
    EXPECT_EQ(q.Ready(30'000), "");
    EXPECT_EQ(q.NextTime(30'000), 40'000);
}

TEST(TranscriptTest, EscapesAndParsesBack) {
    std::string bytes("AT\\\r\n\x1A\x00 ~", 9);
    std::string escaped = EscapeBytes(bytes);
    EXPECT_EQ(escaped, "AT\\\\\\r\\n\\x1A\\x00 ~");
    std::string back;
    ASSERT_TRUE(UnescapeBytes(escaped, &back));
    EXPECT_EQ(back, bytes);
    EXPECT_FALSE(UnescapeBytes("\\x4", &back));
    EXPECT_FALSE(UnescapeBytes("\\q", &back));
    EXPECT_FALSE(UnescapeBytes("a\\", &back));

    std::vector<TranscriptLine> lines;
    ASSERT_TRUE(ParseTranscript("t1 IN  AT\\r\nt2 OUT OK\nt3 --- line dropped\n", &lines));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].in);
    EXPECT_EQ(lines[0].bytes, "AT\r");
    EXPECT_FALSE(lines[1].in);
    EXPECT_TRUE(lines[2].note);
    EXPECT_EQ(lines[2].bytes, "line dropped");
    EXPECT_FALSE(ParseTranscript("t1 XX y\n", &lines));
}

}  // namespace
}  // namespace phonesim
