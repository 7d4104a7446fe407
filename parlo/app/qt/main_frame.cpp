#include "parlo/app/qt/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QKeySequence>
#include <QMenu>
#include <QShortcut>
#include <QSocketNotifier>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "parlo/app/parlo_doc.h"
#include "parlo/app/qt/desktop_notifier.h"
#include "parlo/app/qt/dialogs.h"
#include "parlo/app/qt/interface_idle.h"
#include "parlo/app/qt/main_view.h"
#include "parlo/app/qt/message_list_model.h"
#include "parlo/app/qt/others_changes.h"
#include "parlo/app/qt/window_state.h"
#include "parlo/app/take_in_worker.h"
#include "parlo/store/store_watcher.h"
#include "parlo_strings.h"
#include "qtsupport/dialog_layout.h"
#include "qtsupport/keyboard.h"
#include "qtsupport/qt_text.h"

namespace parlo {

namespace {

constexpr unsigned IDS_CAPTION = 57344;
constexpr unsigned IDS_SELECT_MESSAGE = 65043;
constexpr int kUpdateMs = 250;
constexpr int kExitPollMs = 100;
// Other programs' writes come in bursts (a send of several messages, a
// synchronisation): what came within this time is taken in at once.
constexpr int kTakeInDelayMs = 50;

QString Str(unsigned id) {
    return qtsupport::ToQString(strings::parlo().Load(id));
}

// A dialog opens only this long after the last one closed: the key that
// closed that one must not close (or type into) the next.
constexpr qint64 kAfterCloseMs = 300;
// Messages of one synchronisation come one by one: those within this time
// share a notification.
constexpr int kNotifyGatherMs = 1500;

// The keys of the commands; the Menu button opens with F10. Clearing a
// memory and emptying the Recycle Bin have none: they are one question away
// from losing messages, and the menu reaches them.
QKeySequence ShortcutOf(int id) {
    switch (id) {
        case ID_NEW_SMS:
            return QKeySequence(Qt::CTRL | Qt::Key_N);
        case ID_ANSWER_SMS:
            return QKeySequence(Qt::CTRL | Qt::Key_R);
        case ID_FORWARD_SMS:
            return QKeySequence(Qt::CTRL | Qt::Key_L);
        case ID_DELETE_SMS:
            return QKeySequence(Qt::Key_Delete);
        case ID_SYNCHRONIZE:
            return QKeySequence(Qt::Key_F5);
        case ID_MOVE_TO_FOLDER:
            return QKeySequence(Qt::CTRL | Qt::Key_M);
        case ID_EXIT:
            return QKeySequence(Qt::CTRL | Qt::Key_Q);
        case ID_DIALER:
            return QKeySequence(Qt::CTRL | Qt::Key_D);
        case ID_FOLDERS:
            return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N);
        case ID_OPTIONS:
            return QKeySequence(Qt::CTRL | Qt::Key_Comma);
        case ID_GROUPS:
            return QKeySequence(Qt::CTRL | Qt::Key_G);
        case ID_PHONEBOOK:
            return QKeySequence(Qt::CTRL | Qt::Key_B);
        default:
            return {};
    }
}

// Every command handler holds the interface, so that an automatic run does
// not start while the user is in the middle of one.
class CommandScope {
  public:
    explicit CommandScope(InterfaceIdleGuard& guard) : guard_(guard) { guard_.Hold(); }
    ~CommandScope() {
        if (!keep_busy_)
            guard_.Release();
    }
    void KeepInterfaceBusy() { keep_busy_ = true; }

  private:
    InterfaceIdleGuard& guard_;
    bool keep_busy_ = false;
};

}  // namespace

