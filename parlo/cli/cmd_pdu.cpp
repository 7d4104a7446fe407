// parlo-cli pdu: decode a PDU as the phone stores it, or build the SMS-SUBMIT PDU
// that the client would send, for users who debug a phone.
#include <cctype>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "parlo/cli/cli.h"
#include "parlo/sms/pdu_codec.h"
#include "parlo/sms/sms_parts.h"
#include "platform/text.h"

namespace cli {

namespace {

constexpr const char* kPduUsage =
    "usage: parlo-cli pdu decode HEX\n"
    "       parlo-cli pdu encode NUMBER TEXT [--smsc NUMBER] [--push] [--concatenated]\n";

std::string Hex2(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X", v & 0xFF);
    return buf;
}

std::string HexBytes(std::string_view bytes) {
    std::string s;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i)
            s += ' ';
        s += Hex2(static_cast<unsigned char>(bytes[i]));
    }
    return s;
}

// "yy/MM/dd,hh:mm:ss" from the 14 semi-octet characters, and the zone.
std::string FormatTime(const std::string& ts, int zone_quarters, bool with_zone) {
    if (ts.size() < 12)
        return ts;
    std::string s = ts.substr(0, 2) + "/" + ts.substr(2, 2) + "/" + ts.substr(4, 2) + "," +
                    ts.substr(6, 2) + ":" + ts.substr(8, 2) + ":" + ts.substr(10, 2);
    if (with_zone) {
        int q = zone_quarters < 0 ? -zone_quarters : zone_quarters;
        char buf[32];
        std::snprintf(buf, sizeof buf, " UTC%c%02d:%02d", zone_quarters < 0 ? '-' : '+', q / 4,
                      (q % 4) * 15);
        s += buf;
    }
    return s;
}

std::string DescribeDcs(const parlo::CPduMessage& m) {
    std::string s = Hex2(m.m_nDcs) + " (";
    s += m.m_nAlphabet == parlo::PDU_ALPHABET_UCS2   ? "UCS2"
         : m.m_nAlphabet == parlo::PDU_ALPHABET_8BIT ? "8-bit data"
                                                     : "GSM 7-bit";
    if (m.m_nMessageClass >= 0)
        s += ", class " + std::to_string(m.m_nMessageClass);
    return s + ")";
}

std::string DescribeValidity(const parlo::CPduMessage& m) {
    if (m.m_nValidityFormat == 0)
        return "none";
    if (m.m_nValidityFormat == 2 && m.m_strValidity.size() == 1) {
        int vp = static_cast<unsigned char>(m.m_strValidity[0]);
        std::string span;
        if (vp <= 143) {
            int minutes = (vp + 1) * 5;
            span = std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
        } else if (vp <= 167) {
            int minutes = 12 * 60 + (vp - 143) * 30;
            span = std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
        } else if (vp <= 196) {
            span = std::to_string(vp - 166) + " days";
        } else {
            span = std::to_string(vp - 192) + " weeks";
        }
        return Hex2(vp) + " (relative, " + span + ")";
    }
    const char* kind = m.m_nValidityFormat == 1 ? "enhanced" : "absolute";
    return HexBytes(m.m_strValidity) + " (" + kind + ")";
}

const char* ErrorText(int r) {
    switch (r) {
        case parlo::PDU_ERR_HEX:
            return "malformed hexadecimal text";
        case parlo::PDU_ERR_FORMAT:
            return "a field runs past the end of the PDU";
        case parlo::PDU_ERR_CODING:
            return "compressed user data is not supported";
        default:
            return "not a message the client reads";
    }
}

void Field(std::ostream& out, const char* name, const std::string& value) {
    std::string label = std::string(name) + ":";
    out << label << std::string(label.size() < 19 ? 19 - label.size() : 1, ' ') << value << "\n";
}

