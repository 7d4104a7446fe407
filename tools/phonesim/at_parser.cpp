#include "tools/phonesim/at_parser.h"

#include <cctype>

#include "platform/text.h"

namespace phonesim {
namespace {

bool IsUpper(char c) {
    return c >= 'A' && c <= 'Z';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsExtendedNameChar(char c) {
    return IsUpper(c) || IsDigit(c) || c == '!' || c == '%' || c == '-' || c == '.' || c == '/' ||
           c == ':' || c == '_';
}

// Removes blanks outside strings and upper-cases letters outside strings.
bool Normalise(std::string_view body, std::string* out) {
    bool in_string = false;
    for (char c : body) {
        if (c == '"') {
            in_string = !in_string;
            out->push_back(c);
        } else if (in_string) {
            out->push_back(c);
        } else if (c == ' ') {
            continue;
        } else {
            out->push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
        }
    }
    return !in_string;
}

// Index of the first ';' outside a string at or after `pos`, or npos.
size_t FindSeparator(const std::string& s, size_t pos) {
    bool in_string = false;
    for (size_t i = pos; i < s.size(); ++i) {
        if (s[i] == '"')
            in_string = !in_string;
        if (!in_string && s[i] == ';')
            return i;
    }
    return std::string::npos;
}

}  // namespace

bool SplitCommandLine(std::string_view line, std::vector<AtCommand>* commands, bool* syntax_ok) {
    commands->clear();
    *syntax_ok = false;
    size_t start = std::string_view::npos;
    for (size_t i = 0; i + 1 < line.size(); ++i) {
        if ((line[i] == 'A' || line[i] == 'a') && (line[i + 1] == 'T' || line[i + 1] == 't')) {
            start = i;
            break;
        }
    }
    if (start == std::string_view::npos)
        return false;

    std::string body;
    if (!Normalise(line.substr(start + 2), &body))
        return true;

    size_t p = 0;
    while (p < body.size()) {
        char c = body[p];
        AtCommand cmd;
        if (c == ';') {
            ++p;
            continue;
        }
        if (c == '+' || c == '^' || c == '$' || c == '*' || c == '%') {
            size_t q = p + 1;
            while (q < body.size() && IsExtendedNameChar(body[q]))
                ++q;
            if (q == p + 1)
                return true;
            cmd.name = body.substr(p, q - p);
            if (body.compare(q, 2, "=?") == 0) {
                cmd.op = CmdOp::kTest;
                q += 2;
            } else if (q < body.size() && body[q] == '?') {
                cmd.op = CmdOp::kRead;
                q += 1;
            } else if (q < body.size() && body[q] == '=') {
                cmd.op = CmdOp::kSet;
                size_t end = FindSeparator(body, q + 1);
                if (end == std::string::npos)
                    end = body.size();
                cmd.args = body.substr(q + 1, end - q - 1);
                q = end;
            }
            if (q < body.size() && body[q] != ';')
                return true;
            p = q < body.size() ? q + 1 : q;
        } else if (c == 'D') {
            size_t end = FindSeparator(body, p + 1);
            end = end == std::string::npos ? body.size() : end + 1;
            cmd.name.push_back('D');
            cmd.args = body.substr(p + 1, end - p - 1);
            p = end;
        } else if (c == 'S') {
            size_t q = p + 1;
            while (q < body.size() && IsDigit(body[q]))
                ++q;
            if (q == p + 1 || q - p > 4 || q >= body.size())
                return true;
            cmd.name = body.substr(p, q - p);
            if (body[q] == '?') {
                cmd.op = CmdOp::kRead;
                p = q + 1;
            } else if (body[q] == '=') {
                size_t r = q + 1;
                while (r < body.size() && IsDigit(body[r]))
                    ++r;
                if (r == q + 1 || r - q > 4)
                    return true;
                cmd.op = CmdOp::kSet;
                cmd.args = body.substr(q + 1, r - q - 1);
                p = r;
            } else {
                return true;
            }
        } else if (c == '&' || IsUpper(c)) {
            size_t q = p + 1;
            if (c == '&') {
                if (q >= body.size() || !IsUpper(body[q]))
                    return true;
                ++q;
            }
            cmd.name = body.substr(p, q - p);
            if (q < body.size() && body[q] == '?') {
                cmd.op = CmdOp::kRead;
                ++q;
            } else {
                size_t r = q;
                while (r < body.size() && IsDigit(body[r]))
                    ++r;
                if (r - q > 3)
                    return true;
                cmd.args = body.substr(q, r - q);
                q = r;
            }
            p = q;
        } else {
            return true;
        }
        commands->push_back(std::move(cmd));
    }
    *syntax_ok = true;
    return true;
}

bool ParseArgs(std::string_view args, std::vector<AtArg>* out) {
    out->clear();
    AtArg cur;
    size_t i = 0;
    bool after_string = false;
    while (true) {
        if (i >= args.size() || args[i] == ',') {
            out->push_back(cur);
            cur = AtArg();
            after_string = false;
            if (i >= args.size())
                break;
            ++i;
            continue;
        }
        char c = args[i];
        if (c == '"') {
            if (cur.present)
                return false;  // text before the quote
            cur.present = true;
            cur.quoted = true;
            ++i;
            bool closed = false;
            while (i < args.size()) {
                char s = args[i];
                if (s == '"') {
                    closed = true;
                    ++i;
                    break;
                }
                if (s == '\\') {
                    if (i + 2 >= args.size())
                        return false;
                    int hi = platform::HexDigitValue(args[i + 1]);
                    int lo = platform::HexDigitValue(args[i + 2]);
                    if (hi < 0 || lo < 0)
                        return false;
                    cur.text.push_back(static_cast<char>(hi * 16 + lo));
                    i += 3;
                    continue;
                }
                cur.text.push_back(s);
                ++i;
            }
            if (!closed)
                return false;
            after_string = true;
            continue;
        }
        if (after_string)
            return false;  // text after the closing quote
        cur.present = true;
        cur.text.push_back(c);
        ++i;
    }
    // "AT+X=" has one omitted argument; keep that shape.
    return true;
}

std::optional<int> ArgNumber(const AtArg& arg) {
    if (!arg.present || arg.quoted || arg.text.empty() || arg.text.size() > 9)
        return std::nullopt;
    int v = 0;
    for (char c : arg.text) {
        if (!IsDigit(c))
            return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

}  // namespace phonesim
