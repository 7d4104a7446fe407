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

// One line of "postresetcopy.sum": "<sha256> <name>TAB<list dir>TAB<destination>":
// the directory (a directory text) whose "version.info" lists the file, and
// the destination directory that "postresetcopy.ini" must give for it.
struct PendingSum {
    std::string sha256;
    std::string list_dir;
    std::string destination;
};
std::map<std::string, PendingSum> ParsePendingSums(std::string_view data);
std::string FormatPendingSum(const std::string& name, const PendingSum& sum);

// Drops the entry of `name` from the "version.info" in `dir`, so that the next
// check offers the file again (as new).
bool ForgetVersion(const std::string& dir, const std::string& name);

// Moves every listed file from "\windows\temp" to its directory and deletes
// the list. A file whose SHA-256 or destination differs from the ones noted
// at its download ("postresetcopy.sum") is refused and deleted; so is a file
// without a sum while the updater trusts a key, and one whose destination
// belongs to the package manager or is a trusted key folder. The bytes are
// checked in the copy that is put in place (see place.h). A file refused or not moved is dropped
// from its "version.info", which already named the new version. Returns the number of files that
// could not be moved or were refused, or -1 when there is no list.
int WorkOffPostResetList(Log* log);

}  // namespace updater
