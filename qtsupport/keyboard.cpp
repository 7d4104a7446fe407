#include "qtsupport/keyboard.h"

#include <QAction>
#include <QToolBar>
#include <QWidget>

namespace qtsupport {

QString TipWithShortcut(const QString& tip, const QKeySequence& keys) {
    QString plain = tip;
    plain.remove('&');
    if (keys.isEmpty())
        return plain;
    return QString("%1 (%2)").arg(plain, keys.toString(QKeySequence::NativeText));
}

void SetShortcut(QAction* action, const QKeySequence& keys, const QString& tip) {
    action->setShortcut(keys);
    action->setToolTip(TipWithShortcut(tip, keys));
}

void MakeTabReachable(QToolBar* bar) {
    for (QAction* action : bar->actions()) {
        if (QWidget* w = bar->widgetForAction(action); w && !action->isSeparator())
            w->setFocusPolicy(Qt::TabFocus);
    }
}

}  // namespace qtsupport
