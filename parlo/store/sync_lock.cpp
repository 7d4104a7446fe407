#include "parlo/store/sync_lock.h"

namespace parlo {

bool CSyncLock::Acquire(const std::filesystem::path& dir) {
    if (file_.is_open())
        return false;
    return file_.Open(dir / "vok.lock", /*create=*/true, /*read_write=*/true);
}

}  // namespace parlo
