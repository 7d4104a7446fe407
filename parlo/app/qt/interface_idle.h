// Keeps the automatic synchronisation out of the user's way: while a command
// of the window runs or any dialog, message box or pop-up menu of the program
// is open, the document's interface-idle flag stays cleared, so that an
// automatic run falling due then is skipped.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <set>

namespace parlo {

class CParloDoc;

class InterfaceIdleGuard : public QObject {
  public:
    explicit InterfaceIdleGuard(CParloDoc& doc, QObject* parent = nullptr);
    ~InterfaceIdleGuard() override;

    // A command handler runs (nested calls count).
    void Hold();
    void Release();
    // Something holds the interface: a command or an open dialog.
    bool Held() const { return holds_ > 0 || !open_.empty(); }
    bool DialogOpen() const { return !open_.empty(); }
    // Milliseconds since the last dialog closed (large when none ever did).
    qint64 SinceLastClose() const;
    // A run that ended sets the flag again by itself: called on a timer, it
    // clears it again while something still holds the interface.
    void Reassert();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Opened(QObject* window);
    void Closed(QObject* window);
    void Apply(bool was_held);

    CParloDoc& doc_;
    int holds_ = 0;
    std::set<QObject*> open_;
    QElapsedTimer last_close_;
};

}  // namespace parlo
