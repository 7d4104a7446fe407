// Keyboard helpers for the windows of every program: a command's shortcut
// shown in its tooltip, and tool bars that Tab can reach.
#pragma once

#include <QKeySequence>
#include <QString>

class QAction;
class QToolBar;

namespace qtsupport {

// "Tip (Ctrl+N)"; the tip alone without keys. Mnemonic "&" are dropped.
QString TipWithShortcut(const QString& tip, const QKeySequence& keys);
// Gives `action` its shortcut and a tooltip that shows it.
void SetShortcut(QAction* action, const QKeySequence& keys, const QString& tip);
// Every button of `bar` takes the focus by Tab (tool bars leave them out).
void MakeTabReachable(QToolBar* bar);

}  // namespace qtsupport
