// The main view: the folder chooser, the seven message lists (one shown at a
// time), the status line, the progress bar and the error indicator. It runs
// the list events (taps, double taps, headers, the context menu) and the
// hand-off file check.
#pragma once

#include <QPoint>
#include <QWidget>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "parlo/store/sms_message.h"

class QComboBox;
class QLabel;
class QMenu;
class QProgressBar;
class QStackedWidget;
class QTimer;
class QToolButton;
class QTreeView;

namespace parlo {

class CParloDoc;
class IParloDialogs;
class MessageListModel;
struct DialogContext;

class MainView : public QWidget {
    Q_OBJECT
  public:
    MainView(CParloDoc& doc, QWidget* parent = nullptr);
    ~MainView() override;

    void SetDialogs(IParloDialogs* dialogs) { dialogs_ = dialogs; }
    DialogContext Context();

    // Tab goes from `before` to the folder chooser and on to the list.
    void ChainTabOrder(QWidget* before);
    // Once after start-up: the folder chooser, the lists and their rows.
    void InitialUpdate();

    // --- calls of the document and its workers (GUI thread) -------------------
    void SetStatusText(const std::u16string& text);
    void ShowStatusText(bool shown);
    void ShowProgress(bool shown);
    void SetProgressRange(int lower, int upper);
    void SetProgressPos(int pos);
    void StepProgress();
    void SetErrorIndicator(bool on);
    // A record's copy: its row goes to (or stays in, or leaves) its list.
    void ShowRecord(CSmsMessage* key, const CSmsMessage& copy);
    void RemoveRecord(CSmsMessage* key);
    void RemoveRecords(const std::vector<CSmsMessage*>& keys);
    // Many records at once: each list removes the rows that left it and
    // takes in the others in one pass. The selection stays on its record;
    // a selected record that left the list leaves nothing selected.
    // A batch of thousands reaches the lists one list per turn of the event
    // loop; every other call on the lists (and Settle) applies what is
    // still pending first.
    void ShowRecords(std::vector<std::pair<CSmsMessage*, CSmsMessage>> copies,
                     std::vector<CSmsMessage*> gone);
    // The same after a change of state, folder or mark of `keys` (GUI
    // thread): their new states are read from the store, number and text
    // come from the rows shown.
    void ShowStates(const std::vector<CSmsMessage*>& keys);
    // The rows of `keys` shown marked or not; nothing else of them changed.
    void ShowMarks(const std::vector<CSmsMessage*>& keys, bool marked);
    // Applies what a batch still has pending, now.
    void Settle();
    bool ListsPending() const { return !steps_.empty(); }
    void EnableFolderChooser(bool enabled);
    void ClearList(int view_code);
    // Every list refilled from the store (one reset per list).
    void FillAllLists();
    // The same from copies made on another thread (list 6 holding every
    // user folder) at store generation `generation`; copies that a later
    // change made stale are taken again here.
    void FillAllListsFrom(
        std::array<std::vector<std::pair<CSmsMessage*, CSmsMessage>>, VIEW_RECYCLE + 1> rows,
        uint64_t generation);
    void AddFolderEntry(int32_t id, const std::u16string& name);
    void RenameFolderEntry(int32_t id, const std::u16string& old_name, const std::u16string& name);
    void RemoveFolderEntry(int32_t id);
    // The names shown for numbers are looked up again (contacts or phonebook
    // changed).
    void RefreshNames();

    // --- what the frame's commands use -----------------------------------------
    int CurrentCode() const;
    // Shows the list of folder view code `code` (user folder `folder_id`).
    void ShowFolder(int code, int32_t folder_id = -1);
    MessageListModel* Model(int view_code) const;
    QTreeView* List(int view_code) const;
    MessageListModel* CurrentModel() const { return Model(CurrentCode()); }
    QTreeView* CurrentList() const { return List(CurrentCode()); }
    // The selected record of the current list, or null.
    CSmsMessage* SelectedRecord() const;
    // The hand-off file: read when the window is active and no dialog is
    // open; the file is deleted once the new message is open.
    void CheckHandoff();
    // Opens the compose dialog for a new message to `number`; during a
    // synchronisation it is refused with 65088, as the hand-off file is.
    void NewMessageTo(const std::u16string& number);
    // The status text as shown.
    QString StatusText() const;
    // Unread messages in the Inbox.
    int InboxUnread() const;
    // The error indicator's state: 0 quiet, 1 frame A, 2 frame B.
    int ErrorPhase() const { return phase_; }

