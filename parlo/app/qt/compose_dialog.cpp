#include "parlo/app/qt/compose_dialog.h"

#include <QAction>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>

#include "parlo/app/parlo_doc.h"
#include "parlo/contacts/contact_entry.h"
#include "parlo_strings.h"
#include "platform/prompt.h"
#include "platform/strings.h"
#include "qtsupport/dialog_layout.h"

namespace parlo {

namespace {

constexpr unsigned IDS_SAVE = 65003;
constexpr unsigned IDS_CUT = 57635;
constexpr unsigned IDS_COPY = 57634;
constexpr unsigned IDS_PASTE = 57637;

QString Q(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

QPushButton* Button(const QString& text, const char* id) {
    auto* b = new QPushButton(text);
    b->setObjectName(id);
    b->setAutoDefault(false);
    return b;
}

// The edit shows line breaks as "\n"; stored texts keep the "\r\n" of the
// handheld's edit control, so that a line break counts as two characters
// both in the counter and in what the sender transmits.
QString ForDisplay(const std::u16string& text) {
    QString s = Q(text);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return s;
}

std::u16string FromDisplay(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text.toStdU16String();
}

}  // namespace

ComposeDialog::ComposeDialog(CParloDoc& doc, platform::Prompt& prompt, int mode, CSmsMessage* rec,
                             const std::u16string& phone, const std::u16string& text, bool push,
                             QWidget* parent)
    : QDialog(parent),
      doc_(doc),
      prompt_(prompt),
      mode_(mode),
      rec_(rec),
      initial_phone_(phone),
      initial_text_(text) {
    setObjectName("136");
    setWindowTitle("SMS");
    Build();
    phone_->setText(Q(phone));
    text_->setPlainText(ForDisplay(text));
    push_->setChecked(push);
    UpdateCounters();
    ApplyModeLayout();
    UpdateEnabling();
    connect(phone_, &QLineEdit::textChanged, this, [this] { UpdateEnabling(); });
    connect(text_, &QPlainTextEdit::textChanged, this, [this] {
        UpdateCounters();
        UpdateEnabling();
    });
    if (mode_ != VIEW_INBOX && !phone_->text().isEmpty()) {
        text_->setFocus();
        text_->moveCursor(QTextCursor::End);
    } else {
        phone_->setFocus();
    }
    qtsupport::FitPushButtons(this);
    resize(sizeHint().expandedTo(QSize(520, 420)));
}

bool ComposeDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == text_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (enter && (key->modifiers() & Qt::ControlModifier)) {
            if (send_->isVisible() && send_->isEnabled())
                OnSend();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ComposeDialog::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && mode_ == VIEW_INBOX) {
        OnOk();
        return;
    }
    if (enter)
        return;  // no button is pressed by Return: the text takes line breaks
    QDialog::keyPressEvent(event);
}

void ComposeDialog::Build() {
    const platform::StringTable& table = strings::parlo();
    toolbar_ = new QToolBar(this);
    toolbar_->setObjectName("137");
    toolbar_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    QAction* cut = toolbar_->addAction(Q(table.Load(IDS_CUT)));
    cut->setObjectName("57635");
    QAction* copy = toolbar_->addAction(Q(table.Load(IDS_COPY)));
    copy->setObjectName("57634");
    QAction* paste = toolbar_->addAction(Q(table.Load(IDS_PASTE)));
    paste->setObjectName("57637");

    phone_ = new QLineEdit;
    phone_->setObjectName("1002");
    pick_ = Button("...", "1003");
    chars_ = new QLabel("123");
    chars_->setObjectName("1008");
    sms_ = new QLabel("123");
    sms_->setObjectName("1009");
    text_ = new QPlainTextEdit;
    text_->setObjectName("1004");
    text_->setTabChangesFocus(true);
    send_ = Button("Send", "1005");
    draft_ = Button("as Draft", "1006");
    template_ = Button("as Template", "1007");
    ok_ = Button("OK", "1");
    ok_->hide();
    reply_ = Button("Reply", "1037");
    forward_ = Button("Forward", "1038");
    push_ = new QCheckBox("PUSH SMS");
    push_->setObjectName("1070");
    push_->hide();
    held_ = new QLabel("Held: this message may have gone out already.");
    held_->setObjectName("Held");
    held_->setWordWrap(true);
    held_->hide();
    send_again_ = Button("Send again", "SendAgain");
    send_again_->setToolTip("Send it once more now");
    send_again_->hide();
    release_ = Button("Release", "Release");
    release_->setToolTip("Have it sent at the next synchronisation");
    release_->hide();
    connect(send_again_, &QPushButton::clicked, this, [this] { OnRelease(true); });
    connect(release_, &QPushButton::clicked, this, [this] { OnRelease(false); });

    connect(cut, &QAction::triggered, text_, &QPlainTextEdit::cut);
    connect(copy, &QAction::triggered, text_, &QPlainTextEdit::copy);
    connect(paste, &QAction::triggered, text_, &QPlainTextEdit::paste);
    connect(send_, &QPushButton::clicked, this, &ComposeDialog::OnSend);
    connect(draft_, &QPushButton::clicked, this, &ComposeDialog::OnDraft);
    connect(template_, &QPushButton::clicked, this, &ComposeDialog::OnTemplate);
    connect(ok_, &QPushButton::clicked, this, &ComposeDialog::OnOk);
    connect(reply_, &QPushButton::clicked, this, &ComposeDialog::OnReply);
    connect(forward_, &QPushButton::clicked, this, &ComposeDialog::OnForward);
    connect(pick_, &QPushButton::clicked, this, &ComposeDialog::OnPick);
    // Return in Phone goes on to the text; Return in the text is a line
    // break; Ctrl+Return sends.
    // A received message is read only: there Return closes the dialog.
    connect(phone_, &QLineEdit::returnPressed, this, [this] {
        if (mode_ == VIEW_INBOX)
            OnOk();
        else
            text_->setFocus();
    });
    text_->installEventFilter(this);

    auto* phone_row = new QHBoxLayout;
    auto* phone_label = new QLabel("Phone");
    phone_label->setBuddy(phone_);
    phone_row->addWidget(phone_label);
    phone_row->addWidget(phone_, 1);
    phone_row->addWidget(pick_);

    auto* count_row = new QHBoxLayout;
    count_row->addWidget(new QLabel("Num. of char."));
    count_row->addWidget(chars_);
    count_row->addSpacing(16);
    count_row->addWidget(new QLabel("Num. of SMS"));
    count_row->addWidget(sms_);
    count_row->addStretch(1);
    count_row->addWidget(push_);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(send_again_);
    buttons->addWidget(release_);
    buttons->addWidget(send_);
    buttons->addWidget(draft_);
    buttons->addWidget(template_);
    buttons->addStretch(1);
    buttons->addWidget(reply_);
    buttons->addWidget(forward_);
    buttons->addWidget(ok_);

    // A long message with parts missing says so above its text.
    auto* incomplete = new QLabel;
    incomplete->setObjectName("incomplete");
    incomplete->hide();
    PartsCount parts;
    CSmsMessage shown;
    if (rec_ && mode_ != VIEW_NEW && doc_.Store().Read(rec_, &shown) &&
        doc_.MessageParts(shown, &parts) && !parts.Complete()) {
        incomplete->setText(QStringLiteral("Incomplete: %1 of %2 parts received")
                                .arg(parts.received)
                                .arg(parts.total));
        incomplete->show();
    }

    auto* body = new QVBoxLayout;
    body->addLayout(phone_row);
    body->addLayout(count_row);
    body->addWidget(incomplete);
    body->addWidget(text_, 1);
    body->addWidget(held_);
    body->addLayout(buttons);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(toolbar_);
    auto* inner = new QWidget;
    inner->setLayout(body);
    outer->addWidget(inner, 1);
}

void ComposeDialog::ApplyModeLayout() {
    const platform::StringTable& table = strings::parlo();
    switch (mode_) {
        case VIEW_INBOX:
            template_->hide();
            pick_->hide();
            draft_->hide();
            send_->hide();
            phone_->setReadOnly(true);
            text_->setReadOnly(true);
            break;
        case VIEW_OUTBOX: {
            send_->hide();
            reply_->hide();
            draft_->setText(Q(table.Load(IDS_SAVE)));
            push_->show();
            push_->setEnabled(false);
            CSmsMessage copy;
            if (rec_ && doc_.Store().Read(rec_, &copy) && CParloDoc::IsHeld(copy)) {
                held_->show();
                send_again_->show();
                release_->show();
            }
            break;
        }
        case VIEW_SENT:
            reply_->hide();
            break;
        case VIEW_DRAFT:
            reply_->hide();
            draft_->setText(Q(table.Load(IDS_SAVE)));
            break;
        case VIEW_TEMPLATES:
            reply_->hide();
            forward_->hide();
            break;
        case VIEW_NEW:
            reply_->hide();
            forward_->hide();
            push_->show();
            push_->setEnabled(true);
            break;
        default:
            break;
    }
}

std::u16string ComposeDialog::Phone() const {
    return phone_->text().toStdU16String();
}

std::u16string ComposeDialog::Text() const {
    QString shown = text_->toPlainText();
    if (shown == ForDisplay(initial_text_))
        return initial_text_;  // unchanged: keep the stored line breaks as they are
    return FromDisplay(shown);
}

bool ComposeDialog::PhoneValid() const {
    // At least one number between the ";": ";;" is no recipient.
    return IsValidNumber(Phone()) && !CParloDoc::SplitNumbers(Phone()).empty();
}

QString ComposeDialog::WhyDisabled(bool needs_text, bool needs_number) const {
    if (needs_text && text_->toPlainText().isEmpty())
        return QStringLiteral("Type the message text first.");
    if (needs_number && Phone().empty())
        return QStringLiteral("Type a phone number first, or pick one with \"...\".");
    if (needs_number && !PhoneValid())
        return QStringLiteral(
                   "\"%1\" is not a phone number: use digits, a leading + and "
                   "\";\" between several numbers.")
            .arg(phone_->text());
    return {};
}

QString ComposeDialog::CharCountText() const {
    return chars_->text();
}

QString ComposeDialog::SmsCountText() const {
    return sms_->text();
}

void ComposeDialog::UpdateCounters() {
    const std::u16string text = Text();
    chars_->setText(QString::number(static_cast<int>(text.size())));
    sms_->setText(QString::number(doc_.SmsCount(text)));
}

void ComposeDialog::UpdateEnabling() {
    const bool t = !text_->toPlainText().isEmpty();
    const bool v = PhoneValid();
    // Send also needs a number a message can go to (";;" names none).
    const bool s = v && CParloDoc::CanSendTo(Phone());
    switch (mode_) {
        case VIEW_OUTBOX:
            template_->setEnabled(t);
            forward_->setEnabled(t);
            draft_->setEnabled(t && v);
            break;
        case VIEW_SENT:
        case VIEW_DRAFT:
            template_->setEnabled(t);
            forward_->setEnabled(t);
            draft_->setEnabled(t && v);
            send_->setEnabled(t && s);
            break;
        case VIEW_TEMPLATES:
            draft_->setEnabled(t && v);
            send_->setEnabled(t && s);
            break;
        case VIEW_USER_FOLDER:
        case VIEW_RECYCLE:
            template_->setEnabled(t);
            forward_->setEnabled(t);
            draft_->setEnabled(t && v);
            send_->setEnabled(t && s);
            reply_->setEnabled(v);
            break;
        case VIEW_NEW:
            template_->setEnabled(t);
            draft_->setEnabled(t && v);
            send_->setEnabled(t && s);
            break;
        default:
            break;
    }
    // A disabled button says why.
    const std::pair<QPushButton*, std::pair<bool, bool>> needs[] = {
        {send_, {true, true}},     {draft_, {true, true}},  {template_, {true, false}},
        {forward_, {true, false}}, {reply_, {false, true}},
    };
    for (const auto& [button, need] : needs) {
        if (button)
            button->setToolTip(button->isEnabled() ? QString()
                                                   : WhyDisabled(need.first, need.second));
    }
}

void ComposeDialog::Save() {
    const std::u16string phone = Phone();
    const std::u16string text = Text();
    if (rec_ && phone == initial_phone_ && text == initial_text_)
        return;  // nothing changed: the record stays as stored
    doc_.SaveDraft(rec_, phone, text);
}

void ComposeDialog::OnOk() {
    if (closing_)
        return;
    if (!Phone().empty() && !text_->toPlainText().isEmpty()) {
        if (!PhoneValid() &&
            prompt_.MessageBox(u"The number \"" + Phone() +
                                   u"\" is not a valid phone number.\r\n"
                                   u"Save the message as a draft anyway?",
                               platform::Buttons::YesNo,
                               platform::Icon::Question) != platform::Answer::Yes) {
            next_ = Next::kNone;
            phone_->setFocus();
            return;  // back to the dialog: nothing typed is lost
        }
        Save();
    } else if (Text() != initial_text_ && !text_->toPlainText().isEmpty()) {
        // The text would be thrown away without a word: ask first.
        if (prompt_.MessageBox(u"The message has no number and is not saved.\r\n"
                               u"Close and discard it?",
                               platform::Buttons::YesNo,
                               platform::Icon::Question) != platform::Answer::Yes) {
            next_ = Next::kNone;
            return;
        }
    }
    closing_ = true;
    accept();
}

void ComposeDialog::reject() {
    next_ = Next::kNone;
    OnOk();
}

void ComposeDialog::OnSend() {
    if (closing_ || !send_->isEnabled())
        return;
    const CParloDoc::SendResult sent =
        doc_.Send(Phone(), Text(), push_->isChecked(), mode_, mode_ == VIEW_DRAFT ? rec_ : nullptr);
    if (sent.queued == 0 && sent.not_stored.empty()) {
        // Phone held no number between its ";": nothing to send.
        prompt_.MessageBox(u"There is no phone number to send to.", platform::Buttons::Ok,
                           platform::Icon::Warning);
        phone_->setFocus();
        return;
    }
    closing_ = true;
    accept();
}

void ComposeDialog::OnRelease(bool now) {
    if (closing_)
        return;
    if (!PhoneValid()) {
        prompt_.MessageBox(WhyDisabled(false, true).toStdU16String(), platform::Buttons::Ok,
                           platform::Icon::Warning);
        phone_->setFocus();
        return;
    }
    Save();  // an edited number or text goes out as edited
    // Not held any more (another program released or sent it): nothing to
    // do; a release that could not be stored was reported by the document.
    if (now)
        doc_.SendAgain(rec_);
    else
        doc_.ReleaseHeld(rec_);
    closing_ = true;
    accept();
}

void ComposeDialog::OnDraft() {
    if (closing_ || !draft_->isEnabled())
        return;
    if (mode_ == VIEW_OUTBOX || mode_ == VIEW_DRAFT || mode_ == VIEW_NEW)
        Save();
    else
        doc_.AddDraft(Phone(), Text());
    closing_ = true;
    accept();
}

void ComposeDialog::OnTemplate() {
    if (closing_ || !template_->isEnabled())
        return;
    if (mode_ == VIEW_TEMPLATES)
        Save();
    else
        doc_.AddTemplate(Text());
    closing_ = true;
    accept();
}

void ComposeDialog::OnPick() {
    if (!picker_) {
        prompt_.MessageBox(u"The recipient picker is not available yet.", platform::Buttons::Ok,
                           platform::Icon::Information);
        return;
    }
    std::optional<std::u16string> picked = picker_(this);
    if (!picked)
        return;
    std::u16string number = *picked;
    CleanNumber(number);
    // The picked numbers join those typed; one already there is not repeated.
    std::u16string typed = Phone();
    const std::vector<std::u16string> have = CParloDoc::SplitNumbers(typed);
    for (const std::u16string& n : CParloDoc::SplitNumbers(number)) {
        if (std::find(have.begin(), have.end(), n) != have.end())
            continue;
        if (!typed.empty() && typed.back() != u';')
            typed += u';';
        typed += n;
    }
    phone_->setText(Q(typed));
}

void ComposeDialog::OnReply() {
    next_ = Next::kReply;
    OnOk();
}

void ComposeDialog::OnForward() {
    next_ = Next::kForward;
    OnOk();
}

}  // namespace parlo
