#include "parlo/sms/phone_listing.h"

#include <string>
#include <string_view>

namespace parlo {

namespace {

bool IsHex(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// Reads a number of at most six digits at `p`, after blanks.
bool Number(std::u16string_view s, size_t* p, int* out) {
    while (*p < s.size() && s[*p] == u' ')
        ++*p;
    size_t start = *p;
    int v = 0;
    while (*p < s.size() && IsDigit(s[*p]) && *p - start < 6)
        v = v * 10 + (s[(*p)++] - u'0');
    if (*p == start || (*p < s.size() && IsDigit(s[*p])))
        return false;
    *out = v;
    return true;
}

bool Comma(std::u16string_view s, size_t* p) {
    while (*p < s.size() && s[*p] == u' ')
        ++*p;
    if (*p >= s.size() || s[*p] != u',')
        return false;
    ++*p;
    return true;
}

// "+CMGL: index,stat,[alpha],length": the alpha field is empty, a quoted
// text (which may hold commas) or a bare word.
bool Header(std::u16string_view line, int* index, int* status, int* length) {
    static constexpr std::u16string_view kPrefix = u"+CMGL:";
    if (line.substr(0, kPrefix.size()) != kPrefix)
        return false;
    size_t p = kPrefix.size();
    if (!Number(line, &p, index) || !Comma(line, &p) || !Number(line, &p, status) ||
        !Comma(line, &p))
        return false;
    while (p < line.size() && line[p] == u' ')
        ++p;
    if (p < line.size() && line[p] == u'"') {
        size_t close = line.find(u'"', p + 1);
        if (close == std::u16string_view::npos)
            return false;
        p = close + 1;
    } else {
        while (p < line.size() && line[p] != u',')
            ++p;
    }
    if (!Comma(line, &p) || !Number(line, &p, length))
        return false;
    while (p < line.size() && line[p] == u' ')
        ++p;
    return p == line.size();
}

}  // namespace

bool SplitListing(const std::u16string& reply, std::vector<ListedSlot>* out) {
    out->clear();
    std::u16string_view text(reply);
    bool want_pdu = false;
    ListedSlot entry;
    int length = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(u'\n', pos);
        if (end == std::u16string_view::npos)
            end = text.size();
        std::u16string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        while (!line.empty() && (line.back() == u'\r' || line.back() == u' '))
            line.remove_suffix(1);
        if (line.empty())
            continue;
        if (!want_pdu) {
            if (!Header(line, &entry.index, &entry.status, &length))
                return false;
            want_pdu = true;
            continue;
        }
        if (line.size() % 2 != 0)
            return false;
        for (char16_t c : line) {
            if (!IsHex(c))
                return false;
        }
        std::string head = "+CMGR: " + std::to_string(entry.status) + ",," + std::to_string(length);
        entry.reply.assign(head.begin(), head.end());
        entry.reply += u"\r\n";
        entry.reply += line;
        out->push_back(entry);
        want_pdu = false;
    }
    return !want_pdu;
}

std::string AnswerPdu(const std::u16string& reply) {
    size_t eol = reply.find(u"\r\n");
    if (eol == std::u16string::npos)
        return {};
    std::string pdu;
    for (size_t i = eol + 2; i < reply.size(); ++i) {
        char16_t c = reply[i];
        if (c == u'\r' || c == u'\n' || c == u' ')
            continue;
        pdu.push_back(static_cast<char>(c >= u'a' && c <= u'f' ? c - u'a' + u'A' : c));
    }
    return pdu;
}

}  // namespace parlo
