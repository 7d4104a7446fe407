#include "parlo/app/qt/qt_view.h"

#include <QCoreApplication>
#include <QThread>
#include <memory>

#include "parlo/app/parlo_doc.h"
#include "parlo/app/qt/main_view.h"
#include "parlo/store/folder_table.h"
#include "parlo/store/message_store.h"

namespace parlo {

QtParloView::QtParloView(QObject* parent) : QObject(parent) {}

void QtParloView::Post(std::function<void(MainView&)> call) {
    if (QThread::currentThread() == thread()) {
        if (target_)
            call(*target_);
        return;
    }
    QPointer<QtParloView> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, call = std::move(call)] {
            if (self && self->target_)
                call(*self->target_);
        },
        Qt::QueuedConnection);
}

void QtParloView::PostRecord(CSmsMessage* rec) {
    if (!rec || !store_)
        return;
    CSmsMessage copy;
    if (!store_->Read(rec, &copy)) {
        // Gone before it was shown: its row, if any, goes too.
        Post([rec](MainView& v) { v.RemoveRecord(rec); });
        return;
    }
    Post([rec, copy = std::move(copy)](MainView& v) { v.ShowRecord(rec, copy); });
}

void QtParloView::MessagesRemoved(const std::vector<CSmsMessage*>& recs) {
    Post([recs](MainView& v) { v.RemoveRecords(recs); });
}

void QtParloView::PostRecords(const std::vector<CSmsMessage*>& recs) {
    if (recs.empty() || !store_)
        return;
    auto copies = std::make_shared<std::vector<std::pair<CSmsMessage*, CSmsMessage>>>();
    copies->reserve(recs.size());
    std::vector<CSmsMessage*> gone;
    for (CSmsMessage* rec : recs) {
        CSmsMessage copy;
        if (store_->Read(rec, &copy))
            copies->emplace_back(rec, std::move(copy));
        else
            gone.push_back(rec);
    }
    Post([copies, gone = std::move(gone)](MainView& v) mutable {
        v.ShowRecords(std::move(*copies), std::move(gone));
    });
}

void QtParloView::MessagesChanged(const std::vector<CSmsMessage*>& recs) {
    PostRecords(recs);
}

void QtParloView::MessagesAdded(const std::vector<CSmsMessage*>& recs) {
    PostRecords(recs);
}

void QtParloView::StatesChanged(const std::vector<CSmsMessage*>& recs) {
    if (recs.empty() || !store_)
        return;
    if (QThread::currentThread() != thread()) {
        PostRecords(recs);  // copies taken now, on the worker
        return;
    }
    // No copies: the window reads the new states and takes number and text
    // from the rows it shows.
    Post([recs](MainView& v) { v.ShowStates(recs); });
}

void QtParloView::MarksChanged(const std::vector<CSmsMessage*>& recs, bool marked) {
    Post([recs, marked](MainView& v) { v.ShowMarks(recs, marked); });
}

void QtParloView::SetStatusText(const std::u16string& text) {
    Post([text](MainView& v) { v.SetStatusText(text); });
}

void QtParloView::ShowStatusText(bool shown) {
    Post([shown](MainView& v) { v.ShowStatusText(shown); });
}

void QtParloView::ShowProgress(bool shown) {
    Post([shown](MainView& v) { v.ShowProgress(shown); });
}

void QtParloView::SetProgressRange(int lower, int upper) {
    Post([lower, upper](MainView& v) { v.SetProgressRange(lower, upper); });
}

void QtParloView::SetProgressPos(int pos) {
    Post([pos](MainView& v) { v.SetProgressPos(pos); });
}

void QtParloView::StepProgress() {
    Post([](MainView& v) { v.StepProgress(); });
}

void QtParloView::SetErrorIndicator(bool on) {
    Post([on](MainView& v) { v.SetErrorIndicator(on); });
}

void QtParloView::MessageAdded(CSmsMessage* rec) {
    PostRecord(rec);
}

void QtParloView::MessageChanged(CSmsMessage* rec) {
    PostRecord(rec);
}

void QtParloView::MessageUpdated(CSmsMessage* rec) {
    PostRecord(rec);
}

void QtParloView::MessageRemoved(CSmsMessage* rec) {
    Post([rec](MainView& v) { v.RemoveRecord(rec); });
}

void QtParloView::EmptyOutboxList() {
    // The Outbox rows follow their records: a sent record has left the
    // Outbox already (MessageChanged), the others stay queued and shown.
}

void QtParloView::EnableFolderChooser(bool enabled) {
    Post([enabled](MainView& v) { v.EnableFolderChooser(enabled); });
}

void QtParloView::ClearList(int view_code) {
    Post([view_code](MainView& v) { v.ClearList(view_code); });
}

void QtParloView::RefillLists() {
    if (QThread::currentThread() == thread() || !store_) {
        Post([](MainView& v) { v.FillAllLists(); });
        return;
    }
    // From a worker (taking in another program's compaction): the copies
    // are made here, so that the GUI thread only fills the models.
    const uint64_t generation = store_->Generation();
    auto rows = std::make_shared<CParloDoc::ListCopies>(
        CParloDoc::CopyListsOf(*store_, CParloDoc::kAnyFolder));
    Post([rows, generation](MainView& v) { v.FillAllListsFrom(std::move(*rows), generation); });
}

void QtParloView::StoreCompacted() {
    // Only records that no list shows were destroyed.
}

void QtParloView::FolderAdded(const CSmsFolder& folder) {
    Post([id = folder.m_nId, name = folder.m_strName](MainView& v) { v.AddFolderEntry(id, name); });
}

void QtParloView::FolderRenamed(const CSmsFolder& folder, const std::u16string& old_name) {
    Post([id = folder.m_nId, name = folder.m_strName, old_name](MainView& v) {
        v.RenameFolderEntry(id, old_name, name);
    });
}

void QtParloView::FolderRemoved(const CSmsFolder& folder) {
    Post([id = folder.m_nId](MainView& v) { v.RemoveFolderEntry(id); });
}

void QtParloView::NamesChanged() {
    Post([](MainView& v) { v.RefreshNames(); });
}

}  // namespace parlo
