#include "parlo/app/qt/folder_choice_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "parlo/app/parlo_doc.h"
#include "qtsupport/dialog_layout.h"

namespace parlo {

FolderChoiceDialog::FolderChoiceDialog(CParloDoc& doc, QWidget* parent) : QDialog(parent) {
    setObjectName("152");
    setWindowTitle("Folders");
    list_ = new QListWidget;
    list_->setObjectName("1031");
    list_->setSortingEnabled(true);
    for (CSmsFolder* f : doc.Folders().All()) {
        auto* item = new QListWidgetItem(QString::fromStdU16String(f->m_strName));
        item->setData(Qt::UserRole, f->m_nId);
        list_->addItem(item);
    }
    list_->sortItems();
    list_->setCurrentRow(-1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    ok_->setObjectName("1");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("2");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QListWidget::itemSelectionChanged, this,
            [this] { ok_->setEnabled(!list_->selectedItems().isEmpty()); });
    connect(list_, &QListWidget::itemDoubleClicked, this, [this] { accept(); });
    ok_->setEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Please select destination folder:"));
    layout->addWidget(list_, 1);
    layout->addWidget(buttons);
    qtsupport::FitPushButtons(this);
    resize(320, 360);
}

void FolderChoiceDialog::accept() {
    QList<QListWidgetItem*> sel = list_->selectedItems();
    if (sel.isEmpty()) {
        reject();  // OK without a selection acts as Cancel
        return;
    }
    chosen_ = sel.first()->data(Qt::UserRole).toInt();
    QDialog::accept();
}

int32_t ChooseFolder(CParloDoc& doc, QWidget* parent) {
    FolderChoiceDialog dialog(doc, parent);
    if (dialog.exec() != QDialog::Accepted)
        return -1;
    return dialog.ChosenFolder();
}

}  // namespace parlo
