// The view interface of the document: every call that the document, or one
// of its worker threads, makes into its front end. The calls of the SMS
// engine (status text, progress bar, error indicator, records added or moved
// by a synchronisation, folder chooser) come from CEngineView; the message
// lists and the folders add theirs here. The Qt client implements it with its
// main window (marshalling to the GUI thread); parlo-cli and tests use their
// own. Every member has a default that does nothing.
//
// Calls may come from any thread, and never while the document holds the
// message list's lock. A call queued to another thread may arrive after the
// record it names was destroyed (by a compaction or a load, which the view
// hears of afterwards): a view uses the pointers it is given as keys, and
// reads a record's fields only through CMessageStore::Read, which takes a
// copy under the store's lock and refuses a record that is gone.
#pragma once

#include <string>
#include <vector>

#include "parlo/sms/engine_view.h"

namespace parlo {

class CSmsFolder;

class IParloView : public CEngineView {
  public:
    // Inherited: MessageAdded (a new record: show it in the list of its
    // state), MessageChanged (its state changed: take its row out of the list
    // that shows it and insert it in the list of its new state, none for the
    // hidden states 10 and 11), EmptyOutboxList, and the status line,
    // progress bar, error indicator and folder chooser.

    // The record's number, text or marked flag changed; its list did not.
    virtual void MessageUpdated(CSmsMessage* rec) { (void)rec; }
    // Take the record's row out of every list.
    virtual void MessageRemoved(CSmsMessage* rec) { (void)rec; }
    // Empty one list (folder view code 1..7).
    virtual void ClearList(int view_code) { (void)view_code; }
    // The message list was replaced (a load): rebuild every list. This is
    // the list reset; records the view held before are gone.
    virtual void RefillLists() {}
    // Compaction destroyed the purged records (none of them was shown).
    virtual void StoreCompacted() {}

    // Batches: many records at once, in one call (emptying a folder, taking
    // in another program's changes). The defaults make one call per record.
    virtual void MessagesAdded(const std::vector<CSmsMessage*>& recs) {
        for (CSmsMessage* rec : recs)
            MessageAdded(rec);
    }
    virtual void MessagesRemoved(const std::vector<CSmsMessage*>& recs) {
        for (CSmsMessage* rec : recs)
            MessageRemoved(rec);
    }
    virtual void MessagesChanged(const std::vector<CSmsMessage*>& recs) {
        for (CSmsMessage* rec : recs)
            MessageChanged(rec);
    }
    // The state, folder or mark of these records changed, not their number
    // or text (a bulk delete or move).
    virtual void StatesChanged(const std::vector<CSmsMessage*>& recs) { MessagesChanged(recs); }
    // Only the marked flag of these records changed, to `marked` ("mark
    // all"): nothing else of them needs to be read again.
    virtual void MarksChanged(const std::vector<CSmsMessage*>& recs, bool marked) {
        (void)marked;
        MessagesChanged(recs);
    }

    // Folders: a user folder was added or renamed; a folder is about to be
    // destroyed (when it is on show, switch to the Inbox and set the
    // document's current folder to 1).
    virtual void FolderAdded(const CSmsFolder& folder) { (void)folder; }
    virtual void FolderRenamed(const CSmsFolder& folder, const std::u16string& old_name) {
        (void)folder, (void)old_name;
    }
    virtual void FolderRemoved(const CSmsFolder& folder) { (void)folder; }
    // The contacts or the phonebook copy were read again (another program
    // changed them): the names shown for numbers may have changed.
    virtual void NamesChanged() {}
};

// A view that shows nothing.
class NullParloView : public IParloView {};

}  // namespace parlo