MainFrame::MainFrame(CParloDoc& doc, IParloDialogs* dialogs, QWidget* parent)
    : QMainWindow(parent), doc_(doc), dialogs_(dialogs) {
    setObjectName("MainFrame");
    setWindowTitle(Str(IDS_CAPTION));
    setWindowIcon(QIcon(":/parlo/parlo.png"));
    idle_ = new InterfaceIdleGuard(doc, this);
    view_ = new MainView(doc, this);
    view_->SetDialogs(dialogs_);
    setCentralWidget(view_);
    BuildCommandBar();
    connect(view_, &MainView::UnreadChanged, this, &MainFrame::UpdateTitle);
    notifier_ = new DesktopNotifier(QDBusConnection::sessionBus(), this);
    notify_timer_ = new QTimer(this);
    notify_timer_->setSingleShot(true);
    notify_timer_->setInterval(kNotifyGatherMs);
    connect(notify_timer_, &QTimer::timeout, this, &MainFrame::NotifyArrived);
    connect(view_, &MainView::MessageArrived, this, &MainFrame::OnMessageArrived);
    connect(view_, &MainView::SelectionChanged, this, &MainFrame::UpdateCommands);
    // Wide enough for every button of the command bar at the user's font.
    int bar_width = 0;
    for (QToolBar* bar : findChildren<QToolBar*>())
        bar_width = std::max(bar_width, bar->sizeHint().width());
    resize(std::max(960, bar_width + 24), 640);
    qtsupport::FitToScreen(this);

    update_timer_ = new QTimer(this);
    update_timer_->setInterval(kUpdateMs);
    connect(update_timer_, &QTimer::timeout, this, &MainFrame::Tick);
    update_timer_->start();
    exit_timer_ = new QTimer(this);
    exit_timer_->setInterval(kExitPollMs);
    connect(exit_timer_, &QTimer::timeout, this, [this] {
        if (!doc_.IsSyncBusy())
            FinishExit();
    });
    WatchStore();
    // The folder table, contacts, groups and phonebook that others change;
    // the entries are read again only while no dialog holds them.
    others_ = new OthersChanges(
        doc_, [this] { return !QApplication::activeModalWidget() && !idle_->Held(); }, this);
    UpdateCommands();
}

void MainFrame::RestoreState() {
    RestoreWindowState(*this, *view_);
}

void MainFrame::UpdateTitle(int unread) {
    const QString caption = Str(IDS_CAPTION);
    setWindowTitle(unread > 0 ? QString("%1 (%2 unread)").arg(caption).arg(unread) : caption);
}

void MainFrame::OnMessageArrived(CSmsMessage* key, const QString& number, const QString& text) {
    if (isActiveWindow() || closing_)
        return;
    arrived_.push_back({key, number, text});
    if (!notify_timer_->isActive())
        notify_timer_->start();
}

void MainFrame::NotifyArrived() {
    if (arrived_.empty())
        return;
    const Arrived first = arrived_.front();
    const QString sender =
        qtsupport::ToQString(doc_.DisplayName(qtsupport::FromQString(first.number)));
    QString summary = sender;
    QString body = FirstWords(first.text);
    if (arrived_.size() > 1) {
        summary = QString("%1 new messages").arg(arrived_.size());
        body = QString("%1: %2").arg(sender, body);
    }
    arrived_.clear();
    // Clicking it brings the window forward with the message open; a
    // message deleted meanwhile is simply not found.
    notifier_->Notify(summary, body, [this, key = first.key] {
        showNormal();
        raise();
        activateWindow();
        if (!closing_ && !doc_.IsSyncBusy() && MayOpenDialog())
            view_->ShowMessage(key);
    });
}

bool MainFrame::MayOpenDialog() const {
    return isVisible() && !closing_ && !idle_->Held() && !QApplication::activeModalWidget() &&
           !QApplication::activePopupWidget() && idle_->SinceLastClose() >= kAfterCloseMs;
}

void MainFrame::OpenNumberWhenPossible(const std::u16string& number) {
    waiting_numbers_.push_back(number);
    QTimer::singleShot(0, this, &MainFrame::Tick);  // not inside the caller's event
}

void MainFrame::CheckHandoffWhenPossible() {
    handoff_due_ = true;
    QTimer::singleShot(0, this, &MainFrame::Tick);
}

void MainFrame::Tick() {
    UpdateCommands();
    others_->TakeInPending();  // what waited for a dialog to close
    idle_->Reassert();
    // The automatic thread clears its countdown only while the interface is
    // idle; switched off from a dialog, the text would stay.
    if (!doc_.IsAutoSyncActive() && !doc_.IsSyncBusy() &&
        view_->StatusText().startsWith(QStringLiteral("AS: ")))
        view_->SetStatusText(u"");
    if ((waiting_numbers_.empty() && !handoff_due_) || !MayOpenDialog())
        return;
    CommandScope scope(*idle_);
    if (!waiting_numbers_.empty()) {
        const std::u16string number = waiting_numbers_.front();
        waiting_numbers_.erase(waiting_numbers_.begin());
        view_->NewMessageTo(number);
    } else {
        handoff_due_ = false;
        view_->CheckHandoff();
    }
}

