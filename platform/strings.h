// String tables compiled into each deliverable from resources/<name>/strings.tsv.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

struct StringEntry {
    unsigned id;
    const char16_t* text;
};

class StringTable {
  public:
    StringTable(const StringEntry* entries, size_t count);
    // The text of `id`, or an empty string when the table has none.
    std::u16string Load(unsigned id) const;
    bool Has(unsigned id) const;
    size_t size() const { return count_; }

  private:
    const StringEntry* Find(unsigned id) const;
    const StringEntry* entries_;  // sorted by id on construction
    size_t count_;
    std::unique_ptr<StringEntry[]> sorted_;
};

}  // namespace platform
