#include "qtsupport/screenshot.h"

#include <QDir>
#include <QPixmap>
#include <QWidget>
#include <cstdlib>

namespace qtsupport {

QString ScreenshotDir() {
    const char* dir = std::getenv("SKYVANE_SCREENSHOT_DIR");
    return dir && *dir ? QString::fromLocal8Bit(dir) : QString();
}

bool SaveScreenshot(QWidget* widget, const QString& name) {
    const QString dir = ScreenshotDir();
    if (dir.isEmpty() || widget == nullptr)
        return false;
    if (!QDir().mkpath(dir))
        return false;
    return widget->grab().save(QDir(dir).filePath(name + ".png"), "PNG");
}

}  // namespace qtsupport
