#include "platform/prompt.h"

#include <iostream>
#include <string>

#include "platform/text.h"

namespace platform {

ConsolePrompt::ConsolePrompt(std::ostream& out, std::istream& in, Mode mode)
    : out_(out), in_(in), mode_(mode) {}

Answer ConsolePrompt::MessageBox(const std::u16string& text, Buttons buttons, Icon,
                                 const std::u16string& caption) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!caption.empty())
        out_ << "[" << ToUtf8(caption) << "] ";
    out_ << ToUtf8(text);
    Answer yes = buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    Answer no = buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    if (buttons == Buttons::Ok) {
        out_ << "\n";
        out_.flush();
        return Answer::Ok;
    }
    const char* choice = buttons == Buttons::YesNo ? " [y/n] " : " [ok/cancel] ";
    if (mode_ != Mode::Ask) {
        Answer a = mode_ == Mode::AlwaysYes ? yes : no;
        out_ << choice
             << (a == yes ? (buttons == Buttons::YesNo ? "y" : "ok")
                          : (buttons == Buttons::YesNo ? "n" : "cancel"))
             << "\n";
        out_.flush();
        return a;
    }
    out_ << choice;
    out_.flush();
    std::string line;
    if (!std::getline(in_, line)) {
        out_ << "\n";
        return no;  // no one to answer: the safe choice
    }
    for (char& c : line)
        if (c >= 'A' && c <= 'Z')
            c += 32;
    return (line == "y" || line == "yes" || line == "ok" || line == "o") ? yes : no;
}

void ScriptedPrompt::Push(Answer answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_.push_back(answer);
}

void ScriptedPrompt::SetDefault(Answer answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    has_default_ = true;
    default_ = answer;
}

Answer ScriptedPrompt::MessageBox(const std::u16string& text, Buttons buttons, Icon icon,
                                  const std::u16string& caption) {
    std::lock_guard<std::mutex> lock(mutex_);
    shown_.push_back({text, buttons, icon, caption});
    bool negative_default = has_default_ && (default_ == Answer::No || default_ == Answer::Cancel);
    Answer a;
    if (!answers_.empty()) {
        a = answers_.front();
        answers_.pop_front();
    } else {
        a = negative_default ? Answer::No : Answer::Yes;
    }
    // Map the answer onto the buttons on show.
    bool positive = a == Answer::Ok || a == Answer::Yes;
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    if (buttons == Buttons::YesNo)
        return positive ? Answer::Yes : Answer::No;
    return positive ? Answer::Ok : Answer::Cancel;
}

std::vector<ScriptedPrompt::Shown> ScriptedPrompt::shown() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return shown_;
}

std::vector<std::u16string> ScriptedPrompt::texts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::u16string> out;
    for (const Shown& s : shown_)
        out.push_back(s.text);
    return out;
}

void ScriptedPrompt::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    shown_.clear();
    answers_.clear();
}

}  // namespace platform
