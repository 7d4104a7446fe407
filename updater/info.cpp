#include "updater/info.h"

#include <algorithm>

namespace updater {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Calls `fn` with every line of `data`, leading blanks dropped and lower case.
// A line ends at CR, LF or CR LF.
template <typename Fn>
bool ForEachLine(std::string_view data, Fn fn) {
    size_t pos = 0;
    while (pos < data.size()) {
        size_t end = pos;
        while (end < data.size() && data[end] != '\r' && data[end] != '\n')
            ++end;
        std::string_view raw = data.substr(pos, end - pos);
        if (end < data.size() && data[end] == '\r' && end + 1 < data.size() &&
            data[end + 1] == '\n') {
            ++end;
        }
        pos = end + 1;
        size_t start = 0;
        while (start < raw.size() && IsBlank(raw[start]))
            ++start;
        std::string line(raw.substr(start));
        for (char& c : line) {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
        if (!fn(line))
            return false;
    }
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> Words(std::string_view s) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && IsBlank(s[i]))
            ++i;
        size_t start = i;
        while (i < s.size() && !IsBlank(s[i]))
            ++i;
        if (i > start)
            words.push_back(s.substr(start, i - start));
    }
    return words;
}

// Splits "path\name" at the last backslash.
void SplitPathName(std::string_view word, std::string* path, std::string* name) {
    size_t slash = word.rfind('\\');
    if (slash == std::string_view::npos) {
        path->clear();
        name->assign(word);
    } else {
        path->assign(word.substr(0, slash + 1));
        name->assign(word.substr(slash + 1));
    }
}

// Splits a line "<tag>value"; false when the line has no tag.
bool SplitTag(std::string_view line, std::string_view* tag, std::string_view* value) {
    if (line.empty() || line[0] != '<')
        return false;
    size_t close = line.find('>');
    if (close == std::string_view::npos)
        return false;
    *tag = line.substr(1, close - 1);
    *value = line.substr(close + 1);
    return true;
}

int GroupKind(std::string_view key) {
    if (key == "group_bin")
        return KIND_BIN;
    if (key == "group_db")
        return KIND_CFG;
    if (key == "group_user")
        return KIND_USR;
    if (key == "group_int")
        return KIND_CVR;
    return -1;
}

int EntryKind(std::string_view tag) {
    if (tag == "bin")
        return KIND_BIN;
    if (tag == "cfg")
        return KIND_CFG;
    if (tag == "usr")
        return KIND_USR;
    if (tag == "cvr")
        return KIND_CVR;
    return -1;
}

ParseStatus ParseEntry(int kind, std::string_view value, ServerEntry* entry) {
    std::vector<std::string_view> words = Words(value);
    size_t fixed = kind == KIND_CVR ? 3 : 2;
    if (words.empty())
        return ParseStatus::kBadEntry;
    entry->kind = kind;
    SplitPathName(words[0], &entry->path, &entry->name);
    if (!IsSafeFileName(entry->name) || !IsSafeDirectory(entry->path))
        return entry->name.empty() ? ParseStatus::kBadEntry : ParseStatus::kUnsafePath;
    if (words.size() < fixed)
        return ParseStatus::kBadEntry;
    entry->version.assign(words[1]);
    if (kind == KIND_CVR) {
        entry->extra.assign(words[2]);
        if (!IsSafeFileName(entry->extra))
            return ParseStatus::kUnsafePath;
    }
    if (kind == KIND_BIN)
        return words.size() == fixed ? ParseStatus::kOk : ParseStatus::kBadEntry;
    if ((words.size() - fixed) % 2 != 0)
        return ParseStatus::kBadEntry;
    for (size_t i = fixed; i < words.size(); i += 2) {
        entry->deps.push_back({std::string(words[i]), std::string(words[i + 1])});
    }
    return ParseStatus::kOk;
}

}  // namespace

bool IsSafeFileName(std::string_view name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '\\' || c == '/' || u < 0x20 || u == 0x7F)
            return false;
    }
    return true;
}

bool IsSafeDirectory(std::string_view path) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos)
            end = path.size();
        std::string_view part = path.substr(start, end - start);
        if (part == "..")
            return false;
        for (char c : part) {
            unsigned char u = static_cast<unsigned char>(c);
            if (c == '/' || u < 0x20 || u == 0x7F)
                return false;
        }
        start = end + 1;
    }
    return true;
}

LocalList ParseVersionInfo(std::string_view data) {
    LocalList list;
    ForEachLine(data, [&](const std::string& line) {
        std::string_view tag, value;
        if (!SplitTag(line, &tag, &value))
            return true;
        if (tag == "file") {
            size_t end = 0;
            while (end < value.size() && !IsBlank(value[end]))
                ++end;
            LocalEntry entry;
            SplitPathName(value.substr(0, end), &entry.path, &entry.name);
            entry.version.assign(Trim(value.substr(end)));
            list.entries.push_back(std::move(entry));
        } else if (tag == "ver") {
            list.version_of_file.assign(Trim(value));
        }
        return true;
    });
    return list;
}

