// The view interface of the document on the Qt client.
//
// Calls made on the GUI thread go straight to the main view; calls from any
// other thread (the synchronisation workers) are queued to the GUI thread and
// never wait. A record handed over is copied at once, under the store's lock,
// so the main view never reads a record that a worker may be changing.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>

#include "parlo/app/view.h"
#include "parlo/store/sms_message.h"

namespace parlo {

class CMessageStore;
class MainView;

class QtParloView : public QObject, public IParloView {
    Q_OBJECT
  public:
    explicit QtParloView(QObject* parent = nullptr);

    // The store whose records the calls name, and the view that shows them.
    void SetStore(const CMessageStore* store) { store_ = store; }
    void SetTarget(MainView* view) { target_ = view; }

    void SetStatusText(const std::u16string& text) override;
    void ShowStatusText(bool shown) override;
    void ShowProgress(bool shown) override;
    void SetProgressRange(int lower, int upper) override;
    void SetProgressPos(int pos) override;
    void StepProgress() override;
    void SetErrorIndicator(bool on) override;
    void MessageAdded(CSmsMessage* rec) override;
    void MessageChanged(CSmsMessage* rec) override;
    void EmptyOutboxList() override;
    void EnableFolderChooser(bool enabled) override;
    void MessageUpdated(CSmsMessage* rec) override;
    void MessageRemoved(CSmsMessage* rec) override;
    void ClearList(int view_code) override;
    void RefillLists() override;
    void StoreCompacted() override;
    void MessagesRemoved(const std::vector<CSmsMessage*>& recs) override;
    void MessagesChanged(const std::vector<CSmsMessage*>& recs) override;
    void MessagesAdded(const std::vector<CSmsMessage*>& recs) override;
    void StatesChanged(const std::vector<CSmsMessage*>& recs) override;
    void MarksChanged(const std::vector<CSmsMessage*>& recs, bool marked) override;
    void FolderAdded(const CSmsFolder& folder) override;
    void FolderRenamed(const CSmsFolder& folder, const std::u16string& old_name) override;
    void FolderRemoved(const CSmsFolder& folder) override;
    void NamesChanged() override;

  private:
    // Runs `call` on the GUI thread with the main view: now when this is
    // the GUI thread, else queued.
    void Post(std::function<void(MainView&)> call);
    void PostRecord(CSmsMessage* rec);
    // Copies of the records taken under the store's lock, then one call
    // that applies them all.
    void PostRecords(const std::vector<CSmsMessage*>& recs);

    const CMessageStore* store_ = nullptr;
    QPointer<MainView> target_;
};

}  // namespace parlo
