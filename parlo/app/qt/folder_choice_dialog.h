// The destination-folder dialog of "Move to folder": every folder of the
// folder table, fixed ones included, in alphabetical order.
#pragma once

#include <QDialog>
#include <cstdint>

class QListWidget;
class QPushButton;

namespace parlo {

class CParloDoc;

class FolderChoiceDialog : public QDialog {
  public:
    explicit FolderChoiceDialog(CParloDoc& doc, QWidget* parent = nullptr);

    // The chosen folder's id after OK; -1 when none (OK without a selection
    // acts as Cancel).
    int32_t ChosenFolder() const { return chosen_; }

    void accept() override;

  private:
    QListWidget* list_ = nullptr;
    QPushButton* ok_ = nullptr;
    int32_t chosen_ = -1;
};

// Runs the dialog; the chosen folder id, or -1 on Cancel.
int32_t ChooseFolder(CParloDoc& doc, QWidget* parent);

}  // namespace parlo
