#include "parlo/contacts/vcard.h"

#include <algorithm>
#include <cctype>

#include "platform/text.h"

namespace parlo::vcard {

namespace {

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view TrimAscii(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool ValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n;
        if (c < 0x80) {
            n = 0;
        } else if ((c & 0xE0) == 0xC0) {
            n = 1;
        } else if ((c & 0xF0) == 0xE0) {
            n = 2;
        } else if ((c & 0xF8) == 0xF0) {
            n = 3;
        } else {
            return false;
        }
        if (n > s.size() - i - 1)
            return false;
        for (size_t k = 1; k <= n; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += n + 1;
    }
    return true;
}

// One content line split into its parts.
struct Property {
    std::string name;                // upper case, without group
    std::vector<std::string> types;  // lower case TYPE values and bare parameters
    std::string encoding;            // upper case
    std::string charset;             // upper case
    std::string value_type;          // VALUE parameter, lower case
    bool pref = false;
    std::string value;  // raw bytes after the colon
};

// Splits `s` at `sep` outside double quotes.
std::vector<std::string_view> SplitOutsideQuotes(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    bool quoted = false;
    size_t start = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '"')
            quoted = !quoted;
        if (s[i] == sep && !quoted) {
            parts.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(s.substr(start));
    return parts;
}

std::string Unquote(std::string_view s) {
    s = TrimAscii(s);
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"')
        s = s.substr(1, s.size() - 2);
    return std::string(s);
}

// Position of the colon that ends the name and parameters, or npos.
size_t FindValueColon(std::string_view line) {
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        if (line[i] == ':' && !quoted)
            return i;
    }
    return std::string_view::npos;
}

bool ParseProperty(std::string_view line, Property* p) {
    size_t colon = FindValueColon(line);
    if (colon == std::string_view::npos)
        return false;
    p->value = std::string(line.substr(colon + 1));
    std::vector<std::string_view> parts = SplitOutsideQuotes(line.substr(0, colon), ';');
    std::string_view name = TrimAscii(parts[0]);
    size_t dot = name.rfind('.');
    if (dot != std::string_view::npos)
        name = name.substr(dot + 1);
    if (name.empty())
        return false;
    p->name = Upper(name);
    for (size_t i = 1; i < parts.size(); ++i) {
        std::string_view param = TrimAscii(parts[i]);
        if (param.empty())
            continue;
        size_t eq = param.find('=');
        if (eq == std::string_view::npos) {
            // vCard 2.1 allows bare parameter values.
            std::string v = Upper(param);
            if (v == "QUOTED-PRINTABLE" || v == "BASE64" || v == "8BIT" || v == "7BIT" ||
                v == "B") {
                p->encoding = v;
            } else if (v == "PREF") {
                p->pref = true;
            } else {
                p->types.push_back(Lower(param));
            }
            continue;
        }
        std::string key = Upper(TrimAscii(param.substr(0, eq)));
        std::string_view val = param.substr(eq + 1);
        if (key == "TYPE") {
            std::string list = Unquote(val);
            for (std::string_view t : SplitOutsideQuotes(list, ',')) {
                std::string v = Lower(TrimAscii(t));
                if (v == "pref") {
                    p->pref = true;
                } else if (!v.empty()) {
                    p->types.push_back(v);
                }
            }
        } else if (key == "ENCODING") {
            p->encoding = Upper(Unquote(val));
        } else if (key == "CHARSET") {
            p->charset = Upper(Unquote(val));
        } else if (key == "VALUE") {
            p->value_type = Lower(Unquote(val));
        } else if (key == "PREF") {
            p->pref = true;
        }
    }
    return true;
}

bool IsQuotedPrintable(std::string_view line) {
    size_t colon = FindValueColon(line);
    std::string head = Upper(line.substr(0, colon == std::string_view::npos ? line.size() : colon));
    return head.find("QUOTED-PRINTABLE") != std::string::npos;
}

// Physical lines to logical content lines: CRLF, LF or CR end a line; a line
// starting with a blank or tab continues the previous one; a quoted-printable
// value ending in '=' continues on the next line.
std::vector<std::string> Unfold(std::string_view text) {
    std::vector<std::string> physical;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '\r' || text[i] == '\n') {
            physical.emplace_back(text.substr(start, i - start));
            if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
    }
    std::vector<std::string> logical;
    bool qp_continues = false;
    for (std::string& line : physical) {
        if (qp_continues && !logical.empty()) {
            logical.back().pop_back();  // the soft line break '='
            logical.back() += line;
        } else if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !logical.empty()) {
            logical.back().append(line, 1, std::string::npos);
        } else if (line.empty()) {
            qp_continues = false;
            continue;
        } else {
            logical.push_back(std::move(line));
        }
        const std::string& cur = logical.back();
        qp_continues = !cur.empty() && cur.back() == '=' && IsQuotedPrintable(cur);
    }
    return logical;
}

