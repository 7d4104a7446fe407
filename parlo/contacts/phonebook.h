// The handheld copy of the phone's phonebook: entries, storage descriptors,
// the phonebook file of each phone and the editing operations.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "parlo/contacts/contact_entry.h"

namespace platform {
class Prompt;
class StringTable;
}  // namespace platform

namespace parlo {

inline constexpr uint32_t STORAGE_FLAG_SIM = 0x10000000u;
inline constexpr uint32_t STORAGE_FLAG_PHONE = 0x20000000u;
inline constexpr uint32_t STORAGE_FLAG_BOTH = 0x30000000u;
inline constexpr uint32_t STORAGE_FLAG_MASK = 0xF0000000u;

inline uint32_t StorageFlagOf(uint32_t id) {
    return id & STORAGE_FLAG_MASK;
}
inline int32_t IndexOf(uint32_t id) {
    return static_cast<int32_t>(id & 0x0FFFFFFFu);
}

// One storage of the phone: flag, index range and the lengths the phone
// accepts.
struct StorageDescriptor {
    int32_t flag = static_cast<int32_t>(STORAGE_FLAG_SIM);
    int32_t first = 1;
    int32_t last = 20;
    int32_t text_length = 20;
    int32_t number_length = 20;
    bool operator==(const StorageDescriptor&) const = default;
};

class CPhonebookEntry : public CContactEntry {
  public:
    CPhonebookEntry() = default;
    CPhonebookEntry(const CPhonebookEntry&) = default;
    CPhonebookEntry& operator=(const CPhonebookEntry&) = default;
    // An entry with the given id, name and number and empty sync fields.
    CPhonebookEntry(uint32_t id, std::u16string_view name, std::u16string_view number);

    bool Read(platform::BinaryReader& in) override;
    void Write(platform::BinaryWriter& out) const override;

    // Deleted on the handheld: name and number are empty.
    bool IsDeleted() const { return m_strName.empty() && m_strMobile.empty(); }
    // Never agreed with the phone.
    bool IsUnsynced() const { return m_strSyncName.empty() && m_strSyncNumber.empty(); }

    std::u16string m_strSyncName;
    std::u16string m_strSyncNumber;
};

using PhonebookList = std::vector<std::unique_ptr<CPhonebookEntry>>;

class CPhonebook {
  public:
    CPhonebook() { Reset(); }

    // Empties the list and sets the descriptors to their defaults.
    void Reset();

    // Loading stops with failure at the first short read; entries read until
    // then stay. A missing file leaves the phonebook reset.
    bool Load(const std::filesystem::path& file);
    // The same on the bytes of a phonebook file.
    bool Parse(std::string_view bytes);
    // Creates the folder, then writes the file atomically.
    bool Save(const std::filesystem::path& file) const;
    // The bytes of the phonebook file.
    std::string Serialize() const;

    CPhonebookEntry* FindById(uint32_t id) const;
    // Removes and destroys the entry.
    void Remove(const CPhonebookEntry* entry);

    // The smallest index of the descriptor's range that no entry of its
    // storage uses.
    std::optional<int32_t> FirstFreeIndex(const StorageDescriptor& d) const;
    // The slot of a storage flag (0 SIM, 1 phone), -1 for others.
    static int SlotOf(uint32_t flag);

    PhonebookList m_entries;
    int32_t m_nStoragesRead = 0;
    std::array<StorageDescriptor, 2> m_descriptors;
};

// Where the phonebook files live: data directory + "pb", one file per phone
// identity (the identity made safe as a file name).
std::filesystem::path PhonebookFolder(const std::filesystem::path& data_dir);
std::filesystem::path PhonebookPath(const std::filesystem::path& data_dir,
                                    std::u16string_view identity);

// Whether a number may be stored: not empty, only digits, '+' and ';'.
bool IsValidPhonebookNumber(std::u16string_view number);

// The length a name takes in a phone's phonebook: one per character of the
// GSM alphabet (two for those of its extension table), or, with any other
// character, 1 + 2 per UTF-16 unit (UCS2 coding, as a SIM stores it).
int PhonebookTextLength(std::u16string_view name);

// Why the storage `d` cannot hold the name and number (too long, a second
// number after ';', a '+' inside the number), as a sentence for the user;
// empty when it can. A length of 0 in the descriptor is not checked.
std::u16string PhonebookLimitProblem(std::u16string_view name, std::u16string_view number,
                                     const StorageDescriptor& d);
// The descriptor of the storage of `id` (its slot's), or null when that
// storage was never read.
const StorageDescriptor* DescriptorOf(const CPhonebook& book, uint32_t id);

// The id a new entry gets: the first enabled storage (in slot order) that
// has a free index. Shows 65091 and returns nothing when all are full.
// `preferred_flag` (SIM or phone) restricts the choice to that storage and
// shows 65072 when it is full.
std::optional<uint32_t> NewEntryId(const CPhonebook& book, uint32_t enabled_flags,
                                   uint32_t preferred_flag, platform::Prompt& prompt,
                                   const platform::StringTable& strings);

// Checks name and number as the entry dialog does (65093, 65094, then the
// storage's limits) and appends a new entry with empty sync fields. Returns
// the entry or nullptr.
CPhonebookEntry* AddEntry(CPhonebook* book, uint32_t id, std::u16string_view name,
                          std::u16string_view number, platform::Prompt& prompt,
                          const platform::StringTable& strings);

// Changes name and number (the sync fields stay, so the next
// synchronisation writes the change to the phone). Same checks as AddEntry.
// `limits`: the descriptor of the entry's storage (DescriptorOf), if known.
bool EditEntry(CPhonebookEntry* entry, std::u16string_view name, std::u16string_view number,
               platform::Prompt& prompt, const platform::StringTable& strings,
               const StorageDescriptor* limits = nullptr);

// Deletes on the handheld after confirmation 65054: name and number become
// empty. Without entries shows 65052. Returns whether anything was deleted.
bool DeleteEntries(const std::vector<CPhonebookEntry*>& entries, platform::Prompt& prompt,
                   const platform::StringTable& strings);

enum class ImportResult { kImported, kNeedSync, kFull, kSomeSkipped };

// Adds one entry per number of each contact (mobile, business, home, car),
// named "<name>/<kind letter>", at the first free index of the target
// storage. An entry the storage cannot hold (name or number too long) is not
// added; one message names all of them (kSomeSkipped). Stops with 65110
// (never synchronised) or 65091 (full). The entries added until then stay:
// the caller saves the file in every case. `added` receives their number.
ImportResult ImportContacts(CPhonebook* book, const std::vector<const CContactEntry*>& contacts,
                            uint32_t target_flag, platform::Prompt& prompt,
                            const platform::StringTable& strings, int* added = nullptr);

// Entries of the enabled storages that have a name or a number, as the
// Phonebook list shows them.
std::vector<CPhonebookEntry*> VisibleEntries(const CPhonebook& book, uint32_t enabled_flags);

}  // namespace parlo
