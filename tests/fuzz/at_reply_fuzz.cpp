// The phone link's answer rules on arbitrary bytes from the phone: the input
// is split at the first zero byte into a command and the bytes of the line,
// which are collected one at a time as the listener collects them
// (unsolicited lines taken out), paired with the command and trimmed.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cordis/cordis.h"
#include "cordis/reply_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t zero = input.find('\0');
    std::string command = zero == std::string::npos ? "AT" : input.substr(0, zero);
    std::string line = zero == std::string::npos ? input : input.substr(zero + 1);
    for (int mode = 0; mode <= 1; ++mode) {
        std::u16string reply;
        cordis::AnswerCollector answer(command, mode, &reply);
        size_t fed = 0;
        for (unsigned char byte : line) {
            if (byte == 0)
                continue;
            ++fed;
            if (answer.Add(static_cast<char16_t>(byte)) != cordis::Completion::Incomplete)
                break;
        }
        // Unsolicited lines only ever leave the answer.
        if (reply.size() > fed)
            __builtin_trap();
        answer.TakeUnsolicited();
        cordis::IsPairedAnswer(reply, command, mode == 1);
        std::u16string trimmed = reply;
        int status = cordis::PostProcess(trimmed, command, [](const std::u16string&) {});
        if (status != SAR_DONE && status != SAR_FAILED)
            __builtin_trap();
        if (trimmed.size() > reply.size())
            __builtin_trap();
        cordis::IsPduMessage(reply);
        cordis::IsMessageInfo(reply);
    }
    return 0;
}
