#include "parlo/app/qt/phonebook_dialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QThread>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

#include "parlo/app/parlo_doc.h"
#include "parlo/app/qt/contact_lists.h"
#include "parlo/app/qt/contacts_select_dialog.h"
#include "parlo/app/qt/phonebook_entry_dialog.h"
#include "parlo/contacts/contacts_dir.h"
#include "parlo_strings.h"
#include "platform/prompt.h"
#include "qtsupport/dialog_layout.h"
#include "qtsupport/keyboard.h"

namespace parlo {

namespace {

constexpr int kIdRole = Qt::UserRole + 1;

void Warn(platform::Prompt& prompt, unsigned id) {
    prompt.MessageBox(strings::parlo().Load(id), platform::Buttons::Ok, platform::Icon::Warning);
}

}  // namespace

PhonebookDialog::PhonebookDialog(CParloDoc& doc, platform::Prompt& prompt,
                                 std::function<void(const std::u16string&)> send_sms,
                                 QWidget* parent)
    : QDialog(parent), doc_(doc), prompt_(prompt), send_sms_(std::move(send_sms)) {
    setWindowTitle(Text(65077));
    bar_ = new QToolBar(this);
    bar_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    struct Command {
        const char* name;
        QString text;
        unsigned tip;
        void (PhonebookDialog::*run)();
        QKeySequence keys;
    };
    // Delete is the list's key (in the search field it deletes letters).
    const Command commands[] = {
        {ctl::kPhonebookNew, tr("New"), 65079, &PhonebookDialog::New,
         QKeySequence(Qt::CTRL | Qt::Key_N)},
        {ctl::kPhonebookEdit, tr("Edit"), 65080, &PhonebookDialog::Edit, QKeySequence(Qt::Key_F2)},
        {ctl::kPhonebookDelete, tr("Delete"), 65081, &PhonebookDialog::Delete, {}},
        {nullptr, {}, 0, nullptr, {}},
        {ctl::kPhonebookSync, tr("Synchronize"), 65082, &PhonebookDialog::Synchronise,
         QKeySequence(Qt::Key_F5)},
        {ctl::kPhonebookExport, tr("Export"), 65083, &PhonebookDialog::Export,
         QKeySequence(Qt::CTRL | Qt::Key_E)},
        {ctl::kPhonebookImport, tr("Import"), 65103, &PhonebookDialog::Import,
         QKeySequence(Qt::CTRL | Qt::Key_I)},
        {ctl::kPhonebookCall, tr("Call"), 65084, &PhonebookDialog::Call,
         QKeySequence(Qt::CTRL | Qt::Key_D)},
        {ctl::kPhonebookSendSms, tr("Send SMS"), 65087, &PhonebookDialog::SendSms,
         QKeySequence(Qt::CTRL | Qt::Key_M)},
    };
    for (const Command& c : commands) {
        if (!c.name) {
            bar_->addSeparator();
            continue;
        }
        QAction* action = bar_->addAction(c.text);
        action->setObjectName(c.name);
        qtsupport::SetShortcut(action, c.keys, Text(c.tip));
        if (c.run == &PhonebookDialog::Delete)
            action->setToolTip(qtsupport::TipWithShortcut(Text(c.tip), QKeySequence::Delete));
        auto run = c.run;
        connect(action, &QAction::triggered, this, [this, run] { (this->*run)(); });
    }

    qtsupport::MakeTabReachable(bar_);
    search_ = new QLineEdit(this);
    search_->setObjectName(ctl::kPhonebookSearch);
    search_->setPlaceholderText(Text(65090));
    list_ = MakeList(this, ctl::kPhonebookList,
                     {QStringLiteral("X"), Text(65090), Text(65089), QStringLiteral("#")},
                     {20, 90, 75, 35});
    list_->header()->setSectionsClickable(true);
    // The name takes the spare width; a whole international number and the
    // index fit their columns at the user's font.
    {
        QHeaderView* header = list_->header();
        const QFontMetrics fm(list_->font());
        header->setStretchLastSection(false);
        header->setSectionResizeMode(1, QHeaderView::Stretch);
        header->resizeSection(2, fm.horizontalAdvance(QStringLiteral("+4930123456789012")) + 16);
        header->resizeSection(3, std::max(fm.horizontalAdvance(QStringLiteral("#999")) + 16,
                                          header->sectionSizeHint(3)));
    }
    status_ = new QLabel(this);
    status_->setObjectName(ctl::kPhonebookStatus);
    status_->setWordWrap(true);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(ctl::kPhonebookProgress);
    progress_->setVisible(false);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    close_ = buttons->button(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &PhonebookDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(bar_);
    layout->addWidget(search_);
    layout->addWidget(list_, 1);
    layout->addWidget(progress_);
    layout->addWidget(status_);
    layout->addWidget(buttons);

    connect(search_, &QLineEdit::textChanged, this,
            [this](const QString& text) { SearchList(list_, 1, text, true); });
    connect(list_, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.column() != 0)
            Edit();
    });
    // The keyboard: Return in the search field goes to the row it found,
    // Return on a row edits it, Escape closes (not while the phone is busy).
    ReturnGoesToList(search_, [this] { return list_; });
    OnReturn(list_, [this] { Edit(); });
    OnKey(list_, Qt::Key_Delete, [this] { Delete(); });
    OnKey(list_, Qt::Key_Space, [this] { ToggleCurrentMark(); });
    connect(list_->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { HeaderClicked(column); });
    connect(ModelOf(list_), &QStandardItemModel::itemChanged, this, [this](QStandardItem* item) {
        if (item->column() != 0 || filling_)
            return;
        if (CPhonebookEntry* e = EntryOfRow(item->row()))
            e->m_bMarked = item->checkState() == Qt::Checked ? 1 : 0;
    });

