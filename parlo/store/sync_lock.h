// The synchronisation lock: "vok.lock" held open exclusively for the length
// of one message or phonebook synchronisation (or a call). The dial-up
// program holds the same file while it uses the phone. A file left on disk
// does not block, only an open handle does. While one of ours holds it, the
// file names what it does and its process, so that a second one can tell the
// user what is going on.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/exclusive_file.h"

namespace parlo {

// What the holder of the lock is doing with the phone.
enum class SyncKind { kMessages, kPhonebook, kCall };

// A synchronisation (or call) of a running program that holds the lock.
struct SyncHolder {
    pid_t pid = 0;
    SyncKind kind = SyncKind::kMessages;
};

// Names the holder for a message: "in this program", or the program and its
// process ("parlo-cli, process 4711").
std::string SyncHolderName(const SyncHolder& holder);

// What the user is told when vok.lock cannot be created in `dir` (errno
// `error`): the real cause, not a connection that is not there.
std::u16string LockFileError(const std::filesystem::path& dir, int error);

class CSyncLock {
  public:
    CSyncLock() = default;
    // Creates and opens dir/vok.lock exclusively and marks it with `kind`
    // and this process; false while another program (or another open of the
    // file) holds it.
    bool Acquire(const std::filesystem::path& dir, SyncKind kind = SyncKind::kMessages);
    // Why the last Acquire failed when nobody holds the lock: the file cannot
    // be created or opened (errno: a read-only folder, no permission, a full
    // disk). 0 when it failed because another open holds it.
    int OpenError() const { return open_error_; }
    // Empties and closes the file; it is not deleted.
    void Release();
    // Who holds the lock of `dir`, when it is a synchronisation of a running
    // program (and not, for instance, the dial-up program). A holder that
    // has just taken the lock gets a moment to write its mark.
    static std::optional<SyncHolder> Holder(const std::filesystem::path& dir);
    static bool HeldBySync(const std::filesystem::path& dir) { return Holder(dir).has_value(); }
    bool held() const { return file_.is_open(); }

  private:
    platform::ExclusiveFile file_;
    int open_error_ = 0;
};

}  // namespace parlo
