#include "parlo/cli/run_log.h"

#include <ostream>

#include "parlo/store/sms_message.h"
#include "platform/text.h"

namespace cli {

void RunLogView::MessageAdded(parlo::CSmsMessage* rec) {
    if (rec->m_nState == parlo::STATE_UNREAD || rec->m_nState == parlo::STATE_READ)
        ++received_;
}

void RunLogView::MessageChanged(parlo::CSmsMessage* rec) {
    if (rec->m_nState == parlo::STATE_SENT)
        ++sent_;
}

void RunLogView::EndRun(int run, const std::u16string& errors) {
    out_ << RunLine(run, sent_.exchange(0), received_.exchange(0), errors) << "\n" << std::flush;
}

std::string RunLine(int run, int sent, int received, const std::u16string& errors) {
    std::string line = "run " + std::to_string(run) + ": sent " + std::to_string(sent) +
                       ", received " + std::to_string(received);
    // The error list's lines, trimmed, on the one line.
    std::string list;
    std::string text = platform::ToUtf8(errors) + "\n";
    size_t begin = 0;
    for (size_t end = text.find('\n'); end != std::string::npos;
         begin = end + 1, end = text.find('\n', begin)) {
        std::string item = text.substr(begin, end - begin);
        size_t first = item.find_first_not_of(" \t\r");
        if (first == std::string::npos)
            continue;
        item = item.substr(first, item.find_last_not_of(" \t\r") - first + 1);
        list += (list.empty() ? "" : " / ") + item;
    }
    if (!list.empty())
        line += "; errors: " + list;
    return line;
}

}  // namespace cli
