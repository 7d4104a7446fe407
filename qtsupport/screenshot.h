// Pictures of windows for a person to look at: saved only when the
// environment variable SKYVANE_SCREENSHOT_DIR names a folder.
#pragma once

#include <QString>

class QWidget;

namespace qtsupport {

// The folder from SKYVANE_SCREENSHOT_DIR, empty when unset.
QString ScreenshotDir();
// Grabs `widget` into SKYVANE_SCREENSHOT_DIR/<name>.png. False when no folder
// is set or the file cannot be written.
bool SaveScreenshot(QWidget* widget, const QString& name);

}  // namespace qtsupport
