// Puts a downloaded file in place so that what lands is what was checked:
// the file is copied through one open descriptor into a private folder
// (mode 0700) beside its target, hashed on the way, and only a copy whose
// SHA-256 is the expected one is renamed over the target. Whoever can change
// the file in "\windows\temp" after the check changes nothing that is
// installed.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace updater {

struct StagedFile {
    std::filesystem::path folder;  // the private folder
    std::filesystem::path file;    // the checked copy in it
    std::filesystem::path target;
};

enum class StageResult {
    kStaged,
    kChanged,  // the bytes are not the expected ones
    kFailed,   // the source could not be read or the copy not written
};

// Copies `from` to a private folder beside `target`. `sha256` (when not
// empty) is the hash the bytes must have; `hash` (when given) receives the
// hash of what was copied. The copy gets the permissions of the file it will
// replace, or 0755 for a new program (`program`), else 0644. Nothing is left
// behind unless kStaged.
StageResult StageFile(const std::filesystem::path& from, const std::filesystem::path& target,
                      const std::string& sha256, bool program, StagedFile* staged,
                      std::string* hash = nullptr);

// Renames the checked copy over its target and removes the private folder.
bool CommitStaged(const StagedFile& staged);
// Removes the private folder and the copy in it.
void DiscardStaged(const StagedFile& staged);

}  // namespace updater
