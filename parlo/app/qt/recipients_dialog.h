// "Select the phone number": the recipients of a new message, from the
// contacts' mobile numbers, the phone's phonebook and one SMS group.
//
// The compose dialog's "..." calls SelectPhoneNumbers (or the dialogs
// interface's PickRecipients, which calls it):
//
//   std::u16string numbers = parlo::SelectPhoneNumbers(doc, this);
//   if (!numbers.empty()) ...  // "0170111;+49171222", empty when cancelled
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QComboBox;
class QLineEdit;
class QStackedWidget;
class QTabBar;
class QTreeView;

namespace parlo {

class CParloDoc;

class RecipientsDialog : public QDialog {
    Q_OBJECT
  public:
    // Reads the contacts and the groups into the document's lists.
    explicit RecipientsDialog(CParloDoc& doc, QWidget* parent = nullptr);

    // The chosen group's numbers first, then the checked contacts, then the
    // checked phonebook entries, joined by ';'. Empty before OK.
    std::u16string Result() const { return result_; }

    void accept() override;

  private:
    QTreeView* Visible() const;
    std::vector<std::u16string> CheckedNumbers(QTreeView* list) const;

    CParloDoc& doc_;
    QTabBar* tabs_;
    QStackedWidget* stack_;
    QTreeView* contacts_;
    QTreeView* phonebook_;
    QLineEdit* search_;
    QComboBox* group_;
    std::u16string result_;
};

// Runs the dialog modally; the numbers, or an empty string when cancelled.
std::u16string SelectPhoneNumbers(CParloDoc& doc, QWidget* parent);

}  // namespace parlo
