// The file lists of the updater: the device's "version.info", the server's
// "update.info", their comparison and the choice of files to download.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace updater {

// Kinds of server files; the group of the same kind holds their items.
enum Kind { KIND_BIN = 0, KIND_CFG = 1, KIND_USR = 2, KIND_CVR = 3 };

// One "<FILE>" line of "version.info". Texts are lower case, as parsed.
struct LocalEntry {
    std::string path;  // empty, or ends with "\"
    std::string name;
    std::string version;
};

struct LocalList {
    std::string version_of_file;  // the "<VER>" line: the updater that wrote the file
    std::vector<LocalEntry> entries;
};

struct Dependency {
    std::string name;
    std::string version;  // the lowest version the device must have
};

struct ServerEntry {
    int kind = KIND_BIN;
    std::string path;
    std::string name;
    std::string version;
    std::string extra;  // KIND_CVR: the file whose size stands for this one
    std::vector<Dependency> deps;
};

struct Group {
    std::string label;
    int kind = KIND_BIN;
    bool selected = true;
    int64_t size = 0;           // bytes of its items that will be downloaded
    std::vector<size_t> items;  // indices into the update item list
};

struct ServerList {
    std::vector<Group> groups;  // in file order
    std::vector<ServerEntry> entries;
    std::string required_version;  // "<ver>": lowest updater version this folder needs
    bool post_reset_copy = false;  // "<postresetcopy>": install through a restart
};

struct UpdateItem {
    std::string name;
    std::string path;
    std::string version;  // the server's version
    bool is_new = false;  // the device has no file of that name
    int kind = KIND_BIN;
    std::string extra;
    std::vector<Dependency> deps;
    int64_t size = 0;
    std::string sha256;  // of the downloaded file, once it is in "\windows\temp"
    bool download = false;
    int group = -1;  // index into ServerList::groups
};

// Parses "version.info". Every input gives a list (unknown lines are skipped).
LocalList ParseVersionInfo(std::string_view data);

enum class ParseStatus {
    kOk,
    kNotUpdateList,  // an HTML page or other answer that is no file list
    kBadEntry,       // a malformed file entry
    kUnsafePath,     // a file entry whose path or name leaves its directory
    kGarbage,        // no line of an update list at all (empty, binary or other text)
};
// Parses "update.info". On failure `bad_line` (when given) receives the line.
ParseStatus ParseUpdateInfo(std::string_view data, ServerList* out, std::string* bad_line);

// Whether a file name from the server may be used as one path component.
bool IsSafeFileName(std::string_view name);
// Whether a directory from the server stays inside its base: no "..", no "/".
bool IsSafeDirectory(std::string_view path);

// Plain text comparison, code unit by code unit: "1.10" < "1.9".
inline bool VersionLess(std::string_view a, std::string_view b) {
    return a < b;
}

// Creates an update item for every server entry that is missing locally or
// newer there, appended to the first group of its kind. Entries of a kind that
// has no group are not offered. Returns true when an item was created.
bool CompareLists(ServerList* server, const LocalList& local, std::vector<UpdateItem>* items);

// Flags the items to download: all of them when `all`, else those of selected
// groups, then every item that a flagged item depends on (when the device's
// copy is older or missing), and recomputes the group sizes.
void SelectFiles(std::vector<Group>* groups, std::vector<UpdateItem>* items, const LocalList& local,
                 bool all);

// The new "version.info" after an installation: downloaded items with their
// new version, everything else as it was.
std::string FormatVersionInfo(std::string_view updater_version,
                              const std::vector<UpdateItem>& items, const LocalList& local);

}  // namespace updater
