// "Define Group": the members of one SMS group, taken from the contacts or
// the phonebook with the arrows, each shown with the number it resolves to
// now. "Save" writes the group file; closing writes it again.
#pragma once

#include <QDialog>
#include <string>

#include "parlo/contacts/groups.h"

class QLabel;
class QStackedWidget;
class QTabBar;
class QToolButton;
class QTreeView;

namespace platform {
class Prompt;
}

namespace parlo {

class CParloDoc;

class GroupDefineDialog : public QDialog {
    Q_OBJECT
  public:
    GroupDefineDialog(CParloDoc& doc, platform::Prompt& prompt, const std::u16string& group,
                      QWidget* parent = nullptr);

    const GroupMemberList& members() const { return members_; }

    // Adds the selected rows of the visible source list (the add arrow).
    void AddSelected();
    // Removes the selected members (the remove arrow).
    void RemoveSelected();
    // Writes the group file; "Save failed." when it cannot.
    bool Save();

    void done(int result) override;

  private:
    void FillMembers(const CGroupMember* select);

    CParloDoc& doc_;
    platform::Prompt& prompt_;
    std::u16string group_;
    GroupMemberList members_;
    QTabBar* tabs_;
    QStackedWidget* stack_;
    QTreeView* contacts_;
    QTreeView* phonebook_;
    QTreeView* list_;
};

}  // namespace parlo
