// "Select Contacts": picks contacts to import into the phone's phonebook,
// with marks, sorting, a search field and the target storage ("Import to:").
#pragma once

#include <QDialog>
#include <cstdint>
#include <vector>

#include "parlo/contacts/contact_entry.h"

class QComboBox;
class QLineEdit;
class QTreeView;

namespace parlo {

class CParloDoc;

class ContactsSelectDialog : public QDialog {
    Q_OBJECT
  public:
    // Reads the contacts into the document's list (marks cleared, numbers
    // cleaned); `enabled_flags` are the enabled phonebook storages.
    ContactsSelectDialog(CParloDoc& doc, uint32_t enabled_flags, QWidget* parent = nullptr);

    // After OK: copies of the marked contacts in list order, and the
    // storage to import into (STORAGE_FLAG_PHONE or STORAGE_FLAG_SIM).
    std::vector<CContactEntry> Marked() const;
    uint32_t TargetFlag() const;

  private:
    void Fill();
    CContactEntry* EntryOfRow(int row) const;

    CParloDoc& doc_;
    std::vector<CContactEntry*> shown_;
    QTreeView* list_;
    QLineEdit* search_;
    QComboBox* target_;
    bool filling_ = false;
    int sort_column_ = 1;
    int sort_direction_ = 1;
};

}  // namespace parlo
