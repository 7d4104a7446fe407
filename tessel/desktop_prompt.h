// Message boxes of a program without windows of its own: a desktop dialog
// (zenity, else kdialog) when a display is present, else the text on
// standard error (questions are then answered with No / Cancel).
#pragma once

#include "platform/prompt.h"

namespace tessel {

class DesktopPrompt : public platform::Prompt {
  public:
    platform::Answer MessageBox(const std::u16string& text, platform::Buttons buttons,
                                platform::Icon icon, const std::u16string& caption) override;
};

}  // namespace tessel
