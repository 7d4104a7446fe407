// The stand-in for the handheld's Today screen: a small window that loads an
// item library, gives it a list item record and a parent window, draws the
// watermark behind it and passes its messages on.
#pragma once

#include <QString>
#include <QTimer>
#include <string>

#include "morrow/today.h"
#include "morrow/window.h"

namespace today {

class Screen {
  public:
    explicit Screen(int width = 240);
    ~Screen();
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    // Loads the library and builds the item; false (with `error` set) when the
    // library or its entries cannot be found. A disabled item is no error: it
    // just makes no window.
    bool Load(const std::string& library, bool enabled, std::string* error);

    // Asks the item whether it changed and lays it out at its height.
    void Refresh();

    QWidget* widget() const { return window_; }
    TodayWindow item_window() const { return item_.hwndCustom; }
    const TODAYLISTITEM& item() const { return item_; }

  private:
    void Layout();

    Window* window_ = nullptr;
    void* library_ = nullptr;
    TODAYLISTITEM item_{};
    QTimer refresh_;
};

// Paints the screen's watermark into `target`, which lies at `origin` on the
// screen, so that pieces painted by different windows fit together.
void PaintWatermark(QPainter& painter, const QRect& target, const QPoint& origin);

}  // namespace today
