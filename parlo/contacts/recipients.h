// What the recipient and group dialogs offer and return, without widgets:
// which people each list shows, the recipient string of "Select the phone
// number", the marked contacts and the target storage of "Select Contacts".
// The dialogs and parlo-cli use the same rules.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "parlo/contacts/contact_entry.h"
#include "parlo/contacts/phonebook.h"

namespace parlo {

// Select the phone number: the contacts with a mobile number (business, home
// and car numbers are not offered), sorted by name.
std::vector<const CContactEntry*> MobileContacts(const ContactList& contacts);
// Select the phone number: the phonebook entries with a number, sorted by
// name.
std::vector<const CPhonebookEntry*> NumberedPhonebookEntries(const CPhonebook& book);

// Define Group: the contacts with a name or a mobile number, and the
// phonebook entries with a name or a number, sorted by name.
std::vector<const CContactEntry*> GroupSourceContacts(const ContactList& contacts);
std::vector<const CPhonebookEntry*> GroupSourcePhonebook(const CPhonebook& book);

// The recipient string: the group's expansion (";" before each number, as
// ExpandGroup gives it), then ";" and each checked number in list order
// (contacts first, then phonebook entries); the leading ';' removed.
// Duplicates stay.
std::u16string JoinRecipients(std::u16string_view group_expansion,
                              const std::vector<std::u16string>& checked_numbers);

// Select Contacts: clears every mark and cleans all four numbers in place;
// returns the contacts that have a name or a number, sorted by name.
std::vector<CContactEntry*> PrepareImportList(ContactList* contacts);

// The "Import to:" box: "Phone" (0) and "SIM" (1); preselects "Phone" when
// the phone storage is enabled, else "SIM"; can be changed only when both are
// enabled.
struct ImportTargetChoice {
    int selected = 0;
    bool changeable = false;
};
ImportTargetChoice ImportTargetFor(uint32_t enabled_flags);
// The storage flag of a choice of that box.
inline uint32_t ImportTargetFlag(int choice) {
    return choice == 0 ? STORAGE_FLAG_PHONE : STORAGE_FLAG_SIM;
}

// The row text of a group in the Groups list: "name (count)".
std::u16string GroupRowText(std::u16string_view name, int32_t count);

}  // namespace parlo
