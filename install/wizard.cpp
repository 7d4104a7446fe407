#include "install/wizard.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSocketNotifier>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <memory>

#include "install/package.h"
#include "platform/prompt.h"
#include "platform/strings.h"
#include "qtsupport/qt_text.h"

namespace install {

namespace {

QString Q(const std::u16string& text) {
    return qtsupport::ToQString(text);
}

QPushButton* Button(QWidget* page, const char* id) {
    auto* button = new QPushButton(page);
    button->setObjectName(id);
    button->setMinimumWidth(90);
    return button;
}

// Next and Cancel at the bottom right of a page.
QHBoxLayout* ButtonRow(QPushButton* next, QPushButton* cancel) {
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(next);
    row->addWidget(cancel);
    return row;
}

}  // namespace

InstallWizard::InstallWizard(const platform::StringTable& strings, Options options, QWidget* parent)
    : QDialog(parent), strings_(strings), options_(std::move(options)) {
    language_ = LanguageFromGlobal(strings_.Load(kIdLanguageGlobal));
    variant_ = strings_.Load(kIdVariantGlobal);
    setObjectName("install");
    resize(480, 360);

    stack_ = new QStackedWidget(this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(stack_);

    // Welcome: the picture and the two buttons.
    welcome_ = new QWidget;
    welcome_->setObjectName("102");
    {
        auto* picture = new QLabel(welcome_);
        picture->setObjectName("131");
        picture->setPixmap(QPixmap(":/install/welcome.png"));
        picture->setAlignment(Qt::AlignCenter);
        picture->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        welcome_next_ = Button(welcome_, "1000");
        welcome_cancel_ = Button(welcome_, "1001");
        auto* layout = new QVBoxLayout(welcome_);
        layout->addWidget(picture, 1);
        layout->addLayout(ButtonRow(welcome_next_, welcome_cancel_));
        connect(welcome_next_, &QPushButton::clicked, this, [this] { ShowStep(Step::Language); });
        connect(welcome_cancel_, &QPushButton::clicked, this, &InstallWizard::Cancel);
    }

    // Language: label and drop-down in a frame.
    language_page_ = new QWidget;
    language_page_->setObjectName("139");
    {
        auto* frame = new QGroupBox(language_page_);
        language_label_ = new QLabel(frame);
        language_label_->setObjectName("1010");
        language_label_->setWordWrap(true);
        language_combo_ = new QComboBox(frame);
        language_combo_->setObjectName("1006");
        for (const char16_t* entry : kLanguageEntries) {
            language_combo_->addItem(QString::fromUtf16(entry));
        }
        auto* inner = new QVBoxLayout(frame);
        inner->addWidget(language_label_);
        inner->addWidget(language_combo_);
        language_next_ = Button(language_page_, "1007");
        language_cancel_ = Button(language_page_, "1008");
        auto* layout = new QVBoxLayout(language_page_);
        layout->addWidget(frame);
        layout->addStretch(1);
        layout->addLayout(ButtonRow(language_next_, language_cancel_));
        connect(language_combo_, &QComboBox::currentIndexChanged, this, [this](int index) {
            if (index < 0 || index > 3)
                return;
            language_ = static_cast<Language>(index);
            ApplyTexts();
        });
        connect(language_next_, &QPushButton::clicked, this, [this] { ShowStep(Step::Agreement); });
        connect(language_cancel_, &QPushButton::clicked, this, &InstallWizard::Cancel);
    }

    // Agreement: the read-only text and the two choices.
    agreement_ = new QWidget;
    agreement_->setObjectName("129");
    {
        agreement_text_ = new QPlainTextEdit(agreement_);
        agreement_text_->setObjectName("1005");
        agreement_text_->setReadOnly(true);
        accept_ = new QRadioButton(agreement_);
        accept_->setObjectName("1003");
        decline_ = new QRadioButton(agreement_);
        decline_->setObjectName("1004");
        auto* choice = new QButtonGroup(agreement_);
        choice->addButton(accept_);
        choice->addButton(decline_);
        agreement_next_ = Button(agreement_, "1002");
        agreement_cancel_ = Button(agreement_, "1000");
        auto* layout = new QVBoxLayout(agreement_);
        layout->addWidget(agreement_text_, 1);
        layout->addWidget(accept_);
        layout->addWidget(decline_);
        layout->addLayout(ButtonRow(agreement_next_, agreement_cancel_));
        connect(accept_, &QRadioButton::toggled, agreement_next_, &QPushButton::setEnabled);
        connect(agreement_next_, &QPushButton::clicked, this,
                [this] { ShowStep(Step::Instructions); });
        connect(agreement_cancel_, &QPushButton::clicked, this, &InstallWizard::Cancel);
    }

    // Instructions: the text in the "Info" frame.
    instructions_ = new QWidget;
    instructions_->setObjectName("141");
    {
        info_frame_ = new QGroupBox(instructions_);
        info_frame_->setObjectName("1013");
        instruction_text_ = new QLabel(info_frame_);
        instruction_text_->setObjectName("1016");
        instruction_text_->setWordWrap(true);
        instruction_text_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
        auto* inner = new QVBoxLayout(info_frame_);
        inner->addWidget(instruction_text_, 1);
        instructions_next_ = Button(instructions_, "1014");
        instructions_cancel_ = Button(instructions_, "1015");
        installing_ = new QLabel(instructions_);
        installing_->setObjectName("installing");
        installing_->setWordWrap(true);
        installing_->hide();
        busy_ = new QProgressBar(instructions_);
        busy_->setObjectName("busy");
        busy_->setRange(0, 0);  // no known end: the bar shows that work goes on
        busy_->setTextVisible(false);
        busy_->hide();
        auto* layout = new QVBoxLayout(instructions_);
        layout->addWidget(info_frame_, 1);
        layout->addWidget(installing_);
        layout->addWidget(busy_);
        layout->addLayout(ButtonRow(instructions_next_, instructions_cancel_));
        connect(instructions_next_, &QPushButton::clicked, this, &InstallWizard::Install);
        connect(instructions_cancel_, &QPushButton::clicked, this, &InstallWizard::Cancel);
    }

    stack_->addWidget(welcome_);
    stack_->addWidget(language_page_);
    stack_->addWidget(agreement_);
    stack_->addWidget(instructions_);
    ShowStep(Step::Welcome);
}

InstallWizard::~InstallWizard() {
    // The waits watch the packages' descriptors: end them before those close.
    for (QObject* wait : findChildren<QObject*>("package-wait", Qt::FindDirectChildrenOnly)) {
        delete wait;
    }
}

QWidget* InstallWizard::page(Step step) const {
    switch (step) {
        case Step::Welcome:
            return welcome_;
        case Step::Language:
            return language_page_;
        case Step::Agreement:
            return agreement_;
        case Step::Instructions:
        case Step::Installing:
            return instructions_;
        case Step::End:
            break;
    }
    return nullptr;
}

std::filesystem::path InstallWizard::PackagePath(int which) const {
    Packages packages = PackagesOf(language_);
    return options_.package_dir / (which == 0 ? packages.updater : packages.suite);
}

QString InstallWizard::Text(unsigned id) const {
    return Q(strings_.Load(id));
}

// Sets the texts of every page for the current language, so that a change on
// the language page shows at once there and on the pages after it.
void InstallWizard::ApplyTexts() {
    const TextIds& ids = TextsOf(language_);
    const QString next = Text(ids.next);
    const QString cancel = Text(ids.cancel);
    for (QPushButton* b : {welcome_next_, language_next_, agreement_next_, instructions_next_}) {
        b->setText(next);
    }
    for (QPushButton* b :
         {welcome_cancel_, language_cancel_, agreement_cancel_, instructions_cancel_}) {
        b->setText(cancel);
    }
    welcome_->setWindowTitle(Text(ids.welcome_caption));
    language_page_->setWindowTitle(Text(ids.language_caption));
    language_label_->setText(Text(ids.language_label));
    agreement_->setWindowTitle(Text(ids.agreement_caption));
    accept_->setText(Text(ids.accept));
    decline_->setText(Text(ids.decline));
    agreement_text_->setPlainText(Q(AgreementText(language_, variant_)));
    instructions_->setWindowTitle(Text(ids.instructions_caption));
    info_frame_->setTitle(Text(kIdInfoFrame));
    instruction_text_->setText(Text(ids.instruction_text));
    if (QWidget* current = stack_->currentWidget())
        setWindowTitle(current->windowTitle());
}

void InstallWizard::ShowStep(Step step) {
    step_ = step;
    if (step == Step::Language) {
        QSignalBlocker block(language_combo_);
        language_combo_->setCurrentIndex(static_cast<int>(language_));
    }
    if (step == Step::Agreement) {
        decline_->setChecked(true);
        agreement_next_->setEnabled(false);
    }
    stack_->setCurrentWidget(page(step));
    ApplyTexts();
}

void InstallWizard::Cancel() {
    if (step_ == Step::Installing || step_ == Step::End)
        return;
    cancelled_ = true;
    step_ = Step::End;
    QDialog::reject();
}

// Escape and the window's close button cancel like the Cancel buttons; while
// the packages run there is nothing to cancel.
void InstallWizard::reject() {
    Cancel();
}

void InstallWizard::Install() {
    if (step_ != Step::Instructions)
        return;
    step_ = Step::Installing;
    instructions_next_->setEnabled(false);
    instructions_cancel_->setEnabled(false);
    setCursor(Qt::WaitCursor);
    ShowInstalling(0);
    first_ = std::make_unique<PackageProcess>();
    if (!first_->Start(PackagePath(0))) {
        Finish(TextsOf(language_).failure);
        return;
    }
    WaitFor(first_.get(), options_.first_timeout_ms, [this] { StartSecond(); });
}

void InstallWizard::StartSecond() {
    ShowInstalling(1);
    second_ = std::make_unique<PackageProcess>();
    if (!second_->Start(PackagePath(1))) {
        Finish(TextsOf(language_).failure);
        return;
    }
    WaitFor(second_.get(), options_.second_timeout_ms,
            [this] { Finish(TextsOf(language_).success); });
}

// Calls `then` once, when the process has ended or the time-out has passed,
// whichever comes first; the event loop keeps running meanwhile.
void InstallWizard::WaitFor(PackageProcess* process, int timeout_ms, std::function<void()> then) {
    auto* wait = new QObject(this);
    wait->setObjectName("package-wait");
    auto over = std::make_shared<bool>(false);
    auto finish = [wait, over, then = std::move(then)] {
        if (*over)
            return;
        *over = true;
        wait->deleteLater();
        then();
    };
    auto* timer = new QTimer(wait);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, wait, finish);
    timer->start(timeout_ms);
    if (process->exit_fd() >= 0) {
        auto* notifier = new QSocketNotifier(process->exit_fd(), QSocketNotifier::Read, wait);
        connect(notifier, &QSocketNotifier::activated, wait, [notifier, process, finish] {
            notifier->setEnabled(false);
            process->Reap();
            finish();
        });
    } else {
        auto* poll = new QTimer(wait);
        poll->setInterval(50);
        connect(poll, &QTimer::timeout, wait, [process, finish] {
            if (process->Reap())
                finish();
        });
        poll->start();
    }
}

// Names the package that runs now, under the instructions, with the busy bar.
void InstallWizard::ShowInstalling(int which) {
    QString text = Text(TextsOf(language_).installing);
    text.replace("%s", QString::fromStdString(PackagePath(which).filename().string()));
    installing_->setText(text);
    installing_->show();
    busy_->show();
}

void InstallWizard::Finish(unsigned message_id) {
    unsetCursor();
    busy_->hide();
    if (options_.prompt != nullptr) {
        options_.prompt->MessageBox(strings_.Load(message_id), platform::Buttons::Ok,
                                    platform::Icon::None,
                                    strings_.Load(TextsOf(language_).welcome_caption));
    }
    step_ = Step::End;
    done(QDialog::Accepted);
}

}  // namespace install
