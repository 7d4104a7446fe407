#include "parlo/sms/sms_parts.h"

#include <algorithm>

#include "parlo/sms/gsm_alphabet.h"

namespace parlo {

namespace {

constexpr size_t kSingleSeptets = PDU_MAX_TEXT;  // 160

bool IsHigh(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLow(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

size_t Digits(size_t n) {
    size_t d = 1;
    while (n >= 10) {
        n /= 10;
        ++d;
    }
    return d;
}

// The characters of the prefix "k/n:" (k from 1) into `out`.
size_t FormatPrefix(char* out, size_t k, size_t n) {
    std::string s = std::to_string(k) + "/" + std::to_string(n) + ":";
    std::copy(s.begin(), s.end(), out);
    return s.size();
}

// The unit count and the cost of the character at `i`: septets in the default
// alphabet, code units in UCS2, where a surrogate pair is one item of two.
struct Item {
    size_t units;
    size_t cost;
};

Item ItemAt(std::u16string_view text, size_t i, bool ucs2) {
    if (ucs2) {
        if (IsHigh(text[i]) && i + 1 < text.size() && IsLow(text[i + 1]))
            return {2, 2};
        return {1, 1};
    }
    uint8_t codes[2];
    return {1, static_cast<size_t>(GsmSeptetsOf(text[i], codes))};
}

// Cuts `text` into pieces whose cost fits `cap(k)` for part k (from 1).
template <typename Cap>
void Cut(std::u16string_view text, bool ucs2, Cap cap, std::vector<CSmsPiece>* out) {
    out->clear();
    size_t i = 0;
    for (size_t k = 1; i < text.size(); ++k) {
        const size_t budget = cap(k);
        const size_t start = i;
        size_t used = 0;
        while (i < text.size()) {
            Item item = ItemAt(text, i, ucs2);
            if (used + item.cost > budget) {
                if (i == start)
                    i += item.units;  // cannot happen with the budgets used here
                break;
            }
            used += item.cost;
            i += item.units;
        }
        out->push_back({start, i - start});
    }
}

// The numbered scheme for a text longer than one message.
void CutNumbered(std::u16string_view text, bool ucs2, std::vector<CSmsPiece>* out) {
    const size_t piece = ucs2 ? kUcs2Piece : kLongSmsPiece;
    const size_t single = ucs2 ? kUcs2Single : kSingleSeptets;
    // The prefix grows with the number of parts, which the cut decides: try
    // one digit for the total first, then more until the total has as many.
    for (size_t d = 1;; ++d) {
        Cut(
            text, ucs2, [&](size_t k) { return std::min(piece, single - (Digits(k) + d + 2)); },
            out);
        if (Digits(out->size()) <= d)
            return;
    }
}

}  // namespace

CSmsPlan PlanSms(std::u16string_view text, bool concatenated) {
    CSmsPlan plan;
    bool extension = false;
    long count = GsmSeptetCount(text, &extension);
    size_t septets = count < 0 ? 0 : static_cast<size_t>(count);
    plan.m_bExtension = count >= 0 && extension;
    if (count < 0)
        plan.m_nAlphabet = PDU_ALPHABET_UCS2;
    const bool ucs2 = plan.m_nAlphabet == PDU_ALPHABET_UCS2;
    plan.m_nSeptets = septets;
    const size_t size = ucs2 ? text.size() : septets;

    const size_t single = ucs2 ? kUcs2Single : concatenated ? kSingleSeptets : kLongSmsPiece;
    if (size <= single) {
        plan.m_pieces.push_back({0, text.size()});
        return plan;
    }
    if (concatenated) {
        const size_t part = ucs2 ? kConcatUcs2 : kConcatSeptets;
        Cut(
            text, ucs2, [part](size_t) { return part; }, &plan.m_pieces);
        if (plan.m_pieces.size() <= kMaxConcatParts) {
            plan.m_scheme = SmsScheme::kConcatenated;
            return plan;
        }
    }
    CutNumbered(text, ucs2, &plan.m_pieces);
    plan.m_scheme = SmsScheme::kNumbered;
    return plan;
}

void PartUserData(const CSmsPlan& plan, std::u16string_view text, size_t k, std::string* out) {
    out->clear();
    if (k >= plan.m_pieces.size())
        return;
    const bool ucs2 = plan.m_nAlphabet == PDU_ALPHABET_UCS2;
    const CSmsPiece& piece = plan.m_pieces[k];
    std::u16string_view part = text.substr(piece.m_nStart, piece.m_nLength);
    char prefix[48];
    size_t plen = 0;
    if (plan.m_scheme == SmsScheme::kNumbered)
        plen = FormatPrefix(prefix, k + 1, plan.m_pieces.size());
    if (ucs2) {
        out->reserve(2 * (plen + part.size()));
        for (size_t i = 0; i < plen; ++i) {
            out->push_back('\0');
            out->push_back(prefix[i]);
        }
        for (char16_t c : part) {
            out->push_back(static_cast<char>(c >> 8));
            out->push_back(static_cast<char>(c & 0xFF));
        }
        return;
    }
    // The prefix is digits, '/' and ':', whose codes are their ASCII values.
    out->reserve(plen + 2 * part.size());
    out->append(prefix, plen);
    AppendGsmSeptets(part, out);  // the plan has checked every character
}

std::u16string PartText(const CSmsPlan& plan, std::u16string_view text, size_t k) {
    std::u16string out;
    if (k >= plan.m_pieces.size())
        return out;
    if (plan.m_scheme == SmsScheme::kNumbered) {
        char prefix[48];
        size_t plen = FormatPrefix(prefix, k + 1, plan.m_pieces.size());
        out.assign(prefix, prefix + plen);
    }
    const CSmsPiece& piece = plan.m_pieces[k];
    out += text.substr(piece.m_nStart, piece.m_nLength);
    return out;
}

int BuildPartPdu(std::string* hex, const CSmsPlan& plan, std::u16string_view text, size_t k,
                 std::string_view number, std::string_view smsc, bool push, int reference) {
    hex->clear();
    if (k >= plan.m_pieces.size())
        return PDU_ERR_ENCODE;
    std::string data;
    PartUserData(plan, text, k, &data);
    CSubmitOptions options;
    options.m_nAlphabet = plan.m_nAlphabet;
    options.m_bPush = push;
    CPduConcat concat{reference, static_cast<int>(plan.m_pieces.size()), static_cast<int>(k + 1)};
    if (plan.m_scheme == SmsScheme::kConcatenated)
        options.m_pConcat = &concat;
    return CPduCodec::BuildSubmitPdu(hex, data, number, smsc, options);
}

const char* CodingName(const CSmsPlan& plan) {
    if (plan.m_nAlphabet == PDU_ALPHABET_UCS2)
        return "UCS2";
    return plan.m_bExtension ? "GSM 7-bit with extension characters" : "GSM 7-bit";
}

}  // namespace parlo
