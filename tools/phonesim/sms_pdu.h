// SMS PDUs as 3GPP TS 23.040 lays them out and TS 27.005 carries them in PDU
// mode: the SMS centre address field first, then the TPDU.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace phonesim {

// Length in octets of the TPDU: the PDU without its SMS centre address field.
// -1 when the PDU is too short for the length its first octet announces.
int TpduLength(std::string_view pdu);

struct SubmitPdu {
    uint8_t first_octet = 0;
    uint8_t reference = 0;
    std::string destination;  // digits, with '+' for an international number
    uint8_t destination_type = 0x81;
    uint8_t pid = 0;
    uint8_t dcs = 0;
    uint8_t udl = 0;
    std::string user_data;  // the octets of TP-UD
};

// Parses an SMS-SUBMIT (SMS centre field first). False unless every field is
// complete and the PDU ends exactly where its user data ends.
bool ParseSubmit(std::string_view pdu, SubmitPdu* out);

// The text of an SMS-SUBMIT as the recipient reads it: the user data after its
// header, in the alphabet the data coding scheme names (default alphabet with
// its extension table, 8-bit as ISO 8859-1, UCS2 as UTF-16). When the header
// holds a concatenation element (8- or 16-bit reference), `ref`, `total` and
// `seq` receive it; else `ref` is -1. False when the header runs past the data.
bool DecodeSubmitText(const SubmitPdu& submit, std::u16string* text, int* ref, int* total,
                      int* seq);

// True when the data coding scheme packs the user data in 7-bit septets.
bool DcsIsSevenBit(uint8_t dcs);

// An address field. A number of digits (optionally with a leading '+', which
// gives type 145) is BCD-coded; anything else is an alphanumeric address in
// the GSM default alphabet. For the SMS centre the length counts octets,
// otherwise semi-octets.
std::string EncodeAddress(std::string_view number, bool smsc);

// TP-SCTS for the given time in local time with its zone.
std::string EncodeTimestamp(std::time_t when);

struct DeliverParams {
    std::string smsc;  // empty: no SMS centre address (length octet 0)
    std::string originator;
    uint8_t pid = 0;
    uint8_t dcs = 0;
    bool udhi = false;
    uint8_t udl = 0;
    std::string user_data;
    std::time_t time = 0;
};
std::string MakeDeliver(const DeliverParams& params);

// An SMS-DELIVER with the text in the GSM default alphabet (7-bit) or, when
// the text has a character outside it, in UCS2. Texts longer than one message
// are cut.
std::string MakeTextDeliver(std::string_view smsc, std::string_view originator,
                            std::u16string_view text, std::time_t when);

// The parts of a concatenated SMS-DELIVER carrying `text` (8-bit reference
// `ref`): 153 septets per part in the GSM default alphabet (an escape and its
// character stay together), else 67 UCS2 code units per part, cut where the
// count falls, as senders do (a surrogate pair may be cut). A text that fits
// one message still comes as one part of one. At most 255 parts; longer
// texts are cut.
std::vector<std::string> MakeConcatDelivers(std::string_view smsc, std::string_view originator,
                                            std::u16string_view text, int ref, std::time_t when);

// The SMS-DELIVER that an SMS-SUBMIT becomes at its recipient.
std::string SubmitToDeliver(const SubmitPdu& submit, std::string_view smsc,
                            std::string_view originator, std::time_t when);

}  // namespace phonesim