int Decode(Context& ctx, const std::string& arg) {
    std::string hex;
    bool lowercase = false;
    for (char c : arg) {
        if (std::isspace(static_cast<unsigned char>(c)))
            continue;
        if (c >= 'a' && c <= 'f')
            lowercase = true;
        hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    parlo::CPduMessage m;
    int r = parlo::CPduCodec::ParsePdu(hex, &m);
    if (r < 0) {
        ctx.err << "parlo-cli: cannot decode the PDU: " << ErrorText(r) << "\n";
        return kFailed;
    }
    auto utf8 = [](const std::u16string& s) { return platform::ToUtf8(s); };
    Field(ctx.out, "SMS centre", m.m_strSmsc.empty() ? "(none: the phone's own)" : m.m_strSmsc);
    const char* type = m.m_nType == parlo::PDU_TYPE_DELIVER  ? "SMS-DELIVER (received)"
                       : m.m_nType == parlo::PDU_TYPE_SUBMIT ? "SMS-SUBMIT (outgoing)"
                                                             : "SMS-STATUS-REPORT";
    Field(ctx.out, "Message type", type);
    Field(ctx.out, "First octet", Hex2(m.m_nFirstOctet));
    if (m.m_nMessageRef >= 0)
        Field(ctx.out, "Message reference", std::to_string(m.m_nMessageRef));
    const char* who = m.m_nType == parlo::PDU_TYPE_DELIVER  ? "Originator"
                      : m.m_nType == parlo::PDU_TYPE_SUBMIT ? "Destination"
                                                            : "Recipient";
    Field(ctx.out, who, utf8(m.m_strNumber) + " (type " + Hex2(m.m_nNumberType) + ")");
    if (m.m_nType == parlo::PDU_TYPE_STATUS_REPORT) {
        Field(ctx.out, "Time stamp", FormatTime(m.m_strTimestamp, m.m_nZoneQuarters, true));
        Field(ctx.out, "Discharge time", FormatTime(m.m_strDischarge, 0, false));
        Field(ctx.out, "Status", Hex2(m.m_nStatus) + (m.m_nStatus == 0 ? " (delivered)" : ""));
    } else {
        Field(ctx.out, "Protocol id", Hex2(m.m_nPid));
        Field(ctx.out, "Data coding", DescribeDcs(m));
        if (m.m_nType == parlo::PDU_TYPE_DELIVER) {
            Field(ctx.out, "Time stamp", FormatTime(m.m_strTimestamp, m.m_nZoneQuarters, true));
        } else {
            Field(ctx.out, "Validity period", DescribeValidity(m));
        }
        if (!m.m_strUdh.empty()) {
            std::string udh = HexBytes(m.m_strUdh);
            parlo::CPduConcat c;
            if (parlo::CPduCodec::FindConcat(m.m_strUdh, &c)) {
                udh += " (part " + std::to_string(c.m_nSeq) + " of " + std::to_string(c.m_nTotal) +
                       ", reference " + std::to_string(c.m_nRef) + ")";
            }
            Field(ctx.out, "User-data header", udh);
        }
        Field(ctx.out, "Text", utf8(m.m_strText));
    }
    if (lowercase) {
        ctx.out << "Note: the PDU is in lowercase hexadecimal; the SMS client rejects it.\n";
    }
    return kOk;
}

int Encode(Context& ctx) {
    std::string number, text, smsc;
    bool push = false, concatenated = false;
    int plain = 0;
    for (size_t i = 1; i < ctx.args.size(); ++i) {
        const std::string& a = ctx.args[i];
        if (a == "--push") {
            push = true;
        } else if (a == "--concatenated") {
            concatenated = true;
        } else if (a == "--smsc") {
            if (i + 1 >= ctx.args.size()) {
                ctx.err << "parlo-cli: --smsc needs a number\n";
                return kUsage;
            }
            smsc = ctx.args[++i];
        } else if (plain == 0) {
            number = a;
            ++plain;
        } else if (plain == 1) {
            text = a;
            ++plain;
        } else {
            ctx.err << kPduUsage;
            return kUsage;
        }
    }
    if (plain != 2) {
        ctx.err << kPduUsage;
        return kUsage;
    }
    // As the sender does it: the same coding and parts.
    std::u16string wide = platform::FromUtf8(text);
    parlo::CSmsPlan plan = parlo::PlanSms(wide, concatenated);
    std::vector<std::string> pdus(plan.Count());
    std::vector<int> lengths(plan.Count());
    for (size_t k = 0; k < plan.Count(); ++k) {
        lengths[k] = parlo::BuildPartPdu(&pdus[k], plan, wide, k, number, smsc, push, 0);
        if (lengths[k] < 0) {
            ctx.err << "parlo-cli: cannot build the PDU (a number with a character other than "
                       "digits and a leading '+', or more than 20 digits)\n";
            return kFailed;
        }
    }
    std::string coding = parlo::CodingName(plan);
    coding += ", " + std::to_string(plan.Count()) + " SMS";
    if (plan.m_scheme == parlo::SmsScheme::kNumbered)
        coding += " numbered \"1/" + std::to_string(plan.Count()) + ":\"";
    else if (plan.m_scheme == parlo::SmsScheme::kConcatenated)
        coding += " concatenated (reference 0)";
    Field(ctx.out, "Coding", coding);
    for (size_t k = 0; k < plan.Count(); ++k) {
        if (plan.Count() > 1)
            Field(ctx.out, "Part", std::to_string(k + 1) + " of " + std::to_string(plan.Count()));
        parlo::CPduMessage parsed;
        parlo::CPduCodec::ParseSubmitPdu(pdus[k], &parsed);
        Field(ctx.out, "TPDU length", std::to_string(lengths[k]));
        Field(ctx.out, "PDU", pdus[k]);
        Field(ctx.out, "Received as", platform::ToUtf8(parsed.m_strText));
    }
    return kOk;
}

}  // namespace

int CmdPdu(Context& ctx) {
    if (ctx.args.size() == 2 && ctx.args[0] == "decode")
        return Decode(ctx, ctx.args[1]);
    if (!ctx.args.empty() && ctx.args[0] == "encode")
        return Encode(ctx);
    ctx.err << kPduUsage;
    return kUsage;
}

}  // namespace cli
