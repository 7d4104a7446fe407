#include "qtsupport/dialog_layout.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <algorithm>

namespace qtsupport {

void FitPushButtons(QWidget* root) {
    for (QPushButton* b : root->findChildren<QPushButton*>()) {
        const QStyle* style = b->style();
        int width = b->fontMetrics().size(Qt::TextShowMnemonic, b->text()).width();
        width += 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b) +
                 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b) + 2;
        b->setMinimumWidth(width);
    }
}

void FitToScreen(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    // Room for the frame that the window manager adds.
    const QSize frame_extra = window->frameGeometry().size() - window->geometry().size();
    const QSize room(area.width() - frame_extra.width(), area.height() - frame_extra.height());
    QSize size = window->size().boundedTo(room);
    size = size.expandedTo(window->minimumSize().boundedTo(room));
    if (size != window->size())
        window->resize(size);
    QRect frame = window->frameGeometry();
    QPoint at = frame.topLeft();
    if (frame.right() > area.right())
        at.setX(area.right() - frame.width() + 1);
    if (frame.bottom() > area.bottom())
        at.setY(area.bottom() - frame.height() + 1);
    at.setX(std::max(at.x(), area.left()));
    at.setY(std::max(at.y(), area.top()));
    if (at != frame.topLeft())
        window->move(at);
}

}  // namespace qtsupport
