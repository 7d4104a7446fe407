// What the recipient reads: texts sent through the real serial code to the
// simulated phone, which decodes every part and joins concatenated messages.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "parlo/sms/sms_parts.h"
#include "parlo/sms/tests/engine_fixture.h"

namespace parlo::testing {
namespace {

std::u16string Repeat(std::u16string_view s, size_t n) {
    std::u16string out;
    for (size_t i = 0; i < n; ++i)
        out += s;
    return out;
}

const std::u16string kRu = u"\u0416";         // outside the default alphabet
const std::u16string kSmile = u"\U0001F600";  // a surrogate pair

struct Case {
    const char* name;
    std::u16string text;
    size_t parts;  // messages on the air
    bool push = false;
};

class SendCodingTest : public EngineTest {
  protected:
    // Queues every case to its own number, runs one synchronisation, and
    // returns the numbers.
    std::vector<std::string> SendAll(const std::vector<Case>& cases) {
        std::vector<std::string> numbers;
        for (size_t i = 0; i < cases.size(); ++i) {
            numbers.push_back("+4917000" + std::to_string(1000 + i));
            AddRecord(cases[i].push ? STATE_OUTBOX_PUSH : STATE_OUTBOX,
                      platform::WidenBytes(numbers.back()), cases[i].text);
        }
        Engine().m_sync.SynchronizeMessages();
        EXPECT_TRUE(Engine().m_errors.Empty()) << platform::ToUtf8(Engine().m_errors.Text());
        EXPECT_EQ(InState(STATE_SENT).size(), cases.size());
        return numbers;
    }

    static std::vector<nlohmann::json> For(const nlohmann::json& list, const std::string& to) {
        std::vector<nlohmann::json> out;
        for (const auto& e : list)
            if (e["to"] == to)
                out.push_back(e);
        return out;
    }
};

TEST_F(SendCodingTest, PlainExtensionAndUnicodeTextsArriveAsTyped) {
    StartPhone();
    const std::vector<Case> cases = {
        {"plain", u"Meet at 5 @ home, \u00A33 & \u00C4\u00D6\u00DC? \u0394\u03A9_", 1},
        {"extension", u"Price 5\u20AC [x] {y} ~|^\\", 1},
        {"unicode", u"\u041F\u0440\u0438\u0432\u0435\u0442 \u0151 \u00FC", 1},
        {"emoji", u"Gl\u00FCck " + kSmile, 1},
        {"push unicode", u"\u0421\u0440\u043E\u0447\u043D\u043E!", 1, true},
        {"push plain", u"Call me", 1, true},
    };
    const int dcs[] = {0x00, 0x00, 0x08, 0x08, 0x18, 0xF0};
    std::vector<std::string> numbers = SendAll(cases);
    nlohmann::json sms = PhoneState()["sms"];
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        auto got = For(sms["delivered"], numbers[i]);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0]["text"], platform::ToUtf8(cases[i].text));
        auto sent = For(sms["sent"], numbers[i]);
        ASSERT_EQ(sent.size(), 1u);
        CPduMessage m;
        ASSERT_GE(CPduCodec::ParseSubmitPdu(sent[0]["pdu"].get<std::string>(), &m), 0);
        EXPECT_EQ(m.m_nDcs, dcs[i]);
    }
}

// Splits a delivered numbered part "k/n:piece" and checks the label.
std::string Piece(const std::string& text, size_t k, size_t n) {
    std::string prefix = std::to_string(k) + "/" + std::to_string(n) + ":";
    EXPECT_EQ(text.substr(0, prefix.size()), prefix);
    return text.substr(prefix.size());
}

