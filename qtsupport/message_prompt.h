// The prompt interface on Qt message boxes.
//
// MessageBox may be called from any thread. On the GUI thread the box is shown
// at once; from another thread the question is posted to the GUI thread and
// only the asking thread waits for the answer, so the window keeps working.
// Without a usable display (no QApplication, or the offscreen and minimal
// platforms) the text goes to the standard error stream and a question is
// answered with its negative button: nothing is confirmed that nobody saw.
//
// Tests script the answers with SetPromptHookForTesting: the hook runs on the
// GUI thread in place of the box.
#pragma once

#include <functional>
#include <string>

#include "platform/prompt.h"

namespace qtsupport {

class MessageBoxPrompt : public platform::Prompt {
  public:
    // `default_caption` is used when a caller gives none.
    explicit MessageBoxPrompt(std::u16string default_caption = u"");
    platform::Answer MessageBox(const std::u16string& text, platform::Buttons buttons,
                                platform::Icon icon, const std::u16string& caption) override;

  private:
    platform::Answer Show(const std::u16string& text, platform::Buttons buttons,
                          platform::Icon icon, const std::u16string& caption);
    std::u16string default_caption_;
};

struct PromptRequest {
    std::u16string text;
    platform::Buttons buttons;
    platform::Icon icon;
    std::u16string caption;
};
using PromptHook = std::function<platform::Answer(const PromptRequest&)>;

// Replaces every message box of every MessageBoxPrompt (null: real boxes
// again). The hook is called on the GUI thread.
void SetPromptHookForTesting(PromptHook hook);
// A hook that hands every question to `scripted` (its queue gives the
// answers, and it records what was shown).
void ScriptPromptsForTesting(platform::ScriptedPrompt* scripted);

// The negative answer of a button set: Ok for a plain message.
platform::Answer NegativeAnswer(platform::Buttons buttons);

}  // namespace qtsupport
