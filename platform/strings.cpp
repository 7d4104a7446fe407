#include "platform/strings.h"

#include <algorithm>

namespace platform {

StringTable::StringTable(const StringEntry* entries, size_t count)
    : entries_(entries), count_(count), sorted_(new StringEntry[count]) {
    std::copy(entries, entries + count, sorted_.get());
    std::sort(sorted_.get(), sorted_.get() + count,
              [](const StringEntry& a, const StringEntry& b) { return a.id < b.id; });
    entries_ = sorted_.get();
}

const StringEntry* StringTable::Find(unsigned id) const {
    const StringEntry* end = entries_ + count_;
    const StringEntry* it = std::lower_bound(
        entries_, end, id, [](const StringEntry& e, unsigned v) { return e.id < v; });
    return it != end && it->id == id ? it : nullptr;
}

std::u16string StringTable::Load(unsigned id) const {
    const StringEntry* e = Find(id);
    return e ? std::u16string(e->text) : std::u16string();
}

bool StringTable::Has(unsigned id) const {
    return Find(id) != nullptr;
}

}  // namespace platform
