// The rules that decide when a phone's answer is complete and what the
// caller gets back from it. Pure functions of the text collected so far.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace cordis {

// A complete unsolicited new-message delivery: "+CMT:" (the colon right after
// the T), then a line end, then a PDU line of more than one character that
// ends with CR LF.
bool IsPduMessage(std::u16string_view reply);

// A complete "+CMTI: " new-message indication: the text after it ends with
// CR LF.
bool IsMessageInfo(std::u16string_view reply);

// The answer ends with an error result line: "ERROR", "+CMS ERROR: <n>" or
// "+CME ERROR: <n>" followed by CR LF. An "ERROR" inside data text or inside
// the echo of a command is no result and does not end the answer.
bool EndsWithErrorResult(std::u16string_view reply);

// The answer ends with the SMS prompt: a '>' at the start of a line (the
// phone sends CR LF "> ", with or without the command's echo before it).
bool EndsWithPrompt(std::u16string_view reply);

enum class Completion { Incomplete, Ok, Error, Prompt };

// Whether the answer collected so far is complete: it ends with a final
// result code line ("OK", an error result) or, unless `wait_past_prompt` is
// 1, with the SMS prompt. Unsolicited lines must have been taken out first.
Completion CheckComplete(std::u16string_view reply, int wait_past_prompt);

// The result prefix of a command: "+CMGR" for "AT+CMGR=3", "^SYSINFO" for
// "AT^SYSINFO", upper case; empty for a basic command such as "AT" or "ATZ".
std::u16string CommandPrefix(std::string_view command);

// True when `line` (without its line end) is an unsolicited result code: the
// phone announces something unasked (+CMTI, +CMT, +CDSI, +CDS, +CBMI, +CBM,
// RING, +CRING, +CLIP, +CCWA, +CREG, +CGREG, +CEREG, +CUSD, +CIEV, +CSSI,
// +CSSU, +CGEV, "^"-prefixed vendor lines, and a call's NO CARRIER). A line
// that carries the prefix of `command` itself ("+CREG: 0,1" for
// "AT+CREG?") is its answer, never unsolicited.
bool IsUnsolicitedLine(std::u16string_view line, std::string_view command);
// True for the unsolicited codes that a second line (a PDU) follows: +CMT,
// +CDS and +CBM.
bool IsTwoLineUnsolicited(std::u16string_view line);

// Collects one answer character by character: takes unsolicited lines out of
// it wherever they arrive (before the echo, between echo and answer, inside
// the information text) and tells when the answer is complete.
class AnswerCollector {
  public:
    // Collects into `*reply` (emptied first), which must outlive the
    // collector; without one, into a string of its own.
    AnswerCollector(std::string command, int wait_past_prompt, std::u16string* reply = nullptr)
        : command_(std::move(command)),
          wait_past_prompt_(wait_past_prompt),
          reply_(reply ? *reply : own_) {
        reply_.clear();
    }

    // Appends one character (none for a zero byte: pass nothing).
    Completion Add(char16_t c);

    const std::u16string& reply() const { return reply_; }
    // The unsolicited lines taken out since the last call; a two-line code
    // as header, CR LF, second line.
    std::vector<std::u16string> TakeUnsolicited();
    // The final result code line once the answer is complete ("OK", "ERROR",
    // "+CMS ERROR: 321", or ">" for the prompt).
    const std::u16string& final_line() const { return final_; }

  private:
    void LineEnded();

    std::string command_;
    int wait_past_prompt_;
    std::u16string own_;
    std::u16string& reply_;
    size_t line_start_ = 0;
    bool second_line_pending_ = false;
    std::u16string pending_;
    std::vector<std::u16string> unsolicited_;
    std::u16string final_;
};

// Whether a complete answer belongs to `command`. It does not when it holds
// the echo of another command, or when an information line carries the
// result prefix of another command (a late "+CMGS: 5" taken as the answer to
// "AT+CPMS=..."). An SMS body (`body` set) is paired by its "+CMGS"/"+CMGW"
// result alone.
bool IsPairedAnswer(std::u16string_view reply, std::string_view command, bool body);

using LogFn = std::function<void(const std::u16string&)>;

// Turns a complete answer into what the caller gets: the prompt as exactly
// ">", anything else without the echo of `command`, the final "OK" and the
// line ends around the information text. Logs each step. Returns SAR_DONE, or SAR_FAILED when the
// trimmed answer is too short to hold information text (1 to 3 characters).
int PostProcess(std::u16string& reply, const std::string& command, const LogFn& log);

}  // namespace cordis
