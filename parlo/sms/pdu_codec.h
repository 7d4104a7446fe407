// The PDU codec: builds the hexadecimal SMS-SUBMIT PDUs that "AT+CMGS" sends and
// reads the SMS-DELIVER and SMS-SUBMIT PDUs that "AT+CMGR" returns (3GPP TS 23.040,
// PDU mode of TS 27.005). Stateless: every operation is a plain function of its
// arguments; an instance may be made on the stack, or the static members called.
//
// Sending: one SMS-SUBMIT, laid out as
//   service-centre address (a single 00 when none is given), first octet 0x11
//   (0x51 with a user-data header), message reference 0, destination address,
//   protocol identifier 0, data coding scheme, validity period 0xFF, user-data
//   length, user data.
// The data coding scheme is 0x00 for the default alphabet (0xF0 with the push
// option: class 0, shown at once) and 0x08 for UCS2 (0x18 with the push option).
// The user data is default-alphabet codes (0 to 127; an extension character is the
// escape and its code) packed as septets, or UTF-16 big-endian octets. A part of a
// concatenated message carries the header 05 00 03 (reference, parts, part); in
// the default alphabet one fill bit follows it, so the text starts on a septet.
// sms_parts.h decides the coding and the parts of a text; it is what the sender uses.
//
// Receiving: the user data is decoded by the data coding scheme (7-bit default
// alphabet with the extension table, 8-bit data, UCS2 as UTF-16) after skipping a
// user-data header; an alphanumeric originator is decoded as 7-bit text. The text
// of a parsed message is Unicode already: do not run FromGsmAlphabet on it.
//
// Every parser takes the length of its input and never reads past it; malformed
// input gives a negative result. The hexadecimal text is the PDU line alone: the
// caller cuts off the "+CMGR:" line and any line end or "OK" after the PDU. The
// PDU starts with the service-centre field, as "AT+CMGR" returns it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace parlo {

// Result codes (negative). BuildSubmitPdu, EncodeAddress and PackSeptets fail with
// PDU_ERR_ENCODE; HexDecode with PDU_ERR_HEX_CHAR, PDU_ERR_HEX_ODD or
// PDU_ERR_HEX_SPACE; the parsers with PDU_ERR_HEX and the codes after it.
inline constexpr int PDU_ERR_ENCODE = -1;     // a field cannot be encoded
inline constexpr int PDU_ERR_HEX_CHAR = -1;   // HexDecode: not 0-9 or uppercase A-F
inline constexpr int PDU_ERR_HEX_SPACE = -2;  // HexDecode: output buffer too small
inline constexpr int PDU_ERR_HEX_ODD = -8;    // HexDecode: odd text length
inline constexpr int PDU_ERR_HEX = -3;        // parser: malformed hexadecimal text
inline constexpr int PDU_ERR_FORMAT = -4;     // parser: a field runs past the end, or too long
inline constexpr int PDU_ERR_TYPE = -5;       // parser: another message type (status report, ...)
inline constexpr int PDU_ERR_CODING = -6;     // parser: compressed user data

// Limits.
inline constexpr int PDU_MAX_TEXT = 160;       // characters of one SMS-SUBMIT
inline constexpr int PDU_MAX_DIGITS = 20;      // digits of a number
inline constexpr int PDU_MAX_ADDRESS = 12;     // octets of an address field
inline constexpr int PDU_MAX_USER_DATA = 140;  // octets of user data
inline constexpr int PDU_MAX_OCTETS = 170;     // a built SMS-SUBMIT with its service-centre field
inline constexpr int PDU_MAX_HEX = 2 * PDU_MAX_OCTETS;
inline constexpr int PDU_MAX_PARSE_OCTETS = 450;  // the longest PDU the parsers accept
inline constexpr int PDU_MAX_SEPTETS = 255;       // a user-data length octet's largest value

// Data coding schemes written by BuildSubmitPdu.
inline constexpr uint8_t PDU_DCS_DEFAULT = 0x00;
inline constexpr uint8_t PDU_DCS_PUSH = 0xF0;
inline constexpr uint8_t PDU_DCS_UCS2 = 0x08;
inline constexpr uint8_t PDU_DCS_UCS2_PUSH = 0x18;

