// The synchronisation lock: "vok.lock" held open exclusively for the length
// of one message or phonebook synchronisation. The dial-up program holds the
// same file while it uses the phone. A file left on disk does not block, only
// an open handle does. While a synchronisation holds it, the file names it
// and its process, so that a second one can tell the user what is going on.
#pragma once

#include <filesystem>

#include "platform/exclusive_file.h"

namespace parlo {

class CSyncLock {
  public:
    CSyncLock() = default;
    // Creates and opens dir/vok.lock exclusively; false while another program
    // (or another open of the file) holds it.
    bool Acquire(const std::filesystem::path& dir);
    // Empties and closes the file; it is not deleted.
    void Release();
    // True while a synchronisation of a running program holds the lock of
    // `dir` (and not, for instance, the dial-up program).
    static bool HeldBySync(const std::filesystem::path& dir);
    bool held() const { return file_.is_open(); }

  private:
    platform::ExclusiveFile file_;
};

}  // namespace parlo