ParseStatus ParseUpdateInfo(std::string_view data, ServerList* out, std::string* bad_line) {
    *out = ServerList();
    std::string group_key;
    ParseStatus status = ParseStatus::kOk;
    // A list has at least one line with a tag of its own; a file without any
    // (empty, binary, some other text) is no list, not an empty one.
    bool known_tag = false;
    if (data.find('\0') != std::string_view::npos) {
        if (bad_line)
            bad_line->clear();
        return ParseStatus::kGarbage;
    }
    ForEachLine(data, [&](const std::string& line) {
        if (line.rfind("<!", 0) == 0) {
            status = ParseStatus::kNotUpdateList;
        } else {
            std::string_view tag, value;
            if (!SplitTag(line, &tag, &value))
                return true;
            int kind = EntryKind(tag);
            known_tag = known_tag || kind >= 0 || tag.substr(0, 5) == "group" || tag == "label" ||
                        tag == "ver" || tag == "postresetcopy";
            if (tag == "html") {
                status = ParseStatus::kNotUpdateList;
            } else if (tag.substr(0, 5) == "group") {
                group_key.assign(tag);
            } else if (tag == "label") {
                int group_kind = GroupKind(group_key);
                if (group_kind >= 0) {
                    Group group;
                    group.label.assign(Trim(value));
                    group.kind = group_kind;
                    out->groups.push_back(std::move(group));
                }
            } else if (kind >= 0) {
                ServerEntry entry;
                status = ParseEntry(kind, value, &entry);
                if (status == ParseStatus::kOk) {
                    out->entries.push_back(std::move(entry));
                }
            } else if (tag == "ver") {
                out->required_version.assign(Trim(value));
            } else if (tag == "postresetcopy") {
                out->post_reset_copy = true;
            }
        }
        if (status != ParseStatus::kOk && bad_line)
            *bad_line = line;
        return status == ParseStatus::kOk;
    });
    if (status == ParseStatus::kOk && !known_tag)
        return ParseStatus::kGarbage;
    return status;
}

bool CompareLists(ServerList* server, const LocalList& local, std::vector<UpdateItem>* items) {
    items->clear();
    for (Group& g : server->groups)
        g.items.clear();
    bool any = false;
    for (const ServerEntry& entry : server->entries) {
        auto group = std::find_if(server->groups.begin(), server->groups.end(),
                                  [&](const Group& g) { return g.kind == entry.kind; });
        if (group == server->groups.end())
            continue;
        auto found = std::find_if(local.entries.begin(), local.entries.end(),
                                  [&](const LocalEntry& l) { return l.name == entry.name; });
        if (found != local.entries.end() && !VersionLess(found->version, entry.version))
            continue;
        UpdateItem item;
        item.name = entry.name;
        item.path = entry.path;
        item.version = entry.version;
        item.is_new = found == local.entries.end();
        item.kind = entry.kind;
        item.extra = entry.extra;
        item.deps = entry.deps;
        item.group = static_cast<int>(group - server->groups.begin());
        group->items.push_back(items->size());
        items->push_back(std::move(item));
        any = true;
    }
    return any;
}

void SelectFiles(std::vector<Group>* groups, std::vector<UpdateItem>* items, const LocalList& local,
                 bool all) {
    for (Group& g : *groups)
        g.size = 0;
    for (UpdateItem& item : *items) {
        bool in_selected = item.group >= 0 && (*groups)[item.group].selected;
        item.download = item.group >= 0 && (all || in_selected);
        if (item.download)
            (*groups)[item.group].size += item.size;
    }
    // Pull in what the flagged files need, until nothing more is added.
    bool changed = true;
    while (changed) {
        changed = false;
        for (size_t i = 0; i < items->size(); ++i) {
            if (!(*items)[i].download)
                continue;
            for (const Dependency& dep : (*items)[i].deps) {
                auto have = std::find_if(local.entries.begin(), local.entries.end(),
                                         [&](const LocalEntry& l) { return l.name == dep.name; });
                if (have != local.entries.end() && !VersionLess(have->version, dep.version)) {
                    continue;
                }
                for (UpdateItem& other : *items) {
                    if (other.name != dep.name || other.download || other.group < 0)
                        continue;
                    other.download = true;
                    (*groups)[other.group].size += other.size;
                    changed = true;
                    break;
                }
            }
        }
    }
}

std::string FormatVersionInfo(std::string_view updater_version,
                              const std::vector<UpdateItem>& items, const LocalList& local) {
    std::string out = "<VER>";
    out += updater_version;
    out += "\r\n";
    auto line = [&out](std::string_view path, std::string_view name, std::string_view version) {
        out += "<FILE>";
        out += path;
        out += name;
        out += '\t';
        out += version;
        out += "\r\n";
    };
    for (const UpdateItem& item : items) {
        auto found = std::find_if(local.entries.begin(), local.entries.end(),
                                  [&](const LocalEntry& l) { return l.name == item.name; });
        if (found != local.entries.end()) {
            if (item.download) {
                line(item.path, item.name, item.version);
            } else {
                line(found->path, found->name, found->version);
            }
        } else if (item.download) {
            line(item.path, item.name, item.version);
        }
    }
    for (const LocalEntry& entry : local.entries) {
        bool updated = std::any_of(items.begin(), items.end(),
                                   [&](const UpdateItem& i) { return i.name == entry.name; });
        if (!updated)
            line(entry.path, entry.name, entry.version);
    }
    return out;
}

}  // namespace updater
