// Tells a program that keeps the message store open that another program
// changed it. Every writer notes its change in "vok.sms.lock" before making
// it, and a compaction replaces "vok.sms" by a rename; the watcher listens
// (inotify) to the directory for both, so it goes on working after either
// file is replaced or created anew.
//
// The watcher only says "something changed"; the program then calls
// CParloDoc::TakeInChanges (or CMessageStore::TakeInChanges), which reads
// what changed. Its own writes wake it too; taking in after them finds
// nothing and costs one look at the log's length. Taking in itself raises no
// event (it reads the log through a read-only descriptor), so a program that
// takes in whenever its watcher wakes sleeps between others' changes.
#pragma once

#include <chrono>
#include <filesystem>

#include "platform/file_watcher.h"

namespace parlo {

class CStoreWatcher {
  public:
    // Watches the store in `dir`. ok() is false when inotify is not
    // available: the program then sees others' changes at its next write.
    explicit CStoreWatcher(const std::filesystem::path& dir);
    ~CStoreWatcher();
    CStoreWatcher(const CStoreWatcher&) = delete;
    CStoreWatcher& operator=(const CStoreWatcher&) = delete;

    bool ok() const { return ok_; }
    // Readable when events are pending: for poll() or a QSocketNotifier.
    int fd() const { return ok_ ? watcher_.fd() : -1; }
    // Reads the pending events without waiting; true when one of them is a
    // change of the store or its log.
    bool Drain();
    // Waits up to `timeout` for a change; true when there was one. When not
    // ok() it sleeps for `timeout` and returns false, so that a loop around
    // it does not spin.
    bool Wait(std::chrono::milliseconds timeout);

  private:
    platform::FileWatcher watcher_;
    bool ok_ = false;
};

}  // namespace parlo
