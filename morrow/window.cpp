#include "morrow/window.h"

#include <QMouseEvent>
#include <QPainter>
#include <QVariant>
#include <map>
#include <string>

namespace today {

namespace {

// The property that carries a window's procedure, so that a window made by
// one module can receive messages sent from another.
constexpr const char* kProcProperty = "todayWndProc";

std::map<std::string, WndProc>& Classes() {
    static std::map<std::string, WndProc> classes;
    return classes;
}

QWidget* AsWidget(TodayWindow window) {
    return static_cast<QWidget*>(window);
}

}  // namespace

Window::Window(QWidget* parent, const char* class_name, const char* title, WndProc proc)
    : QWidget(parent), class_name_(class_name), proc_(proc) {
    setObjectName(title);
    setWindowTitle(title);
    setProperty(kProcProperty, QVariant::fromValue(reinterpret_cast<quintptr>(proc)));
}

void Window::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter_ = &painter;
    proc_(this, TODAY_WM_ERASEBKGND, reinterpret_cast<uintptr_t>(&painter), 0);
    proc_(this, TODAY_WM_PAINT, 0, 0);
    painter_ = nullptr;
}

void Window::mouseReleaseEvent(QMouseEvent* event) {
    // Without a capture the button-up only reaches the window it happens over.
    const QPoint pos = event->position().toPoint();
    if (event->button() != Qt::LeftButton || !rect().contains(pos))
        return;
    proc_(this, TODAY_WM_LBUTTONUP, 0, MakeLParam(pos.x(), pos.y()));
}

bool RegisterClass(const char* class_name, WndProc proc) {
    if (class_name == nullptr || proc == nullptr)
        return false;
    return Classes().emplace(class_name, proc).second;
}

Window* CreateWindow(const char* class_name, const char* title, QWidget* parent) {
    auto it = Classes().find(class_name);
    if (it == Classes().end())
        return nullptr;
    auto* window = new Window(parent, it->first.c_str(), title, it->second);
    window->resize(0, 0);
    window->setVisible(true);
    return window;
}

intptr_t SendMessage(TodayWindow window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    if (window == nullptr)
        return 0;
    const quintptr raw = AsWidget(window)->property(kProcProperty).value<quintptr>();
    if (raw == 0)
        return 0;
    return reinterpret_cast<WndProc>(raw)(window, message, wparam, lparam);
}

intptr_t DefWindowProc(TodayWindow, uint32_t, uintptr_t, intptr_t) {
    return 0;
}

TodayWindow GetParent(TodayWindow window) {
    return window == nullptr ? nullptr : AsWidget(window)->parentWidget();
}

TodayRect GetClientRect(TodayWindow window) {
    if (window == nullptr)
        return TodayRect{0, 0, 0, 0};
    const QWidget* w = AsWidget(window);
    return TodayRect{0, 0, w->width(), w->height()};
}

QPainter* BeginPaint(TodayWindow window, TodayRect* paint_rect) {
    if (paint_rect != nullptr)
        *paint_rect = GetClientRect(window);
    auto* w = dynamic_cast<Window*>(AsWidget(window));
    return w == nullptr ? nullptr : w->painter();
}

void EndPaint(TodayWindow) {}

}  // namespace today
