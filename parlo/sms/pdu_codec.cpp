#include "parlo/sms/pdu_codec.h"

#include <array>

#include "parlo/sms/gsm_alphabet.h"

namespace parlo {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Value of an uppercase hexadecimal digit, or -1.
constexpr std::array<int8_t, 256> MakeHexValues() {
    std::array<int8_t, 256> v{};
    for (auto& x : v)
        x = -1;
    for (int i = 0; i < 10; ++i)
        v['0' + i] = static_cast<int8_t>(i);
    for (int i = 0; i < 6; ++i)
        v['A' + i] = static_cast<int8_t>(10 + i);
    return v;
}
constexpr std::array<int8_t, 256> kHexValues = MakeHexValues();

// The characters of address semi-octets 0 to 14 (15 is the filler).
constexpr char kAddressDigits[] = "0123456789*#abc";

constexpr uint8_t kFirstOctetSubmit = 0x11;  // SMS-SUBMIT, relative validity period
constexpr uint8_t kValidityMax = 0xFF;
constexpr int kTonAlphanumeric = 5;

// Digits of a semi-octet address: `n` nibbles from `p`, low nibble first. The
// filler 0xF is skipped.
template <typename Str>
void AppendSemiOctets(Str* out, const uint8_t* p, int n) {
    for (int k = 0; k < n; ++k) {
        uint8_t octet = p[k / 2];
        int nibble = (k % 2 == 0) ? (octet & 0x0F) : (octet >> 4);
        if (nibble < 15)
            out->push_back(static_cast<typename Str::value_type>(kAddressDigits[nibble]));
    }
}

// Reads `count` septets starting `bit` bits into `data`, least significant bit
// first; the caller has checked that they lie within the data.
void ReadSeptets(uint8_t* out, const uint8_t* data, size_t bit, int count) {
    for (int i = 0; i < count; ++i, bit += 7) {
        size_t byte = bit >> 3;
        unsigned shift = bit & 7;
        unsigned v = data[byte] >> shift;
        if (shift > 1)
            v |= static_cast<unsigned>(data[byte + 1]) << (8 - shift);
        out[i] = static_cast<uint8_t>(v & 0x7F);
    }
}

size_t SeptetOctets(size_t septets) {
    return (septets * 7 + 7) / 8;
}

// Packs 7-bit codes into `data`, least significant bit first, after
// `fill_bits` zero bits (the fill that aligns text after a header). Returns
// the octets written, or -1 when a code is not a septet.
int WriteSeptets(uint8_t* data, int fill_bits, std::string_view codes) {
    int w = 0;
    unsigned acc = 0;  // bits not yet written, least significant first
    int bits = fill_bits;
    for (char c : codes) {
        if (static_cast<uint8_t>(c) >= 128)
            return -1;
        acc |= static_cast<unsigned>(static_cast<uint8_t>(c)) << bits;
        bits += 7;
        while (bits >= 8) {
            data[w++] = static_cast<uint8_t>(acc);
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0)
        data[w++] = static_cast<uint8_t>(acc);
    return w;
}

// The semi-octet service-centre field of a parsed PDU into `out`.
int DecodeSmsc(std::string* out, const uint8_t* p, size_t len) {
    out->clear();
    if (len < 1)
        return PDU_ERR_FORMAT;
    size_t n = p[0];
    if (n == 0)
        return 1;
    if (n > PDU_MAX_ADDRESS - 1 || 1 + n > len)
        return PDU_ERR_FORMAT;
    if (p[1] == 0x91)
        out->push_back('+');
    int digits = static_cast<int>(n - 1) * 2;
    if (digits > 0 && (p[n] >> 4) == 0x0F)
        --digits;
    AppendSemiOctets(out, p + 2, digits);
    return static_cast<int>(1 + n);
}

// The user data of a SUBMIT or DELIVER, from the user-data length octet at `p`
// (`len` octets left), by the alphabet of `msg`.
int DecodeUserData(CPduMessage* msg, const uint8_t* p, size_t len) {
    if (len < 1)
        return PDU_ERR_FORMAT;
    const size_t udl = p[0];
    const uint8_t* ud = p + 1;
    const size_t avail = len - 1;
    const bool has_udh = (msg->m_nFirstOctet & 0x40) != 0;
    const bool septets = msg->m_nAlphabet == PDU_ALPHABET_GSM7;
    const size_t ud_octets = septets ? SeptetOctets(udl) : udl;
    if (ud_octets > avail)
        return PDU_ERR_FORMAT;

    size_t header = 0;  // octets of the header with its length octet
    if (has_udh && udl > 0) {
        header = static_cast<size_t>(ud[0]) + 1;
        if (header > ud_octets)
            return PDU_ERR_FORMAT;
        msg->m_strUdh.assign(reinterpret_cast<const char*>(ud + 1), header - 1);
    }

    if (septets) {
        // The header and its fill bits take whole septets.
        size_t skip = (header * 8 + 6) / 7;
        if (skip > udl)
            return PDU_ERR_FORMAT;
        uint8_t codes[PDU_MAX_SEPTETS];
        int count = static_cast<int>(udl - skip);
        ReadSeptets(codes, ud, skip * 7, count);
        AppendGsmText(&msg->m_strText, codes, static_cast<size_t>(count));
    } else if (msg->m_nAlphabet == PDU_ALPHABET_8BIT) {
        for (size_t i = header; i < udl; ++i)
            msg->m_strText.push_back(ud[i]);
    } else {
        // UCS2: UTF-16 big-endian; surrogate pairs pass through as they are. An odd
        // last octet is dropped.
        size_t units = (udl - header) / 2;
        msg->m_strText.resize(units);
        for (size_t i = 0; i < units; ++i) {
            const uint8_t* u = ud + header + 2 * i;
            msg->m_strText[i] = static_cast<char16_t>((u[0] << 8) | u[1]);
        }
    }
    return static_cast<int>(msg->m_strText.size());
}

// Reads the data coding scheme into `msg` (3GPP TS 23.038 clause 4).
int ApplyDcs(CPduMessage* msg, uint8_t dcs) {
    msg->m_nDcs = dcs;
    msg->m_nAlphabet = PDU_ALPHABET_GSM7;
    msg->m_nMessageClass = -1;
    int group = dcs >> 4;
    if (group <= 7) {
        // General data coding, with or without automatic deletion.
        if (dcs & 0x20)
            return PDU_ERR_CODING;  // compressed
        int alphabet = (dcs >> 2) & 3;
        if (alphabet == 1)
            msg->m_nAlphabet = PDU_ALPHABET_8BIT;
        if (alphabet == 2)
            msg->m_nAlphabet = PDU_ALPHABET_UCS2;
        if (dcs & 0x10)
            msg->m_nMessageClass = dcs & 3;
    } else if (group == 0x0E) {
        msg->m_nAlphabet = PDU_ALPHABET_UCS2;  // message waiting, UCS2
    } else if (group == 0x0F) {
        if (dcs & 0x04)
            msg->m_nAlphabet = PDU_ALPHABET_8BIT;
        msg->m_nMessageClass = dcs & 3;
    }
    // Reserved groups and message waiting with the default alphabet: 7-bit.
    return 0;
}

void Reset(CPduMessage* msg) {
    msg->m_nType = -1;
    msg->m_strSmsc.clear();
    msg->m_nFirstOctet = 0;
    msg->m_nMessageRef = -1;
    msg->m_strNumber.clear();
    msg->m_nNumberType = 0;
    msg->m_nPid = 0;
    msg->m_nDcs = 0;
    msg->m_nAlphabet = PDU_ALPHABET_GSM7;
    msg->m_nMessageClass = -1;
    msg->m_strTimestamp.assign(14, '0');
    msg->m_nZoneQuarters = 0;
    msg->m_nValidityFormat = 0;
    msg->m_strValidity.clear();
    msg->m_strDischarge.assign(14, '0');
    msg->m_nStatus = -1;
    msg->m_strUdh.clear();
    msg->m_strText.clear();
}

int ZoneQuarters(uint8_t octet) {
    int q = (octet & 0x07) * 10 + (octet >> 4);
    return (octet & 0x08) ? -q : q;
}

// Parses the TPDU after the service-centre field. `want` is the required message
// type, or -1 for any.
int ParseTpdu(const uint8_t* p, size_t len, CPduMessage* msg, int want) {
    size_t pos = 0;
    if (pos + 1 > len)
        return PDU_ERR_FORMAT;
    msg->m_nFirstOctet = p[pos++];
    int type = msg->m_nFirstOctet & 3;
    if (type == 3)
        type = PDU_TYPE_DELIVER;  // reserved: read as a delivery
    if (want >= 0 && type != want)
        return PDU_ERR_TYPE;
    msg->m_nType = type;

    if (type != PDU_TYPE_DELIVER) {
        if (pos + 1 > len)
            return PDU_ERR_FORMAT;
        msg->m_nMessageRef = p[pos++];
    }
    int r = CPduCodec::DecodeAddress(&msg->m_strNumber, p + pos, len - pos);
    if (r < 0)
        return r;
    msg->m_nNumberType = p[pos + 1];
    pos += static_cast<size_t>(r);

    if (type == PDU_TYPE_STATUS_REPORT) {
        r = CPduCodec::DecodeTimestamp(&msg->m_strTimestamp, p + pos, len - pos);
        if (r < 0)
            return r;
        msg->m_nZoneQuarters = ZoneQuarters(p[pos + 6]);
        pos += 7;
        r = CPduCodec::DecodeTimestamp(&msg->m_strDischarge, p + pos, len - pos);
        if (r < 0)
            return r;
        pos += 7;
        if (pos + 1 > len)
            return PDU_ERR_FORMAT;
        msg->m_nStatus = p[pos++];
        return 0;  // a report has no text; its optional fields are not read
    }

    if (pos + 2 > len)
        return PDU_ERR_FORMAT;
    msg->m_nPid = p[pos++];
    r = ApplyDcs(msg, p[pos++]);
    if (r < 0)
        return r;

    if (type == PDU_TYPE_DELIVER) {
        r = CPduCodec::DecodeTimestamp(&msg->m_strTimestamp, p + pos, len - pos);
        if (r < 0)
            return r;
        msg->m_nZoneQuarters = ZoneQuarters(p[pos + 6]);
        pos += 7;
    } else {
        msg->m_nValidityFormat = (msg->m_nFirstOctet >> 3) & 3;
        size_t vp = msg->m_nValidityFormat == 2 ? 1 : msg->m_nValidityFormat == 0 ? 0 : 7;
        if (pos + vp > len)
            return PDU_ERR_FORMAT;
        msg->m_strValidity.assign(reinterpret_cast<const char*>(p + pos), vp);
        pos += vp;
    }
    return DecodeUserData(msg, p + pos, len - pos);
}

int Parse(std::string_view hex, CPduMessage* msg, int want) {
    Reset(msg);
    uint8_t buf[PDU_MAX_PARSE_OCTETS];
    int n = CPduCodec::HexDecode(buf, sizeof buf, hex);
    if (n == PDU_ERR_HEX_SPACE)
        return PDU_ERR_FORMAT;
    if (n < 0)
        return PDU_ERR_HEX;
    size_t len = static_cast<size_t>(n);
    int sc = DecodeSmsc(&msg->m_strSmsc, buf, len);
    if (sc < 0)
        return sc;
    int r = ParseTpdu(buf + sc, len - static_cast<size_t>(sc), msg, want);
    if (r < 0)
        Reset(msg);
    return r;
}

}  // namespace

int CPduCodec::EncodeAddress(uint8_t* out, std::string_view number, bool smsc_form) {
    if (number.empty()) {
        out[0] = 0x00;
        return 1;
    }
    bool international = number[0] == '+';
    if (international)
        number.remove_prefix(1);
    if (number.empty() || number.size() > PDU_MAX_DIGITS)
        return PDU_ERR_ENCODE;
    for (char c : number) {
        if (c < '0' || c > '9')
            return PDU_ERR_ENCODE;
    }
    int digits = static_cast<int>(number.size());
    int octets = (digits + 1) / 2;
    out[0] = static_cast<uint8_t>(smsc_form ? octets + 1 : digits);
    out[1] = international ? 0x91 : 0x81;
    for (int k = 0; k < octets; ++k) {
        uint8_t lo = static_cast<uint8_t>(number[2 * k] - '0');
        uint8_t hi = 2 * k + 1 < digits ? static_cast<uint8_t>(number[2 * k + 1] - '0') : 0x0F;
        out[2 + k] = static_cast<uint8_t>(lo | (hi << 4));
    }
    return 2 + octets;
}

int CPduCodec::PackSeptets(uint8_t* out, std::string_view codes) {
    if (codes.size() > PDU_MAX_TEXT)
        return PDU_ERR_ENCODE;
    const int octets = WriteSeptets(out + 1, 0, codes);
    if (octets < 0)
        return PDU_ERR_ENCODE;
    out[0] = static_cast<uint8_t>(codes.size());
    return octets;
}

int CPduCodec::UnpackSeptets(uint8_t* out, const uint8_t* in, size_t in_len) {
    if (in_len < 1)
        return PDU_ERR_FORMAT;
    int count = in[0];
    if (SeptetOctets(static_cast<size_t>(count)) > in_len - 1)
        return PDU_ERR_FORMAT;
    ReadSeptets(out, in + 1, 0, count);
    return count;
}

void CPduCodec::HexEncode(std::string* out, const uint8_t* bytes, size_t count) {
    size_t start = out->size();
    out->resize(start + 2 * count);
    char* dst = out->data() + start;
    for (size_t i = 0; i < count; ++i) {
        dst[2 * i] = kHexDigits[bytes[i] >> 4];
        dst[2 * i + 1] = kHexDigits[bytes[i] & 0x0F];
    }
}

int CPduCodec::HexDecode(uint8_t* out, size_t cap, std::string_view hex) {
    if (hex.size() % 2 != 0)
        return PDU_ERR_HEX_ODD;
    size_t n = hex.size() / 2;
    if (n > cap)
        return PDU_ERR_HEX_SPACE;
    for (size_t i = 0; i < n; ++i) {
        int hi = kHexValues[static_cast<uint8_t>(hex[2 * i])];
        int lo = kHexValues[static_cast<uint8_t>(hex[2 * i + 1])];
        if ((hi | lo) < 0)
            return PDU_ERR_HEX_CHAR;
        out[i] = static_cast<uint8_t>((hi << 4) | lo);
    }
    return static_cast<int>(n);
}

int CPduCodec::DecodeAddress(std::u16string* out, const uint8_t* in, size_t in_len) {
    out->clear();
    if (in_len < 2)
        return PDU_ERR_FORMAT;
    int n = in[0];  // useful semi-octets
    if (n > PDU_MAX_DIGITS)
        return PDU_ERR_FORMAT;
    size_t octets = static_cast<size_t>(n + 1) / 2;
    if (2 + octets > in_len)
        return PDU_ERR_FORMAT;
    uint8_t type = in[1];
    if (((type >> 4) & 7) == kTonAlphanumeric) {
        uint8_t codes[PDU_MAX_DIGITS];
        int count = n * 4 / 7;
        ReadSeptets(codes, in + 2, 0, count);
        AppendGsmText(out, codes, static_cast<size_t>(count));
    } else {
        if (type == 0x91)
            out->push_back(u'+');
        AppendSemiOctets(out, in + 2, n);
    }
    return static_cast<int>(2 + octets);
}

int CPduCodec::DecodeTimestamp(std::string* out, const uint8_t* in, size_t in_len) {
    if (in_len < 7)
        return PDU_ERR_FORMAT;
    out->resize(14);
    for (int k = 0; k < 7; ++k) {
        (*out)[2 * k] = static_cast<char>('0' + (in[k] & 0x0F));
        (*out)[2 * k + 1] = static_cast<char>('0' + (in[k] >> 4));
    }
    return 7;
}

int CPduCodec::BuildSubmitPdu(std::string* hex, std::string_view text, std::string_view number,
                              std::string_view smsc, bool push) {
    CSubmitOptions options;
    options.m_bPush = push;
    return BuildSubmitPdu(hex, text, number, smsc, options);
}

int CPduCodec::BuildSubmitPdu(std::string* hex, std::string_view user_data, std::string_view number,
                              std::string_view smsc, const CSubmitOptions& options) {
    hex->clear();
    const CPduConcat* concat = options.m_pConcat;
    const bool ucs2 = options.m_nAlphabet == PDU_ALPHABET_UCS2;
    if (!ucs2 && options.m_nAlphabet != PDU_ALPHABET_GSM7)
        return PDU_ERR_ENCODE;
    if (concat &&
        (concat->m_nRef < 0 || concat->m_nRef > 255 || concat->m_nTotal < 1 ||
         concat->m_nTotal > 255 || concat->m_nSeq < 1 || concat->m_nSeq > concat->m_nTotal))
        return PDU_ERR_ENCODE;
    uint8_t buf[PDU_MAX_OCTETS];
    int sc = EncodeAddress(buf, smsc, true);
    if (sc < 0)
        return PDU_ERR_ENCODE;
    int pos = sc;
    buf[pos++] = concat ? kFirstOctetSubmit | 0x40 : kFirstOctetSubmit;
    buf[pos++] = 0x00;  // message reference: the phone assigns it
    if (number.empty())
        return PDU_ERR_ENCODE;  // no destination
    int da = EncodeAddress(buf + pos, number, false);
    if (da < 0)
        return PDU_ERR_ENCODE;
    pos += da;
    buf[pos++] = 0x00;  // protocol identifier
    if (ucs2)
        buf[pos++] = options.m_bPush ? PDU_DCS_UCS2_PUSH : PDU_DCS_UCS2;
    else
        buf[pos++] = options.m_bPush ? PDU_DCS_PUSH : PDU_DCS_DEFAULT;
    buf[pos++] = kValidityMax;

    if (!concat && !ucs2) {
        int ud = PackSeptets(buf + pos, user_data);
        if (ud < 0)
            return PDU_ERR_ENCODE;
        pos += 1 + ud;
    } else {
        const size_t header = concat ? PDU_CONCAT_HEADER_OCTETS : 0;
        uint8_t* udl = buf + pos;
        uint8_t* data = udl + 1;
        if (concat) {
            const uint8_t h[PDU_CONCAT_HEADER_OCTETS] = {5,
                                                         0x00,
                                                         3,
                                                         static_cast<uint8_t>(concat->m_nRef),
                                                         static_cast<uint8_t>(concat->m_nTotal),
                                                         static_cast<uint8_t>(concat->m_nSeq)};
            for (size_t i = 0; i < header; ++i)
                data[i] = h[i];
        }
        size_t octets;
        if (ucs2) {
            if (user_data.size() % 2 != 0 || header + user_data.size() > PDU_MAX_USER_DATA)
                return PDU_ERR_ENCODE;
            for (size_t i = 0; i < user_data.size(); ++i)
                data[header + i] = static_cast<uint8_t>(user_data[i]);
            octets = header + user_data.size();
            *udl = static_cast<uint8_t>(octets);
        } else {
            // The text starts on the septet after the header and its fill bit.
            const size_t septets = PDU_CONCAT_HEADER_SEPTETS + user_data.size();
            if (septets > PDU_MAX_TEXT)
                return PDU_ERR_ENCODE;
            const int fill = PDU_CONCAT_HEADER_SEPTETS * 7 - static_cast<int>(header) * 8;
            const int text_octets = WriteSeptets(data + header, fill, user_data);
            if (text_octets < 0)
                return PDU_ERR_ENCODE;
            octets = header + static_cast<size_t>(text_octets);
            *udl = static_cast<uint8_t>(septets);
        }
        pos += 1 + static_cast<int>(octets);
    }
    HexEncode(hex, buf, static_cast<size_t>(pos));
    return pos - sc;
}

int CPduCodec::ParseDeliverPdu(std::string_view hex, CPduMessage* msg) {
    return Parse(hex, msg, PDU_TYPE_DELIVER);
}

int CPduCodec::ParseSubmitPdu(std::string_view hex, CPduMessage* msg) {
    return Parse(hex, msg, PDU_TYPE_SUBMIT);
}

int CPduCodec::ParsePdu(std::string_view hex, CPduMessage* msg) {
    return Parse(hex, msg, -1);
}

bool CPduCodec::FindConcat(std::string_view udh, CPduConcat* out) {
    size_t i = 0;
    while (i + 2 <= udh.size()) {
        uint8_t iei = static_cast<uint8_t>(udh[i]);
        size_t len = static_cast<uint8_t>(udh[i + 1]);
        const auto* v = reinterpret_cast<const uint8_t*>(udh.data() + i + 2);
        if (i + 2 + len > udh.size())
            return false;
        if (iei == 0x00 && len == 3) {
            *out = {v[0], v[1], v[2], false};
        } else if (iei == 0x08 && len == 4) {
            *out = {(v[0] << 8) | v[1], v[2], v[3], true};
        } else {
            i += 2 + len;
            continue;
        }
        return out->m_nSeq >= 1 && out->m_nSeq <= out->m_nTotal;
    }
    return false;
}

}  // namespace parlo
