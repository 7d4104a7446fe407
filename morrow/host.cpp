#include "morrow/host.h"

#include <dlfcn.h>

#include <QLinearGradient>
#include <QPainter>
#include <cstring>

namespace today {

namespace {

constexpr const char* kScreenClass = "DesktopExplorerWindow";
constexpr int kRefreshMs = 2000;

intptr_t ScreenProc(TodayWindow window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    switch (message) {
        case TODAY_WM_PAINT: {
            TodayRect rect;
            if (QPainter* painter = BeginPaint(window, &rect)) {
                PaintWatermark(*painter, QRect(0, 0, rect.right, rect.bottom), QPoint(0, 0));
            }
            EndPaint(window);
            return 0;
        }
        case TODAYM_DRAWWATERMARK: {
            auto* info = reinterpret_cast<TODAYDRAWWATERMARKINFO*>(lparam);
            if (info == nullptr || info->hdc == nullptr || info->hwnd == nullptr)
                return 0;
            auto* item = static_cast<QWidget*>(info->hwnd);
            const QRect target(info->rc.left, info->rc.top, info->rc.right - info->rc.left,
                               info->rc.bottom - info->rc.top);
            PaintWatermark(*static_cast<QPainter*>(info->hdc), target, item->pos());
            return 1;
        }
        case TODAY_WM_ERASEBKGND:
            return 1;
        default:
            return DefWindowProc(window, message, wparam, lparam);
    }
}

}  // namespace

void PaintWatermark(QPainter& painter, const QRect& target, const QPoint& origin) {
    painter.save();
    painter.setClipRect(target);
    painter.translate(-origin);
    // A pale sky with soft diagonal stripes, as the handheld's theme draws it.
    QLinearGradient sky(0, 0, 240, 80);
    sky.setColorAt(0, QColor(214, 230, 248));
    sky.setColorAt(1, QColor(244, 248, 255));
    const QRect area = target.translated(origin);
    painter.fillRect(area, sky);
    painter.setPen(QPen(QColor(255, 255, 255, 150), 6));
    for (int x = -80; x < area.right() + 80; x += 24) {
        painter.drawLine(x, area.bottom() + 1, x + 60, area.top() - 1);
    }
    painter.restore();
}

Screen::Screen(int width) {
    window_ = new Window(nullptr, kScreenClass, "Today", &ScreenProc);
    window_->setWindowFlags(Qt::Window | Qt::WindowStaysOnTopHint);
    window_->setFixedSize(width, 36);
    refresh_.setInterval(kRefreshMs);
    QObject::connect(&refresh_, &QTimer::timeout, window_, [this] { Refresh(); });
}

Screen::~Screen() {
    refresh_.stop();
    // The item leaves the list: it drops what it cached, then its window goes.
    if (item_.hwndCustom != nullptr) {
        SendMessage(item_.hwndCustom, WM_TODAYCUSTOM_CLEARCACHE, 0, 0);
    }
    delete window_;  // destroys the item's window with it
    if (library_ != nullptr)
        dlclose(library_);
}

bool Screen::Load(const std::string& library, bool enabled, std::string* error) {
    library_ = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) {
        if (error)
            *error = dlerror();
        return false;
    }
    auto init = reinterpret_cast<TodayInitializeFn>(dlsym(library_, TODAY_INIT_ENTRY));
    auto options = reinterpret_cast<TodayOptionsDlgProcFn>(dlsym(library_, TODAY_OPTIONS_ENTRY));
    if (init == nullptr || options == nullptr) {
        if (error)
            *error = library + ": the item entries are missing";
        return false;
    }
    std::strncpy(item_.szName, "Skyvane", sizeof(item_.szName) - 1);
    std::strncpy(item_.szDLLPath, library.c_str(), sizeof(item_.szDLLPath) - 1);
    item_.tlit = 1;
    item_.fEnabled = enabled ? 1 : 0;
    item_.hinstDLL = library_;
    item_.hwndCustom = init(&item_, window_);
    Refresh();
    refresh_.start();
    return true;
}

void Screen::Refresh() {
    if (item_.hwndCustom == nullptr)
        return;
    if (SendMessage(item_.hwndCustom, WM_TODAYCUSTOM_QUERYREFRESHCACHE,
                    reinterpret_cast<uintptr_t>(&item_), 0) != 0) {
        Layout();
    }
}

void Screen::Layout() {
    auto* item = static_cast<QWidget*>(item_.hwndCustom);
    const int height = static_cast<int>(item_.cyp);
    window_->setFixedSize(window_->width(), height > 0 ? height : 36);
    item->setGeometry(0, 0, window_->width(), height);
    item->update();
}

}  // namespace today
