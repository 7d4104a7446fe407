// The folder table: six fixed folders and the user's own folders.
//
// User folders live in the registry under HKEY_CURRENT_USER\Software\Tarnwell
// Skyvane pro, two REG_SZ values each: "I<k>" holds the id as decimal text and
// "N<k>" the name, k = 0, 1, 2, ... in id order.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class Registry;
class StringTable;
struct RegValue;
}  // namespace platform

namespace parlo {

inline constexpr int32_t FOLDER_OUTBOX = 2000;
inline constexpr int32_t FOLDER_INBOX = 2001;
inline constexpr int32_t FOLDER_DRAFT = 2002;
inline constexpr int32_t FOLDER_SENT = 2003;
inline constexpr int32_t FOLDER_RECYCLE = 2004;
inline constexpr int32_t FOLDER_TEMPLATES = 2005;
inline constexpr int32_t kMaxUserFolderId = 1999;

// String ids of the fixed folders' names.
inline constexpr unsigned IDS_INBOX = 65010;
inline constexpr unsigned IDS_OUTBOX = 65011;
inline constexpr unsigned IDS_SENT = 65012;
inline constexpr unsigned IDS_DRAFT = 65013;
inline constexpr unsigned IDS_TEMPLATES = 65014;
inline constexpr unsigned IDS_RECYCLE = 65059;

class CSmsFolder {
  public:
    CSmsFolder(int32_t id, std::u16string name) : m_nId(id), m_strName(std::move(name)) {}
    virtual ~CSmsFolder() = default;
    bool IsUserFolder() const { return m_nId >= 1 && m_nId <= kMaxUserFolderId; }

    int32_t m_nId;
    std::u16string m_strName;
};

// The state a record gets when it is moved to folder `id`; -1 for an id of
// 2006 or more, which leaves the state as it is.
int32_t StateForFolder(int32_t id);
// The folder view code (1..7) of a folder id.
int ViewOfFolder(int32_t id);

enum class FolderResult {
    kOk,
    kRegistryError,  // "Access to registers failed." (65009)
};

class CFolderTable {
  public:
    CFolderTable() = default;
    CFolderTable(const CFolderTable&) = delete;
    CFolderTable& operator=(const CFolderTable&) = delete;

    // Builds the table from the registry; when the profile key is missing the
    // table stays empty (not even the fixed folders). "I" and "N" values are
    // paired by their common suffix.
    FolderResult Load(const platform::Registry& registry, const platform::StringTable& strings);
    // Rewrites the "I" and "N" values of the profile key.
    FolderResult Save(platform::Registry& registry) const;
    // Reads the table as it is on disk and changes it, in one step under the
    // registry's lock: `change` gets the table as read (the fixed folders
    // included) and returns whether it changed it; the table is written back
    // only then. Another program's folders are never overwritten and a new
    // id never repeats one that another program just took. `*read` says
    // whether the table was read (it then holds what is on disk, changed when
    // kOk); kRegistryError when it could not be read or written.
    FolderResult Update(platform::Registry& registry, const platform::StringTable& strings,
                        const std::function<bool(CFolderTable&)>& change, bool* read = nullptr);

    // A new user folder with the next id (last used + 1), skipping the ids
    // for which `in_use` is true (ids that records still carry, whose folder
    // may be hidden by a damaged registry: a new folder must not show their
    // messages). Null when no user folder id is left.
    CSmsFolder* Add(const std::u16string& name,
                    const std::function<bool(int32_t)>& in_use = nullptr);
    void Rename(CSmsFolder* folder, const std::u16string& name);
    // A user folder with a given id (as another program's table names it).
    CSmsFolder* Put(int32_t id, const std::u16string& name);
    // Removes the folder from both indexes and destroys it.
    void Remove(CSmsFolder* folder);
    void Clear();

    CSmsFolder* ById(int32_t id) const;
    CSmsFolder* ByName(const std::u16string& name) const;
    // The folder whose name differs from `name` at most in case (Latin
    // letters): two folders that a reader cannot tell apart are refused.
    CSmsFolder* ByNameNoCase(const std::u16string& name) const;
    // Every folder in id order (user folders first, then the fixed ones).
    std::vector<CSmsFolder*> All() const;
    std::vector<CSmsFolder*> UserFolders() const;
    int32_t LastUsedId() const { return last_id_; }
    size_t size() const { return by_id_.size(); }

  private:
    void Insert(std::unique_ptr<CSmsFolder> folder);
    void FromValues(const std::vector<platform::RegValue>& values,
                    const platform::StringTable& strings);
    void ToValues(std::vector<platform::RegValue>* values) const;

    // Keys of the id index are taken as 16-bit values.
    std::map<uint16_t, std::unique_ptr<CSmsFolder>> by_id_;
    std::map<std::u16string, CSmsFolder*> by_name_;
    int32_t last_id_ = 0;
};

}  // namespace parlo
