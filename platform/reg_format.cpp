#include "platform/reg_format.h"

#include <cstdio>

#include "platform/text.h"

namespace platform {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    return s;
}

// Reads a quoted string starting at s[*pos] == '"'; handles \\ and \".
bool ReadQuoted(std::string_view s, size_t* pos, std::string* out) {
    if (*pos >= s.size() || s[*pos] != '"')
        return false;
    out->clear();
    for (size_t i = *pos + 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == '\\' && i + 1 < s.size()) {
            out->push_back(s[++i]);
        } else if (c == '"') {
            *pos = i + 1;
            return true;
        } else {
            out->push_back(c);
        }
    }
    return false;
}

std::string Quote(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

bool NeedsHex(std::string_view s) {
    for (unsigned char c : s)
        if (c < 0x20)
            return true;
    return false;
}

// hex(1):41,00,42,00,00,00 -> UTF-16LE string with terminating zero.
bool ParseHexString(std::string_view s, std::string* out) {
    std::string bytes;
    int hi = -1;
    for (char c : s) {
        if (c == ',' || c == ' ' || c == '\\')
            continue;
        int d = HexDigitValue(c);
        if (d < 0)
            return false;
        if (hi < 0) {
            hi = d;
        } else {
            bytes.push_back(static_cast<char>(hi * 16 + d));
            hi = -1;
        }
    }
    if (hi >= 0 || bytes.size() % 2)
        return false;
    std::u16string units;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char16_t u =
            static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (u == 0)
            break;
        units.push_back(u);
    }
    *out = ToUtf8(units);
    return true;
}

std::string FormatHexString(std::string_view s) {
    std::u16string units = FromUtf8(s);
    units.push_back(0);
    std::string out = "hex(1):";
    char buf[8];
    for (size_t i = 0; i < units.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x,%02x", units[i] & 0xFF, units[i] >> 8);
        if (i)
            out += ',';
        out += buf;
    }
    return out;
}

bool ParseValueLine(std::string_view line, RegValue* value) {
    size_t pos = 0;
    if (line.substr(0, 2) == "@=") {
        value->name.clear();
        pos = 1;
    } else {
        if (!ReadQuoted(line, &pos, &value->name))
            return false;
    }
    if (pos >= line.size() || line[pos] != '=')
        return false;
    std::string_view data = Trim(line.substr(pos + 1));
    if (!data.empty() && data[0] == '"') {
        size_t p = 0;
        value->type = RegType::String;
        return ReadQuoted(data, &p, &value->str);
    }
    if (data.substr(0, 6) == "dword:") {
        std::string_view digits = data.substr(6);
        if (digits.empty() || digits.size() > 8)
            return false;
        uint32_t v = 0;
        for (char c : digits) {
            int d = HexDigitValue(c);
            if (d < 0)
                return false;
            v = v * 16 + static_cast<uint32_t>(d);
        }
        value->type = RegType::Dword;
        value->dword = v;
        return true;
    }
    if (data.substr(0, 7) == "hex(1):") {
        value->type = RegType::String;
        return ParseHexString(data.substr(7), &value->str);
    }
    return false;
}

}  // namespace

const char* HiveName(Hive hive) {
    return hive == Hive::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

bool ParseRegText(std::string_view text, RegDocument* doc, size_t* skipped) {
    doc->keys.clear();
    size_t bad = 0;
    if (skipped)
        *skipped = 0;
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    bool header = false;
    RegKeyData* current = nullptr;
    bool deleting = false;  // in the section of a deleted key
    std::string pending;    // a value line continued with a trailing backslash
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view raw = Trim(text.substr(start, end - start));
        start = end + 1;
        std::string joined;
        if (!pending.empty()) {
            joined = pending + std::string(raw);
            pending.clear();
            raw = joined;
        }
        if (!raw.empty() && raw.back() == '\\' && raw.find("hex(") != std::string_view::npos) {
            pending = std::string(raw.substr(0, raw.size() - 1));
            continue;
        }
        if (raw.empty() || raw[0] == ';')
            continue;
        if (!header) {
            if (raw != kHeader)
                return false;
            header = true;
            continue;
        }
        if (raw.front() == '[' && raw.back() == ']') {
            std::string path(raw.substr(1, raw.size() - 2));
            current = nullptr;
            deleting = !path.empty() && path[0] == '-';
            if (path.empty() || deleting)
                continue;  // deletions are not kept
            for (RegKeyData& k : doc->keys)
                if (EqualsNoCase(k.path, path))
                    current = &k;
            if (!current) {
                doc->keys.push_back({path, {}});
                current = &doc->keys.back();
            }
            continue;
        }
        RegValue value;
        if (!ParseValueLine(raw, &value) || (!current && !deleting)) {
            if (skipped)
                *skipped = ++bad;
            continue;
        }
        if (!current)
            continue;  // a value of a deleted key
        bool replaced = false;
        for (RegValue& v : current->values) {
            if (EqualsNoCase(v.name, value.name)) {
                v = value;
                replaced = true;
            }
        }
        if (!replaced)
            current->values.push_back(value);
    }
    return header || Trim(text).empty();
}

std::string FormatRegText(const RegDocument& doc) {
    std::string out(kHeader);
    out += "\n\n";
    char buf[16];
    for (const RegKeyData& key : doc.keys) {
        out += "[" + key.path + "]\n";
        for (const RegValue& v : key.values) {
            out += v.name.empty() ? std::string("@") : Quote(v.name);
            out += '=';
            if (v.type == RegType::Dword) {
                std::snprintf(buf, sizeof buf, "dword:%08x", v.dword);
                out += buf;
            } else if (NeedsHex(v.str)) {
                out += FormatHexString(v.str);
            } else {
                out += Quote(v.str);
            }
            out += '\n';
        }
        out += '\n';
    }
    return out;
}

}  // namespace platform
