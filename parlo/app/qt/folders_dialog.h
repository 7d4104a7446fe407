// The folder management dialog ("Add/Remove Folders"): add a user folder,
// rename one in place in the tree, delete one with its messages. Every
// change takes effect at once and the folder table is saved after each; the
// dialog has no OK or Cancel.
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace parlo {

class CParloDoc;

class FoldersDialog : public QDialog {
  public:
    explicit FoldersDialog(CParloDoc& doc, QWidget* parent = nullptr);
    // The folders changed (here or in another program): the list is filled
    // anew once no name is being edited, keeping the selected folder.
    void FoldersChanged();

  protected:
    // Delete deletes the selected folder; Return renames it.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Fills the list, selecting folder `select` (else the one selected).
    void Fill(int select = -1);
    void UpdateAdd();
    void OnAdd();
    void OnDelete();
    void OnRenamed(QTreeWidgetItem* item);

    CParloDoc& doc_;
    QLineEdit* name_ = nullptr;
    QPushButton* add_ = nullptr;
    QTreeWidget* tree_ = nullptr;
    QPushButton* delete_ = nullptr;
    bool filling_ = false;
};

}  // namespace parlo
