// "\windows\temp\postresetcopy.ini": the files that wait in "\windows\temp"
// for "copy" (after a restart) or "SelfUpdate" (the updater's own files).
// Per file two lines ended by LF: the file name, the destination directory.
#pragma once

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

// Moves every listed file from "\windows\temp" to its directory and deletes
// the list. Returns the number of files that could not be moved, or -1 when
// there is no list.
int WorkOffPostResetList(Log* log);

}  // namespace updater
