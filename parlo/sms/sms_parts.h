// How a text goes out: its coding and its parts. PlanSms is the one place that
// decides it; the sender, the message counters of the user interfaces and
// parlo-cli all ask it.
//
// Coding: a text that the default alphabet carries goes out in it, one septet
// per character of the basic table ('ç' as 0x09) and two per character of the
// extension table (escape and code: € [ ] { } ~ | ^ \ and the form feed). A
// text with any other character goes out in UCS2 (UTF-16; surrogate pairs are
// never cut apart).
//
// Parts, numbered scheme (the default): a 7-bit text of up to 154 septets, or a
// UCS2 text of up to 70 code units, is one message. A longer text is cut into
// pieces of 154 septets (66 UCS2 code units), each sent as its own message
// with the prefix "k/n:" in front ("1/2:", "2/2:"). The piece and its prefix
// always fit one message: from the 100th part of a 7-bit text (the 10th of a
// UCS2 text) the pieces are shortened by the prefix's extra digits.
//
// Parts, concatenated scheme (a setting): up to 160 septets or 70 code units
// is one message; a longer text is cut into parts of 153 septets (67 code
// units) that carry a user-data header with a reference number, and the
// receiving phone shows them as one message. A text that would need more than
// 255 such parts goes out in the numbered scheme instead.
//
// A piece never ends between an escape and its code, nor between the two
// halves of a surrogate pair.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "parlo/sms/pdu_codec.h"

namespace parlo {

// Sizes of the two schemes.
inline constexpr size_t kLongSmsPiece = 154;    // 7-bit, numbered: single limit and piece
inline constexpr size_t kUcs2Single = 70;       // UCS2: code units of one message
inline constexpr size_t kUcs2Piece = 66;        // UCS2, numbered: piece
inline constexpr size_t kConcatSeptets = 153;   // 7-bit, concatenated: part
inline constexpr size_t kConcatUcs2 = 67;       // UCS2, concatenated: part
inline constexpr size_t kMaxConcatParts = 255;  // parts one reference can number

enum class SmsScheme {
    kSingle,        // one message, no prefix, no header
    kNumbered,      // separate messages with the prefix "k/n:"
    kConcatenated,  // parts with a concatenation header
};

struct CSmsPiece {
    size_t m_nStart = 0;   // first code unit of the piece in the text
    size_t m_nLength = 0;  // code units
};

struct CSmsPlan {
    int m_nAlphabet = PDU_ALPHABET_GSM7;  // PDU_ALPHABET_GSM7 or PDU_ALPHABET_UCS2
    bool m_bExtension = false;            // 7-bit with characters of the extension table
    size_t m_nSeptets = 0;                // 7-bit: septets of the whole text
    SmsScheme m_scheme = SmsScheme::kSingle;
    std::vector<CSmsPiece> m_pieces;  // one per message to send; at least one

    size_t Count() const { return m_pieces.size(); }
};

// The coding and the parts of `text`; `concatenated` chooses the scheme for a
// text longer than one message. An empty text is one (empty) message.
CSmsPlan PlanSms(std::u16string_view text, bool concatenated);

// The user data of part `k` (from 0) of a plan of `text`, the prefix of the
// numbered scheme included: default-alphabet codes or UTF-16 big-endian octets,
// as CSubmitOptions expects them. Replaces `out`.
void PartUserData(const CSmsPlan& plan, std::u16string_view text, size_t k, std::string* out);

// What the recipient reads for part `k`: the piece with its "k/n:" prefix.
std::u16string PartText(const CSmsPlan& plan, std::u16string_view text, size_t k);

// The SMS-SUBMIT PDU of part `k`; `reference` numbers the parts of a
// concatenated message (0 to 255). Returns the TPDU length or PDU_ERR_ENCODE,
// as CPduCodec::BuildSubmitPdu.
int BuildPartPdu(std::string* hex, const CSmsPlan& plan, std::u16string_view text, size_t k,
                 std::string_view number, std::string_view smsc, bool push, int reference);

// "GSM 7-bit", "GSM 7-bit with extension characters" or "UCS2".
const char* CodingName(const CSmsPlan& plan);

}  // namespace parlo
