// Small layout helpers shared by the client's dialogs.
#pragma once

class QWidget;

namespace parlo {

// Gives every push button below `root` room for its whole text at the
// current font (the style's size hint can be a few pixels short).
void FitPushButtons(QWidget* root);

}  // namespace parlo
