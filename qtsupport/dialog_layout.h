// Small layout helpers for the dialogs of every program.
#pragma once

class QWidget;

namespace qtsupport {

// Gives every push button below `root` room for its whole text at the
// current font (the style's size hint can be a few pixels short).
void FitPushButtons(QWidget* root);

}  // namespace qtsupport
