// The Phonebook dialog: the handheld copy of the phone's phonebook with New,
// Edit, Delete, Synchronise, Export, Import, Call and Send SMS.
//
// Synchronise and Call use the phone: they run on a worker thread, the
// window stays usable (its commands are off meanwhile, and it cannot be
// closed until the phone is free), and the automatic message run waits.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "parlo/contacts/phonebook_sync.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QThread;
class QToolBar;
class QTreeView;

namespace platform {
class Prompt;
}

namespace parlo {

class CParloDoc;
class CPhonebookEntry;

class PhonebookDialog : public QDialog {
    Q_OBJECT
  public:
    // `send_sms` opens a new message to a number (the compose dialog).
    PhonebookDialog(CParloDoc& doc, platform::Prompt& prompt,
                    std::function<void(const std::u16string&)> send_sms, QWidget* parent = nullptr);
    ~PhonebookDialog() override;

    // Import's choice of contacts; by default the Select Contacts dialog.
    // Returns false on Cancel.
    std::function<bool(std::vector<CContactEntry>* picked, uint32_t* target)> pick_contacts;
    // The entry dialog; by default PhonebookEntryDialog run modally. Returns
    // false on Cancel.
    std::function<bool(uint32_t* id, std::u16string* name, std::u16string* number, bool is_new)>
        edit_entry;

    bool busy() const { return worker_ != nullptr; }
    // The entries of the rows in list order.
    std::vector<CPhonebookEntry*> Rows() const;

    void reject() override;

    void New();
    void Edit();
    void Delete();
    void Synchronise();
    void Export();
    void Import();
    void Call();
    void SendSms();

  signals:
    // A synchronisation or call on the worker has ended.
    void PhoneDone();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void Fill(bool clear_marks);
    void SetBusy(bool busy);
    // Space on a row: its mark (the "X" column) flips.
    void ToggleCurrentMark();
    CPhonebookEntry* Selected() const;
    std::vector<CPhonebookEntry*> MarkedOrSelected() const;
    CPhonebookEntry* EntryOfRow(int row) const;
    void HeaderClicked(int column);
    void SelectEntry(const CPhonebookEntry* entry);
    bool RunEntryDialog(uint32_t* id, std::u16string* name, std::u16string* number, bool is_new);
    void Save();
    // Runs `job` on a worker thread, then `done` on the GUI thread.
    void RunOnWorker(std::function<void()> job, std::function<void()> done);

    CParloDoc& doc_;
    platform::Prompt& prompt_;
    std::function<void(const std::u16string&)> send_sms_;
    QToolBar* bar_;
    QPushButton* close_ = nullptr;
    QTreeView* list_;
    QLineEdit* search_;
    QLabel* status_;
    QProgressBar* progress_;
    QThread* worker_ = nullptr;
    bool filling_ = false;
    int sort_column_ = 1;
    int sort_direction_ = 1;
    bool marks_cleared_next_ = true;  // the first tap on "X" clears
};

}  // namespace parlo
