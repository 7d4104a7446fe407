// Message boxes: the one way every part of the suite asks the user.
#pragma once

#include <deque>
#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

enum class Buttons { Ok, OkCancel, YesNo };
enum class Icon { None, Information, Question, Warning, Error };
enum class Answer { Ok, Cancel, Yes, No };

class Prompt {
  public:
    virtual ~Prompt() = default;
    // Shows `text` with a caption and returns the button chosen. May be called
    // from any thread; it blocks the caller until answered.
    virtual Answer MessageBox(const std::u16string& text, Buttons buttons = Buttons::Ok,
                              Icon icon = Icon::None, const std::u16string& caption = u"") = 0;
};

// Console prompt: prints the text; questions are answered by a fixed answer
// (from --yes / --no) or, when interactive, read from the input stream.
class ConsolePrompt : public Prompt {
  public:
    enum class Mode { Ask, AlwaysYes, AlwaysNo };
    ConsolePrompt(std::ostream& out, std::istream& in, Mode mode = Mode::Ask);
    Answer MessageBox(const std::u16string& text, Buttons buttons, Icon icon,
                      const std::u16string& caption) override;

  private:
    std::ostream& out_;
    std::istream& in_;
    Mode mode_;
    std::mutex mutex_;
};

// Scripted prompt for tests: records every message and answers from a queue
// (Ok / Yes when the queue is empty, unless a default is set).
class ScriptedPrompt : public Prompt {
  public:
    struct Shown {
        std::u16string text;
        Buttons buttons;
        Icon icon;
        std::u16string caption;
    };
    void Push(Answer answer);
    void SetDefault(Answer positive_or_negative_default);
    Answer MessageBox(const std::u16string& text, Buttons buttons, Icon icon,
                      const std::u16string& caption) override;
    std::vector<Shown> shown() const;
    std::vector<std::u16string> texts() const;
    void Clear();

  private:
    mutable std::mutex mutex_;
    std::deque<Answer> answers_;
    bool has_default_ = false;
    Answer default_ = Answer::Ok;
    std::vector<Shown> shown_;
};

}  // namespace platform