MainFrame::~MainFrame() {
    delete watch_notifier_;  // before the watcher closes its descriptor
    take_in_.reset();        // no taking in once the frame is going
}

void MainFrame::WatchStore() {
    watcher_ = std::make_unique<CStoreWatcher>(doc_.Store().StorePath().parent_path());
    if (!watcher_->ok())
        return;  // others' changes then show after this program's next write
    take_in_timer_ = new QTimer(this);
    take_in_timer_->setSingleShot(true);
    take_in_timer_->setInterval(kTakeInDelayMs);
    take_in_ = std::make_unique<CTakeInWorker>([this] { doc_.TakeInChanges(); });
    connect(take_in_timer_, &QTimer::timeout, this, [this] { take_in_->Request(); });
    watch_notifier_ = new QSocketNotifier(watcher_->fd(), QSocketNotifier::Read, this);
    connect(watch_notifier_, &QSocketNotifier::activated, this, [this] {
        if (watcher_->Drain() && !take_in_timer_->isActive())
            take_in_timer_->start();
    });
}

QAction* MainFrame::AddCommand(int id, const QString& text, bool busy_gated) {
    auto* action = new QAction(text, this);
    action->setObjectName(QString::number(id));
    connect(action, &QAction::triggered, this, [this, id] { Dispatch(id); });
    action->setShortcut(ShortcutOf(id));
    action->setShortcutContext(Qt::WindowShortcut);
    tips_[id] = qtsupport::TipWithShortcut(text, action->shortcut());
    action->setToolTip(tips_[id]);
    actions_[id] = action;
    gated_[id] = busy_gated;
    addAction(action);  // reachable by its shortcut and by RunCommand
    return action;
}

