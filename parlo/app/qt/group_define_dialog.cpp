#include "parlo/app/qt/group_define_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QTabBar>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "parlo/app/parlo_doc.h"
#include "parlo/app/qt/contact_lists.h"
#include "parlo/contacts/recipients.h"
#include "parlo_strings.h"
#include "platform/prompt.h"
#include "qtsupport/dialog_layout.h"

namespace parlo {

namespace {

constexpr int kIdRole = Qt::UserRole + 1;
constexpr int kNameRole = Qt::UserRole + 2;

template <typename Entry>
void FillSource(QTreeView* list, const std::vector<const Entry*>& entries) {
    QStandardItemModel* model = ModelOf(list);
    for (const Entry* e : entries) {
        auto* name = new QStandardItem(Q(e->m_strName));
        name->setData(e->m_nId, kIdRole);
        name->setData(Q(e->m_strName), kNameRole);
        model->appendRow({name, new QStandardItem(Q(e->m_strMobile))});
    }
}

// The arrow shows its pressed picture for a moment while it acts.
QToolButton* Arrow(QWidget* parent, const char* name, Qt::ArrowType type) {
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setArrowType(type);
    b->setAutoRaise(true);
    return b;
}

void Flash(QToolButton* b) {
    b->setDown(true);
    QTimer::singleShot(200, b, [b] { b->setDown(false); });
}

}  // namespace

GroupDefineDialog::GroupDefineDialog(CParloDoc& doc, platform::Prompt& prompt,
                                     const std::u16string& group, QWidget* parent)
    : QDialog(parent), doc_(doc), prompt_(prompt), group_(group) {
    setWindowTitle(tr("Define Group"));
    LoadGroup(&members_, GroupPath(doc_.DataDir(), group_));
    doc_.ReadContacts();

    auto* title = new QLabel(tr("Name of the Group") + QStringLiteral(": ") + Q(group_), this);
    title->setObjectName(ctl::kDefineTitle);
    tabs_ = new QTabBar(this);
    tabs_->setObjectName(ctl::kDefineTabs);
    tabs_->addTab(Text(65076));
    tabs_->addTab(Text(65077));
    contacts_ = MakeList(this, ctl::kDefineContacts, {Text(65090), Text(65089)}, {130, 90});
    phonebook_ = MakeList(this, ctl::kDefinePhonebook, {Text(65090), Text(65089)}, {130, 90});
    FillSource(contacts_, GroupSourceContacts(doc_.Contacts()));
    FillSource(phonebook_, GroupSourcePhonebook(doc_.Phonebook()));
    stack_ = new QStackedWidget(this);
    stack_->addWidget(contacts_);
    stack_->addWidget(phonebook_);
    list_ = MakeList(this, ctl::kDefineMembers, {Text(65090), Text(65089)}, {130, 90});

    // The arrows say in words what they do.
    QToolButton* add = Arrow(this, ctl::kDefineAdd, Qt::DownArrow);
    add->setText(tr("Add"));
    add->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    add->setToolTip(tr("Add to the group"));
    QToolButton* remove = Arrow(this, ctl::kDefineRemove, Qt::UpArrow);
    remove->setText(tr("Remove"));
    remove->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    remove->setToolTip(tr("Remove from the group"));
    auto* save = new QPushButton(tr("Save"), this);
    save->setObjectName(ctl::kDefineSave);
    save->setAutoDefault(false);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setAutoDefault(false);
    buttons->addButton(save, QDialogButtonBox::ActionRole);

    auto* arrows = new QHBoxLayout;
    arrows->addStretch();
    arrows->addWidget(add);
    arrows->addWidget(remove);
    arrows->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addWidget(tabs_);
    layout->addWidget(stack_, 1);
    layout->addLayout(arrows);
    layout->addWidget(new QLabel(tr("Members of the group:"), this));
    layout->addWidget(list_, 1);
    layout->addWidget(buttons);

    connect(tabs_, &QTabBar::currentChanged, stack_, &QStackedWidget::setCurrentIndex);
    connect(add, &QToolButton::clicked, this, [this, add] {
        Flash(add);
        AddSelected();
    });
    connect(remove, &QToolButton::clicked, this, [this, remove] {
        Flash(remove);
        RemoveSelected();
    });
    connect(save, &QPushButton::clicked, this, [this] { Save(); });
    // Return on a contact or phonebook entry adds it, as the arrow does;
    // elsewhere Return saves.
    save->setDefault(true);
    OnReturn(contacts_, [this] { AddSelected(); });
    OnReturn(phonebook_, [this] { AddSelected(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    FillMembers(nullptr);
    resize(QSize(520, 560).expandedTo(sizeHint()));
    qtsupport::FitPushButtons(this);
}

void GroupDefineDialog::FillMembers(const CGroupMember* select) {
    std::vector<const CGroupMember*> sorted;
    for (const auto& m : members_)
        sorted.push_back(m.get());
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto* a, const auto* b) {
        return CompareNoCase(a->m_strMemberName, b->m_strMemberName) < 0;
    });
    const MemberResolver resolver = doc_.Resolver();
    QStandardItemModel* model = ModelOf(list_);
    model->removeRows(0, model->rowCount());
    for (const CGroupMember* m : sorted) {
        auto* name = new QStandardItem(Q(m->m_strMemberName));
        name->setData(QVariant::fromValue(reinterpret_cast<quintptr>(m)), kIdRole);
        model->appendRow({name, new QStandardItem(Q(ResolveMember(*m, resolver)))});
        if (m == select) {
            QModelIndex index = model->index(model->rowCount() - 1, 0);
            list_->selectionModel()->select(
                index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
            list_->scrollTo(index);
        }
    }
}

void GroupDefineDialog::AddSelected() {
    const bool from_contacts = stack_->currentIndex() == 0;
    QTreeView* source = from_contacts ? contacts_ : phonebook_;
    const std::u16string origin =
        from_contacts ? std::u16string(kContactsSource) : doc_.Settings().m_strPhoneIdentity;
    QModelIndexList rows = source->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    list_->clearSelection();
    for (const QModelIndex& index : rows) {
        QStandardItem* item = ModelOf(source)->item(index.row(), 0);
        CContactEntry entry;
        entry.m_nId = item->data(kIdRole).toUInt();
        entry.m_strName = U(item->data(kNameRole).toString());
        entry.m_strMobile = U(ModelOf(source)->item(index.row(), 1)->text());
        if (!AddMember(&members_, entry, origin, prompt_, strings::parlo()))
            continue;
        FillMembers(members_.back().get());
    }
}

void GroupDefineDialog::RemoveSelected() {
    std::vector<const CGroupMember*> gone;
    for (const QModelIndex& index : list_->selectionModel()->selectedRows()) {
        gone.push_back(reinterpret_cast<const CGroupMember*>(
            ModelOf(list_)->item(index.row(), 0)->data(kIdRole).value<quintptr>()));
    }
    members_.erase(std::remove_if(members_.begin(), members_.end(),
                                  [&](const auto& m) {
                                      return std::find(gone.begin(), gone.end(), m.get()) !=
                                             gone.end();
                                  }),
                   members_.end());
    FillMembers(nullptr);
}

bool GroupDefineDialog::Save() {
    if (SaveGroup(members_, GroupPath(doc_.DataDir(), group_)))
        return true;
    prompt_.MessageBox(strings::parlo().Load(57346), platform::Buttons::Ok,
                       platform::Icon::Warning);
    return false;
}

void GroupDefineDialog::done(int result) {
    Save();  // closing writes the file again
    QDialog::done(result);
}

}  // namespace parlo