std::u16string DecodeText(const Property& p, std::string_view raw, bool unescape) {
    std::string bytes =
        p.encoding == "QUOTED-PRINTABLE" ? DecodeQuotedPrintable(raw) : std::string(raw);
    if (unescape)
        bytes = Unescape(bytes);
    // A decoded NUL ends no text of ours.
    bytes.erase(std::remove(bytes.begin(), bytes.end(), '\0'), bytes.end());
    const std::string& cs = p.charset;
    bool latin = cs == "ISO-8859-1" || cs == "WINDOWS-1252" || cs == "CP1252" ||
                 cs == "ISO-8859-15" || cs == "LATIN1";
    if (latin || (!ValidUtf8(bytes) && cs.empty()))
        return platform::Cp1252ToUtf16(bytes);
    return platform::FromUtf8(bytes);
}

// Splits a structured value at ';' that are not escaped.
std::vector<std::string> SplitStructured(std::string_view value) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '\\' && i + 1 < value.size()) {
            parts.back() += c;
            parts.back() += value[++i];
        } else if (c == ';') {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

bool Has(const std::vector<std::string>& v, std::string_view s) {
    for (const std::string& x : v) {
        if (x == s)
            return true;
    }
    return false;
}

struct TelSlot {
    std::u16string* value;
    bool pref = false;
};

void TakeTel(const Property& p, TelSlot (&slots)[4]) {
    if (p.encoding == "B" || p.encoding == "BASE64")
        return;
    if (Has(p.types, "fax") || Has(p.types, "pager") || Has(p.types, "modem"))
        return;
    int slot = Has(p.types, "cell")   ? 0
               : Has(p.types, "car")  ? 3
               : Has(p.types, "work") ? 1
               : Has(p.types, "home") ? 2
                                      : -1;
    if (slot < 0)
        return;
    std::u16string number = DecodeText(p, p.value, false);
    std::u16string_view v = number;
    if (v.size() >= 4 && (v[0] == u't' || v[0] == u'T') && (v[1] == u'e' || v[1] == u'E') &&
        (v[2] == u'l' || v[2] == u'L') && v[3] == u':') {
        v.remove_prefix(4);
    }
    if (v.empty())
        return;
    TelSlot& s = slots[slot];
    if (s.value->empty() || (p.pref && !s.pref)) {
        *s.value = std::u16string(v);
        s.pref = p.pref;
    }
}

}  // namespace

std::string DecodeQuotedPrintable(std::string_view text) {
    auto hex = platform::HexDigitValue;
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '=' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
            hex(text[i + 2]) >= 0) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string Unescape(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            char n = value[++i];
            out += (n == 'n' || n == 'N') ? '\n' : n;
        } else {
            out += value[i];
        }
    }
    return out;
}

