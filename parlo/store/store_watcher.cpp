#include "parlo/store/store_watcher.h"

namespace parlo {

CStoreWatcher::CStoreWatcher(const std::filesystem::path& dir) {
    // The log every writer appends to first; the store itself when it is
    // replaced or created.
    ok_ = watcher_.Watch(dir, platform::FileWatcher::kWrites | platform::FileWatcher::kArrivals, 1,
                         [](std::string_view file, bool) { return file == "vok.sms.lock"; }) &&
          watcher_.Watch(dir, platform::FileWatcher::kArrivals, 1,
                         [](std::string_view file, bool) { return file == "vok.sms"; });
}

CStoreWatcher::~CStoreWatcher() = default;

bool CStoreWatcher::Drain() {
    return ok_ && watcher_.Drain() != 0;
}

bool CStoreWatcher::Wait(std::chrono::milliseconds timeout) {
    if (!ok_) {
        watcher_.Wait(timeout);  // sleeps: a loop around it does not spin
        return false;
    }
    return watcher_.Wait(timeout) != 0;
}

}  // namespace parlo
