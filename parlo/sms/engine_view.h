// What the SMS engine shows while it works. The document passes these calls on
// to its front end's view; every call may come from a worker thread, so an
// implementation that touches widgets marshals the call to its own thread.
#pragma once

#include <string>

namespace parlo {

class CSmsMessage;

class CEngineView {
  public:
    virtual ~CEngineView() = default;

    // The status text of the main view: its text, and whether it is shown.
    virtual void SetStatusText(const std::u16string& text) { (void)text; }
    virtual void ShowStatusText(bool shown) { (void)shown; }

    // The progress bar of the long loops.
    virtual void ShowProgress(bool shown) { (void)shown; }
    virtual void SetProgressRange(int lower, int upper) { (void)lower, (void)upper; }
    virtual void SetProgressPos(int pos) { (void)pos; }
    virtual void StepProgress() {}

    // The error indicator: on with the first error of a run, off when the
    // list is emptied.
    virtual void SetErrorIndicator(bool on) { (void)on; }

    // A record that entered the store (received, or read from the phone):
    // show it in the list of its state.
    virtual void MessageAdded(CSmsMessage* rec) { (void)rec; }
    // A record whose state changed (sent, deleted): move it to the list of
    // its new state.
    virtual void MessageChanged(CSmsMessage* rec) { (void)rec; }
    // The Outbox list is to be emptied (after a message of it was sent).
    virtual void EmptyOutboxList() {}

    // The folder chooser is disabled while a manual run is in progress.
    virtual void EnableFolderChooser(bool enabled) { (void)enabled; }
};

}  // namespace parlo
