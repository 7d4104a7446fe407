// Small layout helpers for the dialogs of every program.
#pragma once

class QWidget;

namespace qtsupport {

// Gives every push button below `root` room for its whole text at the
// current font (the style's size hint can be a few pixels short).
void FitPushButtons(QWidget* root);

// Shrinks `window` to the available area of its screen (without the panels
// of the desktop) and moves it inside, so that its frame, its close button
// and its corners can be reached at any font size.
void FitToScreen(QWidget* window);

}  // namespace qtsupport
