#include "cordis/reply_rules.h"

#include <algorithm>

#include "cordis/cordis.h"
#include "platform/text.h"

namespace cordis {

namespace {

constexpr std::u16string_view kCrLf = u"\r\n";

bool EndsWith(std::u16string_view s, std::u16string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

bool StartsWith(std::u16string_view s, std::u16string_view head) {
    return s.size() >= head.size() && s.substr(0, head.size()) == head;
}

}  // namespace

bool IsPduMessage(std::u16string_view reply) {
    size_t at = reply.find(u"+CMT:");
    if (at == std::u16string_view::npos)
        return false;
    std::u16string_view after = reply.substr(at + 5);
    size_t eol = after.find(kCrLf);
    if (eol == std::u16string_view::npos)
        return false;
    std::u16string_view pdu = after.substr(eol + 2);
    return pdu.size() > 1 && EndsWith(pdu, kCrLf);
}

bool IsMessageInfo(std::u16string_view reply) {
    size_t at = reply.find(u"+CMTI: ");
    if (at == std::u16string_view::npos)
        return false;
    return EndsWith(reply.substr(at + 7), kCrLf);
}

bool EndsWithErrorResult(std::u16string_view reply) {
    if (!EndsWith(reply, kCrLf))
        return false;
    std::u16string_view body = reply.substr(0, reply.size() - 2);
    size_t brk = body.find_last_of(u"\r\n");
    std::u16string_view line = brk == std::u16string_view::npos ? body : body.substr(brk + 1);
    return line == u"ERROR" || StartsWith(line, u"+CMS ERROR") || StartsWith(line, u"+CME ERROR");
}

bool EndsWithPrompt(std::u16string_view reply) {
    if (reply.empty() || reply.back() != u'>')
        return false;
    if (reply.size() == 1)
        return true;
    char16_t before = reply[reply.size() - 2];
    return before == u'\r' || before == u'\n';
}

namespace {

// The last line of a reply that ends with CR LF, without its line end.
std::u16string_view LastLine(std::u16string_view reply) {
    std::u16string_view body = reply.substr(0, reply.size() - 2);
    size_t brk = body.find_last_of(u"\r\n");
    return brk == std::u16string_view::npos ? body : body.substr(brk + 1);
}

char16_t Upper(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

bool IsNameChar(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9');
}

// "+CMTI" of "+CMTI: \"SM\",3", upper case; the whole line when it has no colon.
std::u16string LinePrefix(std::u16string_view line) {
    size_t colon = line.find(u':');
    std::u16string_view p = colon == std::u16string_view::npos ? line : line.substr(0, colon);
    std::u16string out;
    for (char16_t c : p)
        out.push_back(Upper(c));
    while (!out.empty() && out.back() == u' ')
        out.pop_back();
    return out;
}

// True when the upper-cased command text names `prefix` as one of its
// commands ("AT+CMGF=0;+CNMI=2" names +CMGF and +CNMI).
bool CommandNames(std::string_view command, std::u16string_view prefix) {
    if (prefix.empty())
        return false;
    std::u16string upper;
    for (char c : command)
        upper.push_back(Upper(static_cast<unsigned char>(c)));
    size_t at = 0;
    while ((at = upper.find(prefix, at)) != std::u16string::npos) {
        size_t end = at + prefix.size();
        if (end >= upper.size() || !IsNameChar(upper[end]))
            return true;
        ++at;
    }
    return false;
}

bool IsPlainAt(std::string_view command) {
    return command.size() == 2 && Upper(static_cast<unsigned char>(command[0])) == u'A' &&
           Upper(static_cast<unsigned char>(command[1])) == u'T';
}

bool StartsWithAt(std::u16string_view line) {
    return line.size() >= 2 && Upper(line[0]) == u'A' && Upper(line[1]) == u'T';
}

}  // namespace

Completion CheckComplete(std::u16string_view reply, int wait_past_prompt) {
    // The prompt is recognised at any length: without echo it is CR LF '>'.
    if (wait_past_prompt != 1 && EndsWithPrompt(reply))
        return Completion::Prompt;
    if (reply.size() < 4 || !EndsWith(reply, kCrLf))
        return Completion::Incomplete;
    if (LastLine(reply) == u"OK")
        return Completion::Ok;
    if (EndsWithErrorResult(reply))
        return Completion::Error;
    return Completion::Incomplete;
}

std::u16string CommandPrefix(std::string_view command) {
    if (command.size() < 3 || Upper(static_cast<unsigned char>(command[0])) != u'A' ||
        Upper(static_cast<unsigned char>(command[1])) != u'T')
        return {};
    char sign = command[2];
    if (sign != '+' && sign != '^' && sign != '$' && sign != '%' && sign != '*')
        return {};
    std::u16string out(1, static_cast<char16_t>(sign));
    for (size_t i = 3; i < command.size() && IsNameChar(static_cast<unsigned char>(command[i]));
         ++i)
        out.push_back(Upper(static_cast<unsigned char>(command[i])));
    return out.size() > 1 ? out : std::u16string();
}

bool IsUnsolicitedLine(std::u16string_view line, std::string_view command) {
    if (line.empty())
        return false;
    std::u16string prefix = LinePrefix(line);
    if (prefix == u"RING")
        return true;
    if (prefix == u"NO CARRIER") {
        // The end of a call, unless it is the result of a dial, answer or
        // hang-up command.
        char16_t c = command.size() >= 3 ? Upper(static_cast<unsigned char>(command[2])) : 0;
        return c != u'D' && c != u'A' && c != u'H';
    }
    if (line[0] != u'+' && line[0] != u'^')
        return false;
    if (CommandNames(command, prefix))
        return false;
    if (line[0] == u'^')
        return true;  // vendor lines: ^RSSI, ^BOOT, ^MODE, ...
    static const char16_t* const kCodes[] = {
        u"+CMTI", u"+CMT",   u"+CDSI",  u"+CDS",  u"+CBMI", u"+CBM",  u"+CRING", u"+CLIP", u"+CCWA",
        u"+CREG", u"+CGREG", u"+CEREG", u"+CUSD", u"+CIEV", u"+CSSI", u"+CSSU",  u"+CGEV"};
    for (const char16_t* code : kCodes) {
        if (prefix == code)
            return true;
    }
    return false;
}

bool IsTwoLineUnsolicited(std::u16string_view line) {
    std::u16string prefix = LinePrefix(line);
    return prefix == u"+CMT" || prefix == u"+CDS" || prefix == u"+CBM";
}

Completion AnswerCollector::Add(char16_t c) {
    reply_.push_back(c);
    size_t n = reply_.size();
    if (c == u'\n' && n >= 2 && reply_[n - 2] == u'\r')
        LineEnded();
    if (second_line_pending_)
        return Completion::Incomplete;
    Completion done = CheckComplete(reply_, wait_past_prompt_);
    if (done == Completion::Prompt)
        final_.assign(1, u'>');
    else if (done != Completion::Incomplete)
        final_ = std::u16string(LastLine(reply_));
    return done;
}

void AnswerCollector::LineEnded() {
    size_t end = reply_.size() - 2;
    std::u16string_view content(reply_.data() + line_start_, end - line_start_);
    // An echo ends with a bare carriage return: the line proper starts after it.
    size_t cr = content.find_last_of(u'\r');
    size_t text_start = line_start_ + (cr == std::u16string_view::npos ? 0 : cr + 1);
    std::u16string text(reply_.data() + text_start, end - text_start);
    if (second_line_pending_) {
        pending_ += u"\r\n";
        pending_ += text;
        unsolicited_.push_back(std::move(pending_));
        pending_.clear();
        second_line_pending_ = false;
        reply_.erase(text_start);
        line_start_ = reply_.size();
        return;
    }
    if (IsUnsolicitedLine(text, command_)) {
        size_t cut = text_start;
        // The line end in front of it is its own framing (CR LF text CR LF)
        // when it makes an empty line; a line end that ends a line of the
        // answer stays.
        if (cut >= 2 && reply_[cut - 2] == u'\r' && reply_[cut - 1] == u'\n' &&
            (cut == 2 || reply_[cut - 3] == u'\r' || reply_[cut - 3] == u'\n'))
            cut -= 2;
        reply_.erase(cut);
        if (IsTwoLineUnsolicited(text)) {
            second_line_pending_ = true;
            pending_ = std::move(text);
        } else {
            unsolicited_.push_back(std::move(text));
        }
    }
    line_start_ = reply_.size();
}

std::vector<std::u16string> AnswerCollector::TakeUnsolicited() {
    std::vector<std::u16string> out;
    out.swap(unsolicited_);
    return out;
}

bool IsPairedAnswer(std::u16string_view reply, std::string_view command, bool body) {
    std::u16string echo = platform::Cp1252ToUtf16(std::string(command));
    size_t pos = 0;
    while (pos < reply.size()) {
        size_t brk = reply.find_first_of(u"\r\n", pos);
        std::u16string_view line = reply.substr(
            pos, brk == std::u16string_view::npos ? std::u16string_view::npos : brk - pos);
        pos = brk == std::u16string_view::npos ? reply.size() : brk + 1;
        if (line.empty())
            continue;
        if (!body && line.find(echo) != std::u16string_view::npos)
            continue;  // the echo of this command
        if (body && line.find(echo.substr(0, echo.size() > 1 ? echo.size() - 1 : 0)) == 0)
            continue;  // the echo of the body
        if (StartsWithAt(line))
            return false;  // the echo of another command
        if (line[0] != u'+' && line[0] != u'^')
            continue;
        std::u16string prefix = LinePrefix(line);
        if (prefix == u"+CMS ERROR" || prefix == u"+CME ERROR")
            continue;
        // A basic command (ATI, AT&V) may list settings with their prefixes;
        // a bare "AT" answers nothing but its result.
        if (!body && CommandPrefix(command).empty() && !IsPlainAt(command))
            continue;
        bool own = body ? prefix == u"+CMGS" || prefix == u"+CMGW" : CommandNames(command, prefix);
        if (!own)
            return false;
    }
    return true;
}

int PostProcess(std::u16string& reply, const std::string& command, const LogFn& log) {
    if (!reply.empty() && reply.back() == u'>') {
        log(u"is '>' msg");
        reply.assign(1, u'>');
        return SAR_DONE;
    }
    log(u"creating output str");
    // The echo of the command and the carriage return after it go, with
    // whatever came before the echo (a byte the phone sent after the last
    // answer, such as the echo of the carriage return after an SMS body).
    std::u16string echo = platform::Cp1252ToUtf16(command);
    size_t at = reply.find(echo);
    if (at != std::u16string::npos) {
        reply.erase(0, std::min(reply.size(), at + echo.size() + 1));
    }
    reply.erase(reply.size() - std::min<size_t>(reply.size(), 6));
    log(u"OUT: " + reply);
    if (!reply.empty()) {
        if (reply.size() < 4) {
            log(u"error - out too short");
            return SAR_FAILED;
        }
        reply = reply.substr(2, reply.size() - 4);
    }
    log(u"result: " + reply);
    return SAR_DONE;
}

}  // namespace cordis