// A concatenation header with an 8-bit reference takes 6 octets with its length
// octet: 7 septets of a default-alphabet message.
inline constexpr int PDU_CONCAT_HEADER_OCTETS = 6;
inline constexpr int PDU_CONCAT_HEADER_SEPTETS = 7;

// Message types (TP-MTI as the phone stores messages).
inline constexpr int PDU_TYPE_DELIVER = 0;
inline constexpr int PDU_TYPE_SUBMIT = 1;
inline constexpr int PDU_TYPE_STATUS_REPORT = 2;

// Alphabets of the user data.
inline constexpr int PDU_ALPHABET_GSM7 = 0;
inline constexpr int PDU_ALPHABET_8BIT = 1;
inline constexpr int PDU_ALPHABET_UCS2 = 2;

// A message as its PDU gives it. The parsers fill every field that the message type
// has and reset the others to the values shown.
struct CPduMessage {
    int m_nType = -1;            // PDU_TYPE_*
    std::string m_strSmsc;       // service-centre number, '+' for international; "" when none
    int m_nFirstOctet = 0;       // the first octet of the TPDU as it is
    int m_nMessageRef = -1;      // SMS-SUBMIT and status report; -1 otherwise
    std::u16string m_strNumber;  // originator (DELIVER), destination (SUBMIT), recipient
                                 // (status report); '+' first when the type octet is 0x91;
                                 // an alphanumeric originator as its text
    int m_nNumberType = 0;       // the type-of-address octet
    int m_nPid = 0;              // protocol identifier
    int m_nDcs = 0;              // data coding scheme
    int m_nAlphabet = PDU_ALPHABET_GSM7;  // PDU_ALPHABET_*, from the data coding scheme
    int m_nMessageClass = -1;             // 0 to 3, or -1 when the data coding scheme gives none
    std::string m_strTimestamp =
        "00000000000000";       // YYMMDDhhmmss and the time-zone
                                // pair, one character per semi-octet (nibble + '0');
                                // 14 zeros when the message has no time stamp
    int m_nZoneQuarters = 0;    // time zone of the time stamp in quarter hours, signed
    int m_nValidityFormat = 0;  // SMS-SUBMIT: bits 4..3 of the first octet (0 none,
                                // 1 enhanced, 2 relative, 3 absolute)
    std::string m_strValidity;  // SMS-SUBMIT: the validity-period octets as they are
    std::string m_strDischarge = "00000000000000";  // status report: discharge time
    int m_nStatus = -1;                             // status report: TP-ST
    std::string m_strUdh;      // user-data header without its length octet; "" when none
    std::u16string m_strText;  // the text, Unicode (UTF-16, surrogate pairs kept)
};

// The concatenation element (IEI 0x00 or 0x08) of a user-data header.
struct CPduConcat {
    int m_nRef = 0;         // reference number shared by all parts
    int m_nTotal = 0;       // number of parts
    int m_nSeq = 0;         // this part, counting from 1
    bool m_b16Bit = false;  // the reference came in a 16-bit element (IEI 0x08)
};

// How BuildSubmitPdu codes the user data.
struct CSubmitOptions {
    int m_nAlphabet = PDU_ALPHABET_GSM7;    // PDU_ALPHABET_GSM7 or PDU_ALPHABET_UCS2
    bool m_bPush = false;                   // message class 0
    const CPduConcat* m_pConcat = nullptr;  // a part of a concatenated message, or none
};

class CPduCodec {
  public:
    // Builds an SMS-SUBMIT PDU into `hex` (replaced; uppercase, at most PDU_MAX_HEX
    // characters). `text` holds default-alphabet codes (0 to 127, at most 160); numbers
    // are digits with an optional leading '+' (at most 20 digits). An empty service-centre
    // number lets the phone use its own. Returns the TPDU length in octets (the whole
    // length minus the service-centre field, the value "AT+CMGS=%i" expects) or
    // PDU_ERR_ENCODE; `hex` is then empty.
    static int BuildSubmitPdu(std::string* hex, std::string_view text, std::string_view number,
                              std::string_view smsc, bool push);

