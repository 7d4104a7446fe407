#include "parlo/contacts/recipients.h"

#include <algorithm>

#include "platform/text.h"

namespace parlo {

namespace {

template <typename T>
void SortByName(std::vector<T*>* list) {
    std::stable_sort(list->begin(), list->end(),
                     [](const T* a, const T* b) { return CompareByName(*a, *b, 1) < 0; });
}

}  // namespace

std::vector<const CContactEntry*> MobileContacts(const ContactList& contacts) {
    std::vector<const CContactEntry*> out;
    for (const auto& c : contacts) {
        if (!c->m_strMobile.empty())
            out.push_back(c.get());
    }
    SortByName(&out);
    return out;
}

std::vector<const CPhonebookEntry*> NumberedPhonebookEntries(const CPhonebook& book) {
    std::vector<const CPhonebookEntry*> out;
    for (const auto& e : book.m_entries) {
        if (!e->m_strMobile.empty())
            out.push_back(e.get());
    }
    SortByName(&out);
    return out;
}

std::vector<const CContactEntry*> GroupSourceContacts(const ContactList& contacts) {
    std::vector<const CContactEntry*> out;
    for (const auto& c : contacts) {
        if (!c->m_strName.empty() || !c->m_strMobile.empty())
            out.push_back(c.get());
    }
    SortByName(&out);
    return out;
}

std::vector<const CPhonebookEntry*> GroupSourcePhonebook(const CPhonebook& book) {
    std::vector<const CPhonebookEntry*> out;
    for (const auto& e : book.m_entries) {
        if (!e->IsDeleted())
            out.push_back(e.get());
    }
    SortByName(&out);
    return out;
}

std::u16string JoinRecipients(std::u16string_view group_expansion,
                              const std::vector<std::u16string>& checked_numbers) {
    std::u16string out(group_expansion);
    for (const std::u16string& n : checked_numbers)
        out += u";" + n;
    if (!out.empty() && out[0] == u';')
        out.erase(0, 1);
    return out;
}

std::vector<CContactEntry*> PrepareImportList(ContactList* contacts) {
    std::vector<CContactEntry*> out;
    for (auto& c : *contacts) {
        c->m_bMarked = 0;
        for (std::u16string* n : {&c->m_strMobile, &c->m_strBusiness, &c->m_strHome, &c->m_strCar})
            CleanNumber(*n);
        if (!c->m_strName.empty() || !c->m_strMobile.empty() || !c->m_strBusiness.empty() ||
            !c->m_strHome.empty() || !c->m_strCar.empty()) {
            out.push_back(c.get());
        }
    }
    SortByName(&out);
    return out;
}

ImportTargetChoice ImportTargetFor(uint32_t enabled_flags) {
    ImportTargetChoice c;
    c.selected = (enabled_flags & STORAGE_FLAG_PHONE) ? 0 : 1;
    c.changeable = (enabled_flags & STORAGE_FLAG_BOTH) == STORAGE_FLAG_BOTH;
    return c;
}

std::u16string GroupRowText(std::u16string_view name, int32_t count) {
    return std::u16string(name) + u" (" + platform::FromUtf8(std::to_string(count)) + u")";
}

}  // namespace parlo
