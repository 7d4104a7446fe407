// Layout checks for the tests of every window:
// - every visible child lies inside its parent;
// - visible siblings do not overlap;
// - every label and button text fits its widget.
// Run them at the default font and again under a FontScale of 1.5.
//
// Composite widgets (lists, combo boxes, spin boxes, line edits, buttons)
// are checked as a whole; their inner parts are their toolkit's business.
#pragma once

#include <QFont>
#include <QStringList>

class QWidget;

namespace qtsupport {

// One line per problem, naming the widgets by object name (or class).
QStringList LayoutProblems(const QWidget* root);

// Scales the application font for its lifetime and restores it afterwards.
// Windows opened meanwhile get the larger font.
class FontScale {
  public:
    explicit FontScale(double factor);
    ~FontScale();
    FontScale(const FontScale&) = delete;
    FontScale& operator=(const FontScale&) = delete;

  private:
    QFont saved_;
};

}  // namespace qtsupport
