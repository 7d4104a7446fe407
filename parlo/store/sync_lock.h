// The synchronisation lock: "vok.lock" held open exclusively for the length
// of one message or phonebook synchronisation. The dial-up program holds the
// same file while it uses the phone. The file's content is never used; a file
// left on disk does not block, only an open handle does.
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
    // Closes the file; it is not deleted.
    void Release() { file_.Close(); }
    bool held() const { return file_.is_open(); }

  private:
    platform::ExclusiveFile file_;
};

}  // namespace parlo
