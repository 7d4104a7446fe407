#include "parlo/app/qt/phonebook_entry_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <optional>

#include "parlo/app/qt/contact_lists.h"
#include "parlo_strings.h"
#include "platform/prompt.h"
#include "qtsupport/dialog_layout.h"

namespace parlo {

PhonebookEntryDialog::PhonebookEntryDialog(const CPhonebook& book, uint32_t enabled_flags,
                                           uint32_t id, const std::u16string& name,
                                           const std::u16string& number, bool is_new,
                                           platform::Prompt& prompt, QWidget* parent)
    : QDialog(parent), book_(book), enabled_(enabled_flags), id_(id), prompt_(prompt) {
    setWindowTitle(tr("Phonebook entry"));
    name_ = new QLineEdit(Q(name), this);
    name_->setObjectName(ctl::kEntryName);
    number_ = new QLineEdit(Q(number), this);
    number_->setObjectName(ctl::kEntryNumber);
    storage_ = new QComboBox(this);
    storage_->setObjectName(ctl::kEntryStorage);
    storage_->addItems({tr("SIM"), tr("Phone")});
    const int slot = CPhonebook::SlotOf(StorageFlagOf(id));
    storage_->setCurrentIndex(slot);
    // A new entry may choose when two storages were read and both are
    // enabled; an existing one stays where it is.
    const bool both = (enabled_flags & STORAGE_FLAG_BOTH) == STORAGE_FLAG_BOTH;
    storage_->setEnabled(is_new && book.m_nStoragesRead >= 2 && both);

    auto* form = new QFormLayout;
    form->addRow(tr("Name:"), name_);
    form->addRow(tr("Tel. Number:"), number_);
    form->addRow(tr("Save:"), storage_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    ok_->setDefault(true);  // Return is OK, once the number is valid
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addStretch();
    layout->addWidget(buttons);

    connect(number_, &QLineEdit::textChanged, this, [this] { NumberChanged(); });
    connect(storage_, &QComboBox::activated, this, [this](int i) { StorageChosen(i); });
    ApplyLimits();
    NumberChanged();
    resize(sizeHint().expandedTo(QSize(420, 0)));
    qtsupport::FitPushButtons(this);
}

std::u16string PhonebookEntryDialog::name() const {
    return U(name_->text());
}

std::u16string PhonebookEntryDialog::number() const {
    return U(number_->text());
}

void PhonebookEntryDialog::ApplyLimits() {
    // The fields are not cut to what the storage takes: a name cut while
    // typing loses letters without a word. The field says how much fits,
    // and the check on OK says what is too long (a name in another script
    // takes less) and keeps what was typed.
    if (const StorageDescriptor* d = DescriptorOf(book_, id_)) {
        name_->setMaxLength(32767);
        number_->setMaxLength(32767);
        name_->setToolTip(
            d->text_length > 0
                ? tr("This storage takes names of up to %1 characters.").arg(d->text_length)
                : QString());
        number_->setToolTip(
            d->number_length > 0
                ? tr("This storage takes numbers of up to %1 digits.").arg(d->number_length)
                : QString());
    }
}

void PhonebookEntryDialog::NumberChanged() {
    ok_->setEnabled(IsValidPhonebookNumber(U(number_->text())));
}

void PhonebookEntryDialog::StorageChosen(int choice) {
    const uint32_t flag = choice == 0 ? STORAGE_FLAG_SIM : STORAGE_FLAG_PHONE;
    std::optional<uint32_t> id = NewEntryId(book_, enabled_, flag, prompt_, strings::parlo());
    if (!id) {
        storage_->setCurrentIndex(-1);
        id_ = 0;
        return;
    }
    id_ = *id;
    ApplyLimits();
}

void PhonebookEntryDialog::accept() {
    const platform::StringTable& s = strings::parlo();
    const std::u16string n = name(), num = number();
    unsigned message = n.empty()                 ? 65093
                       : num.empty()             ? 65094
                       : StorageFlagOf(id_) == 0 ? 65092
                                                 : 0;
    if (message != 0) {
        prompt_.MessageBox(s.Load(message), platform::Buttons::Ok, platform::Icon::Warning);
        (message == 65093   ? name_
         : message == 65094 ? number_
                            : static_cast<QWidget*>(storage_))
            ->setFocus();
        return;
    }
    if (const StorageDescriptor* d = DescriptorOf(book_, id_)) {
        std::u16string problem = PhonebookLimitProblem(n, num, *d);
        if (!problem.empty()) {
            prompt_.MessageBox(problem, platform::Buttons::Ok, platform::Icon::Warning);
            return;
        }
    }
    QDialog::accept();
}

}  // namespace parlo
