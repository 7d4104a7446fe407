// Windows with a class and a window procedure, over Qt widgets: what the
// Today screen and its items use to talk to each other through messages.
#pragma once

#include <QWidget>
#include <cstdint>

#include "morrow/today.h"

class QPainter;

namespace today {

using WndProc = intptr_t (*)(TodayWindow window, uint32_t message, uintptr_t wparam,
                             intptr_t lparam);

// A widget whose paint and button events go to its window procedure: a paint
// sends WM_ERASEBKGND (wparam = the painter) and then WM_PAINT; a left button
// released inside the window sends WM_LBUTTONUP with the position.
class Window : public QWidget {
  public:
    Window(QWidget* parent, const char* class_name, const char* title, WndProc proc);

    const char* class_name() const { return class_name_; }
    WndProc proc() const { return proc_; }
    // The painter of the paint in progress, or nullptr.
    QPainter* painter() const { return painter_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    const char* class_name_;
    WndProc proc_;
    QPainter* painter_ = nullptr;
};

// Registers a window class of this module; false when the name is taken.
bool RegisterClass(const char* class_name, WndProc proc);

// A visible child window of `parent` of a registered class, at the default
// position with zero size; nullptr when the class is unknown.
Window* CreateWindow(const char* class_name, const char* title, QWidget* parent);

// Calls the window procedure of `window` (a Window of any module); 0 when the
// window has none.
intptr_t SendMessage(TodayWindow window, uint32_t message, uintptr_t wparam, intptr_t lparam);

// The default window procedure: handles nothing.
intptr_t DefWindowProc(TodayWindow window, uint32_t message, uintptr_t wparam, intptr_t lparam);

TodayWindow GetParent(TodayWindow window);
TodayRect GetClientRect(TodayWindow window);

// The painter of the paint in progress for WM_PAINT, with the rectangle to
// paint; nullptr outside a paint.
QPainter* BeginPaint(TodayWindow window, TodayRect* paint_rect);
void EndPaint(TodayWindow window);

inline intptr_t MakeLParam(int x, int y) {
    return static_cast<intptr_t>((static_cast<uint32_t>(static_cast<uint16_t>(x))) |
                                 (static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16));
}
inline int XOfLParam(intptr_t lparam) {
    return static_cast<int16_t>(lparam & 0xFFFF);
}
inline int YOfLParam(intptr_t lparam) {
    return static_cast<int16_t>((lparam >> 16) & 0xFFFF);
}

}  // namespace today
