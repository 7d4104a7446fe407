// The main window: the command bar (seven buttons and "Menu"), the command
// handlers with their busy gating, and the main view in the middle.
#pragma once

#include <QMainWindow>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QSocketNotifier;
class QTimer;
class QToolButton;

namespace parlo {

class CParloDoc;
class CSmsMessage;
class CStoreWatcher;
class CTakeInWorker;
class DesktopNotifier;
class InterfaceIdleGuard;
class IParloDialogs;
class MainView;
class OthersChanges;

// Command ids of the command bar and the menu.
enum Command : int {
    ID_NEW_SMS = 32779,
    ID_ANSWER_SMS = 32780,
    ID_FORWARD_SMS = 32781,
    ID_DELETE_SMS = 32776,
    ID_SYNCHRONIZE = 32778,
    ID_MOVE_TO_FOLDER = 32794,
    ID_EXIT = 32775,
    ID_MENU = 32773,
    ID_DIALER = 32823,
    ID_FOLDERS = 32796,
    ID_OPTIONS = 32792,
    ID_GROUPS = 32810,
    ID_PHONEBOOK = 32799,
    ID_CLEAR_PHONE = 32787,
    ID_CLEAR_SIM = 32788,
    ID_EMPTY_BIN = 32795,
    ID_CONNECT = 32814,
    ID_DELETE_BOTH = 2121,
    ID_DELETE_PHONE = 2122,
    ID_DELETE_POCKETPC = 2123,
};

class MainFrame : public QMainWindow {
    Q_OBJECT
  public:
    // `dialogs` stays the caller's.
    MainFrame(CParloDoc& doc, IParloDialogs* dialogs, QWidget* parent = nullptr);
    ~MainFrame() override;

    MainView* View() const { return view_; }
    // Runs a command as the command bar or the menu would (disabled commands
    // do nothing). Returns false when the command is not known.
    bool RunCommand(int id);
    QAction* Action(int id) const;
    // The enabling of every command, as after a change of the busy state.
    void UpdateCommands();
    // Exit is waiting for a synchronisation to end.
    bool IsClosing() const { return closing_; }
    // Something holds off the automatic run: a command or an open dialog.
    InterfaceIdleGuard& IdleGuard() const { return *idle_; }
    // A new message to `number` (from the command line or a second start):
    // opened as soon as no other dialog is open or closing.
    void OpenNumberWhenPossible(const std::u16string& number);
    // The hand-off file is looked at as soon as the window is active and no
    // dialog is open or closing.
    void CheckHandoffWhenPossible();
    // Puts the window's size, place, columns and sort where they were.
    void RestoreState();

  signals:
    // The delete pop-up is about to open (tests choose from it).
    void DeleteMenuShown(QMenu* menu);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    QAction* AddCommand(int id, const QString& text, bool busy_gated);
    void BuildCommandBar();
    void Dispatch(int id);

    void OnNewSms();
    void OnAnswerSms(bool forward);
    void OnDeleteSms();
    void OnSynchronize();
    void OnMoveToFolder();
    void OnClearMemory(bool sim);
    void OnExit();
    void FinishExit();
    // Runs on the window's tick: a waiting number or hand-off once nothing
    // is in the way, and a countdown left over after automatic
    // synchronisation was switched off.
    void Tick();
    bool MayOpenDialog() const;
    void UpdateTitle(int unread);
    // New messages while the window is not active: one desktop notification
    // for those that came together.
    void OnMessageArrived(CSmsMessage* key, const QString& number, const QString& text);
    void NotifyArrived();
    // Other programs' changes to the message store are taken in as they are
    // made, a burst of them at once.
    void WatchStore();

    CParloDoc& doc_;
    IParloDialogs* dialogs_;
    MainView* view_;
    QTimer* update_timer_;
    QTimer* exit_timer_;
    std::unique_ptr<CStoreWatcher> watcher_;
    QSocketNotifier* watch_notifier_ = nullptr;
    QTimer* take_in_timer_ = nullptr;
    // Takes in others' changes off the GUI thread.
    std::unique_ptr<CTakeInWorker> take_in_;
    OthersChanges* others_ = nullptr;
    std::map<int, QAction*> actions_;
    std::map<int, bool> gated_;
    std::map<int, QString> tips_;
    InterfaceIdleGuard* idle_ = nullptr;
    std::vector<std::u16string> waiting_numbers_;
    bool handoff_due_ = false;
    bool fitted_ = false;
    DesktopNotifier* notifier_ = nullptr;
    QTimer* notify_timer_ = nullptr;
    struct Arrived {
        CSmsMessage* key;
        QString number, text;
    };
    std::vector<Arrived> arrived_;
    bool closing_ = false;
    bool may_close_ = false;
};

}  // namespace parlo