    // --- list events (public for the tests) -------------------------------------
    void OnListClicked(int view_code, int row, int column);
    void OnListDoubleClicked(int view_code, int row, int column);
    void OnHeaderClicked(int view_code, int column);
    // The context menu at `pos` (list viewport coordinates). Returns the
    // menu (to be executed by the caller) or null when none opens.
    QMenu* BuildContextMenu(int view_code, const QPoint& pos);
    void OnMoveCommand(int id);
    // "Send again" and "Release" of a held Outbox message.
    void SendHeldAgain(CSmsMessage* key);
    void ReleaseHeld(CSmsMessage* key);
    bool AllMarked(int view_code) const { return all_marked_[static_cast<size_t>(view_code)]; }
    int SortColumn() const { return sort_column_; }
    bool SortDescending() const { return sort_descending_; }
    // Sorts every list (a kept sort at start-up).
    void SetSort(int column, bool descending);

    // --- the keyboard in a list ---------------------------------------------------
    // Return opens the current row, Space marks it, the Menu key (and
    // Shift+F10) opens the context menu at it. Delete is the window's command.
    void OpenCurrentRow();
    // Selects the row with the keyboard's cursor when no row is selected.
    void SelectCurrentRow();
    void MarkCurrentRow();
    void ContextMenuAtCurrentRow();

    // Selects `key` in its list (showing that list) and opens it.
    void ShowMessage(CSmsMessage* key);

  signals:
    // The Inbox's unread count changed.
    void UnreadChanged(int count);
    // A user folder was added, renamed or removed (here or by another
    // program).
    void FoldersChanged();
    // An unread message came into the Inbox (a synchronisation, or another
    // program's).
    void MessageArrived(CSmsMessage* key, const QString& number, const QString& text);
    // The selected row of a list changed: the commands that take it follow
    // at once, so that a key typed right after finds them enabled.
    void SelectionChanged();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct RecordBatch {
        std::vector<std::pair<CSmsMessage*, CSmsMessage>> copies;
        std::vector<CSmsMessage*> gone;
    };
    void ApplyBatch(int code, RecordBatch* batch);
    // Copies without number and text (ShowStates) get them.
    void TakeTexts(RecordBatch* batch);
    // The batch now, or one list per turn when it is large.
    void ApplyRecords(std::shared_ptr<RecordBatch> batch, CSmsMessage* selected);
    void RunStep();
    void BuildLists();
    void KeepSelection(CSmsMessage* selected);
    void SortAsShown(int code);
    // In parts: large lists over several turns of the event loop.
    void FillLists(
        std::array<std::vector<std::pair<CSmsMessage*, CSmsMessage>>, VIEW_RECYCLE + 1> rows,
        bool in_parts);
    void OnFolderChosen(int index);
    void OnErrorTimer();
    void OnErrorClicked();
    void SelectChooserEntry(int code, int32_t folder_id);
    int FindChooserEntry(int code, int32_t folder_id) const;
    void InsertChooserEntry(const QString& text, int code, int32_t folder_id);
    void ShowSortIndicator(int view_code);
    void CountUnread();
    void ShowProgressValue();
    void HoldForMenu(QTreeView* list, QEvent* event);

    CParloDoc& doc_;
    IParloDialogs* dialogs_ = nullptr;
    QComboBox* chooser_;
    QLabel* status_;
    QProgressBar* progress_;
    QToolButton* error_quiet_;
    QToolButton* error_a_;
    QToolButton* error_b_;
    QStackedWidget* stack_;
    QTimer* blink_;
    std::array<QTreeView*, 8> lists_{};
    std::array<MessageListModel*, 8> models_{};
    std::array<bool, 8> all_marked_{};
    // How each list was last sorted: column (0 unsorted) and direction.
    std::array<std::pair<int, bool>, 8> list_sort_{};
    std::deque<std::function<void()>> steps_;
    QTimer* step_timer_ = nullptr;
    QTimer* unread_timer_ = nullptr;
    // The progress bar shows its value at most once per kProgressMs.
    QTimer* progress_timer_ = nullptr;
    int progress_value_ = 0;
    QTimer* hold_timer_ = nullptr;
    QTreeView* hold_list_ = nullptr;
    QPoint hold_at_;
    int unread_ = -1;
    int current_code_ = VIEW_INBOX;
    int phase_ = 0;
    int sort_column_ = 0;
    bool sort_descending_ = false;
    bool initialised_ = false;
    bool in_handoff_ = false;
};

}  // namespace parlo