    // The same with the coding of `options`. `user_data` is default-alphabet codes
    // (at most 160 septets, 153 after a concatenation header) or UTF-16 big-endian
    // octets (an even count, at most 140, 134 after the header); the reference, the
    // number of parts (1 to 255) and the part (1 to the number) must fit an octet.
    static int BuildSubmitPdu(std::string* hex, std::string_view user_data, std::string_view number,
                              std::string_view smsc, const CSubmitOptions& options);

    // Parses a received message (SMS-DELIVER; a reserved message type is read as one).
    // Returns the length of m_strText in UTF-16 code units (0 or more) or a negative
    // code: PDU_ERR_HEX, PDU_ERR_FORMAT, PDU_ERR_TYPE (e.g. a status report),
    // PDU_ERR_CODING.
    static int ParseDeliverPdu(std::string_view hex, CPduMessage* msg);

    // Parses a stored outgoing message (SMS-SUBMIT); m_strTimestamp is 14 zeros.
    // Results as ParseDeliverPdu.
    static int ParseSubmitPdu(std::string_view hex, CPduMessage* msg);

    // Parses any PDU by its message type: SMS-DELIVER, SMS-SUBMIT or status report
    // (whose text is empty). Results as ParseDeliverPdu.
    static int ParsePdu(std::string_view hex, CPduMessage* msg);

    // The address field of `number` into `out` (room for PDU_MAX_ADDRESS octets).
    // Empty number: the single octet 0x00. Otherwise type 0x91 for a leading '+' and
    // 0x81 else, then the digits two per octet, low nibble first, 0xF filling an odd
    // count; the length octet counts the digits (destination form) or the octets after
    // it (service-centre form). Returns the field length or PDU_ERR_ENCODE (a character
    // other than a digit, no digit after '+', more than 20 digits).
    static int EncodeAddress(uint8_t* out, std::string_view number, bool smsc_form);

    // The length octet and the packed septets of `codes` into `out` (room for
    // 1 + PDU_MAX_USER_DATA octets). Returns the number of data octets (without the
    // length octet) or PDU_ERR_ENCODE (more than 160 codes, a code of 128 or more).
    static int PackSeptets(uint8_t* out, std::string_view codes);

    // Unpacks `in` (a user-data length octet, then the packed data; `in_len` octets in
    // all) into `out` (room for PDU_MAX_SEPTETS codes). Returns the number of codes or
    // PDU_ERR_FORMAT when the data is shorter than the length octet says.
    static int UnpackSeptets(uint8_t* out, const uint8_t* in, size_t in_len);

    // Appends two uppercase hexadecimal characters per byte to `out`.
    static void HexEncode(std::string* out, const uint8_t* bytes, size_t count);

    // Decodes `hex` (pairs of '0'-'9', 'A'-'F', high nibble first) into `out` (room for
    // `cap` bytes). Returns the byte count, PDU_ERR_HEX_ODD for an odd length,
    // PDU_ERR_HEX_SPACE when it does not fit, PDU_ERR_HEX_CHAR for any other character
    // (lowercase included).
    static int HexDecode(uint8_t* out, size_t cap, std::string_view hex);

    // Decodes the address field at `in` (`in_len` octets available) into `out`
    // (replaced): digits, '+' first for type 0x91; the semi-octets 10 to 14 become
    // '*', '#', 'a', 'b', 'c'; an alphanumeric address (type of number 5) is decoded as
    // 7-bit text. Returns the field length in octets or PDU_ERR_FORMAT.
    static int DecodeAddress(std::u16string* out, const uint8_t* in, size_t in_len);

    // Writes the 14 characters of a 7-octet time stamp into `out` (replaced), low nibble
    // first in each octet, each nibble plus '0'. Returns 7, or PDU_ERR_FORMAT when
    // fewer than 7 octets are available.
    static int DecodeTimestamp(std::string* out, const uint8_t* in, size_t in_len);

    // Finds the concatenation element in a user-data header (m_strUdh). Returns true
    // when there is one with a part number from 1 to the number of parts.
    static bool FindConcat(std::string_view udh, CPduConcat* out);
};

}  // namespace parlo