std::string Escape(std::string_view value) {
    std::string out;
    for (char c : value) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case ',':
                out += "\\,";
                break;
            case ';':
                out += "\\;";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool Parse(std::string_view text, std::vector<Card>* cards) {
    if (text.find('\0') != std::string_view::npos)
        return false;
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    std::vector<Card> found;
    Card card;
    int depth = 0;
    TelSlot slots[4] = {{&card.mobile}, {&card.business}, {&card.home}, {&card.car}};
    for (const std::string& line : Unfold(text)) {
        Property p;
        if (!ParseProperty(line, &p)) {
            if (depth == 0)
                continue;  // text between cards is not ours
            return false;
        }
        std::string value = Upper(TrimAscii(p.value));
        if (p.name == "BEGIN" && value == "VCARD") {
            if (depth++ == 0) {
                card = Card();
                for (TelSlot& s : slots)
                    s.pref = false;
            }
            continue;
        }
        if (p.name == "END" && value == "VCARD") {
            if (depth == 0)
                return false;
            if (--depth == 0)
                found.push_back(card);
            continue;
        }
        if (depth != 1)
            continue;  // outside a card, or a nested (agent) card
        if (p.name == "VERSION") {
            card.version = std::string(TrimAscii(p.value));
        } else if (p.name == "UID") {
            card.uid = DecodeText(p, TrimAscii(p.value), true);
        } else if (p.name == "FN") {
            card.formatted_name = DecodeText(p, p.value, true);
        } else if (p.name == "N") {
            std::string decoded =
                p.encoding == "QUOTED-PRINTABLE" ? DecodeQuotedPrintable(p.value) : p.value;
            std::vector<std::string> parts = SplitStructured(decoded);
            Property plain = p;
            plain.encoding.clear();
            card.family = DecodeText(plain, parts[0], true);
            card.given = parts.size() > 1 ? DecodeText(plain, parts[1], true) : u"";
            card.has_n = true;
        } else if (p.name == "TEL") {
            TakeTel(p, slots);
        }
    }
    if (depth != 0 || found.empty())
        return false;
    for (Card& c : found)
        cards->push_back(std::move(c));
    return true;
}

std::u16string DisplayName(const Card& card) {
    auto trim = [](std::u16string_view s) {
        while (!s.empty() && (s.front() == u' ' || s.front() == u'\t'))
            s.remove_prefix(1);
        while (!s.empty() && (s.back() == u' ' || s.back() == u'\t'))
            s.remove_suffix(1);
        return std::u16string(s);
    };
    if (!card.has_n || (card.family.empty() && card.given.empty())) {
        return trim(card.formatted_name);
    }
    return trim(card.family + u" " + card.given);
}

namespace {

// Appends one content line, folded so that no line exceeds 75 octets and no
// UTF-8 sequence is split.
void AppendFolded(std::string* out, const std::string& line) {
    size_t pos = 0;
    size_t limit = 75;
    while (line.size() - pos > limit) {
        size_t cut = pos + limit;
        while (cut > pos && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
            --cut;
        out->append(line, pos, cut - pos);
        out->append("\r\n ");
        pos = cut;
        limit = 74;  // the leading blank counts
    }
    out->append(line, pos, std::string::npos);
    out->append("\r\n");
}

}  // namespace

std::string Write30(const Card& card) {
    auto text = [](const std::u16string& s) { return Escape(platform::ToUtf8(s)); };
    std::string out;
    AppendFolded(&out, "BEGIN:VCARD");
    AppendFolded(&out, "VERSION:3.0");
    if (!card.uid.empty())
        AppendFolded(&out, "UID:" + text(card.uid));
    std::u16string fn = card.formatted_name.empty() ? DisplayName(card) : card.formatted_name;
    AppendFolded(&out, "FN:" + text(fn));
    AppendFolded(&out, "N:" + text(card.family) + ";" + text(card.given) + ";;;");
    const std::pair<const char*, const std::u16string*> tels[4] = {
        {"CELL", &card.mobile}, {"WORK", &card.business}, {"HOME", &card.home}, {"CAR", &card.car}};
    for (const auto& [type, number] : tels) {
        if (!number->empty()) {
            AppendFolded(&out, std::string("TEL;TYPE=") + type + ":" + text(*number));
        }
    }
    AppendFolded(&out, "END:VCARD");
    return out;
}

}  // namespace parlo::vcard
