// What the front ends show of long messages: whether a record is a message
// joined from parts, and how many of its parts were received. The parts
// table is read again only when it was replaced since the last look (its
// inode, size or time changed), so a list can ask for every row it paints.
// Safe to call from any thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>

#include "parlo/store/parts_table.h"

namespace parlo {

class CPartsLookup;
class CSmsMessage;

struct PartsCount {
    int32_t received = 0;
    int32_t total = 0;
    bool Complete() const { return received >= total; }
};

class CLongMessages {
  public:
    CLongMessages();
    ~CLongMessages();
    // The parts of `rec`, a record of the store in `dir`; false for a
    // message of one part (or one stored before messages were joined).
    bool Find(const std::filesystem::path& dir, const CSmsMessage& rec, PartsCount* out);

  private:
    struct Stamp {
        ino_t inode = 0;
        off_t size = -1;
        int64_t mtime_ns = 0;
        bool operator==(const Stamp& o) const {
            return inode == o.inode && size == o.size && mtime_ns == o.mtime_ns;
        }
    };
    std::mutex mutex_;
    std::filesystem::path dir_;
    Stamp stamp_;
    bool loaded_ = false;
    CPartsFile file_;
    std::unique_ptr<CPartsLookup> lookup_;
};

}  // namespace parlo