TEST_F(SendCodingTest, NumberedPartsAtEveryBoundary) {
    StartPhone();
    const std::vector<Case> cases = {
        {"7-bit 154", Repeat(u"a", 154), 1},
        {"7-bit 155", Repeat(u"b", 155), 2},
        {"7-bit 160", Repeat(u"c", 160), 2},
        {"7-bit 161", Repeat(u"d", 161), 2},
        // A 308-character text is exactly two messages, not three.
        {"7-bit 308", Repeat(u"e", 308), 2},
        {"7-bit 309", Repeat(u"f", 309), 3},
        {"escape straddling 154", Repeat(u"g", 153) + u"\u20AC" + u"tail", 2},
        {"UCS2 70", Repeat(kRu, 70), 1},
        {"UCS2 71", Repeat(kRu, 71), 2},
        {"UCS2 132", Repeat(kRu, 132), 2},
        {"UCS2 133", Repeat(kRu, 133), 3},
        {"surrogate straddling 66", Repeat(kRu, 65) + kSmile + Repeat(u"x", 10), 2},
        {"push UCS2 in parts", Repeat(kRu, 80), 2, true},
    };
    std::vector<std::string> numbers = SendAll(cases);
    nlohmann::json sms = PhoneState()["sms"];
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        auto got = For(sms["delivered"], numbers[i]);
        ASSERT_EQ(got.size(), cases[i].parts);
        if (cases[i].parts == 1) {
            EXPECT_EQ(got[0]["text"], platform::ToUtf8(cases[i].text));
            continue;
        }
        std::string joined;
        for (size_t k = 0; k < got.size(); ++k)
            joined += Piece(got[k]["text"].get<std::string>(), k + 1, got.size());
        EXPECT_EQ(joined, platform::ToUtf8(cases[i].text));
    }
    // The straddling characters start the second part whole.
    EXPECT_EQ(For(sms["delivered"], numbers[6])[1]["text"], "2/2:\xE2\x82\xACtail");
    EXPECT_EQ(For(sms["delivered"], numbers[11])[1]["text"],
              "2/2:\xF0\x9F\x98\x80" + std::string(10, 'x'));
    for (const auto& s : For(sms["sent"], numbers[12])) {
        CPduMessage m;
        ASSERT_GE(CPduCodec::ParseSubmitPdu(s["pdu"].get<std::string>(), &m), 0);
        EXPECT_EQ(m.m_nDcs, PDU_DCS_UCS2_PUSH);
    }
}

TEST_F(SendCodingTest, ConcatenatedPartsAreJoinedByTheRecipient) {
    settings_.m_bConcatenated = 1;
    StartPhone();
    const std::vector<Case> cases = {
        {"7-bit 160", Repeat(u"a", 160), 1},
        {"7-bit 161", Repeat(u"b", 161), 2},
        {"7-bit 306", Repeat(u"c", 306), 2},
        {"7-bit 307", Repeat(u"d", 307), 3},
        {"escape straddling 153", Repeat(u"e", 152) + u"{" + Repeat(u"f", 20), 2},
        {"UCS2 70", Repeat(kRu, 70), 1},
        {"UCS2 71", Repeat(kRu, 71), 2},
        {"UCS2 134", Repeat(kRu, 134), 2},
        {"UCS2 135", Repeat(kRu, 135), 3},
        {"surrogate straddling 67", Repeat(kRu, 66) + kSmile + Repeat(u"y", 10), 2},
        {"push UCS2", Repeat(kRu, 100), 2, true},
    };
    std::vector<std::string> numbers = SendAll(cases);
    nlohmann::json sms = PhoneState()["sms"];
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        auto got = For(sms["delivered"], numbers[i]);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0]["text"], platform::ToUtf8(cases[i].text));
        EXPECT_EQ(got[0]["parts"], cases[i].parts);
        auto sent = For(sms["sent"], numbers[i]);
        ASSERT_EQ(sent.size(), cases[i].parts);
        for (size_t k = 0; k < sent.size(); ++k) {
            if (cases[i].parts == 1) {
                EXPECT_FALSE(sent[k].contains("concat"));
                continue;
            }
            EXPECT_EQ(sent[k]["concat"]["part"], k + 1);
            EXPECT_EQ(sent[k]["concat"]["reference"], sent[0]["concat"]["reference"]);
        }
    }
    // The escape and the surrogate pair open the second part.
    EXPECT_EQ(For(sms["sent"], numbers[4])[1]["text"], "{" + std::string(20, 'f'));
    EXPECT_EQ(For(sms["sent"], numbers[9])[1]["text"], "\xF0\x9F\x98\x80" + std::string(10, 'y'));
    // Two messages get different references.
    EXPECT_NE(For(sms["sent"], numbers[1])[0]["concat"]["reference"],
              For(sms["sent"], numbers[2])[0]["concat"]["reference"]);
}

