#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "platform/binio.h"
#include "platform/paths.h"
#include "platform/reg_format.h"
#include "platform/text.h"

namespace platform {
namespace fs = std::filesystem;

namespace {

// Holds flock on "<registry>.lock" for the lifetime of the object.
class FileLock {
  public:
    FileLock(const fs::path& file, bool exclusive) {
        std::error_code ec;
        if (file.has_parent_path())
            fs::create_directories(file.parent_path(), ec);
        fs::path lock = file;
        lock += ".lock";
        fd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ >= 0) {
            while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
            }
        }
    }
    ~FileLock() {
        if (fd_ >= 0)
            ::close(fd_);  // closing releases the lock
    }
    bool ok() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

std::string FullPath(Hive hive, const std::string& key) {
    std::string k = key;
    while (!k.empty() && k.back() == '\\')
        k.pop_back();
    while (!k.empty() && k.front() == '\\')
        k.erase(0, 1);
    return k.empty() ? std::string(HiveName(hive)) : std::string(HiveName(hive)) + "\\" + k;
}

bool Load(const fs::path& file, RegDocument* doc) {
    std::string text;
    if (!ReadFileBytes(file, &text)) {
        doc->keys.clear();
        return !fs::exists(file);  // a missing file is an empty registry
    }
    ParseRegText(text, doc);
    return true;
}

const RegKeyData* FindKey(const RegDocument& doc, const std::string& path) {
    for (const RegKeyData& k : doc.keys)
        if (EqualsNoCase(k.path, path))
            return &k;
    return nullptr;
}

RegKeyData* FindKey(RegDocument& doc, const std::string& path) {
    return const_cast<RegKeyData*>(FindKey(static_cast<const RegDocument&>(doc), path));
}

bool IsBelow(const std::string& path, const std::string& ancestor) {
    return path.size() > ancestor.size() + 1 && path[ancestor.size()] == '\\' &&
           EqualsNoCase(std::string_view(path).substr(0, ancestor.size()), ancestor);
}

// A key exists when it has a section of its own or a descendant has one
// (parents are implied, as in exported files).
bool Exists(const RegDocument& doc, const std::string& path) {
    for (const RegKeyData& k : doc.keys)
        if (EqualsNoCase(k.path, path) || IsBelow(k.path, path))
            return true;
    return false;
}

void Create(RegDocument& doc, const std::string& path) {
    size_t pos = path.find('\\');
    while (true) {
        std::string prefix = pos == std::string::npos ? path : path.substr(0, pos);
        if (prefix.find('\\') != std::string::npos && !FindKey(doc, prefix))
            doc.keys.push_back({prefix, {}});
        if (pos == std::string::npos)
            break;
        pos = path.find('\\', pos + 1);
    }
}

// Runs `change` on the document under the exclusive lock and writes the
// result when it returns true.
bool Modify(const fs::path& file, const std::function<bool(RegDocument&)>& change) {
    FileLock lock(file, true);
    if (!lock.ok())
        return false;
    RegDocument doc;
    std::string before;
    const bool existed = ReadFileBytes(file, &before);
    size_t skipped = 0;
    bool whole = true;
    if (existed)
        whole = ParseRegText(before, &doc, &skipped) && skipped == 0;
    else if (fs::exists(file))
        return false;  // there but unreadable
    if (!change(doc))
        return false;
    std::string after = FormatRegText(doc);
    // Setting a value to what it already is rewrites nothing: no synced
    // write (tens of milliseconds) for every program start.
    if (existed && after == before)
        return true;
    if (!whole) {
        // The rewrite keeps only what could be read: the damaged file goes
        // aside first, once, so that nothing of it is lost.
        fs::path copy = file;
        copy += ".damaged";
        std::string kept;
        if (!(ReadFileBytes(copy, &kept) && kept == before) && !WriteFileAtomic(copy, before))
            return false;
    }
    return WriteFileAtomic(file, after);
}

bool Read(const fs::path& file, RegDocument* doc) {
    FileLock lock(file, false);
    return Load(file, doc);
}

}  // namespace

Registry::Registry(fs::path file) : file_(std::move(file)) {}

Registry Registry::Device() {
    return Registry(DeviceRoot() / "registry.reg");
}

bool Registry::Damaged(size_t* lines, bool* no_header) const {
    FileLock lock(file_, false);
    std::string text;
    RegDocument doc;
    size_t skipped = 0;
    const bool header = !ReadFileBytes(file_, &text) || ParseRegText(text, &doc, &skipped);
    if (lines)
        *lines = header ? skipped : 0;
    if (no_header)
        *no_header = !header;
    return !header || skipped > 0;
}

fs::path Registry::DamagedCopyPath() const {
    fs::path copy = file_;
    copy += ".damaged";
    return copy;
}

bool Registry::KeyExists(Hive hive, const std::string& key) const {
    RegDocument doc;
    return Read(file_, &doc) && Exists(doc, FullPath(hive, key));
}

bool Registry::CreateKey(Hive hive, const std::string& key) {
    std::string path = FullPath(hive, key);
    return Modify(file_, [&](RegDocument& doc) {
        Create(doc, path);
        return true;
    });
}

