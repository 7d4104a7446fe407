#include "tools/phonesim/at_parser.h"

#include <gtest/gtest.h>

namespace phonesim {
namespace {

std::vector<AtCommand> Split(const std::string& line, bool* ok) {
    std::vector<AtCommand> cmds;
    EXPECT_TRUE(SplitCommandLine(line, &cmds, ok)) << line;
    return cmds;
}

TEST(AtParserTest, SplitsBasicAndExtendedCommands) {
    bool ok = false;
    auto cmds = Split("ATE0V1+CMGF=0;+CPMS=\"SM\",\"ME\";+CPMS?;+CPBR=?", &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(cmds.size(), 6u);
    EXPECT_EQ(cmds[0].name, "E");
    EXPECT_EQ(cmds[0].args, "0");
    EXPECT_EQ(cmds[1].name, "V");
    EXPECT_EQ(cmds[2].name, "+CMGF");
    EXPECT_EQ(cmds[2].op, CmdOp::kSet);
    EXPECT_EQ(cmds[2].args, "0");
    EXPECT_EQ(cmds[3].args, "\"SM\",\"ME\"");
    EXPECT_EQ(cmds[4].op, CmdOp::kRead);
    EXPECT_EQ(cmds[5].op, CmdOp::kTest);
}

TEST(AtParserTest, CaseAndBlanksOutsideStringsDoNotMatterInsideTheyDo) {
    bool ok = false;
    auto cmds = Split("at + cpbw = 1 , \"+49 1;7\" , , \"a B\"", &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].name, "+CPBW");
    EXPECT_EQ(cmds[0].args, "1,\"+49 1;7\",,\"a B\"");
}

TEST(AtParserTest, DialStringRunsToItsSemicolon) {
    bool ok = false;
    auto cmds = Split("ATD+491701234;E1", &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0].name, "D");
    EXPECT_EQ(cmds[0].args, "+491701234;");
    EXPECT_EQ(cmds[1].name, "E");
}

TEST(AtParserTest, LinesWithoutPrefixAreNoCommandsAndJunkBeforeItIsSkipped) {
    std::vector<AtCommand> cmds;
    bool ok = false;
    EXPECT_FALSE(SplitCommandLine("", &cmds, &ok));
    EXPECT_FALSE(SplitCommandLine("\n", &cmds, &ok));
    EXPECT_FALSE(SplitCommandLine("hello", &cmds, &ok));
    EXPECT_TRUE(SplitCommandLine("\nAT", &cmds, &ok));
    EXPECT_TRUE(ok);
    EXPECT_TRUE(cmds.empty());
}

TEST(AtParserTest, RejectsBadSyntax) {
    for (const char* line :
         {"AT+", "AT+CMGR=\"1", "AT&", "ATS", "ATS3", "ATS3=", "AT#", "ATE1234", "AT+CGMI+CGMM"}) {
        std::vector<AtCommand> cmds;
        bool ok = true;
        EXPECT_TRUE(SplitCommandLine(line, &cmds, &ok)) << line;
        EXPECT_FALSE(ok) << line;
    }
}

TEST(AtParserTest, ParsesArgumentsWithOmittedOnesAndEscapes) {
    std::vector<AtArg> args;
    ASSERT_TRUE(ParseArgs("1,\"a\\22b\",,17", &args));
    ASSERT_EQ(args.size(), 4u);
    EXPECT_EQ(ArgNumber(args[0]), 1);
    EXPECT_TRUE(args[1].quoted);
    EXPECT_EQ(args[1].text, "a\"b");
    EXPECT_FALSE(args[2].present);
    EXPECT_EQ(ArgNumber(args[3]), 17);
    ASSERT_TRUE(ParseArgs("", &args));
    ASSERT_EQ(args.size(), 1u);
    EXPECT_FALSE(args[0].present);
    EXPECT_FALSE(ArgNumber(args[0]).has_value());
}

TEST(AtParserTest, RejectsBadArguments) {
    std::vector<AtArg> args;
    EXPECT_FALSE(ParseArgs("\"abc", &args));
    EXPECT_FALSE(ParseArgs("\"a\\2\"", &args));
    EXPECT_FALSE(ParseArgs("\"a\\", &args));
    EXPECT_FALSE(ParseArgs("\"a\"b", &args));
    EXPECT_FALSE(ParseArgs("x\"a\"", &args));
    ASSERT_TRUE(ParseArgs("1234567890,-1,1a", &args));
    EXPECT_FALSE(ArgNumber(args[0]).has_value());  // too long
    EXPECT_FALSE(ArgNumber(args[1]).has_value());
    EXPECT_FALSE(ArgNumber(args[2]).has_value());
}

}  // namespace
}  // namespace phonesim
