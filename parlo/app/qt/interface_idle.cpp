#include "parlo/app/qt/interface_idle.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QMenu>

#include "parlo/app/parlo_doc.h"

namespace parlo {

namespace {

bool Counts(QObject* o) {
    auto* w = qobject_cast<QWidget*>(o);
    return w && w->isWindow() && (qobject_cast<QDialog*>(w) || qobject_cast<QMenu*>(w));
}

}  // namespace

InterfaceIdleGuard::InterfaceIdleGuard(CParloDoc& doc, QObject* parent)
    : QObject(parent), doc_(doc) {
    qApp->installEventFilter(this);
    // Windows that opened before the guard (a start-up message) count too.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (Counts(w) && w->isVisible())
            Opened(w);
    }
}

InterfaceIdleGuard::~InterfaceIdleGuard() {
    qApp->removeEventFilter(this);
}

void InterfaceIdleGuard::Hold() {
    const bool was = Held();
    ++holds_;
    Apply(was);
}

void InterfaceIdleGuard::Release() {
    const bool was = Held();
    if (holds_ > 0)
        --holds_;
    Apply(was);
}

qint64 InterfaceIdleGuard::SinceLastClose() const {
    return last_close_.isValid() ? last_close_.elapsed() : std::numeric_limits<qint64>::max();
}

void InterfaceIdleGuard::Reassert() {
    if (Held() && doc_.IsInterfaceIdle())
        doc_.SetInterfaceIdle(false);
}

bool InterfaceIdleGuard::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::Show:
            if (Counts(watched))
                Opened(watched);
            break;
        case QEvent::Hide:
        case QEvent::Destroy:
            Closed(watched);
            break;
        default:
            break;
    }
    return false;
}

void InterfaceIdleGuard::Opened(QObject* window) {
    const bool was = Held();
    if (open_.insert(window).second)
        Apply(was);
}

void InterfaceIdleGuard::Closed(QObject* window) {
    const bool was = Held();
    if (open_.erase(window) == 0)
        return;
    last_close_.start();
    Apply(was);
}

void InterfaceIdleGuard::Apply(bool was_held) {
    const bool held = Held();
    if (held && !was_held) {
        doc_.SetInterfaceIdle(false);
    } else if (!held && was_held && !doc_.IsSyncBusy()) {
        // A run in progress sets the flag itself when it ends.
        doc_.SetInterfaceIdle(true);
    }
}

}  // namespace parlo