bool Registry::DeleteKey(Hive hive, const std::string& key) {
    std::string path = FullPath(hive, key);
    return Modify(file_, [&](RegDocument& doc) {
        auto gone = [&](const RegKeyData& k) {
            return EqualsNoCase(k.path, path) || IsBelow(k.path, path);
        };
        size_t before = doc.keys.size();
        doc.keys.erase(std::remove_if(doc.keys.begin(), doc.keys.end(), gone), doc.keys.end());
        return doc.keys.size() != before;
    });
}

std::vector<std::string> Registry::Subkeys(Hive hive, const std::string& key) const {
    std::vector<std::string> names;
    RegDocument doc;
    if (!Read(file_, &doc))
        return names;
    std::string path = FullPath(hive, key);
    for (const RegKeyData& k : doc.keys) {
        if (!IsBelow(k.path, path))
            continue;
        std::string rest = k.path.substr(path.size() + 1);
        std::string child = rest.substr(0, rest.find('\\'));
        bool seen = std::any_of(names.begin(), names.end(),
                                [&](const std::string& n) { return EqualsNoCase(n, child); });
        if (!seen && !child.empty())
            names.push_back(child);
    }
    return names;
}

bool Registry::EnumSubkey(Hive hive, const std::string& key, size_t index,
                          std::string* name) const {
    std::vector<std::string> names = Subkeys(hive, key);
    if (index >= names.size())
        return false;
    *name = names[index];
    return true;
}

std::vector<RegValue> Registry::Values(Hive hive, const std::string& key) const {
    RegDocument doc;
    if (!Read(file_, &doc))
        return {};
    const RegKeyData* k = FindKey(doc, FullPath(hive, key));
    return k ? k->values : std::vector<RegValue>{};
}

bool Registry::EnumValue(Hive hive, const std::string& key, size_t index, RegValue* value) const {
    std::vector<RegValue> values = Values(hive, key);
    if (index >= values.size())
        return false;
    *value = values[index];
    return true;
}

bool Registry::QueryValue(Hive hive, const std::string& key, const std::string& name,
                          RegValue* value) const {
    for (const RegValue& v : Values(hive, key)) {
        if (EqualsNoCase(v.name, name)) {
            *value = v;
            return true;
        }
    }
    return false;
}

std::optional<std::string> Registry::QueryString(Hive hive, const std::string& key,
                                                 const std::string& name) const {
    RegValue v;
    if (!QueryValue(hive, key, name, &v) || v.type != RegType::String)
        return std::nullopt;
    return v.str;
}

std::optional<uint32_t> Registry::QueryDword(Hive hive, const std::string& key,
                                             const std::string& name) const {
    RegValue v;
    if (!QueryValue(hive, key, name, &v) || v.type != RegType::Dword)
        return std::nullopt;
    return v.dword;
}

namespace {

bool SetValue(const fs::path& file, const std::string& path, const RegValue& value) {
    return Modify(file, [&](RegDocument& doc) {
        Create(doc, path);
        RegKeyData* k = FindKey(doc, path);
        if (!k) {
            doc.keys.push_back({path, {}});
            k = &doc.keys.back();
        }
        for (RegValue& v : k->values) {
            if (EqualsNoCase(v.name, value.name)) {
                std::string keep_name = v.name;
                v = value;
                v.name = keep_name;
                return true;
            }
        }
        k->values.push_back(value);
        return true;
    });
}

}  // namespace

bool Registry::SetString(Hive hive, const std::string& key, const std::string& name,
                         const std::string& data) {
    RegValue v;
    v.name = name;
    v.type = RegType::String;
    v.str = data;
    return SetValue(file_, FullPath(hive, key), v);
}

bool Registry::SetDword(Hive hive, const std::string& key, const std::string& name, uint32_t data) {
    RegValue v;
    v.name = name;
    v.type = RegType::Dword;
    v.dword = data;
    return SetValue(file_, FullPath(hive, key), v);
}

bool Registry::DeleteValue(Hive hive, const std::string& key, const std::string& name) {
    std::string path = FullPath(hive, key);
    return Modify(file_, [&](RegDocument& doc) {
        RegKeyData* k = FindKey(doc, path);
        if (!k)
            return false;
        auto it = std::find_if(k->values.begin(), k->values.end(),
                               [&](const RegValue& v) { return EqualsNoCase(v.name, name); });
        if (it == k->values.end())
            return false;
        k->values.erase(it);
        return true;
    });
}

bool Registry::UpdateValues(Hive hive, const std::string& key,
                            const std::function<bool(std::vector<RegValue>& values)>& change) {
    std::string path = FullPath(hive, key);
    bool read = false, changed = false;
    const bool written = Modify(file_, [&](RegDocument& doc) {
        read = true;
        std::vector<RegValue> values;
        if (const RegKeyData* k = FindKey(doc, path))
            values = k->values;
        changed = change(values);
        if (!changed)
            return false;
        Create(doc, path);
        FindKey(doc, path)->values = std::move(values);
        return true;
    });
    return read && (!changed || written);
}

}  // namespace platform
