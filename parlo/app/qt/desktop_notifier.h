// Desktop notifications (the freedesktop.org notification service on the
// session D-Bus). Without a session bus or a notification server nothing is
// shown and nothing fails: the call's error answer is dropped.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>
#include <map>

namespace parlo {

class DesktopNotifier : public QObject {
    Q_OBJECT
  public:
    explicit DesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(),
                             QObject* parent = nullptr);

    // Shows `summary` and `body`; `on_activate` runs when the user clicks
    // the notification (its default action).
    void Notify(const QString& summary, const QString& body, std::function<void()> on_activate);
    // Notifications shown (the server answered with an id).
    int Shown() const { return shown_; }

  private slots:
    void OnActionInvoked(uint id, const QString& action);
    void OnClosed(uint id, uint reason);

  private:
    QDBusConnection bus_;
    std::map<uint, std::function<void()>> pending_;
    int shown_ = 0;
};

// The first words of `text` on one line, at most `max_chars` characters
// ("..." where it was cut).
QString FirstWords(const QString& text, int max_chars = 80);

}  // namespace parlo
