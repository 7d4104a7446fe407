#include "parlo/app/qt/main_view.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QStackedWidget>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <unordered_set>

#include "parlo/app/parlo_doc.h"
#include "parlo/app/qt/dialogs.h"
#include "parlo/app/qt/message_list_model.h"
#include "parlo_strings.h"
#include "qtsupport/qt_text.h"

namespace parlo {

namespace {

using qtsupport::ToQString;

constexpr int kCodeRole = Qt::UserRole;
constexpr int kFolderRole = Qt::UserRole + 1;
constexpr unsigned IDS_MOVE_MARKED = 65063;
constexpr unsigned IDS_MOVE_ONE = 65064;
constexpr unsigned IDS_NEW_SMS_DURING_SYNC = 65088;
constexpr int kProgressMs = 40;
// A batch of this many records or more reaches the lists one list per turn.
constexpr size_t kStepRecords = 5000;
// A refill of this many rows or more goes in chunks of this size.
constexpr size_t kRefillChunk = 100000;
constexpr int kBlinkMs = 500;
// How long a press is held before the context menu opens.
constexpr int kHoldMs = 600;

QString Str(unsigned id) {
    return ToQString(strings::parlo().Load(id));
}

QToolButton* IndicatorButton(const char* id, const QString& image, QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setObjectName(id);
    b->setIcon(QIcon(image));
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setToolTip(QStringLiteral("Errors of the last synchronisation"));
    return b;
}

}  // namespace

MainView::MainView(CParloDoc& doc, QWidget* parent) : QWidget(parent), doc_(doc) {
    setObjectName("101");
    chooser_ = new QComboBox(this);
    chooser_->setObjectName("1000");
    chooser_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    status_ = new QLabel(this);
    status_->setObjectName("1020");
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    status_->setMinimumWidth(status_->fontMetrics().horizontalAdvance("AS: 00:00:00 ") + 4);
    progress_ = new QProgressBar(this);
    progress_->setObjectName("1021");
    progress_->setTextVisible(false);
    progress_->hide();
    step_timer_ = new QTimer(this);
    step_timer_->setSingleShot(true);
    step_timer_->setInterval(0);
    connect(step_timer_, &QTimer::timeout, this, &MainView::RunStep);
    progress_timer_ = new QTimer(this);
    progress_timer_->setSingleShot(true);
    progress_timer_->setInterval(kProgressMs);
    connect(progress_timer_, &QTimer::timeout, this, &MainView::ShowProgressValue);
    error_quiet_ = IndicatorButton("1026", ":/parlo/error_quiet.png", this);
    error_a_ = IndicatorButton("1027", ":/parlo/error_a.png", this);
    error_b_ = IndicatorButton("1028", ":/parlo/error_b.png", this);
    error_a_->hide();
    error_b_->hide();
    for (QToolButton* b : {error_quiet_, error_a_, error_b_})
        connect(b, &QToolButton::clicked, this, &MainView::OnErrorClicked);
    blink_ = new QTimer(this);
    blink_->setInterval(kBlinkMs);
    connect(blink_, &QTimer::timeout, this, &MainView::OnErrorTimer);

    stack_ = new QStackedWidget(this);
    hold_timer_ = new QTimer(this);
    hold_timer_->setSingleShot(true);
    hold_timer_->setInterval(kHoldMs);
    connect(hold_timer_, &QTimer::timeout, this, [this] {
        if (hold_list_)
            emit hold_list_->customContextMenuRequested(hold_at_);
    });
    BuildLists();

    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->addWidget(chooser_);
    top->addWidget(status_, 1);
    top->addWidget(progress_, 1);
    top->addWidget(error_quiet_);
    top->addWidget(error_a_);
    top->addWidget(error_b_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(top);
    layout->addWidget(stack_, 1);

    connect(chooser_, &QComboBox::activated, this, &MainView::OnFolderChosen);

    // The unread count is counted once after a burst of changes.
    unread_timer_ = new QTimer(this);
    unread_timer_->setSingleShot(true);
    unread_timer_->setInterval(0);
    connect(unread_timer_, &QTimer::timeout, this, &MainView::CountUnread);
    MessageListModel* inbox = Model(VIEW_INBOX);
    auto recount = [this] { unread_timer_->start(); };
    connect(inbox, &QAbstractItemModel::rowsInserted, this, recount);
    connect(inbox, &QAbstractItemModel::rowsRemoved, this, recount);
    connect(inbox, &QAbstractItemModel::dataChanged, this, recount);
    connect(inbox, &QAbstractItemModel::modelReset, this, recount);
}

MainView::~MainView() = default;

DialogContext MainView::Context() {
    DialogContext ctx;
    ctx.parent = window();
    ctx.doc = &doc_;
    ctx.selected = [this] { return SelectedRecord(); };
    ctx.on_folders_changed = [this](QObject* receiver, std::function<void()> call) {
        connect(this, &MainView::FoldersChanged, receiver, std::move(call));
    };
    return ctx;
}

void MainView::ChainTabOrder(QWidget* before) {
    setTabOrder(before, chooser_);
    // Only the list on show takes the focus; the hidden ones are skipped.
    for (QTreeView* list : lists_) {
        if (list)
            setTabOrder(chooser_, list);
    }
}

void MainView::BuildLists() {
    MessageListModel::SetImages(QIcon(":/parlo/row_normal.png"), QIcon(":/parlo/row_marked.png"),
                                QIcon(":/parlo/row_unread.png"),
                                style()->standardIcon(QStyle::SP_MessageBoxWarning));
    auto name_of = [this](const std::u16string& number) {
        return ToQString(doc_.DisplayName(number));
    };
    for (int code = VIEW_INBOX; code <= VIEW_RECYCLE; ++code) {
        auto* model = new MessageListModel(code, name_of, this);
        model->SetIncompleteTest([this](const CSmsMessage& copy) {
            PartsCount parts;
            return doc_.MessageParts(copy, &parts) && !parts.Complete();
        });
        auto* list = new QTreeView(stack_);
        list->setObjectName(QString::number(1000 + code));
        list->setModel(model);
        list->setRootIsDecorated(false);
        list->setUniformRowHeights(true);
        list->setItemsExpandable(false);
        list->setSelectionBehavior(QAbstractItemView::SelectRows);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setAllColumnsShowFocus(true);
        list->setSortingEnabled(false);
        list->setEditTriggers(QAbstractItemView::NoEditTriggers);
        list->setContextMenuPolicy(Qt::CustomContextMenu);
        list->installEventFilter(this);
        list->viewport()->installEventFilter(this);
        connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                [this] { emit SelectionChanged(); });
        QHeaderView* header = list->header();
        header->setSectionsClickable(true);
        header->setSectionsMovable(false);
        header->setStretchLastSection(true);
        header->setSortIndicatorShown(false);  // shown once the list is sorted
        header->setMinimumSectionSize(24);
        header->resizeSection(0, 30);
        header->setSectionResizeMode(0, QHeaderView::Fixed);
        // Widths that fit a long number and a time stamp at the user's font.
        const QFontMetrics fm = list->fontMetrics();
        const int number_width = std::max(120, fm.horizontalAdvance("+49 (1234) 5678901") + 16);
        const int time_width = std::max(
            100, fm.horizontalAdvance(QLocale().toString(
                     QDateTime(QDate(2028, 12, 28), QTime(23, 59, 59)), QLocale::ShortFormat)) +
                     24);
        if (code == VIEW_TEMPLATES) {
            header->resizeSection(1, time_width);
        } else {
            header->resizeSection(1, number_width);
            header->resizeSection(2, time_width);
        }
        connect(header, &QHeaderView::sectionClicked, this,
                [this, code](int section) { OnHeaderClicked(code, section); });
        connect(list, &QTreeView::clicked, this,
                [this, code](const QModelIndex& i) { OnListClicked(code, i.row(), i.column()); });
        connect(list, &QTreeView::doubleClicked, this, [this, code](const QModelIndex& i) {
            OnListDoubleClicked(code, i.row(), i.column());
        });
        connect(list, &QTreeView::customContextMenuRequested, this,
                [this, code, list](const QPoint& pos) {
                    if (QMenu* menu = BuildContextMenu(code, pos)) {
                        menu->exec(list->viewport()->mapToGlobal(pos));
                        menu->deleteLater();
                    }
                });
        stack_->addWidget(list);
        lists_[static_cast<size_t>(code)] = list;
        models_[static_cast<size_t>(code)] = model;
    }
    stack_->setCurrentWidget(lists_[VIEW_INBOX]);
}

MessageListModel* MainView::Model(int code) const {
    return code >= VIEW_INBOX && code <= VIEW_RECYCLE ? models_[static_cast<size_t>(code)]
                                                      : nullptr;
}

QTreeView* MainView::List(int code) const {
    return code >= VIEW_INBOX && code <= VIEW_RECYCLE ? lists_[static_cast<size_t>(code)] : nullptr;
}

int MainView::CurrentCode() const {
    return current_code_;
}

// --- the folder chooser -----------------------------------------------------------

void MainView::InsertChooserEntry(const QString& text, int code, int32_t folder_id) {
    // A sorted drop-down list: the entries stand in alphabetical order.
    int at = 0;
    while (at < chooser_->count() &&
           QString::compare(chooser_->itemText(at), text, Qt::CaseInsensitive) <= 0)
        ++at;
    chooser_->insertItem(at, text);
    chooser_->setItemData(at, code, kCodeRole);
    chooser_->setItemData(at, folder_id, kFolderRole);
}

int MainView::FindChooserEntry(int code, int32_t folder_id) const {
    for (int i = 0; i < chooser_->count(); ++i) {
        if (chooser_->itemData(i, kCodeRole).toInt() == code &&
            (code != VIEW_USER_FOLDER || chooser_->itemData(i, kFolderRole).toInt() == folder_id))
            return i;
    }
    return -1;
}

void MainView::SelectChooserEntry(int code, int32_t folder_id) {
    const int i = FindChooserEntry(code, folder_id);
    if (i >= 0 && i != chooser_->currentIndex()) {
        QSignalBlocker block(chooser_);
        chooser_->setCurrentIndex(i);
    }
}

void MainView::InitialUpdate() {
    if (initialised_ || doc_.IsSyncBusy())
        return;
    chooser_->clear();
    InsertChooserEntry(Str(IDS_INBOX), VIEW_INBOX, FOLDER_INBOX);
    InsertChooserEntry(Str(IDS_SENT), VIEW_SENT, FOLDER_SENT);
    InsertChooserEntry(Str(IDS_OUTBOX), VIEW_OUTBOX, FOLDER_OUTBOX);
    InsertChooserEntry(Str(IDS_DRAFT), VIEW_DRAFT, FOLDER_DRAFT);
    InsertChooserEntry(Str(IDS_TEMPLATES), VIEW_TEMPLATES, FOLDER_TEMPLATES);
    for (CSmsFolder* f : doc_.Folders().UserFolders())
        InsertChooserEntry(ToQString(f->m_strName), VIEW_USER_FOLDER, f->m_nId);
    InsertChooserEntry(Str(IDS_RECYCLE), VIEW_RECYCLE, FOLDER_RECYCLE);
    ShowFolder(VIEW_INBOX);
    FillAllLists();
    List(VIEW_INBOX)->setFocus();
    initialised_ = true;
}

void MainView::OnFolderChosen(int index) {
    if (doc_.IsSyncBusy()) {
        // Skipped while synchronising: the chooser keeps showing the list on show.
        SelectChooserEntry(current_code_, Model(VIEW_USER_FOLDER)->ShownFolder());
        return;
    }
    const int code = chooser_->itemData(index, kCodeRole).toInt();
    ShowFolder(code, chooser_->itemData(index, kFolderRole).toInt());
}

void MainView::ShowFolder(int code, int32_t folder_id) {
    Settle();
    if (!Model(code))
        return;
    if (code == VIEW_USER_FOLDER) {
        MessageListModel* model = Model(VIEW_USER_FOLDER);
        if (model->ShownFolder() != folder_id) {
            model->SetShownFolder(folder_id);
            model->Reset(std::move(doc_.CopyLists(folder_id, VIEW_USER_FOLDER)[VIEW_USER_FOLDER]));
        }
    }
    current_code_ = code;
    const bool had_focus = stack_->currentWidget() && stack_->currentWidget()->hasFocus();
    stack_->setCurrentWidget(List(code));
    if (had_focus)
        List(code)->setFocus();
    SelectChooserEntry(code, folder_id);
}

void MainView::EnableFolderChooser(bool enabled) {
    chooser_->setEnabled(enabled);
}

void MainView::AddFolderEntry(int32_t id, const std::u16string& name) {
    if (FindChooserEntry(VIEW_USER_FOLDER, id) < 0)
        InsertChooserEntry(ToQString(name), VIEW_USER_FOLDER, id);
    emit FoldersChanged();
}

void MainView::RenameFolderEntry(int32_t id, const std::u16string& old_name,
                                 const std::u16string& name) {
    (void)old_name;
    const int i = FindChooserEntry(VIEW_USER_FOLDER, id);
    if (i < 0)
        return;
    const bool selected = i == chooser_->currentIndex();
    {
        QSignalBlocker block(chooser_);
        chooser_->removeItem(i);
        InsertChooserEntry(ToQString(name), VIEW_USER_FOLDER, id);
    }
    if (selected)
        SelectChooserEntry(VIEW_USER_FOLDER, id);
    else
        SelectChooserEntry(current_code_, Model(VIEW_USER_FOLDER)->ShownFolder());
    emit FoldersChanged();
}

void MainView::RemoveFolderEntry(int32_t id) {
    MessageListModel* folder_list = Model(VIEW_USER_FOLDER);
    if (folder_list->ShownFolder() == id) {
        if (current_code_ == VIEW_USER_FOLDER)
            ShowFolder(VIEW_INBOX);
        folder_list->SetShownFolder(-1);
        folder_list->Clear();
    }
    const int i = FindChooserEntry(VIEW_USER_FOLDER, id);
    if (i >= 0) {
        QSignalBlocker block(chooser_);
        chooser_->removeItem(i);
    }
    SelectChooserEntry(current_code_, folder_list->ShownFolder());
    emit FoldersChanged();
}

void MainView::RefreshNames() {
    Settle();
    for (int code = VIEW_INBOX; code <= VIEW_RECYCLE; ++code)
        Model(code)->RefreshNames();
}

// --- rows -----------------------------------------------------------------------

void MainView::FillAllLists() {
    Settle();
    // One pass under the store's lock; the models are filled afterwards.
    FillLists(doc_.CopyLists(Model(VIEW_USER_FOLDER)->ShownFolder()), /*in_parts=*/false);
}

void MainView::FillAllListsFrom(CParloDoc::ListCopies rows, uint64_t generation) {
    Settle();
    if (doc_.Store().Generation() != generation) {
        // Something changed after the copies were taken: they could bring
        // back a row the user just deleted, or drop a mark.
        FillAllLists();
        return;
    }
    auto& folder_rows = rows[static_cast<size_t>(VIEW_USER_FOLDER)];
    const int32_t shown = Model(VIEW_USER_FOLDER)->ShownFolder();
    std::erase_if(folder_rows, [shown](const auto& r) { return r.second.m_nFolderId != shown; });
    FillLists(std::move(rows), /*in_parts=*/true);
}

void MainView::FillLists(CParloDoc::ListCopies rows, bool in_parts) {
    // Rows that stay keep their place, marks and selection.
    CSmsMessage* selected = SelectedRecord();
    size_t total = 0;
    for (const auto& list : rows)
        total += list.size();
    if (!in_parts || total < kRefillChunk) {
        for (int code = VIEW_INBOX; code <= VIEW_RECYCLE; ++code) {
            Model(code)->Refill(std::move(rows[static_cast<size_t>(code)]));
            SortAsShown(code);
        }
        KeepSelection(selected);
        return;
    }
    // Another program's compaction of a store of a million messages: each
    // list in parts, one per turn of the event loop (what leaves first,
    // then the rest in chunks).
    auto all = std::make_shared<CParloDoc::ListCopies>(std::move(rows));
    for (int code = VIEW_INBOX; code <= VIEW_RECYCLE; ++code) {
        auto& list = (*all)[static_cast<size_t>(code)];
        MessageListModel* model = Model(code);
        steps_.push_back([this, all, model, &list, selected] {
            model->KeepOnly(list);
            KeepSelection(selected);
        });
        auto added = std::make_shared<int>(0);
        for (size_t from = 0; from < list.size(); from += kRefillChunk) {
            steps_.push_back([this, all, model, &list, from, added, selected] {
                const size_t to = std::min(list.size(), from + kRefillChunk);
                std::vector<std::pair<CSmsMessage*, CSmsMessage>*> part;
                part.reserve(to - from);
                for (size_t i = from; i < to; ++i)
                    part.push_back(&list[i]);
                *added += model->UpsertMany(part);
                for (size_t i = from; i < to; ++i)
                    list[i].second = CSmsMessage();  // freed here, not all at the end
                KeepSelection(selected);
            });
        }
        steps_.push_back([this, code, added] {
            if (*added > 0)
                SortAsShown(code);
        });
    }
    step_timer_->start();
}

void MainView::SortAsShown(int code) {
    // A sorted list stays sorted as its header says.
    const auto [column, descending] = list_sort_[static_cast<size_t>(code)];
    if (column > 0)
        Model(code)->SortBy(column, descending);
}

void MainView::ShowRecord(CSmsMessage* key, const CSmsMessage& copy) {
    Settle();
    const int target = CParloDoc::ListOf(copy.m_nState);
    if (copy.m_nState == STATE_UNREAD && Model(VIEW_INBOX)->RowOf(key) < 0)
        emit MessageArrived(key, ToQString(copy.m_strNumber), ToQString(copy.m_strText));
    for (int code = VIEW_INBOX; code <= VIEW_RECYCLE; ++code) {
        if (code == target)
            Model(code)->Upsert(key, copy);
        else
            Model(code)->Remove(key);
    }
}

void MainView::RemoveRecord(CSmsMessage* key) {
    Settle();
    for (int code = VIEW_INBOX; code <= VIEW_RECYCLE; ++code)
        Model(code)->Remove(key);
}

void MainView::RemoveRecords(const std::vector<CSmsMessage*>& keys) {
    ShowRecords({}, keys);
}

void MainView::ShowRecords(std::vector<std::pair<CSmsMessage*, CSmsMessage>> copies,
                           std::vector<CSmsMessage*> gone) {
    if (copies.empty() && gone.empty())
        return;
    Settle();  // an earlier batch's lists first
    CSmsMessage* selected = SelectedRecord();
    auto batch = std::make_shared<RecordBatch>(RecordBatch{std::move(copies), std::move(gone)});
    ApplyRecords(std::move(batch), selected);
}

void MainView::ShowStates(const std::vector<CSmsMessage*>& keys) {
    if (keys.empty())
        return;
    Settle();
    CSmsMessage* selected = SelectedRecord();
    auto show = [this, keys, selected] {
        auto batch = std::make_shared<RecordBatch>();
        doc_.Store().ReadStates(keys, &batch->copies, &batch->gone);
        TakeTexts(batch.get());
        ApplyRecords(std::move(batch), selected);
    };
    if (keys.size() < kStepRecords) {
        show();
        return;
    }
    // The command's own turn ends here; the rows follow in the next ones.
    steps_.push_back(std::move(show));
    step_timer_->start();
}

void MainView::TakeTexts(RecordBatch* batch) {
    // A row that leaves its list hands its number and text over and goes
    // at once; a row that stays lends a copy of them; a record no list
    // shows is read whole. Copies left without texts (a record gone, or
    // listed twice) are dropped.
    std::array<std::unordered_set<const CSmsMessage*>, VIEW_RECYCLE + 1> leaving;
    std::vector<bool> dropped(batch->copies.size(), false);
    for (size_t i = 0; i < batch->copies.size(); ++i) {
        auto& [key, copy] = batch->copies[i];
        bool shown = false;
        for (int code = VIEW_INBOX; code <= VIEW_RECYCLE && !shown; ++code) {
            MessageListModel* model = Model(code);
            const int row = model->RowOf(key);
            if (row < 0)
                continue;
            shown = true;
            auto& going = leaving[static_cast<size_t>(code)];
            if (going.count(key)) {
                dropped[i] = true;  // its texts went with the first
                break;
            }
            const bool stays = model->Accepts(copy);
            model->GiveTexts(row, &copy, /*keep=*/stays);
            if (!stays)
                going.insert(key);
        }
        if (!shown && !doc_.Store().Read(key, &copy)) {
            batch->gone.push_back(key);
            dropped[i] = true;
        }
    }
    size_t i = 0;
    std::erase_if(batch->copies, [&](const auto&) { return dropped[i++]; });
    for (int code = VIEW_INBOX; code <= VIEW_RECYCLE; ++code)
        Model(code)->RemoveMany(leaving[static_cast<size_t>(code)]);
}

void MainView::ApplyRecords(std::shared_ptr<RecordBatch> batch, CSmsMessage* selected) {
    if (batch->copies.size() + batch->gone.size() < kStepRecords) {
        for (int code = VIEW_INBOX; code <= VIEW_RECYCLE; ++code)
            ApplyBatch(code, batch.get());
        KeepSelection(selected);
        return;
    }
    // Many rows (a bulk delete or move of 100,000): one list per turn of
    // the event loop, so that the window answers in between.
    for (int code = VIEW_INBOX; code <= VIEW_RECYCLE; ++code) {
        steps_.push_back([this, batch, code, selected] {
            ApplyBatch(code, batch.get());
            KeepSelection(selected);
        });
    }
    step_timer_->start();
}

void MainView::ShowMarks(const std::vector<CSmsMessage*>& keys, bool marked) {
    Settle();
    for (int code = VIEW_INBOX; code <= VIEW_RECYCLE; ++code)
        Model(code)->SetMarked(keys, marked);
}

void MainView::ApplyBatch(int code, RecordBatch* batch) {
    MessageListModel* model = Model(code);
    std::unordered_set<const CSmsMessage*> leaving(batch->gone.begin(), batch->gone.end());
    std::vector<std::pair<CSmsMessage*, CSmsMessage>*> staying;
    for (auto& c : batch->copies) {
        // A list takes its copies over (each record belongs to one list);
        // what a taken copy leaves behind still tells its state and folder.
        if (model->Accepts(c.second))
            staying.push_back(&c);
        else if (model->RowOf(c.first) >= 0)
            leaving.insert(c.first);
    }
    model->RemoveMany(leaving);
    model->UpsertMany(staying);
}

void MainView::RunStep() {
    if (steps_.empty())
        return;
    auto step = std::move(steps_.front());
    steps_.pop_front();
    step();
    if (!steps_.empty())
        step_timer_->start();
}

void MainView::Settle() {
    step_timer_->stop();
    while (!steps_.empty()) {
        auto step = std::move(steps_.front());
        steps_.pop_front();
        step();
    }
}

void MainView::KeepSelection(CSmsMessage* selected) {
    QTreeView* list = CurrentList();
    if (!list || !list->selectionModel())
        return;
    const int row = selected ? CurrentModel()->RowOf(selected) : -1;
    if (row < 0) {
        // Nothing else gets selected by itself: the next command would act
        // on a message the user never chose.
        if (list->selectionModel()->hasSelection() || list->currentIndex().isValid())
            list->selectionModel()->clear();
        return;
    }
    const QModelIndex at = CurrentModel()->index(row, 0);
    if (!list->selectionModel()->isRowSelected(row, {}))
        list->selectionModel()->setCurrentIndex(
            at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void MainView::ClearList(int view_code) {
    Settle();
    if (MessageListModel* model = Model(view_code))
        model->Clear();
}

CSmsMessage* MainView::SelectedRecord() const {
    QTreeView* list = CurrentList();
    if (!list || !list->selectionModel())
        return nullptr;
    const QModelIndexList rows = list->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return nullptr;
    return CurrentModel()->KeyAt(rows.first().row());
}

// --- status line, progress bar, error indicator --------------------------------------

void MainView::SetStatusText(const std::u16string& text) {
    status_->setText(ToQString(text));
}

void MainView::ShowStatusText(bool shown) {
    status_->setVisible(shown);
}

void MainView::ShowProgress(bool shown) {
    ShowProgressValue();
    progress_->setVisible(shown);
}

void MainView::SetProgressRange(int lower, int upper) {
    progress_timer_->stop();
    progress_->setRange(lower, upper);
    progress_value_ = progress_->value();
}

void MainView::SetProgressPos(int pos) {
    progress_value_ = std::clamp(pos, progress_->minimum(), progress_->maximum());
    if (!progress_timer_->isActive())
        progress_timer_->start();
}

void MainView::StepProgress() {
    SetProgressPos(std::min(progress_value_ + 1, progress_->maximum()));
}

void MainView::ShowProgressValue() {
    progress_timer_->stop();
    // QProgressBar repaints at once on a new value, and with it every
    // list waiting for its layout: one step per message made a sync of a
    // large store lay out its list once per message.
    if (progress_->value() != progress_value_)
        progress_->setValue(progress_value_);
}

void MainView::SetErrorIndicator(bool on) {
    if (on) {
        if (phase_ != 0)
            return;
        error_a_->show();
        error_b_->hide();
        error_quiet_->hide();
        phase_ = 1;
        blink_->start();
    } else {
        blink_->stop();
        error_a_->hide();
        error_b_->hide();
        error_quiet_->show();
        phase_ = 0;
    }
}

void MainView::OnErrorTimer() {
    if (phase_ == 1) {
        error_b_->show();
        error_a_->hide();
        phase_ = 2;
    } else if (phase_ == 2) {
        error_a_->show();
        error_b_->hide();
        phase_ = 1;
    }
}

void MainView::OnErrorClicked() {
    if (doc_.IsSyncBusy())
        return;
    doc_.ShowErrors();
    SetErrorIndicator(false);
}

// --- list events --------------------------------------------------------------------

void MainView::OnListClicked(int view_code, int row, int column) {
    Settle();
    if (doc_.IsSyncBusy() || column != 0)
        return;
    if (CSmsMessage* key = Model(view_code)->KeyAt(row))
        doc_.ToggleMark(key);
}

void MainView::OnListDoubleClicked(int view_code, int row, int column) {
    Settle();
    if (doc_.IsSyncBusy())
        return;
    MessageListModel* model = Model(view_code);
    CSmsMessage* key = model->KeyAt(row);
    if (!key)
        return;
    const CSmsMessage copy = *model->CopyAt(row);
    if (column == 0) {
        doc_.ToggleMark(key);
        if (copy.m_nState == STATE_UNREAD)
            doc_.MarkRead(key);
        return;
    }
    if (copy.m_nState == STATE_UNREAD)
        doc_.MarkRead(key);
    if (dialogs_)
        dialogs_->Compose(Context(), current_code_, key, copy.m_strNumber, copy.m_strText);
}

void MainView::OnHeaderClicked(int view_code, int column) {
    Settle();
    if (doc_.IsSyncBusy())
        return;
    MessageListModel* model = Model(view_code);
    if (column == 0) {
        bool& all = all_marked_[static_cast<size_t>(view_code)];
        all = !all;
        doc_.SetMarks(model->Keys(), all);
        return;
    }
    if (column == sort_column_)
        sort_descending_ = !sort_descending_;
    else
        sort_descending_ = false;
    sort_column_ = column;
    model->SortBy(column, sort_descending_);
    list_sort_[static_cast<size_t>(view_code)] = {column, sort_descending_};
    ShowSortIndicator(view_code);
}

void MainView::SetSort(int column, bool descending) {
    Settle();
    if (column <= 0 || column >= Model(VIEW_INBOX)->columnCount())
        return;
    sort_column_ = column;
    sort_descending_ = descending;
    for (int code = VIEW_INBOX; code <= VIEW_RECYCLE; ++code) {
        // Templates have one column fewer.
        if (column >= Model(code)->columnCount())
            continue;
        Model(code)->SortBy(column, descending);
        list_sort_[static_cast<size_t>(code)] = {column, descending};
        ShowSortIndicator(code);
    }
}

void MainView::ShowSortIndicator(int view_code) {
    const auto [column, descending] = list_sort_[static_cast<size_t>(view_code)];
    QHeaderView* header = List(view_code)->header();
    header->setSortIndicatorShown(column > 0);
    header->setSortIndicator(column, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

QMenu* MainView::BuildContextMenu(int view_code, const QPoint& pos) {
    Settle();
    if (doc_.IsSyncBusy())
        return nullptr;
    MessageListModel* model = Model(view_code);
    QTreeView* list = List(view_code);
    const bool marked = model->MarkedCount() > 0;
    if (!marked) {
        const QModelIndex at = list->indexAt(pos);
        if (at.isValid())
            list->setCurrentIndex(at);
        if (!SelectedRecord())
            return nullptr;
    }
    auto* menu = new QMenu(this);
    QMenu* sub = menu->addMenu(Str(marked ? IDS_MOVE_MARKED : IDS_MOVE_ONE));
    sub->setObjectName(marked ? "65063" : "65064");
    const int base = marked ? 3024 : 7024;
    for (CSmsFolder* f : doc_.Folders().All()) {
        const int id = base + f->m_nId;
        QAction* action = sub->addAction(ToQString(f->m_strName));
        action->setObjectName(QString::number(id));
        connect(action, &QAction::triggered, this, [this, id] { OnMoveCommand(id); });
    }
    // A held Outbox message: the user decides whether it goes out again.
    CSmsMessage* key = marked ? nullptr : SelectedRecord();
    const CSmsMessage* copy = key ? model->CopyAt(model->RowOf(key)) : nullptr;
    if (view_code == VIEW_OUTBOX && copy && CParloDoc::IsHeld(*copy)) {
        menu->addSeparator();
        QAction* again = menu->addAction(QStringLiteral("Send again"));
        again->setObjectName("SendAgain");
        again->setToolTip(QStringLiteral("Send it once more now: it may have gone out already"));
        connect(again, &QAction::triggered, this, [this, key] { SendHeldAgain(key); });
        QAction* release = menu->addAction(QStringLiteral("Release"));
        release->setObjectName("Release");
        release->setToolTip(QStringLiteral("Have it sent at the next synchronisation"));
        connect(release, &QAction::triggered, this, [this, key] { ReleaseHeld(key); });
    }
    return menu;
}

void MainView::SendHeldAgain(CSmsMessage* key) {
    if (!doc_.IsSyncBusy())
        doc_.SendAgain(key);
}

void MainView::ReleaseHeld(CSmsMessage* key) {
    if (!doc_.IsSyncBusy())
        doc_.ReleaseHeld(key);
}

void MainView::OnMoveCommand(int id) {
    Settle();
    if (doc_.IsSyncBusy())
        return;
    MessageListModel* model = CurrentModel();
    const int n = id - 1024;
    if (n >= 2000 && n <= 5999) {
        doc_.MoveMarkedOrSelected(model->Keys(), nullptr, id - 3024);
    } else if (n >= 6000 && n <= 11999) {
        CSmsMessage* selected = SelectedRecord();
        doc_.SetMarks(model->Keys(), false);
        doc_.MoveMarkedOrSelected(model->Keys(), selected, id - 7024);
    }
}

// --- the keyboard --------------------------------------------------------------------

void MainView::SelectCurrentRow() {
    QTreeView* list = CurrentList();
    const QModelIndex at = list->currentIndex();
    if (at.isValid() && list->selectionModel() && !list->selectionModel()->hasSelection())
        list->selectionModel()->select(
            at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void MainView::OpenCurrentRow() {
    const QModelIndex at = CurrentList()->currentIndex();
    if (!at.isValid())
        return;
    // As a double tap does, the row opened becomes the selected one, which
    // Answer, Forward and Delete then take.
    SelectCurrentRow();
    OnListDoubleClicked(current_code_, at.row(), 1);
}

void MainView::MarkCurrentRow() {
    const QModelIndex at = CurrentList()->currentIndex();
    if (at.isValid())
        OnListClicked(current_code_, at.row(), 0);
}

void MainView::ContextMenuAtCurrentRow() {
    QTreeView* list = CurrentList();
    QModelIndex at = list->currentIndex();
    if (!at.isValid() && Model(current_code_)->rowCount() > 0)
        at = Model(current_code_)->index(0, 1);
    const QRect row = at.isValid() ? list->visualRect(at) : QRect();
    const QPoint pos = at.isValid() ? row.center() : QPoint(0, 0);
    if (QMenu* menu = BuildContextMenu(current_code_, pos)) {
        menu->exec(list->viewport()->mapToGlobal(row.isValid() ? row.bottomLeft() : pos));
        menu->deleteLater();
    }
}

void MainView::HoldForMenu(QTreeView* list, QEvent* event) {
    // Press and hold (a mouse button, or a finger: touch arrives as a mouse
    // press) opens the context menu where it is held, as a right click does.
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* press = static_cast<QMouseEvent*>(event);
            if (press->button() != Qt::LeftButton)
                break;
            hold_list_ = list;
            hold_at_ = press->position().toPoint();
            hold_timer_->start();
            return;
        }
        case QEvent::MouseMove: {
            auto* move = static_cast<QMouseEvent*>(event);
            if ((move->position().toPoint() - hold_at_).manhattanLength() <
                QApplication::startDragDistance())
                return;
            break;
        }
        default:
            break;
    }
    hold_timer_->stop();
}

bool MainView::eventFilter(QObject* watched, QEvent* event) {
    for (QTreeView* list : lists_) {
        if (list && watched == list->viewport()) {
            const QEvent::Type t = event->type();
            if (t == QEvent::MouseButtonPress || t == QEvent::MouseMove ||
                t == QEvent::MouseButtonRelease || t == QEvent::Leave || t == QEvent::Hide)
                HoldForMenu(list, event);
            return QWidget::eventFilter(watched, event);
        }
    }
    if (event->type() != QEvent::KeyPress || watched != CurrentList())
        return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (mods == Qt::NoModifier) {
                OpenCurrentRow();
                return true;
            }
            break;
        case Qt::Key_Space:
            if (mods == Qt::NoModifier) {
                MarkCurrentRow();
                return true;
            }
            break;
        case Qt::Key_Menu:
            ContextMenuAtCurrentRow();
            return true;
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Home:
        case Qt::Key_End:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            // A key that moves the cursor selects the row it lands on, also
            // when the cursor stays (the only row, already at the top).
            // Focus alone selects nothing: a row the user never chose is
            // never the one a command takes.
            if (mods == Qt::NoModifier)
                QTimer::singleShot(0, this, [this] { SelectCurrentRow(); });
            break;
        case Qt::Key_F10:
            if (mods == Qt::ShiftModifier) {
                ContextMenuAtCurrentRow();
                return true;
            }
            break;
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

void MainView::ShowMessage(CSmsMessage* key) {
    Settle();
    for (int code = VIEW_INBOX; code <= VIEW_RECYCLE; ++code) {
        const int row = Model(code)->RowOf(key);
        if (row < 0)
            continue;
        if (code != current_code_)
            ShowFolder(code, Model(code)->ShownFolder());
        List(code)->setCurrentIndex(Model(code)->index(row, 1));
        List(code)->setFocus();
        OnListDoubleClicked(code, row, 1);
        return;
    }
}

QString MainView::StatusText() const {
    return status_->text();
}

int MainView::InboxUnread() const {
    return unread_ < 0 ? 0 : unread_;
}

void MainView::CountUnread() {
    const MessageListModel* inbox = Model(VIEW_INBOX);
    int unread = 0;
    for (int row = 0; row < inbox->rowCount(); ++row) {
        if (inbox->CopyAt(row)->m_nState == STATE_UNREAD)
            ++unread;
    }
    if (unread != unread_) {
        unread_ = unread;
        emit UnreadChanged(unread);
    }
}

// --- hand-off -----------------------------------------------------------------------

void MainView::CheckHandoff() {
    if (in_handoff_)
        return;  // a dialog of an earlier hand-off is open
    in_handoff_ = true;
    std::u16string raw, number;
    if (doc_.PeekHandoffNumber(&raw, &number)) {
        // The file goes once the new message is open (the first event of
        // its dialog), so that a dialog that never opened loses nothing.
        QTimer::singleShot(0, this, [this, raw] { doc_.DropHandoff(raw); });
        NewMessageTo(number);
    }
    in_handoff_ = false;
}

void MainView::NewMessageTo(const std::u16string& number) {
    if (doc_.IsSyncBusy()) {
        doc_.Ask(IDS_NEW_SMS_DURING_SYNC);
        return;
    }
    if (dialogs_)
        dialogs_->Compose(Context(), VIEW_NEW, nullptr, number, u"");
}

}  // namespace parlo
