#include "parlo/app/qt/application.h"

#include <unistd.h>

#include <QApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "parlo/app/qt/dialogs.h"
#include "parlo/app/qt/main_frame.h"
#include "parlo/app/qt/main_view.h"
#include "parlo/app/qt/qt_view.h"
#include "parlo/contacts/contact_entry.h"
#include "platform/paths.h"
#include "qtsupport/message_prompt.h"
#include "qtsupport/qt_text.h"

namespace parlo {

namespace {

constexpr int kMaxHandOverBytes = 4096;
constexpr int kExposeWaitMs = 2000;

}  // namespace

StartProgressWindow::StartProgressWindow(QWidget* parent) : QDialog(parent) {
    setObjectName("164");
    setWindowTitle(QStringLiteral("Skyvane"));
    status_ = new QLabel(this);
    status_->setObjectName("1073");
    bar_ = new QProgressBar(this);
    bar_->setObjectName("1012");
    bar_->setTextVisible(false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(status_);
    layout->addWidget(bar_);
    setMinimumWidth(320);
}

void StartProgressWindow::SetRange(int steps) {
    bar_->setRange(0, steps);
    bar_->setValue(0);
}

void StartProgressWindow::SetStatus(const std::u16string& text) {
    status_->setText(qtsupport::ToQString(text));
    // The window paints while the loading goes on.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void StartProgressWindow::Step() {
    bar_->setValue(bar_->value() + 1);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void StartProgressWindow::PaintNow() {
    // The window manager maps the window a little later: until it is
    // exposed, a paint would go nowhere and the window stay a blank frame.
    QDeadlineTimer deadline(kExposeWaitMs);
    while (!deadline.hasExpired() && !(windowHandle() && windowHandle()->isExposed()))
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

int StartProgressWindow::Position() const {
    return bar_->value();
}

QString StartProgressWindow::Status() const {
    return status_->text();
}

QString CommandLineNumber(const QStringList& arguments) {
    for (int i = 1; i < arguments.size(); ++i) {
        if (!arguments[i].startsWith('-') && !arguments[i].isEmpty())
            return arguments[i];
    }
    return {};
}

ParloApplication::ParloApplication(IParloDialogs* dialogs) : dialogs_(dialogs) {
    if (!dialogs_) {
        own_dialogs_ = CreateParloDialogs();
        dialogs_ = own_dialogs_.get();
    }
}

ParloApplication::~ParloApplication() {
    if (server_)
        server_->close();
    frame_.reset();
    doc_.reset();  // stops the automatic run and waits for a busy one
}

QString ParloApplication::InstanceName() {
    const QByteArray dir = QByteArray::fromStdString(platform::InstallDir().string());
    const QByteArray hash =
        QCryptographicHash::hash(dir, QCryptographicHash::Sha1).toHex().left(12);
    return QString("skyvane-parlo-%1-%2").arg(getuid()).arg(QString::fromLatin1(hash));
}

bool ParloApplication::HandOver(const QString& number, int timeout_ms) {
    QLocalSocket socket;
    socket.connectToServer(InstanceName());
    if (!socket.waitForConnected(timeout_ms))
        return false;
    socket.write(number.toUtf8() + "\n");
    socket.flush();
    // The running window answers "ok" when it takes the number; one that is
    // ending (or hangs) does not, and this start then shows its own window.
    QByteArray answer;
    QDeadlineTimer deadline(timeout_ms);
    while (!answer.contains('\n') && !deadline.hasExpired() &&
           socket.state() == QLocalSocket::ConnectedState) {
        if (socket.waitForReadyRead(
                static_cast<int>(std::max<qint64>(1, deadline.remainingTime()))))
            answer += socket.readAll();
    }
    answer += socket.readAll();
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(timeout_ms);
    return answer.startsWith("ok");
}

bool ParloApplication::Listen() {
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    const QString name = InstanceName();
    if (!server_->listen(name)) {
        // A socket left behind by an instance that ended without closing it:
        // no instance answered the hand-over, so it is stale.
        QLocalServer::removeServer(name);
        if (!server_->listen(name))
            return false;
    }
    QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            QPointer<QLocalSocket> s(socket);
            auto buffer = std::make_shared<QByteArray>();
            auto finish = [this, s, buffer] {
                if (!s)
                    return;
                const int end = buffer->indexOf('\n');
                if (end < 0 && s->state() == QLocalSocket::ConnectedState)
                    return;  // more to come
                const QString number =
                    QString::fromUtf8(buffer->left(end < 0 ? buffer->size() : end));
                buffer->clear();
                const bool taken = frame_ && !frame_->IsClosing();
                if (taken && s->state() == QLocalSocket::ConnectedState) {
                    s->write("ok\n");
                    s->flush();
                }
                s->disconnect();
                s->disconnectFromServer();
                s->deleteLater();
                if (!taken)
                    return;
                // After this slot: the compose dialog is modal.
                QTimer::singleShot(0, frame_.get(), [this, number] { OnHandOver(number); });
            };
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [s, buffer, finish] {
                if (!s)
                    return;
                buffer->append(s->readAll());
                if (buffer->size() > kMaxHandOverBytes)
                    buffer->truncate(kMaxHandOverBytes);
                finish();
            });
            QObject::connect(socket, &QLocalSocket::disconnected, socket, finish);
        }
    });
    return true;
}

void ParloApplication::OnHandOver(const QString& number) {
    if (!frame_)
        return;
    frame_->showNormal();
    frame_->raise();
    frame_->activateWindow();
    if (!number.isEmpty())
        frame_->OpenNumberWhenPossible(CleanedNumber(qtsupport::FromQString(number)));
    else
        frame_->CheckHandoffWhenPossible();  // the window may have been active already
}

bool ParloApplication::Start(const QString& number, const StartOptions& options) {
    prompt_ = std::make_unique<qtsupport::MessageBoxPrompt>(u"Parlo");
    view_ = std::make_unique<QtParloView>();
    doc_ = std::make_unique<CParloDoc>(view_.get(), prompt_.get());
    view_->SetStore(&doc_->Store());
    {
        StartProgressWindow progress;
        progress.show();
        progress.PaintNow();
        const bool started = doc_->Start(&progress, options);
        start_steps_ = progress.Position();
        if (!started)
            return false;
    }
    frame_ = std::make_unique<MainFrame>(*doc_, dialogs_);
    view_->SetTarget(frame_->View());
    frame_->RestoreState();
    frame_->View()->InitialUpdate();
    Listen();
    frame_->show();
    frame_->raise();
    frame_->activateWindow();
    if (!number.isEmpty())
        frame_->OpenNumberWhenPossible(CleanedNumber(qtsupport::FromQString(number)));
    return true;
}

}  // namespace parlo
