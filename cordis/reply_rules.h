// The rules that decide when a phone's answer is complete and what the
// caller gets back from it. Pure functions of the text collected so far.
#pragma once

#include <functional>
#include <string>
#include <string_view>

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

enum class Completion { Incomplete, Ok, Prompt, PduMessage, MessageInfo };

// Whether the answer collected so far is complete. `wait_past_prompt` 1 keeps
// the prompt from ending the answer.
Completion CheckComplete(std::u16string_view reply, int wait_past_prompt);

using LogFn = std::function<void(const std::u16string&)>;

// Turns a complete answer into what the caller gets: an unsolicited
// indication unchanged, the prompt as exactly ">", anything else without the
// echo of `command`, the final "OK" and the line ends around the information
// text. Logs each step. Returns SAR_DONE, or SAR_FAILED when the trimmed
// answer is too short to hold information text (1 to 3 characters).
int PostProcess(std::u16string& reply, const std::string& command, const LogFn& log);

}  // namespace cordis
