#include "parlo/app/qt/desktop_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace parlo {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
constexpr int kExpireDefault = -1;

}  // namespace

QString FirstWords(const QString& text, int max_chars) {
    QString line = text.simplified();
    if (line.size() <= max_chars)
        return line;
    int cut = line.lastIndexOf(' ', max_chars - 3);
    if (cut < max_chars / 2)
        cut = max_chars - 3;
    return line.left(cut) + QStringLiteral("...");
}

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
    if (!bus_.isConnected())
        return;
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(OnActionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(OnClosed(uint, uint)));
}

void DesktopNotifier::Notify(const QString& summary, const QString& body,
                             std::function<void()> on_activate) {
    if (!bus_.isConnected())
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("skyvane-parlo"));
    hints.insert(QStringLiteral("category"), QStringLiteral("im.received"));
    call << QStringLiteral("Parlo") << uint(0) << QStringLiteral("skyvane-parlo") << summary << body
         << QStringList{QStringLiteral("default"), tr("Show")} << hints << kExpireDefault;
    // Asynchronous: a missing server answers with an error, a hanging one
    // never holds up the window.
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, on_activate = std::move(on_activate)](QDBusPendingCallWatcher* w) {
                QDBusPendingReply<uint> reply = *w;
                w->deleteLater();
                if (reply.isError())
                    return;
                ++shown_;
                pending_[reply.value()] = on_activate;
            });
}

void DesktopNotifier::OnActionInvoked(uint id, const QString& action) {
    auto it = pending_.find(id);
    if (it == pending_.end() || action != QStringLiteral("default"))
        return;
    std::function<void()> run = std::move(it->second);
    pending_.erase(it);
    if (run)
        run();
}

void DesktopNotifier::OnClosed(uint id, uint reason) {
    (void)reason;
    pending_.erase(id);
}

}  // namespace parlo
