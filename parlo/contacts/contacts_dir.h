// The contacts of the desktop: a vCard directory in the layout that Linux
// address-book tools share (vdir): a root folder of address books
// (subfolders), one .vcf file per contact.
//
// Every contact gets a stable 32-bit id, its OID. The OID is derived from the
// contact's key (its vCard UID, or for a card without UID its file path
// inside the root) by a hash, and the assignment is remembered in a small map
// file of the installation directory, so that a contact keeps its OID across
// restarts and edits, and a hash collision never moves the OID of a contact
// that was seen first.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "parlo/contacts/contact_entry.h"
#include "parlo/contacts/vcard.h"

namespace platform {
class Prompt;
class StringTable;
}  // namespace platform

namespace parlo {

struct StoredContact {
    uint32_t oid = 0;
    std::string key;             // "uid:<UID>" or "file:<book>/<file>[#n]"
    std::filesystem::path file;  // the .vcf file
    vcard::Card card;
};

// Why the contacts could not be read or written; the number is the one shown
// in "Pocket Outlook Error -n-" / "Pocket Contacts Error -n-".
enum class ContactsStatus {
    kOk = 0,
    kRootUnusable = 1,    // the root folder cannot be created, opened or listed
    kBookUnreadable = 2,  // an address book (subfolder) cannot be listed or created
    kFileFailed = 3,      // a contact file cannot be read, or a new one not written
};

class ContactsDir {
  public:
    // `root`: the vdir root; `oid_map`: the file that remembers OIDs.
    ContactsDir(std::filesystem::path root, std::filesystem::path oid_map);
    // $SKYVANE_CONTACTS, else ~/.contacts; the map "contacts.oid" in the
    // installation directory.
    static ContactsDir Default();
    static std::filesystem::path DefaultRoot();

    const std::filesystem::path& root() const { return root_; }
    const std::filesystem::path& oid_map() const { return oid_map_; }

    // Reads every contact (address books in name order, files in name order).
    // A root that does not exist yet holds no contacts. Files that are not
    // vCards, .tmp files and files without the .vcf ending are skipped.
    ContactsStatus Load(std::vector<StoredContact>* out) const;

    // Writes one new contact (vCard 3.0, a fresh UID) into the first address
    // book, creating the root and a book "default" when there is none.
    ContactsStatus Add(const vcard::Card& card, StoredContact* created = nullptr) const;

    // The address book new contacts go into (empty when none can be made).
    std::filesystem::path FirstBook(bool create, ContactsStatus* status) const;

  private:
    std::filesystem::path root_;
    std::filesystem::path oid_map_;
};

// The OID a key hashes to before collisions are resolved: 1 .. 0x0FFFFFFF.
uint32_t HashOid(const std::string& key, uint32_t attempt = 0);

// A fresh random UID (RFC 4122 version 4 form).
std::string NewUid();

// Fills `list` with one CContactEntry per contact (name "Last First",
// the four numbers, OID as id). On failure shows "Pocket Outlook Error -n-"
// and returns false without touching the list.
bool ReadContacts(ContactList* list, platform::Prompt& prompt, const ContactsDir& dir);
bool ReadContacts(ContactList* list, platform::Prompt& prompt);

// Creates one new contact per entry (family name = the entry's name, cell
// number = its mobile number) and shows 65078 when done. On failure shows
// "Pocket Contacts Error -n-" and returns false; contacts written before the
// failure stay.
bool ExportToContacts(const std::vector<const CContactEntry*>& entries, platform::Prompt& prompt,
                      const platform::StringTable& strings, const ContactsDir& dir);

// Finds a contact by OID or by vCard UID; false when there is none or the
// contacts cannot be read.
bool FindContactByOid(const ContactsDir& dir, uint32_t oid, StoredContact* out);
bool FindContactByUid(const ContactsDir& dir, const std::u16string& uid, StoredContact* out);

}  // namespace parlo
