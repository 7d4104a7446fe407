#include "parlo/app/qt/groups_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "parlo/app/parlo_doc.h"
#include "parlo/app/qt/contact_lists.h"
#include "parlo/app/qt/group_define_dialog.h"
#include "parlo/contacts/recipients.h"
#include "parlo_strings.h"
#include "qtsupport/dialog_layout.h"

namespace parlo {

namespace {
constexpr int kNameRole = Qt::UserRole + 1;
}

GroupsDialog::GroupsDialog(CParloDoc& doc, platform::Prompt& prompt, QWidget* parent)
    : QDialog(parent), doc_(doc), prompt_(prompt) {
    setWindowTitle(tr("Groups"));
    list_ = MakeList(this, ctl::kGroupsList, {Text(65090)}, {216});
    name_ = new QLineEdit(this);
    name_->setObjectName(ctl::kGroupsName);
    add_ = new QPushButton(tr("Add"), this);
    add_->setObjectName(ctl::kGroupsAdd);
    add_->setAutoDefault(false);
    delete_ = new QPushButton(tr("Delete Group"), this);
    delete_->setObjectName(ctl::kGroupsDelete);
    delete_->setAutoDefault(false);
    add_contact_ = new QPushButton(tr("Add Contact"), this);
    add_contact_->setObjectName(ctl::kGroupsAddContact);
    add_contact_->setAutoDefault(false);

    auto* form = new QFormLayout;
    auto* name_row = new QHBoxLayout;
    name_row->addWidget(name_, 1);
    name_row->addWidget(add_);
    form->addRow(tr("Group:"), name_row);
    auto* row = new QHBoxLayout;
    row->addWidget(delete_);
    row->addWidget(add_contact_);
    row->addStretch();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setAutoDefault(false);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(list_, 1);
    layout->addLayout(row);
    layout->addWidget(buttons);

    connect(add_, &QPushButton::clicked, this, &GroupsDialog::Add);
    // Return in the name field creates the group, on a group it opens the
    // group's members; the dialog has no default button to close it.
    OnReturn(name_, [this] { Add(); });
    OnReturn(list_, [this] { AddContact(); });
    OnKey(list_, Qt::Key_Delete, [this] { DeleteSelected(); });

    connect(delete_, &QPushButton::clicked, this, &GroupsDialog::DeleteSelected);
    connect(add_contact_, &QPushButton::clicked, this, &GroupsDialog::AddContact);
    connect(list_, &QTreeView::doubleClicked, this, [this] { AddContact(); });
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { UpdateButtons(); });

    define_group = [this](const std::u16string& name) {
        GroupDefineDialog dialog(doc_, prompt_, name, this);
        dialog.exec();
    };
    doc_.EnumerateGroups();
    Fill();
    resize(QSize(420, 420).expandedTo(sizeHint()));
    qtsupport::FitPushButtons(this);
    // Typing starts a new group name: the list would take it as a search.
    name_->setFocus();
}

std::u16string GroupsDialog::NameOfRow(int row) const {
    return U(ModelOf(list_)->item(row, 0)->data(kNameRole).toString());
}

void GroupsDialog::Fill() {
    std::vector<const CGroupInfo*> sorted;
    for (const auto& g : doc_.Groups())
        sorted.push_back(g.get());
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto* a, const auto* b) {
        return CompareNoCase(a->m_strName, b->m_strName) < 0;
    });
    QStandardItemModel* model = ModelOf(list_);
    model->removeRows(0, model->rowCount());
    for (const CGroupInfo* g : sorted) {
        auto* item = new QStandardItem(Q(GroupRowText(g->m_strName, g->m_nCount)));
        item->setData(Q(g->m_strName), kNameRole);
        model->appendRow(item);
    }
    UpdateButtons();
}

void GroupsDialog::UpdateButtons() {
    const bool selected = list_->selectionModel()->hasSelection();
    delete_->setEnabled(selected);
    add_contact_->setEnabled(selected);
    const QString why = selected ? QString() : tr(": select a group first");
    delete_->setToolTip(tr("Delete the selected group (Delete)") + why);
    add_contact_->setToolTip(tr("Choose the members of the selected group (Return)") + why);
}

void GroupsDialog::Add() {
    const std::u16string name = U(name_->text());
    CreateGroupResult r = doc_.CreateGroup(name, prompt_);
    if (r == CreateGroupResult::kWriteFailed) {
        prompt_.MessageBox(strings::parlo().Load(57346), platform::Buttons::Ok,
                           platform::Icon::Warning);
    }
    if (r != CreateGroupResult::kCreated) {
        name_->setFocus();
        return;
    }
    name_->clear();
    Fill();
    for (int row = 0; row < ModelOf(list_)->rowCount(); ++row) {
        if (NameOfRow(row) == name) {
            QModelIndex index = ModelOf(list_)->index(row, 0);
            list_->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
            list_->scrollTo(index);
        }
    }
}

void GroupsDialog::DeleteSelected() {
    std::vector<std::u16string> names;
    for (const QModelIndex& index : list_->selectionModel()->selectedRows())
        names.push_back(NameOfRow(index.row()));
    if (names.empty())
        return;
    if (doc_.DeleteGroups(names, prompt_))
        Fill();
}

void GroupsDialog::AddContact() {
    QModelIndexList rows = list_->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return;
    const std::u16string name = NameOfRow(rows.front().row());
    define_group(name);
    // The count as the file has it now.
    doc_.RecountGroup(name);
    Fill();
}

}  // namespace parlo