// A Python interpreter with the gammu module (python3-gammu), or "".
std::string GammuPython() {
    for (const char* py : {"python3", "/usr/bin/python3"}) {
        std::string cmd = std::string(py) + " -c 'import gammu' >/dev/null 2>&1";
        int rc = std::system(cmd.c_str());
        if (rc != -1 && WIFEXITED(rc) && WEXITSTATUS(rc) == 0)
            return py;
    }
    return {};
}

// Decodes the PDUs of `in` (one hexadecimal PDU a line) with gammu, links the
// parts of concatenated messages and prints one decoded text a line, as
// JSON strings, in the order of the first part of each message.
constexpr const char* kGammuScript = R"PY(
import binascii, json, sys
import gammu
msgs = []
for line in open(sys.argv[1]):
    line = line.strip()
    if line:
        msgs.append([gammu.DecodePDU(binascii.unhexlify(line), True)])
for group in gammu.LinkSMS(msgs):
    info = gammu.DecodeSMS(group)
    if info and info.get('Entries') and info['Entries'][0].get('Buffer') is not None:
        text = ''.join(e['Buffer'] for e in info['Entries'] if e.get('Buffer') is not None)
    else:
        text = ''.join(m['Text'] for m in group)
    print(json.dumps({'to': group[0]['Number'], 'text': text, 'parts': len(group),
                      'coding': group[0]['Coding'], 'class': group[0]['Class']}))
)PY";

TEST_F(SendCodingTest, AnIndependentDecoderReadsWhatWasSent) {
    std::string python = GammuPython();
    // scripts/setup.sh installs python3-gammu; without it this check cannot
    // run, and that is a failure, not a pass.
    ASSERT_FALSE(python.empty()) << "python3-gammu is not installed (scripts/setup.sh installs it)";
    settings_.m_bConcatenated = 1;
    StartPhone();
    const std::vector<Case> cases = {
        {"extension", u"Price 5\u20AC [x] {y} ~|^\\ and a form\ffeed", 1},
        {"unicode", u"\u041F\u0440\u0438\u0432\u0435\u0442 \u0151 \u00FC " + kSmile, 1},
        {"push unicode", u"\u0421\u0440\u043E\u0447\u043D\u043E!", 1, true},
        {"concatenated 7-bit", Repeat(u"e", 152) + u"\u20AC" + Repeat(u"[ab]", 40), 3},
        {"concatenated UCS2", Repeat(kRu, 66) + kSmile + Repeat(u"y", 80), 3},
    };
    std::vector<std::string> numbers = SendAll(cases);
    std::filesystem::path in = dir_ / "pdus.txt";
    {
        std::ofstream f(in);
        nlohmann::json state = PhoneState();
        for (const auto& s : state["sms"]["sent"])
            f << s["pdu"].get<std::string>() << "\n";
    }
    std::string cmd = python + " - " + in.string() + " > " + (dir_ / "decoded.txt").string() +
                      " 2> " + (dir_ / "gammu.err").string();
    FILE* p = popen(cmd.c_str(), "w");
    ASSERT_NE(p, nullptr);
    std::fputs(kGammuScript, p);
    int rc = pclose(p);
    std::ifstream err(dir_ / "gammu.err");
    std::stringstream errors;
    errors << err.rdbuf();
    ASSERT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 0) << errors.str();

    std::ifstream out(dir_ / "decoded.txt");
    std::vector<nlohmann::json> decoded;
    for (std::string line; std::getline(out, line);)
        decoded.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(decoded.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(decoded[i]["to"], numbers[i]);
        EXPECT_EQ(decoded[i]["text"], platform::ToUtf8(cases[i].text));
        EXPECT_EQ(decoded[i]["parts"], cases[i].parts);
    }
    EXPECT_EQ(decoded[2]["class"], 0);
    EXPECT_EQ(decoded[2]["coding"], "Unicode_No_Compression");
}

}  // namespace
}  // namespace parlo::testing
