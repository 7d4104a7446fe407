// The message boxes of the launcher program `tessel`: a Qt message box when
// a display is present (DISPLAY or WAYLAND_DISPLAY is set, or QT_QPA_PLATFORM
// names a platform), else the text on standard error. The Qt application is
// made on the first message, so a run without messages never touches Qt; a
// display that cannot be reached also ends on standard error.
#pragma once

#include <memory>

#include "platform/prompt.h"

class QApplication;

namespace tessel {

class LauncherPrompt : public platform::Prompt {
  public:
    LauncherPrompt();
    ~LauncherPrompt() override;
    platform::Answer MessageBox(const std::u16string& text, platform::Buttons buttons,
                                platform::Icon icon, const std::u16string& caption) override;

    // Whether the environment names a display.
    static bool DisplayPresent();

  private:
    std::unique_ptr<QApplication> app_;
};

}  // namespace tessel
