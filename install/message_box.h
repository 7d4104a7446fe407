// Message boxes of the installer on the desktop.
#pragma once

#include "platform/prompt.h"

namespace install {

class MessageBoxPrompt : public platform::Prompt {
  public:
    platform::Answer MessageBox(const std::u16string& text, platform::Buttons buttons,
                                platform::Icon icon, const std::u16string& caption) override;
};

}  // namespace install