QAction* MainFrame::Action(int id) const {
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void MainFrame::BuildCommandBar() {
    QStyle* style = QApplication::style();
    struct Button {
        int id;
        unsigned tip;
        QStyle::StandardPixmap icon;
    };
    const Button buttons[] = {
        {ID_NEW_SMS, 65000, QStyle::SP_FileIcon},
        {ID_ANSWER_SMS, 65065, QStyle::SP_ArrowBack},
        {ID_FORWARD_SMS, 65066, QStyle::SP_ArrowForward},
        {ID_DELETE_SMS, 65067, QStyle::SP_TrashIcon},
        {ID_SYNCHRONIZE, 65068, QStyle::SP_BrowserReload},
        {ID_MOVE_TO_FOLDER, 65069, QStyle::SP_DirIcon},
        {ID_EXIT, 65070, QStyle::SP_DialogCloseButton},
    };

    auto* bar = new QToolBar(this);
    bar->setObjectName("59392");
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    bar->setIconSize(QSize(24, 24));
    addToolBar(Qt::TopToolBarArea, bar);

    // Menu 128 behind the "Menu" button.
    auto* menu = new QMenu(Str(ID_MENU), this);
    menu->setObjectName("128");
    menu->addAction(AddCommand(ID_EXIT, Str(ID_EXIT), true));
    menu->addSeparator();
    menu->addAction(AddCommand(ID_DIALER, Str(ID_DIALER), true));
    menu->addSeparator();
    menu->addAction(AddCommand(ID_FOLDERS, Str(ID_FOLDERS), false));
    menu->addAction(AddCommand(ID_OPTIONS, Str(ID_OPTIONS), true));
    menu->addSeparator();
    menu->addAction(AddCommand(ID_GROUPS, Str(ID_GROUPS), false));
    menu->addAction(AddCommand(ID_PHONEBOOK, Str(ID_PHONEBOOK), true));
    menu->addSeparator();
    QMenu* clear = menu->addMenu(QStringLiteral("Clear SMS Memory"));
    clear->setObjectName("ClearSmsMemory");
    clear->addAction(AddCommand(ID_CLEAR_PHONE, Str(ID_CLEAR_PHONE), true));
    clear->addAction(AddCommand(ID_CLEAR_SIM, Str(ID_CLEAR_SIM), true));
    menu->addAction(AddCommand(ID_EMPTY_BIN, Str(ID_EMPTY_BIN), true));
    AddCommand(ID_CONNECT, QStringLiteral("Connect"), true);  // no menu entry

    auto* menu_button = new QToolButton(bar);
    menu_button->setObjectName(QString::number(ID_MENU));
    menu_button->setText(Str(ID_MENU));
    menu_button->setIcon(style->standardIcon(QStyle::SP_FileDialogDetailedView));
    menu_button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    menu_button->setMenu(menu);
    menu_button->setPopupMode(QToolButton::InstantPopup);
    menu_button->setFocusPolicy(Qt::TabFocus);
    menu_button->setToolTip(qtsupport::TipWithShortcut(Str(ID_MENU), QKeySequence(Qt::Key_F10)));
    bar->addWidget(menu_button);
    bar->addSeparator();
    auto* open_menu = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(open_menu, &QShortcut::activated, menu_button, &QToolButton::showMenu);
    QWidget* previous = menu_button;

    for (const Button& b : buttons) {
        // Exit is one command in the menu and on the bar.
        QAction* action = Action(b.id) ? Action(b.id) : AddCommand(b.id, Str(b.tip), true);
        tips_[b.id] = qtsupport::TipWithShortcut(Str(b.tip), action->shortcut());
        action->setToolTip(tips_[b.id]);
        action->setIcon(style->standardIcon(b.icon));
        bar->addAction(action);
        if (QWidget* w = bar->widgetForAction(action)) {
            w->setObjectName(QString("button_%1").arg(b.id));
            // Tab walks the command bar, then the folder chooser and the list.
            w->setFocusPolicy(Qt::TabFocus);
            setTabOrder(previous, w);
            previous = w;
        }
    }
    Action(ID_EXIT)->setText(Str(65070));
    view_->ChainTabOrder(previous);
}

void MainFrame::UpdateCommands() {
    const bool busy = doc_.IsSyncBusy();
    for (auto& [id, action] : actions_) {
        if (!gated_[id])
            continue;
        action->setEnabled(!busy && !closing_);
        // A disabled command says why.
        QString tip = tips_[id];
        if (closing_)
            tip += QStringLiteral(": not while the program is ending");
        else if (busy)
            tip += QStringLiteral(": not while a synchronisation runs");
        if (action->toolTip() != tip)
            action->setToolTip(tip);
    }
}

bool MainFrame::RunCommand(int id) {
    QAction* action = Action(id);
    if (!action)
        return false;
    UpdateCommands();
    if (action->isEnabled())
        action->trigger();
    return true;
}

void MainFrame::Dispatch(int id) {
    if (closing_)
        return;
    if (gated_[id] && doc_.IsSyncBusy())
        return;  // the handler itself does nothing while a run is busy
    view_->Settle();  // a command sees the lists as they are
    CommandScope scope(*idle_);
    const DialogContext ctx = view_->Context();
    switch (id) {
        case ID_NEW_SMS:
            OnNewSms();
            break;
        case ID_ANSWER_SMS:
            OnAnswerSms(false);
            break;
        case ID_FORWARD_SMS:
            OnAnswerSms(true);
            break;
        case ID_DELETE_SMS:
            OnDeleteSms();
            break;
        case ID_SYNCHRONIZE:
            OnSynchronize();
            break;
        case ID_MOVE_TO_FOLDER:
            OnMoveToFolder();
            break;
        case ID_CLEAR_PHONE:
            OnClearMemory(false);
            break;
        case ID_CLEAR_SIM:
            OnClearMemory(true);
            break;
        case ID_OPTIONS:
            dialogs_->Options(ctx);
            break;
        case ID_EMPTY_BIN:
            doc_.EmptyRecycleBin();
            break;
        case ID_DIALER:
            doc_.StartDialer();
            break;
        case ID_CONNECT:
            doc_.StartConnect();
            break;
        case ID_FOLDERS:
            dialogs_->Folders(ctx);
            break;
        case ID_PHONEBOOK:
            dialogs_->Phonebook(ctx);
            break;
        case ID_GROUPS:
            dialogs_->Groups(ctx);
            break;
        case ID_EXIT:
            scope.KeepInterfaceBusy();
            OnExit();
            break;
        default:
            break;
    }
    UpdateCommands();
}

void MainFrame::OnNewSms() {
    dialogs_->Compose(view_->Context(), VIEW_NEW, nullptr, u"", u"");
}

void MainFrame::OnAnswerSms(bool forward) {
    CSmsMessage* rec = view_->SelectedRecord();
    if (!rec) {
        doc_.Ask(IDS_SELECT_MESSAGE, platform::Buttons::Ok, platform::Icon::Warning);
        return;
    }
    CSmsMessage copy;
    if (!doc_.Store().Read(rec, &copy))
        return;
    if (forward)
        dialogs_->Compose(view_->Context(), VIEW_NEW, nullptr, u"", copy.m_strText);
    else
        dialogs_->Compose(view_->Context(), VIEW_NEW, nullptr, copy.m_strNumber, u"");
}

void MainFrame::OnDeleteSms() {
    const int code = view_->CurrentCode();
    MessageListModel* model = view_->CurrentModel();
    if (code != VIEW_INBOX && code != VIEW_SENT) {
        doc_.DeleteMarked(DELETE_POCKETPC_ONLY, code, model->Keys(), view_->SelectedRecord());
        return;
    }
    QMenu popup(this);
    popup.setObjectName("DeletePopup");
    const std::pair<int, unsigned> choices[] = {
        {ID_DELETE_POCKETPC, 65019}, {ID_DELETE_PHONE, 65020}, {ID_DELETE_BOTH, 65021}};
    int chosen = 0;
    for (const auto& [id, text] : choices) {
        QAction* a = popup.addAction(Str(text));
        a->setObjectName(QString::number(id));
        connect(a, &QAction::triggered, this, [&chosen, id = id] { chosen = id; });
    }
    emit DeleteMenuShown(&popup);
    QPoint at = QCursor::pos();
    for (QToolBar* bar : findChildren<QToolBar*>()) {
        if (QWidget* w = bar->widgetForAction(Action(ID_DELETE_SMS)))
            at = w->mapToGlobal(QPoint(0, w->height()));
    }
    popup.exec(at);
    if (chosen == 0)
        return;
    // The pop-up's choices stay available while a run is busy.
    doc_.DeleteMarked(chosen - 2024, code, model->Keys(), view_->SelectedRecord());
}

void MainFrame::OnSynchronize() {
    doc_.StartSync();
}

void MainFrame::OnMoveToFolder() {
    int32_t folder = 0;
    if (!dialogs_->DestinationFolder(view_->Context(), &folder))
        return;
    doc_.MoveMarkedOrSelected(view_->CurrentModel()->Keys(), view_->SelectedRecord(), folder);
}

void MainFrame::OnClearMemory(bool sim) {
    if (sim)
        doc_.ClearSimMemory();
    else
        doc_.ClearPhoneMemory();
}

void MainFrame::OnExit() {
    doc_.StopAutoSync();
    close();
}

void MainFrame::FinishExit() {
    exit_timer_->stop();
    may_close_ = true;
    close();
}

void MainFrame::closeEvent(QCloseEvent* event) {
    // The automatic run is stopped and no new one may start; a run in
    // progress is waited for in the event loop, so the window keeps painting
    // and a question of the run can still be answered.
    doc_.SetInterfaceIdle(false);
    doc_.StopAutoSync();
    if (!closing_)
        SaveWindowState(*this, *view_);
    if (!may_close_ && doc_.IsSyncBusy()) {
        if (!closing_ && doc_.GetPrompt() &&
            doc_.GetPrompt()->MessageBox(
                u"A synchronisation is running. Stop it and exit?\r\n"
                u"It stops at its next safe point: what it has not sent stays in the Outbox, "
                u"what it has not read stays on the phone. No waits until it has finished.",
                platform::Buttons::YesNo, platform::Icon::Question) == platform::Answer::Yes)
            doc_.StopSync();
        // It may have ended while the question was open.
        if (doc_.IsSyncBusy()) {
            closing_ = true;
            UpdateCommands();
            view_->SetStatusText(u"Waiting for the synchronisation to end...");
            exit_timer_->start();
            event->ignore();
            return;
        }
    }
    update_timer_->stop();
    doc_.OnCloseDocument();
    event->accept();
}

void MainFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The window manager's frame is known once the window is on show: the
    // whole frame must fit the screen.
    if (!fitted_) {
        fitted_ = true;
        QTimer::singleShot(0, this, [this] { qtsupport::FitToScreen(this); });
    }
}

void MainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !closing_) {
        // Once nothing is in the way: the compose dialog is modal.
        CheckHandoffWhenPossible();
    }
}

}  // namespace parlo
