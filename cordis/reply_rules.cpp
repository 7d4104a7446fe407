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

Completion CheckComplete(std::u16string_view reply, int wait_past_prompt) {
    // The prompt is recognised at any length: without echo it is CR LF '>'.
    if (wait_past_prompt != 1 && EndsWithPrompt(reply))
        return Completion::Prompt;
    if (reply.size() < 4)
        return Completion::Incomplete;
    if (EndsWith(reply, u"OK\r\n"))
        return Completion::Ok;
    // Both indications end with a line end; the searches run once per line.
    if (!EndsWith(reply, kCrLf))
        return Completion::Incomplete;
    if (IsPduMessage(reply))
        return Completion::PduMessage;
    if (IsMessageInfo(reply))
        return Completion::MessageInfo;
    return Completion::Incomplete;
}

int PostProcess(std::u16string& reply, const std::string& command, const LogFn& log) {
    if (IsMessageInfo(reply)) {
        log(u"Is msg info");
        return SAR_DONE;
    }
    if (IsPduMessage(reply)) {
        log(u"Is pdu msg");
        return SAR_DONE;
    }
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
