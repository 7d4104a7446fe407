#include "updater/window.h"

#include <QApplication>
#include <QDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <thread>

#include "platform/process.h"
#include "qtsupport/qt_text.h"
#include "updater/engine.h"

namespace updater {

namespace {

QString Q(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), bytes.size());
}
QString Q(const std::u16string& text) {
    return qtsupport::ToQString(text);
}

QPushButton* Button(const QString& text, const char* id = nullptr) {
    auto* button = new QPushButton(text);
    if (id)
        button->setObjectName(id);
    return button;
}

QLabel* Text(const QString& text) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    return label;
}

QHBoxLayout* ButtonRow(QPushButton* left, QPushButton* right) {
    auto* row = new QHBoxLayout;
    row->addWidget(left);
    row->addStretch();
    if (right)
        row->addWidget(right);
    return row;
}

QString Kb(int64_t bytes) {
    return QString::asprintf("%d kb", static_cast<int>(bytes / 1024));
}

// A modal dialog whose Cancel (button, Escape, close box) only raises the
// engine's cancel flag; the worker closes the dialog when it has stopped.
class WorkDialog : public QDialog {
  public:
    WorkDialog(Engine* engine, QWidget* parent) : QDialog(parent), engine_(engine) {
        setModal(true);
    }
    QPushButton* cancel = nullptr;
    void reject() override {
        engine_->Cancel();
        if (cancel)
            cancel->setEnabled(false);
    }

  private:
    Engine* engine_;
};

void Place(QDialog* dialog, QWidget* frame, int x, int y, int w, int h) {
    dialog->setFixedSize(w, h);
    dialog->move(frame->mapToGlobal(QPoint(x, y)));
}

// Runs `work` on a thread while `dialog` is open; returns the work's result.
template <typename Work>
int RunBehind(QDialog* dialog, Work work) {
    int result = 2;
    QPointer<QDialog> target(dialog);
    std::thread worker([&result, target, work]() {
        int r = work();
        QMetaObject::invokeMethod(
            qApp,
            [target, r]() {
                if (target)
                    target->done(r);
            },
            Qt::QueuedConnection);
        result = r;
    });
    dialog->exec();
    worker.join();
    return result;
}

}  // namespace

UpdaterWindow::UpdaterWindow(Engine* engine, QWidget* parent)
    : QWidget(parent), engine_(engine), stack_(new QStackedWidget) {
    setWindowTitle("Updater");
    stack_->addWidget(MakeMainView());
    stack_->addWidget(MakeErrorView());
    stack_->addWidget(MakeFilesView());
    stack_->addWidget(MakeRunningView());
    stack_->addWidget(MakeDoneView());
    stack_->addWidget(MakeNoUpdatesView());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(stack_);
    resize(240, 320);
    Show(kMainView);
}

QWidget* UpdaterWindow::MakeMainView() {
    auto* view = new QWidget;
    view->setObjectName(kMainView);
    auto* title = Text("Tarnwell Application Updater");
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    title->setAlignment(Qt::AlignCenter);
    product_label_ = Text("Product to update: " + Q(engine_->app_name()));
    auto* pending = Text(Q(Engine::Text(65039)));
    pending->setObjectName("pending");
    pending->setVisible(engine_->restart_pending());
    auto* box = new QGroupBox("Update info");
    auto* box_layout = new QVBoxLayout(box);
    box_layout->addWidget(
        Text("Updater version 1.00\n\nPress 'Quit' to end or press 'Check updates' to check "
             "for new updates."));
    box_layout->addStretch();
    auto* quit = Button("Quit");
    auto* check = Button("Check updates", "1006");
    connect(quit, &QPushButton::clicked, this, &QWidget::close);
    connect(check, &QPushButton::clicked, this, [this] { Check(); });
    auto* layout = new QVBoxLayout(view);
    layout->addWidget(title);
    layout->addWidget(product_label_);
    layout->addWidget(pending);
    layout->addWidget(box, 1);
    layout->addLayout(ButtonRow(quit, check));
    return view;
}

QWidget* UpdaterWindow::MakeErrorView() {
    auto* view = new QWidget;
    view->setObjectName(kErrorView);
    error_label_ = Text("Error, can not connect to internet");
    error_label_->setObjectName("error_text");
    auto* quit = Button("Quit");
    auto* retry = Button("Retry", "1015");
    connect(quit, &QPushButton::clicked, this, &QWidget::close);
    connect(retry, &QPushButton::clicked, this, [this] {
        bool files =
            engine_->download_started() && engine_->install_mode() != InstallMode::kUpdater;
        Show(files ? kFilesView : kMainView);
    });
    auto* layout = new QVBoxLayout(view);
    layout->addWidget(error_label_);
    layout->addStretch();
    layout->addLayout(ButtonRow(quit, retry));
    return view;
}

