// Builds the PDUs a phone stores, for the tests of the engine.
#pragma once

#include <cstdint>
#include <string>

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

}  // namespace parlo::testing
