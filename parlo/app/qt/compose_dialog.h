// The compose and read dialog: writing a new message, and showing, editing,
// re-sending or re-filing a stored one. Its mode is the folder view code of
// the list it was opened from (1..7), or VIEW_NEW (10) for a new message.
//
// Every button ends in a document operation; the dialog never talks to the
// phone ("Send" queues in the Outbox). Reply and Forward close the dialog and
// tell the caller, through Next(), to open a new one for the record selected
// in the main window's current list.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>

namespace platform {
class Prompt;
}

class QCheckBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolBar;

namespace parlo {

class CParloDoc;
class CSmsMessage;

class ComposeDialog : public QDialog {
  public:
    enum class Next { kNone, kReply, kForward };

    // `rec` is the record shown (null for a new message); `phone` and `text`
    // prefill the fields. `push` is the PUSH SMS flag.
    ComposeDialog(CParloDoc& doc, platform::Prompt& prompt, int mode, CSmsMessage* rec,
                  const std::u16string& phone, const std::u16string& text, bool push,
                  QWidget* parent = nullptr);

    // The recipient picker behind "...": returns the chosen recipients, or
    // nothing when the user cancelled. Without one, "..." says that the
    // picker is not available yet.
    using Picker = std::function<std::optional<std::u16string>(QWidget* parent)>;
    void SetRecipientPicker(Picker picker) { picker_ = std::move(picker); }

    int Mode() const { return mode_; }
    Next NextAction() const { return next_; }

    // The counters as shown ("Num. of char.", "Num. of SMS").
    QString CharCountText() const;
    QString SmsCountText() const;

    // Closing the window or Escape acts as the dialog's OK.
    void reject() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void Build();
    void ApplyModeLayout();
    void UpdateCounters();
    void UpdateEnabling();
    bool PhoneValid() const;
    // Why a button that needs text and/or a number is disabled (empty: it
    // is not for that reason).
    QString WhyDisabled(bool needs_text, bool needs_number) const;
    std::u16string Phone() const;
    std::u16string Text() const;

    // Save: a new draft, or the shown record's number and text replaced.
    void Save();
    // OK: saves when Phone and text are both set; then closes.
    void OnOk();
    void OnSend();
    void OnDraft();
    void OnTemplate();
    void OnPick();
    void OnReply();
    void OnForward();
    // A held Outbox message: released, and with `now` sent at once.
    void OnRelease(bool now);

    CParloDoc& doc_;
    platform::Prompt& prompt_;
    int mode_;
    CSmsMessage* rec_;
    std::u16string initial_phone_;
    std::u16string initial_text_;
    Picker picker_;
    Next next_ = Next::kNone;
    bool closing_ = false;

    QToolBar* toolbar_ = nullptr;
    QLineEdit* phone_ = nullptr;
    QPushButton* pick_ = nullptr;
    QLabel* chars_ = nullptr;
    QLabel* sms_ = nullptr;
    QPlainTextEdit* text_ = nullptr;
    QPushButton* send_ = nullptr;
    QPushButton* draft_ = nullptr;
    QPushButton* template_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* reply_ = nullptr;
    QPushButton* forward_ = nullptr;
    QCheckBox* push_ = nullptr;
    QLabel* held_ = nullptr;
    QPushButton* send_again_ = nullptr;
    QPushButton* release_ = nullptr;
};

}  // namespace parlo