QWidget* UpdaterWindow::MakeFilesView() {
    auto* view = new QWidget;
    view->setObjectName(kFilesView);
    files_ = new QTreeWidget;
    files_->setObjectName("1005");
    files_->setColumnCount(2);
    files_->setHeaderLabels({"Name", "Size"});
    files_->setRootIsDecorated(false);
    files_->header()->setStretchLastSection(false);
    files_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    files_->header()->resizeSection(1, 70);
    files_->setColumnWidth(0, 160);
    connect(files_, &QTreeWidget::itemChanged, this,
            [this](QTreeWidgetItem* item, int) { RowChanged(item); });
    total_label_ = new QLabel;
    total_label_->setObjectName("total");
    auto* total_row = new QHBoxLayout;
    total_row->addWidget(new QLabel("Total size:"));
    total_row->addWidget(total_label_);
    total_row->addStretch();
    update_button_ = Button("Update", "1009");
    auto* cancel = Button("Cancel");
    connect(update_button_, &QPushButton::clicked, this, [this] { Update(); });
    connect(cancel, &QPushButton::clicked, this, [this] { Show(kMainView); });
    auto* layout = new QVBoxLayout(view);
    layout->addWidget(files_, 1);
    layout->addLayout(total_row);
    layout->addLayout(ButtonRow(update_button_, cancel));
    return view;
}

QWidget* UpdaterWindow::MakeRunningView() {
    auto* view = new QWidget;
    view->setObjectName(kRunningView);
    auto* quit = Button("Quit");
    auto* retry = Button("Retry", "1015");
    connect(quit, &QPushButton::clicked, this, &QWidget::close);
    connect(retry, &QPushButton::clicked, this, [this] { Show(kMainView); });
    auto* layout = new QVBoxLayout(view);
    layout->addWidget(Text("Application is still running"));
    layout->addStretch();
    layout->addLayout(ButtonRow(quit, retry));
    return view;
}

QWidget* UpdaterWindow::MakeDoneView() {
    auto* view = new QWidget;
    view->setObjectName(kDoneView);
    done_label_ = Text(QString());
    done_label_->setObjectName("result_text");
    done_quit_ = Button("Quit");
    reset_button_ = Button("Reset", "1004");
    connect(done_quit_, &QPushButton::clicked, this, &QWidget::close);
    connect(reset_button_, &QPushButton::clicked, this, [] { platform::RebootDevice(); });
    auto* layout = new QVBoxLayout(view);
    layout->addWidget(done_label_);
    layout->addStretch();
    auto* row = new QHBoxLayout;
    row->addWidget(done_quit_);
    row->addStretch();
    row->addWidget(reset_button_);
    layout->addLayout(row);
    return view;
}

QWidget* UpdaterWindow::MakeNoUpdatesView() {
    auto* view = new QWidget;
    view->setObjectName(kNoUpdatesView);
    auto* quit = Button("Quit");
    connect(quit, &QPushButton::clicked, this, &QWidget::close);
    auto* layout = new QVBoxLayout(view);
    layout->addWidget(Text("No available updates"));
    layout->addStretch();
    layout->addLayout(ButtonRow(quit, nullptr));
    return view;
}

void UpdaterWindow::Show(const char* view) {
    for (int i = 0; i < stack_->count(); ++i) {
        if (stack_->widget(i)->objectName() == view)
            stack_->setCurrentIndex(i);
    }
}

QString UpdaterWindow::CurrentView() const {
    return stack_->currentWidget()->objectName();
}

void UpdaterWindow::CheckSoon() {
    QTimer::singleShot(500, this, [this] { Check(); });
}

void UpdaterWindow::ShowError() {
    error_label_->setText(Q(engine_->error_text()));
    Show(kErrorView);
}

