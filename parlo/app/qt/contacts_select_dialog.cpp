#include "parlo/app/qt/contacts_select_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "parlo/app/parlo_doc.h"
#include "parlo/app/qt/contact_lists.h"
#include "parlo/contacts/recipients.h"
#include "parlo_strings.h"
#include "qtsupport/dialog_layout.h"

namespace parlo {

namespace {
constexpr int kIndexRole = Qt::UserRole + 1;
}

ContactsSelectDialog::ContactsSelectDialog(CParloDoc& doc, uint32_t enabled_flags, QWidget* parent)
    : QDialog(parent), doc_(doc) {
    setWindowTitle(tr("Select Contacts"));
    doc_.ReadContacts();
    shown_ = doc_.ImportableContacts();

    search_ = new QLineEdit(this);
    search_->setObjectName(ctl::kSelectSearch);
    list_ = MakeList(this, ctl::kSelectList, {QStringLiteral("X"), Text(65090), Text(65089)},
                     {20, 90, 75});
    list_->header()->setSectionsClickable(true);
    target_ = new QComboBox(this);
    target_->setObjectName(ctl::kSelectImportTo);
    target_->addItems({tr("Phone"), tr("SIM")});
    const ImportTargetChoice choice = ImportTargetFor(enabled_flags);
    target_->setCurrentIndex(choice.selected);
    target_->setEnabled(choice.changeable);

    auto* form = new QFormLayout;
    form->addRow(tr("Search:"), search_);
    auto* bottom = new QFormLayout;
    bottom->addRow(tr("Import to:"), target_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(list_, 1);
    layout->addLayout(bottom);
    layout->addWidget(buttons);

    connect(search_, &QLineEdit::textChanged, this,
            [this](const QString& text) { SearchList(list_, 1, text, true); });
    // Return accepts, except in the search field: there it goes to the list.
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    ReturnGoesToList(search_, [this] { return list_; });
    connect(list_->header(), &QHeaderView::sectionClicked, this, [this](int column) {
        if (column == 0)
            return;  // the mark column does not sort
        sort_direction_ = column == sort_column_ ? -sort_direction_ : 1;
        sort_column_ = column;
        Fill();
    });
    connect(ModelOf(list_), &QStandardItemModel::itemChanged, this, [this](QStandardItem* item) {
        if (item->column() == 0 && !filling_)
            if (CContactEntry* c = EntryOfRow(item->row()))
                c->m_bMarked = item->checkState() == Qt::Checked ? 1 : 0;
    });
    Fill();
    resize(QSize(560, 440).expandedTo(sizeHint()));
    qtsupport::FitPushButtons(this);
}

CContactEntry* ContactsSelectDialog::EntryOfRow(int row) const {
    QStandardItem* item = ModelOf(list_)->item(row, 0);
    if (!item)
        return nullptr;
    const int i = item->data(kIndexRole).toInt();
    return i >= 0 && i < static_cast<int>(shown_.size()) ? shown_[static_cast<size_t>(i)] : nullptr;
}

void ContactsSelectDialog::Fill() {
    std::vector<size_t> order(shown_.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    const int column = sort_column_, direction = sort_direction_;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const CContactEntry& x = *shown_[a];
        const CContactEntry& y = *shown_[b];
        return (column == 2 ? CompareByMobile(x, y, direction) : CompareByName(x, y, direction)) <
               0;
    });
    QStandardItemModel* model = ModelOf(list_);
    filling_ = true;  // the marks are set from the entries, not the other way
    model->removeRows(0, model->rowCount());
    for (size_t i : order) {
        const CContactEntry& c = *shown_[i];
        auto* mark = new QStandardItem;
        mark->setCheckable(true);
        mark->setCheckState(c.m_bMarked ? Qt::Checked : Qt::Unchecked);
        mark->setData(static_cast<int>(i), kIndexRole);
        auto* kinds = new QStandardItem(Q(FormatNumberKinds(c, strings::parlo())));
        kinds->setData(QString::number(DisplayId(c.m_nId)), kIndexRole);  // the hidden id
        model->appendRow({mark, new QStandardItem(Q(c.m_strName)), kinds});
    }
    filling_ = false;
}

std::vector<CContactEntry> ContactsSelectDialog::Marked() const {
    std::vector<CContactEntry> out;
    for (int row = 0; row < ModelOf(list_)->rowCount(); ++row) {
        if (CContactEntry* c = EntryOfRow(row); c && c->m_bMarked)
            out.push_back(*c);
    }
    return out;
}

uint32_t ContactsSelectDialog::TargetFlag() const {
    return ImportTargetFlag(target_->currentIndex());
}

}  // namespace parlo
