// Fuzz target of the PDU codec: the parsers, HexDecode and the field decoders must
// reject any input cleanly and never read past it; what the builder makes, the
// parser reads back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "parlo/sms/gsm_alphabet.h"
#include "parlo/sms/pdu_codec.h"

namespace {

using parlo::CPduCodec;
using parlo::CPduMessage;

void Check(bool ok) {
    if (!ok)
        std::abort();
}

// The input in a heap block of exactly its size, so that a read past it is caught.
struct Exact {
    explicit Exact(const uint8_t* p, size_t n) : size(n), data(new uint8_t[n ? n : 1]) {
        if (n)
            std::memcpy(data.get(), p, n);
    }
    std::string_view view() const { return {reinterpret_cast<const char*>(data.get()), size}; }
    size_t size;
    std::unique_ptr<uint8_t[]> data;
};

bool SameMessage(const CPduMessage& a, const CPduMessage& b) {
    return a.m_nType == b.m_nType && a.m_strSmsc == b.m_strSmsc && a.m_strNumber == b.m_strNumber &&
           a.m_strTimestamp == b.m_strTimestamp && a.m_strUdh == b.m_strUdh &&
           a.m_strText == b.m_strText && a.m_strValidity == b.m_strValidity &&
           a.m_nStatus == b.m_nStatus;
}

void ParseAll(std::string_view hex) {
    CPduMessage msg;
    int r = CPduCodec::ParseDeliverPdu(hex, &msg);
    Check(r < 0 || r == static_cast<int>(msg.m_strText.size()));
    r = CPduCodec::ParseSubmitPdu(hex, &msg);
    Check(r < 0 || r == static_cast<int>(msg.m_strText.size()));
    r = CPduCodec::ParsePdu(hex, &msg);
    Check(r < 0 || r == static_cast<int>(msg.m_strText.size()));
    if (r < 0)
        Check(msg.m_strText.empty() && msg.m_strNumber.empty());
}

// Raw text: hexadecimal validation and the parsers on whatever arrives.
void FuzzText(const uint8_t* p, size_t n) {
    Exact text(p, n);
    ParseAll(text.view());
    size_t cap = n / 2;
    std::unique_ptr<uint8_t[]> out(new uint8_t[cap ? cap : 1]);
    int r = CPduCodec::HexDecode(out.get(), cap, text.view());
    Check(r < 0 || static_cast<size_t>(r) == cap);
    if (cap > 0) {
        r = CPduCodec::HexDecode(out.get(), cap - 1, text.view());
        Check(r < 0);
    }
}

// Binary octets as a well-formed hexadecimal PDU: the structure is explored. A
// message that parses must parse the same with trailing octets added.
void FuzzOctets(const uint8_t* p, size_t n) {
    std::string hex;
    CPduCodec::HexEncode(&hex, p, n);
    Exact exact(reinterpret_cast<const uint8_t*>(hex.data()), hex.size());
    ParseAll(exact.view());
    CPduMessage a, b;
    for (auto parse : {&CPduCodec::ParseDeliverPdu, &CPduCodec::ParseSubmitPdu}) {
        int ra = parse(exact.view(), &a);
        if (ra < 0)
            continue;
        if (a.m_nType == parlo::PDU_TYPE_STATUS_REPORT)
            continue;
        if (n + 2 > static_cast<size_t>(parlo::PDU_MAX_PARSE_OCTETS))
            continue;
        int rb = parse(hex + "A5A5", &b);
        Check(ra == rb && SameMessage(a, b));
    }
}

// The field decoders on exact buffers.
void FuzzFields(const uint8_t* p, size_t n) {
    Exact in(p, n);
    std::u16string s;
    int r = CPduCodec::DecodeAddress(&s, in.data.get(), n);
    Check(r < 0 || (r >= 2 && static_cast<size_t>(r) <= n));
    uint8_t codes[parlo::PDU_MAX_SEPTETS];
    r = CPduCodec::UnpackSeptets(codes, in.data.get(), n);
    Check(r < 0 || r <= parlo::PDU_MAX_SEPTETS);
    std::string ts;
    r = CPduCodec::DecodeTimestamp(&ts, in.data.get(), n);
    Check(r < 0 || (r == 7 && ts.size() == 14));
    parlo::CPduConcat c;
    if (CPduCodec::FindConcat(in.view(), &c))
        Check(c.m_nSeq >= 1 && c.m_nSeq <= c.m_nTotal);
    std::u16string text;
    parlo::AppendGsmText(&text, in.data.get(), n);
    Check(text.size() <= n);
    std::u16string wide(n / 2, u'\0');
    std::memcpy(wide.data(), p, (n / 2) * 2);
    std::u16string copy = wide;
    parlo::FromGsmAlphabet(copy);
    Check(copy.size() <= wide.size());
    parlo::ToGsmAlphabet(wide);
}

// Build a message from the input and read it back.
void FuzzRoundTrip(const uint8_t* p, size_t n) {
    if (n < 2)
        return;
    size_t digits = p[0] % (parlo::PDU_MAX_DIGITS + 1);
    bool international = p[0] & 0x80;
    bool push = p[1] & 1;
    p += 2;
    n -= 2;
    std::string number = international ? "+" : "";
    for (size_t i = 0; i < digits && i < n; ++i)
        number += static_cast<char>('0' + p[i] % 10);
    size_t used = digits < n ? digits : n;
    std::string codes;
    for (size_t i = used; i < n && codes.size() < parlo::PDU_MAX_TEXT; ++i) {
        codes += static_cast<char>(p[i] & 0x7F);
    }
    std::string hex;
    int r = CPduCodec::BuildSubmitPdu(&hex, codes, number, "+4917", push);
    bool no_digits = used == 0;
    if (no_digits) {
        Check(r < 0 && hex.empty());
        return;
    }
    Check(r > 0 && hex.size() <= static_cast<size_t>(parlo::PDU_MAX_HEX));
    CPduMessage msg;
    Exact exact(reinterpret_cast<const uint8_t*>(hex.data()), hex.size());
    r = CPduCodec::ParseSubmitPdu(exact.view(), &msg);
    std::u16string expected;
    parlo::AppendGsmText(&expected, reinterpret_cast<const uint8_t*>(codes.data()), codes.size());
    Check(r == static_cast<int>(expected.size()) && msg.m_strText == expected);
    Check(msg.m_strNumber == std::u16string(number.begin(), number.end()));
    Check(msg.m_nDcs == (push ? parlo::PDU_DCS_PUSH : parlo::PDU_DCS_DEFAULT));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t* p = data + 1;
    size_t n = size - 1;
    switch (data[0] % 4) {
        case 0:
            FuzzText(p, n);
            break;
        case 1:
            FuzzOctets(p, n);
            break;
        case 2:
            FuzzFields(p, n);
            break;
        default:
            FuzzRoundTrip(p, n);
            break;
    }
    return 0;
}