void UpdaterWindow::Check() {
    product_label_->setText("Product to update: " + Q(engine_->app_name()));
    WorkDialog dialog(engine_, this);
    dialog.setObjectName("135");
    dialog.setWindowTitle("Updater");
    auto* text = Text("Preparing to check. \nPlease wait.");
    text->setObjectName("status");
    dialog.cancel = Button("Cancel");
    connect(dialog.cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(text, 1);
    layout->addWidget(dialog.cancel, 0, Qt::AlignHCenter);
    Place(&dialog, this, 20, 50, 200, 110);
    QPointer<QLabel> status(text);
    engine_->on_status = [status](const std::u16string& line) {
        QString s = Q(line);
        QMetaObject::invokeMethod(
            qApp,
            [status, s]() {
                if (status)
                    status->setText(s);
            },
            Qt::QueuedConnection);
    };
    Engine* engine = engine_;
    RunBehind(&dialog, [engine] { return engine->RunCheck(); });
    engine_->on_status = nullptr;
    switch (engine_->CheckOutcome()) {
        case Outcome::kNone:
        case Outcome::kCancelled:
            Show(kMainView);
            break;
        case Outcome::kError:
            ShowError();
            break;
        case Outcome::kSelfUpdate:
            SelfUpdate();
            break;
        case Outcome::kAppRunning:
            Show(kRunningView);
            break;
        case Outcome::kNoUpdates:
            Show(kNoUpdatesView);
            break;
        case Outcome::kFiles:
            FillFiles();
            Show(kFilesView);
            break;
    }
}

void UpdaterWindow::FillFiles() {
    filling_ = true;
    files_->clear();
    const std::vector<Group>& groups = engine_->groups();
    for (size_t g = 0; g < groups.size(); ++g) {
        if (groups[g].items.empty())
            continue;
        auto* row = new QTreeWidgetItem(files_);
        row->setText(0, Q(groups[g].label));
        row->setData(0, Qt::UserRole, static_cast<int>(g));
        row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
        row->setCheckState(0, groups[g].selected ? Qt::Checked : Qt::Unchecked);
    }
    filling_ = false;
    RefreshSizes();
}

void UpdaterWindow::RowChanged(QTreeWidgetItem* item) {
    if (filling_ || !item)
        return;
    // Store every row's state, then choose the files again.
    for (int i = 0; i < files_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = files_->topLevelItem(i);
        engine_->SetGroupSelected(row->data(0, Qt::UserRole).toInt(),
                                  row->checkState(0) == Qt::Checked);
    }
    RefreshSizes();
}

void UpdaterWindow::RefreshSizes() {
    filling_ = true;
    const std::vector<Group>& groups = engine_->groups();
    for (int i = 0; i < files_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = files_->topLevelItem(i);
        row->setText(1, Kb(groups[row->data(0, Qt::UserRole).toInt()].size));
    }
    filling_ = false;
    total_label_->setText(Kb(engine_->TotalSize()));
    update_button_->setEnabled(engine_->AnyGroupSelected());
}

int UpdaterWindow::Download() {
    WorkDialog dialog(engine_, this);
    dialog.setObjectName("139");
    dialog.setWindowTitle("Updater");
    auto* product = Text("Updating: " + Q(engine_->product()));
    auto* group = Text("Download:");
    group->setObjectName("group");
    auto* bar = new QProgressBar;
    bar->setObjectName("1018");
    bar->setRange(0, 100);
    bar->setValue(0);
    dialog.cancel = Button("Cancel");
    connect(dialog.cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(product);
    layout->addWidget(group);
    layout->addWidget(bar);
    layout->addWidget(dialog.cancel, 0, Qt::AlignHCenter);
    Place(&dialog, this, 10, 50, 220, 100);
    QTimer timer;
    connect(&timer, &QTimer::timeout, &dialog, [this, bar, group] {
        bar->setValue(engine_->ProgressTick());
        group->setText("Download: " + Q(engine_->progress_label()));
    });
    timer.start(500);
    Engine* engine = engine_;
    int result = RunBehind(&dialog, [engine] { return engine->RunDownload(); });
    timer.stop();
    return result;
}

void UpdaterWindow::Update() {
    engine_->PrepareDownload();
    int result = Download();
    if (engine_->cancelled()) {
        engine_->AbandonDownload();
        return;
    }
    if (engine_->download_failed()) {
        engine_->AbandonDownload();
        ShowError();
        return;
    }
    if (result != 1)
        return;
    InstallAndFinish();
}

void UpdaterWindow::InstallAndFinish() {
    {
        QDialog wait(this);
        wait.setObjectName("147");
        wait.setWindowTitle("Updater");
        auto* layout = new QVBoxLayout(&wait);
        layout->addWidget(Text("Upgrading files, please wait."));
        Place(&wait, this, 20, 50, 200, 80);
        wait.show();
        QApplication::processEvents();
        engine_->Install();
    }
    if (engine_->refused()) {
        // A file changed after its download: nothing was put in place.
        ShowError();
        return;
    }
    engine_->log().Write("Switch to Done");
    bool reset = engine_->install_mode() == InstallMode::kReset;
    std::u16string text = Engine::Text(reset ? 65019 : 65016);
    if (engine_->list_unverified())
        text += u"\n\n" + Engine::Text(65046);
    done_label_->setText(Q(text));
    done_quit_->setVisible(!reset);
    reset_button_->setVisible(reset);
    Show(kDoneView);
}

void UpdaterWindow::SelfUpdate() {
    engine_->BeginSelfUpdate();
    Download();
    if (engine_->cancelled()) {
        engine_->AbandonDownload();
        Show(kMainView);
        return;
    }
    if (engine_->download_failed()) {
        engine_->AbandonDownload();
        ShowError();
        return;
    }
    engine_->Install();
    if (engine_->install_error()) {
        ShowError();
        return;
    }
    if (!engine_->HandOver()) {
        error_label_->setText("Error, can not start SelfUpdate.");
        Show(kErrorView);
        return;
    }
    close();
    QApplication::quit();
}

}  // namespace updater
