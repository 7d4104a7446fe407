// "Groups": lists, creates and deletes SMS groups; "Add Contact" (or a double
// click) opens Define Group for the selected one.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QLineEdit;
class QPushButton;
class QTreeView;

namespace platform {
class Prompt;
}

namespace parlo {

class CParloDoc;

class GroupsDialog : public QDialog {
    Q_OBJECT
  public:
    GroupsDialog(CParloDoc& doc, platform::Prompt& prompt, QWidget* parent = nullptr);

    // Opens Define Group for a group; by default GroupDefineDialog modally.
    std::function<void(const std::u16string& name)> define_group;

    void Add();
    void DeleteSelected();
    void AddContact();

  private:
    void Fill();
    void UpdateButtons();
    std::u16string NameOfRow(int row) const;

    CParloDoc& doc_;
    platform::Prompt& prompt_;
    QTreeView* list_;
    QLineEdit* name_;
    QPushButton* add_;
    QPushButton* delete_;
    QPushButton* add_contact_;
};

}  // namespace parlo
