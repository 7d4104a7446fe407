// "\windows\temp\postresetcopy.ini": the files that wait in "\windows\temp"
// for "copy" (after a restart) or "SelfUpdate" (the updater's own files).
// Per file two lines ended by LF: the file name, the destination directory.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "updater/log.h"

namespace updater {

struct PendingFile {
    std::string name;
    std::string directory;  // handheld or native directory text
};

// Parses the list; entries whose name is no plain file name are dropped.
std::vector<PendingFile> ParsePostResetList(std::string_view data);

// "postresetcopy.sum": lines "<sha256> <name>"; file name -> SHA-256.
std::map<std::string, std::string> ParsePendingSums(std::string_view data);

// Moves every listed file from "\windows\temp" to its directory and deletes
// the list. A file whose SHA-256 differs from the one noted at its download
// ("postresetcopy.sum") is refused and deleted; so is a file without a sum
// while the updater trusts a key. Returns the number of files that could not
// be moved or were refused, or -1 when there is no list.
int WorkOffPostResetList(Log* log);

}  // namespace updater
