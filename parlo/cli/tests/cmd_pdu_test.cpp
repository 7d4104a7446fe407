#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "parlo/cli/cli.h"
#include "platform/prompt.h"

namespace cli {
int CmdPdu(Context& ctx);
}

namespace {

struct PduRun {
    int status;
    std::string out;
    std::string err;
};

PduRun Pdu(std::vector<std::string> args) {
    std::ostringstream out, err;
    platform::ScriptedPrompt prompt;
    cli::Context ctx{std::move(args), {}, false, false, out, err, prompt};
    int status = cli::CmdPdu(ctx);
    return {status, out.str(), err.str()};
}

TEST(CliPdu, DecodePrintsEveryField) {
    PduRun r = Pdu({"decode",
                    "07913306000000F0640B913306000000F00000610110221153803105"
                    "0003CB030362B1582C168BC562B1582C168BC562B1582C168BC562B1582C168BC562B1582C16"
                    "8BC56231"});
    EXPECT_EQ(r.status, cli::kOk) << r.err;
    EXPECT_NE(r.out.find("SMS centre:        +33600000000\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Message type:      SMS-DELIVER"), std::string::npos);
    EXPECT_NE(r.out.find("Originator:        +33600000000 (type 91)\n"), std::string::npos);
    EXPECT_NE(r.out.find("Protocol id:       00\n"), std::string::npos);
    EXPECT_NE(r.out.find("Data coding:       00 (GSM 7-bit)\n"), std::string::npos);
    EXPECT_NE(r.out.find("Time stamp:        16/10/01,22:11:35 UTC+02:00\n"), std::string::npos);
    EXPECT_NE(r.out.find("User-data header:  00 03 CB 03 03 (part 3 of 3, reference 203)\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("Text:              " + std::string(42, '1') + "\n"), std::string::npos);
}

TEST(CliPdu, DecodeRefusesBrokenInput) {
    PduRun r = Pdu({"decode", "0011"});
    EXPECT_EQ(r.status, cli::kFailed);
    EXPECT_FALSE(r.err.empty());
    EXPECT_TRUE(r.out.empty());
    r = Pdu({"decode", "0G"});
    EXPECT_EQ(r.status, cli::kFailed);
}

TEST(CliPdu, EncodeAsTheSenderDoes) {
    PduRun r = Pdu({"encode", "+46708251358", "hellohello", "--smsc", "+27381000015"});
    EXPECT_EQ(r.status, cli::kOk) << r.err;
    EXPECT_EQ(r.out,
              "Coding:            GSM 7-bit, 1 SMS\n"
              "TPDU length:       23\n"
              "PDU:               07917283010010F511000B916407281553F80000FF0AE8329BFD4697D9EC37\n"
              "Received as:       hellohello\n");
    // Extension characters go out as escape and code: "[€]" is 6 septets.
    r = Pdu({"encode", "--push", "123", "[\xE2\x82\xAC]"});
    EXPECT_EQ(r.status, cli::kOk) << r.err;
    EXPECT_NE(r.out.find("Coding:            GSM 7-bit with extension characters, 1 SMS\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("PDU:               001100038121F300F0FF061BDEA6BCF101\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Received as:       [\xE2\x82\xAC]\n"), std::string::npos) << r.out;
    // A character outside both tables: UCS2, and two numbered parts past 70.
    r = Pdu({"encode", "123", "\xD0\x96" + std::string(70, 'a')});  // "Ж" + 70 'a'
    EXPECT_EQ(r.status, cli::kOk) << r.err;
    EXPECT_NE(r.out.find("Coding:            UCS2, 2 SMS numbered \"1/2:\"\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Received as:       1/2:\xD0\x96"
                         "aaa"),
              std::string::npos)
        << r.out;
}

TEST(CliPdu, EncodeFailuresAndUsage) {
    EXPECT_EQ(Pdu({"encode", "*100#", "hi"}).status, cli::kFailed);
    PduRun r = Pdu({"encode", "123", std::string(161, 'x'), "--concatenated"});
    EXPECT_EQ(r.status, cli::kOk) << r.err;
    EXPECT_NE(r.out.find("Part:              2 of 2\n"), std::string::npos) << r.out;
    EXPECT_EQ(Pdu({"encode", "123"}).status, cli::kUsage);
    EXPECT_EQ(Pdu({"encode", "123", "hi", "--smsc"}).status, cli::kUsage);
    EXPECT_EQ(Pdu({}).status, cli::kUsage);
    EXPECT_EQ(Pdu({"frobnicate"}).status, cli::kUsage);
}

}  // namespace
