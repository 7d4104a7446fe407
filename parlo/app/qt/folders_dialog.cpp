#include "parlo/app/qt/folders_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "parlo/app/parlo_doc.h"
#include "parlo/contacts/contact_entry.h"
#include "qtsupport/dialog_layout.h"

namespace parlo {

namespace {

constexpr unsigned IDS_SELECT_FOLDER = 65055;

QString Q(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

}  // namespace

FoldersDialog::FoldersDialog(CParloDoc& doc, QWidget* parent) : QDialog(parent), doc_(doc) {
    setObjectName("151");
    setWindowTitle("Folders");

    name_ = new QLineEdit;
    name_->setObjectName("1029");
    add_ = new QPushButton("Add");
    add_->setObjectName("1030");
    add_->setAutoDefault(false);
    tree_ = new QTreeWidget;
    tree_->setObjectName("1032");
    tree_->setHeaderHidden(true);
    tree_->setRootIsDecorated(false);
    tree_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::SelectedClicked);
    delete_ = new QPushButton("Delete Folder");
    delete_->setObjectName("1033");
    delete_->setAutoDefault(false);
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close);
    close->setObjectName("close");
    close->button(QDialogButtonBox::Close)->setAutoDefault(false);
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* label = new QLabel("Folder");
    label->setBuddy(name_);
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel("Manage Folders:"), 0, 0, 1, 3);
    grid->addWidget(label, 1, 0);
    grid->addWidget(name_, 1, 1);
    grid->addWidget(add_, 1, 2);
    grid->addWidget(tree_, 2, 0, 1, 3);
    auto* row = new QHBoxLayout;
    row->addWidget(delete_);
    row->addStretch(1);
    row->addWidget(close);
    grid->addLayout(row, 3, 0, 1, 3);
    grid->setRowStretch(2, 1);
    grid->setColumnStretch(1, 1);

    connect(name_, &QLineEdit::textChanged, this, [this] { UpdateAdd(); });
    // Return in the name adds the folder.
    connect(name_, &QLineEdit::returnPressed, this, [this] {
        if (add_->isEnabled())
            OnAdd();
    });
    connect(add_, &QPushButton::clicked, this, &FoldersDialog::OnAdd);
    connect(delete_, &QPushButton::clicked, this, &FoldersDialog::OnDelete);
    connect(tree_, &QTreeWidget::itemChanged, this, &FoldersDialog::OnRenamed);
    tree_->installEventFilter(this);
    delete_->setToolTip(QStringLiteral("Delete the selected folder and its messages (Delete)"));
    tree_->setToolTip(QStringLiteral("F2 or Return renames the selected folder"));

    Fill();
    UpdateAdd();
    qtsupport::FitPushButtons(this);
    resize(380, 360);
}

void FoldersDialog::Fill(int select) {
    if (select < 0 && tree_->currentItem())
        select = tree_->currentItem()->data(0, Qt::UserRole).toInt();
    filling_ = true;
    tree_->clear();
    for (CSmsFolder* f : doc_.Folders().UserFolders()) {
        auto* item = new QTreeWidgetItem(tree_, QStringList{Q(f->m_strName)});
        item->setData(0, Qt::UserRole, f->m_nId);
        item->setFlags(item->flags() | Qt::ItemIsEditable);
        if (f->m_nId == select)
            tree_->setCurrentItem(item);
    }
    filling_ = false;
}

void FoldersDialog::FoldersChanged() {
    // Never inside a signal of an item (a rename): the items are rebuilt.
    QTimer::singleShot(0, this, [this] {
        // A name being edited: its editor lives on the list's viewport.
        if (tree_->viewport()->findChild<QLineEdit*>()) {
            QTimer::singleShot(200, this, [this] { FoldersChanged(); });
            return;
        }
        Fill();
    });
}

void FoldersDialog::UpdateAdd() {
    add_->setEnabled(!name_->text().trimmed().isEmpty());
}

void FoldersDialog::OnAdd() {
    const std::u16string name = TrimWhite(name_->text().toStdU16String());
    if (name.empty())
        return;
    CSmsFolder* folder = doc_.AddFolder(name);
    if (!folder)
        return;  // refused (the name exists) or not stored: the document said why
    Fill(folder->m_nId);
    name_->clear();
}

void FoldersDialog::OnDelete() {
    QTreeWidgetItem* item = tree_->currentItem();
    CSmsFolder* folder = item ? doc_.Folders().ById(item->data(0, Qt::UserRole).toInt()) : nullptr;
    if (!folder) {
        doc_.Ask(IDS_SELECT_FOLDER);
        return;
    }
    doc_.DeleteFolder(folder);
    Fill();  // what is in the table now, whether it was deleted or not
}

void FoldersDialog::OnRenamed(QTreeWidgetItem* item) {
    if (filling_ || !item)
        return;
    const int32_t id = item->data(0, Qt::UserRole).toInt();
    CSmsFolder* folder = doc_.Folders().ById(id);
    if (!folder) {
        FoldersChanged();  // another program deleted it
        return;
    }
    const std::u16string name = item->text(0).toStdU16String();
    if (name == folder->m_strName)
        return;
    if (TrimWhite(name).empty()) {
        // A folder without a name could not be chosen anywhere: the edit
        // counts as cancelled.
        filling_ = true;
        item->setText(0, Q(folder->m_strName));
        filling_ = false;
        return;
    }
    if (!doc_.RenameFolder(folder, name)) {
        // Refused (the name is taken, or the folder table could not be
        // written): the name it has now comes back, and the typed one comes
        // back in the editor to be changed. The folder may be gone meanwhile.
        folder = doc_.Folders().ById(id);
        if (!folder) {
            FoldersChanged();
            return;
        }
        filling_ = true;
        item->setText(0, Q(folder->m_strName));
        filling_ = false;
        const QString typed = Q(name);
        QTimer::singleShot(0, this, [this, id, typed] {
            QTreeWidgetItem* again = nullptr;
            for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
                if (tree_->topLevelItem(i)->data(0, Qt::UserRole).toInt() == id)
                    again = tree_->topLevelItem(i);
            }
            if (!again)
                return;
            tree_->setCurrentItem(again);
            tree_->editItem(again);
            if (auto* editor = tree_->viewport()->findChild<QLineEdit*>()) {
                editor->setText(typed);
                editor->selectAll();
            }
        });
    }
}

bool FoldersDialog::eventFilter(QObject* watched, QEvent* event) {
    // While a name is edited the keys go to the editor, not to the list.
    if (watched == tree_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier) {
            OnDelete();
            return true;
        }
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && tree_->currentItem()) {
            tree_->editItem(tree_->currentItem());  // Return renames, as F2 does
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace parlo
