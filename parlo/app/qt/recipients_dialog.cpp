#include "parlo/app/qt/recipients_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QTabBar>
#include <QTreeView>
#include <QVBoxLayout>

#include "parlo/app/parlo_doc.h"
#include "parlo/app/qt/contact_lists.h"
#include "parlo/contacts/recipients.h"
#include "qtsupport/dialog_layout.h"

namespace parlo {

namespace {

constexpr int kNumberRole = Qt::UserRole + 1;

template <typename Entry>
void FillChecked(QTreeView* list, const std::vector<const Entry*>& entries) {
    QStandardItemModel* model = ModelOf(list);
    for (const Entry* e : entries) {
        auto* name = new QStandardItem(Q(e->m_strName));
        name->setCheckable(true);
        name->setData(Q(e->m_strMobile), kNumberRole);
        model->appendRow({name, new QStandardItem(Q(e->m_strMobile))});
    }
}

}  // namespace

RecipientsDialog::RecipientsDialog(CParloDoc& doc, QWidget* parent) : QDialog(parent), doc_(doc) {
    setWindowTitle(tr("Select the phone number"));
    doc_.ReadContacts();
    doc_.EnumerateGroups();

    tabs_ = new QTabBar(this);
    tabs_->setObjectName(ctl::kRecipientsTabs);
    tabs_->addTab(Text(65076));
    tabs_->addTab(Text(65077));
    contacts_ = MakeList(this, ctl::kRecipientsContacts, {Text(65090), Text(65089)}, {130, 80});
    phonebook_ = MakeList(this, ctl::kRecipientsPhonebook, {Text(65090), Text(65089)}, {130, 80});
    FillChecked(contacts_, MobileContacts(doc_.Contacts()));
    FillChecked(phonebook_, NumberedPhonebookEntries(doc_.Phonebook()));
    stack_ = new QStackedWidget(this);
    stack_->addWidget(contacts_);
    stack_->addWidget(phonebook_);

    search_ = new QLineEdit(this);
    search_->setObjectName(ctl::kRecipientsSearch);
    group_ = new QComboBox(this);
    group_->setObjectName(ctl::kRecipientsGroup);
    group_->addItem(Text(65086));  // "None"
    for (const auto& g : doc_.Groups())
        group_->addItem(Q(g->m_strName));
    group_->setCurrentIndex(0);

    auto* form = new QFormLayout;
    form->addRow(tr("Name"), search_);
    auto* bottom = new QFormLayout;
    bottom->addRow(tr("Group"), group_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addLayout(form);
    layout->addWidget(stack_, 1);
    layout->addLayout(bottom);
    layout->addWidget(buttons);

    connect(tabs_, &QTabBar::currentChanged, stack_, &QStackedWidget::setCurrentIndex);
    connect(search_, &QLineEdit::textChanged, this,
            [this](const QString& text) { SearchList(Visible(), 0, text, false); });
    // Return accepts, except in the search field: there it goes to the list.
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    ReturnGoesToList(search_, [this] { return Visible(); });
    resize(QSize(520, 480).expandedTo(sizeHint()));
    qtsupport::FitPushButtons(this);
}

QTreeView* RecipientsDialog::Visible() const {
    return stack_->currentIndex() == 0 ? contacts_ : phonebook_;
}

std::vector<std::u16string> RecipientsDialog::CheckedNumbers(QTreeView* list) const {
    std::vector<std::u16string> out;
    QStandardItemModel* model = ModelOf(list);
    for (int row = 0; row < model->rowCount(); ++row) {
        QStandardItem* item = model->item(row, 0);
        if (item->checkState() == Qt::Checked)
            out.push_back(U(item->data(kNumberRole).toString()));
    }
    return out;
}

void RecipientsDialog::accept() {
    std::u16string group;
    if (group_->currentIndex() > 0)
        group = doc_.ExpandGroup(U(group_->currentText()));
    // Checked rows of both lists count, whichever tab is showing.
    std::vector<std::u16string> numbers = CheckedNumbers(contacts_);
    std::vector<std::u16string> more = CheckedNumbers(phonebook_);
    numbers.insert(numbers.end(), more.begin(), more.end());
    result_ = JoinRecipients(group, numbers);
    QDialog::accept();
}

std::u16string SelectPhoneNumbers(CParloDoc& doc, QWidget* parent) {
    RecipientsDialog dialog(doc, parent);
    if (dialog.exec() != QDialog::Accepted)
        return u"";
    return dialog.Result();
}

}  // namespace parlo
