#include "parlo/sms/long_messages.h"

#include <sys/stat.h>

#include "parlo/sms/sms_joiner.h"

namespace parlo {

CLongMessages::CLongMessages() = default;
CLongMessages::~CLongMessages() = default;

bool CLongMessages::Find(const std::filesystem::path& dir, const CSmsMessage& rec,
                         PartsCount* out) {
    std::lock_guard<std::mutex> lock(mutex_);
    CPartsTable table(dir);
    Stamp now;
    struct stat st {};
    if (::stat(table.Path().c_str(), &st) == 0) {
        now.inode = st.st_ino;
        now.size = st.st_size;
        now.mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    if (!loaded_ || dir != dir_ || !(now == stamp_)) {
        lookup_.reset();
        table.Load(&file_);
        lookup_ = std::make_unique<CPartsLookup>(file_);
        dir_ = dir;
        stamp_ = now;
        loaded_ = true;
    }
    if (lookup_->empty())
        return false;
    const CPartGroup* g = lookup_->Find(rec);
    if (!g)
        return false;
    out->received = g->Received();
    out->total = g->m_nTotal;
    return true;
}

}  // namespace parlo
