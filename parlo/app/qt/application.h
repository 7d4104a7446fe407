// The Parlo program: start-up with its progress window, the command-line
// number, and the single instance (a second start hands its number to the
// running window and ends).
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <memory>

#include "parlo/app/parlo_doc.h"

class QLabel;
class QLocalServer;
class QProgressBar;

namespace qtsupport {
class MessageBoxPrompt;
}

namespace parlo {

class IParloDialogs;
class MainFrame;
class QtParloView;

// The small window shown while the document loads (caption "Skyvane", a
// status text and a progress bar of five steps).
class StartProgressWindow : public QDialog, public CStartProgress {
  public:
    explicit StartProgressWindow(QWidget* parent = nullptr);
    void SetRange(int steps) override;
    void SetStatus(const std::u16string& text) override;
    void Step() override;
    // Waits (briefly) until the window is on the screen and paints it, so
    // that it never stays a blank frame while the store loads.
    void PaintNow();
    int Position() const;
    QString Status() const;

  private:
    QLabel* status_;
    QProgressBar* bar_;
};

// The number of a command line: the one argument that is not a switch
// (arguments[0] is the program). Empty when there is none.
QString CommandLineNumber(const QStringList& arguments);

class ParloApplication {
  public:
    // `dialogs`: null for the program's own (CreateParloDialogs); tests pass
    // a recorder. It must outlive the application.
    explicit ParloApplication(IParloDialogs* dialogs = nullptr);
    ~ParloApplication();

    // The start-up: the document's start sequence behind the progress
    // window, the main window, and a new message to `number` once the window
    // shows. False when the program cannot run (no modem): it ends.
    bool Start(const QString& number, const StartOptions& options = {});

    CParloDoc& Doc() { return *doc_; }
    MainFrame* Frame() const { return frame_.get(); }
    // The progress window's last state (for the tests).
    int StartSteps() const { return start_steps_; }

    // The name under which the running instance listens; it depends on the
    // installation directory, so that separate installations do not meet.
    static QString InstanceName();
    // Hands `number` (may be empty) to a running instance. False when none
    // is running, or when it does not take the number within `timeout_ms`
    // (it is ending, or hangs).
    static bool HandOver(const QString& number, int timeout_ms = 2000);

  private:
    bool Listen();
    void OnHandOver(const QString& number);

    std::unique_ptr<IParloDialogs> own_dialogs_;
    IParloDialogs* dialogs_;
    std::unique_ptr<qtsupport::MessageBoxPrompt> prompt_;
    std::unique_ptr<QtParloView> view_;
    std::unique_ptr<CParloDoc> doc_;
    std::unique_ptr<MainFrame> frame_;
    std::unique_ptr<QLocalServer> server_;
    int start_steps_ = 0;
};

}  // namespace parlo
