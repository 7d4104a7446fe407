// "Phonebook entry": name, number and storage of one entry of the phone's
// phonebook, with the storage's rules (free index, lengths) and messages.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>

#include "parlo/contacts/phonebook.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace platform {
class Prompt;
}

namespace parlo {

class PhonebookEntryDialog : public QDialog {
    Q_OBJECT
  public:
    // A new entry when `is_new` (its id comes from NewEntryId), else the
    // entry's id, name and number; the storage then cannot be changed.
    PhonebookEntryDialog(const CPhonebook& book, uint32_t enabled_flags, uint32_t id,
                         const std::u16string& name, const std::u16string& number, bool is_new,
                         platform::Prompt& prompt, QWidget* parent = nullptr);

    uint32_t id() const { return id_; }
    std::u16string name() const;
    std::u16string number() const;

    // Checks (65093, 65094, 65092, the storage's lengths) and closes.
    void accept() override;

  private:
    void StorageChosen(int choice);
    void ApplyLimits();
    void NumberChanged();

    const CPhonebook& book_;
    uint32_t enabled_;
    uint32_t id_;
    platform::Prompt& prompt_;
    QLineEdit* name_;
    QLineEdit* number_;
    QComboBox* storage_;
    QPushButton* ok_;
};

}  // namespace parlo
