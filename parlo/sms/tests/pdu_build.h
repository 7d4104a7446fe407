// Builds the PDUs a phone stores, for the tests of the engine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "parlo/sms/pdu_codec.h"

namespace parlo::testing {

// An SMS-DELIVER in the default alphabet with the service-centre field "00".
// `codes` are default-alphabet codes; `stamp` is "YYMMDDhhmmss" (zone 0).
inline std::string DeliverPdu(const std::string& from, const std::string& codes,
                              const std::string& stamp = "240315103000") {
    uint8_t addr[PDU_MAX_ADDRESS];
    int alen = CPduCodec::EncodeAddress(addr, from, false);
    uint8_t ud[1 + PDU_MAX_USER_DATA];
    int ulen = CPduCodec::PackSeptets(ud, codes);
    if (alen < 0 || ulen < 0)
        return {};
    std::string hex = "00";  // no service-centre address
    uint8_t head[] = {0x04};
    CPduCodec::HexEncode(&hex, head, 1);
    CPduCodec::HexEncode(&hex, addr, static_cast<size_t>(alen));
    uint8_t pid_dcs[] = {0x00, 0x00};
    CPduCodec::HexEncode(&hex, pid_dcs, 2);
    uint8_t ts[7] = {};
    for (int i = 0; i < 6; ++i)
        ts[i] = static_cast<uint8_t>((stamp[2 * i] - '0') | ((stamp[2 * i + 1] - '0') << 4));
    CPduCodec::HexEncode(&hex, ts, 7);
    CPduCodec::HexEncode(&hex, ud, static_cast<size_t>(1 + ulen));
    return hex;
}

// An SMS-SUBMIT as the phone stores a sent message.
inline std::string SubmitPdu(const std::string& to, const std::string& codes) {
    std::string hex;
    CPduCodec::BuildSubmitPdu(&hex, codes, to, "", false);
    return hex;
}

// One part of a concatenated SMS-DELIVER (service-centre field "00"). The
// payload is default-alphabet codes (PDU_ALPHABET_GSM7, packed after the
// header and its fill bits), octets (PDU_ALPHABET_8BIT) or UTF-16
// big-endian octets (PDU_ALPHABET_UCS2). A 16-bit reference uses the
// element 0x08, an 8-bit one the element 0x00.
inline std::string ConcatDeliverPdu(const std::string& from, const std::string& stamp, int ref,
                                    bool ref16, int total, int seq, int alphabet,
                                    const std::string& payload) {
    uint8_t addr[PDU_MAX_ADDRESS];
    int alen = CPduCodec::EncodeAddress(addr, from, false);
    if (alen < 0)
        return {};
    std::string udh = ref16 ? std::string{'\x08',
                                          '\x04',
                                          static_cast<char>(ref >> 8),
                                          static_cast<char>(ref & 0xFF),
                                          static_cast<char>(total),
                                          static_cast<char>(seq)}
                            : std::string{'\x00', '\x03', static_cast<char>(ref),
                                          static_cast<char>(total), static_cast<char>(seq)};
    std::string ud(1, static_cast<char>(udh.size()));
    ud += udh;
    int udl = 0;
    if (alphabet == PDU_ALPHABET_GSM7) {
        const size_t skip = (ud.size() * 8 + 6) / 7;  // header and fill bits, in septets
        udl = static_cast<int>(skip + payload.size());
        std::vector<uint8_t> bits((static_cast<size_t>(udl) * 7 + 7) / 8, 0);
        for (size_t i = 0; i < ud.size(); ++i)
            bits[i] = static_cast<uint8_t>(ud[i]);
        for (size_t k = 0; k < payload.size(); ++k) {
            size_t bit = (skip + k) * 7;
            unsigned v = static_cast<uint8_t>(payload[k]) & 0x7F;
            bits[bit / 8] |= static_cast<uint8_t>(v << (bit % 8));
            if (bit % 8 > 1)
                bits[bit / 8 + 1] |= static_cast<uint8_t>(v >> (8 - bit % 8));
        }
        ud.assign(bits.begin(), bits.end());
    } else {
        ud += payload;
        udl = static_cast<int>(ud.size());
    }
    std::string hex = "00";
    uint8_t head[] = {0x44};  // SMS-DELIVER with a user-data header
    CPduCodec::HexEncode(&hex, head, 1);
    CPduCodec::HexEncode(&hex, addr, static_cast<size_t>(alen));
    uint8_t pid_dcs[] = {0x00, static_cast<uint8_t>(alphabet == PDU_ALPHABET_GSM7   ? 0x00
                                                    : alphabet == PDU_ALPHABET_8BIT ? 0x04
                                                                                    : 0x08)};
    CPduCodec::HexEncode(&hex, pid_dcs, 2);
    uint8_t ts[7] = {};
    for (int i = 0; i < 6; ++i)
        ts[i] = static_cast<uint8_t>((stamp[2 * i] - '0') | ((stamp[2 * i + 1] - '0') << 4));
    CPduCodec::HexEncode(&hex, ts, 7);
    uint8_t l = static_cast<uint8_t>(udl);
    CPduCodec::HexEncode(&hex, &l, 1);
    CPduCodec::HexEncode(&hex, reinterpret_cast<const uint8_t*>(ud.data()), ud.size());
    return hex;
}

// UTF-16 big-endian octets of `text`.
inline std::string Ucs2Octets(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c >> 8));
        out.push_back(static_cast<char>(c & 0xFF));
    }
    return out;
}

}  // namespace parlo::testing
