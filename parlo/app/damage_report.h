// What the client says about a damaged file of its own: which file, what of
// it was read and kept, and where the damaged bytes went. The message store
// reports its damage the same way (CParloDoc::ReportDamage).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace parlo {

// Copies `file` to file + ".damaged" (atomically) unless that copy already
// holds the same bytes: the next save of the file keeps only what could be
// read, and the rest must not be lost with it. True when the copy is there.
bool KeepDamagedCopy(const std::filesystem::path& file);

// "The file NAME is damaged: WHAT_KEPT A copy of the damaged file is kept
// as NAME.damaged." (or that no copy could be kept).
std::u16string DamageText(const std::string& name, const std::string& what_kept, bool copy_kept);

// The registry: how much of it could not be read, the user folders read from
// it, and the folder ids that records carry but the registry does not name.
struct RegistryDamage {
    size_t lines = 0;         // unreadable lines
    bool no_header = false;   // nothing of it could be read
    size_t user_folders = 0;  // user folders read
    std::vector<int32_t> missing_ids;
    size_t hidden_messages = 0;  // records in those folders
};
std::u16string RegistryDamageText(const RegistryDamage& d);

}  // namespace parlo
