// A file-backed registry with HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE.
//
// The file is in the registry export text format ("Windows Registry Editor
// Version 5.00", UTF-8), so a person can read and edit it by hand:
//
//   [HKEY_CURRENT_USER\Software\Tarnwell Skyvane pro]
//   "I0"="1"
//   "N0"="Private"
//   "Count"=dword:00000003
//
// Every call reads the file afresh under a shared lock; every change rewrites
// it atomically (temporary file, fsync, rename) under an exclusive lock on a
// lock file beside it, so several programs can share one registry and two
// processes that change different values both keep their change. Values
// enumerate in the order they were created; deleting a value makes the next
// one take its index. Key and value names compare case-insensitively (ASCII),
// as on the handheld. Names and data are UTF-8.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

enum class Hive { CurrentUser, LocalMachine };

enum class RegType { String, Dword };

struct RegValue {
    std::string name;
    RegType type = RegType::String;
    std::string str;     // REG_SZ data (without the terminating zero)
    uint32_t dword = 0;  // REG_DWORD data
};

class Registry {
  public:
    // A registry stored in `file`.
    explicit Registry(std::filesystem::path file);

    // The registry of this device: DeviceRoot()/registry.reg.
    static Registry Device();

    const std::filesystem::path& file() const { return file_; }

    // Keys are paths below the hive with backslash separators,
    // e.g. "Software\\Tarnwell Skyvane pro".
    bool KeyExists(Hive hive, const std::string& key) const;
    bool CreateKey(Hive hive, const std::string& key);  // with its parents
    bool DeleteKey(Hive hive, const std::string& key);  // with its subkeys

    // Direct subkeys by index (0, 1, ...) in creation order; false past the end
    // or when the key does not exist.
    bool EnumSubkey(Hive hive, const std::string& key, size_t index, std::string* name) const;
    std::vector<std::string> Subkeys(Hive hive, const std::string& key) const;

    // Values by index in creation order; false past the end or without the key.
    bool EnumValue(Hive hive, const std::string& key, size_t index, RegValue* value) const;
    std::vector<RegValue> Values(Hive hive, const std::string& key) const;

    // False when the key or the value does not exist.
    bool QueryValue(Hive hive, const std::string& key, const std::string& name,
                    RegValue* value) const;
    std::optional<std::string> QueryString(Hive hive, const std::string& key,
                                           const std::string& name) const;
    std::optional<uint32_t> QueryDword(Hive hive, const std::string& key,
                                       const std::string& name) const;

    // Setting a value creates its key when needed; an existing value keeps its
    // place in the enumeration order.
    bool SetString(Hive hive, const std::string& key, const std::string& name,
                   const std::string& data);
    bool SetDword(Hive hive, const std::string& key, const std::string& name, uint32_t data);
    // False when the value did not exist or the file could not be written.
    bool DeleteValue(Hive hive, const std::string& key, const std::string& name);
    // One atomic read, change and write of a key's values under the
    // exclusive lock, so that a change computed from what is on disk (a new
    // id, say) cannot overwrite another program's change made meanwhile.
    // `change` gets the key's values as they are now (none when the key does
    // not exist) and returns whether it changed them; the file is written
    // only then, the key created when needed. False only when the file could
    // not be read or written.
    bool UpdateValues(Hive hive, const std::string& key,
                      const std::function<bool(std::vector<RegValue>& values)>& change);

    // True when the file holds text that cannot be read: a missing header
    // (then nothing of it is read) or lines that are skipped. `lines` gets
    // the count of unreadable lines (0 with a missing header).
    bool Damaged(size_t* lines = nullptr, bool* no_header = nullptr) const;
    // Before a damaged file is first rewritten (which keeps only what could
    // be read), it is copied here: file + ".damaged".
    std::filesystem::path DamagedCopyPath() const;

  private:
    std::filesystem::path file_;
};

}  // namespace platform