    pick_contacts = [this](std::vector<CContactEntry>* picked, uint32_t* target) {
        ContactsSelectDialog dialog(doc_, doc_.Settings().m_nPhonebookFlags, this);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        *picked = dialog.Marked();
        *target = dialog.TargetFlag();
        return true;
    };
    edit_entry = [this](uint32_t* id, std::u16string* name, std::u16string* number, bool is_new) {
        return RunEntryDialog(id, name, number, is_new);
    };
    Fill(true);
    resize(QSize(640, 480).expandedTo(sizeHint()));
    qtsupport::FitPushButtons(this);
}

PhonebookDialog::~PhonebookDialog() {
    // The window cannot close while the phone is busy; a parent going away
    // still waits for the job, which never touches the window afterwards.
    if (worker_)
        worker_->wait();
}

void PhonebookDialog::reject() {
    if (busy())
        return;  // the phone is in use: close when it is done
    QDialog::reject();
}

void PhonebookDialog::closeEvent(QCloseEvent* event) {
    if (busy()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

CPhonebookEntry* PhonebookDialog::EntryOfRow(int row) const {
    QStandardItem* item = ModelOf(list_)->item(row, 0);
    if (!item)
        return nullptr;
    return doc_.EditPhonebook().FindById(item->data(kIdRole).toUInt());
}

std::vector<CPhonebookEntry*> PhonebookDialog::Rows() const {
    std::vector<CPhonebookEntry*> out;
    for (int row = 0; row < ModelOf(list_)->rowCount(); ++row)
        out.push_back(EntryOfRow(row));
    return out;
}

void PhonebookDialog::Fill(bool clear_marks) {
    std::vector<CPhonebookEntry*> shown =
        VisibleEntries(doc_.Phonebook(), doc_.Settings().m_nPhonebookFlags);
    if (clear_marks) {
        for (const auto& e : doc_.Phonebook().m_entries)
            e->m_bMarked = 0;
    }
    const int column = sort_column_, direction = sort_direction_;
    std::stable_sort(shown.begin(), shown.end(), [column, direction](auto* a, auto* b) {
        int c = column == 2   ? CompareByMobile(*a, *b, direction)
                : column == 3 ? CompareById(*a, *b, direction)
                              : CompareByName(*a, *b, direction);
        return c < 0;
    });
    QStandardItemModel* model = ModelOf(list_);
    filling_ = true;  // the marks are set from the entries, not the other way
    model->removeRows(0, model->rowCount());
    for (CPhonebookEntry* e : shown) {
        auto* mark = new QStandardItem;
        mark->setCheckable(true);
        mark->setCheckState(e->m_bMarked ? Qt::Checked : Qt::Unchecked);
        mark->setData(e->m_nId, kIdRole);
        auto* index = new QStandardItem(QString::number(DisplayId(e->m_nId)));
        model->appendRow({mark, new QStandardItem(Q(e->m_strName)),
                          new QStandardItem(Q(e->m_strMobile)), index});
    }
    filling_ = false;
}

void PhonebookDialog::HeaderClicked(int column) {
    if (column == 0) {
        // Clear all marks, then mark all, alternately.
        const bool mark = !marks_cleared_next_;
        marks_cleared_next_ = !marks_cleared_next_;
        for (CPhonebookEntry* e : Rows())
            if (e)
                e->m_bMarked = mark ? 1 : 0;
        Fill(false);
        return;
    }
    sort_direction_ = column == sort_column_ ? -sort_direction_ : 1;
    sort_column_ = column;
    Fill(false);
}

CPhonebookEntry* PhonebookDialog::Selected() const {
    QModelIndexList rows = list_->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return nullptr;
    return EntryOfRow(rows.front().row());
}

std::vector<CPhonebookEntry*> PhonebookDialog::MarkedOrSelected() const {
    std::vector<CPhonebookEntry*> marked;
    for (CPhonebookEntry* e : Rows())
        if (e && e->m_bMarked)
            marked.push_back(e);
    if (!marked.empty())
        return marked;
    std::vector<CPhonebookEntry*> selected;
    for (const QModelIndex& index : list_->selectionModel()->selectedRows())
        if (CPhonebookEntry* e = EntryOfRow(index.row()))
            selected.push_back(e);
    return selected;
}

void PhonebookDialog::SelectEntry(const CPhonebookEntry* entry) {
    for (int row = 0; row < ModelOf(list_)->rowCount(); ++row) {
        if (EntryOfRow(row) == entry) {
            QModelIndex index = ModelOf(list_)->index(row, 1);
            list_->selectionModel()->select(
                index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            list_->setCurrentIndex(index);
            list_->scrollTo(index);
            return;
        }
    }
}

void PhonebookDialog::Save() {
    if (!doc_.SavePhonebook())
        Warn(prompt_, 57346);  // "Save failed."
}

bool PhonebookDialog::RunEntryDialog(uint32_t* id, std::u16string* name, std::u16string* number,
                                     bool is_new) {
    PhonebookEntryDialog dialog(doc_.Phonebook(), doc_.Settings().m_nPhonebookFlags, *id, *name,
                                *number, is_new, prompt_, this);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *id = dialog.id();
    *name = dialog.name();
    *number = dialog.number();
    return true;
}

void PhonebookDialog::New() {
    std::optional<uint32_t> id = NewEntryId(doc_.Phonebook(), doc_.Settings().m_nPhonebookFlags, 0,
                                            prompt_, strings::parlo());
    if (!id)
        return;
    uint32_t chosen = *id;
    std::u16string name, number;
    if (!edit_entry(&chosen, &name, &number, true))
        return;
    CPhonebookEntry* e =
        AddEntry(&doc_.EditPhonebook(), chosen, name, number, prompt_, strings::parlo());
    if (!e)
        return;
    Fill(false);
    SelectEntry(e);
    Save();
}

void PhonebookDialog::Edit() {
    CPhonebookEntry* e = Selected();
    if (!e) {
        Warn(prompt_, 65052);
        return;
    }
    uint32_t id = e->m_nId;
    std::u16string name = e->m_strName, number = e->m_strMobile;
    if (!edit_entry(&id, &name, &number, false))
        return;
    if (!EditEntry(e, name, number, prompt_, strings::parlo(),
                   DescriptorOf(doc_.Phonebook(), e->m_nId))) {
        return;
    }
    Fill(false);
    SelectEntry(e);
    Save();
}

void PhonebookDialog::Delete() {
    if (!DeleteEntries(MarkedOrSelected(), prompt_, strings::parlo()))
        return;
    Fill(false);
    Save();
}

void PhonebookDialog::Export() {
    std::vector<CPhonebookEntry*> entries = MarkedOrSelected();
    if (entries.empty())
        return;
    std::vector<const CContactEntry*> chosen(entries.begin(), entries.end());
    ExportToContacts(chosen, prompt_, strings::parlo(), ContactsDir::Default());
}

void PhonebookDialog::Import() {
    std::vector<CContactEntry> picked;
    uint32_t target = 0;
    if (!pick_contacts(&picked, &target))
        return;
    std::vector<const CContactEntry*> pointers;
    for (const CContactEntry& c : picked)
        pointers.push_back(&c);
    int added = 0;
    ImportContacts(&doc_.EditPhonebook(), pointers, target, prompt_, strings::parlo(), &added);
    Fill(false);
    list_->clearSelection();
    // What was imported stays, also when the rest could not be.
    if (added > 0)
        Save();
}

void PhonebookDialog::Call() {
    CPhonebookEntry* e = Selected();
    if (!e) {
        Warn(prompt_, 65052);
        return;
    }
    const std::u16string number = e->m_strMobile;
    RunOnWorker([this, number] { doc_.CallNumber(number); }, [] {});
}

void PhonebookDialog::SendSms() {
    CPhonebookEntry* e = Selected();
    if (!e) {
        Warn(prompt_, 65052);
        return;
    }
    if (send_sms_)
        send_sms_(e->m_strMobile);
}

void PhonebookDialog::Synchronise() {
    if (busy())
        return;
    auto report = std::make_shared<PhonebookSyncReport>();
    auto result = std::make_shared<PhonebookSyncResult>(PhonebookSyncResult::kFailed);
    progress_->setRange(0, 1000);
    progress_->setValue(0);
    progress_->setVisible(true);
    status_->setText(Text(65051));
    RunOnWorker(
        [this, report, result] {
            // Called on the worker: everything for the window is queued.
            auto status = [this](const std::u16string& text) {
                QMetaObject::invokeMethod(
                    this, [this, text] { status_->setText(Q(text)); }, Qt::QueuedConnection);
            };
            auto progress = [this](int done, int total) {
                QMetaObject::invokeMethod(
                    this,
                    [this, done, total] {
                        progress_->setRange(0, total);
                        progress_->setValue(done);
                    },
                    Qt::QueuedConnection);
            };
            *result = doc_.SynchronizePhonebook(status, nullptr, report.get(), progress);
        },
        [this, report, result] {
            progress_->setVisible(false);
            Fill(true);
            // The status field keeps what the run left undone, so that the
            // user can redo it after the message is gone.
            QString text;
            if (*result == PhonebookSyncResult::kCompleted ||
                *result == PhonebookSyncResult::kFailed) {
                if (!report->Empty() || *result == PhonebookSyncResult::kFailed)
                    text = Text(*result == PhonebookSyncResult::kCompleted ? 65085 : 65024);
                if (!report->Empty())
                    text += QLatin1Char('\n') + Q(report->Text());
            }
            status_->setText(text);
        });
}

void PhonebookDialog::ToggleCurrentMark() {
    const QModelIndex at = list_->currentIndex();
    QStandardItem* item = at.isValid() ? ModelOf(list_)->item(at.row(), 0) : nullptr;
    if (item && item->isCheckable())
        item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

void PhonebookDialog::SetBusy(bool busy) {
    // Close waits for the phone: it says so instead of doing nothing.
    close_->setEnabled(!busy);
    close_->setToolTip(busy ? tr("Wait until the phone has finished.") : QString());
    bar_->setEnabled(!busy);
    list_->setEnabled(!busy);
    search_->setEnabled(!busy);
}

void PhonebookDialog::RunOnWorker(std::function<void()> job, std::function<void()> done) {
    if (worker_)
        return;
    worker_ = QThread::create(std::move(job));
    connect(worker_, &QThread::finished, this, [this, done] {
        worker_->deleteLater();
        worker_ = nullptr;
        SetBusy(false);
        done();
        emit PhoneDone();
    });
    SetBusy(true);
    worker_->start();
}

}  // namespace parlo
