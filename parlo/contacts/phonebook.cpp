#include "parlo/contacts/phonebook.h"

#include <algorithm>
#include <set>
#include <system_error>

#include "parlo/contacts/file_names.h"
#include "platform/binio.h"
#include "platform/prompt.h"
#include "platform/strings.h"

namespace fs = std::filesystem;

namespace parlo {

CPhonebookEntry::CPhonebookEntry(uint32_t id, std::u16string_view name, std::u16string_view number)
    : CContactEntry(name, number, u"", u"", u"", id) {}

bool CPhonebookEntry::Read(platform::BinaryReader& in) {
    return CContactEntry::Read(in) && in.ReadRecordString(&m_strSyncName, kMaxRecordString) &&
           in.ReadRecordString(&m_strSyncNumber, kMaxRecordString);
}

void CPhonebookEntry::Write(platform::BinaryWriter& out) const {
    CContactEntry::Write(out);
    out.WriteRecordString(m_strSyncName);
    out.WriteRecordString(m_strSyncNumber);
}

void CPhonebook::Reset() {
    m_entries.clear();
    m_nStoragesRead = 0;
    m_descriptors[0] = StorageDescriptor();
    m_descriptors[1] = StorageDescriptor();
}

bool CPhonebook::Load(const fs::path& file) {
    Reset();
    std::string bytes;
    if (!platform::ReadFileBytes(file, &bytes))
        return false;
    return Parse(bytes);
}

bool CPhonebook::Parse(std::string_view bytes) {
    Reset();
    platform::BinaryReader in(bytes);
    int32_t read = 0;
    if (!in.ReadInt32(&read))
        return false;
    m_nStoragesRead = read;
    for (StorageDescriptor& d : m_descriptors) {
        StorageDescriptor v;
        if (!in.ReadInt32(&v.flag) || !in.ReadInt32(&v.first) || !in.ReadInt32(&v.last) ||
            !in.ReadInt32(&v.text_length) || !in.ReadInt32(&v.number_length)) {
            return false;
        }
        d = v;
    }
    int32_t count = 0;
    if (!in.ReadInt32(&count) || count < 0)
        return false;
    for (int32_t i = 0; i < count; ++i) {
        auto entry = std::make_unique<CPhonebookEntry>();
        if (!entry->Read(in))
            return false;
        m_entries.push_back(std::move(entry));
    }
    return true;
}

bool CPhonebook::Save(const fs::path& file) const {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    return platform::WriteFileAtomic(file, Serialize());
}

std::string CPhonebook::Serialize() const {
    platform::BinaryWriter out;
    out.WriteInt32(m_nStoragesRead);
    for (const StorageDescriptor& d : m_descriptors) {
        out.WriteInt32(d.flag);
        out.WriteInt32(d.first);
        out.WriteInt32(d.last);
        out.WriteInt32(d.text_length);
        out.WriteInt32(d.number_length);
    }
    out.WriteInt32(static_cast<int32_t>(m_entries.size()));
    for (const auto& e : m_entries)
        e->Write(out);
    return out.data();
}

CPhonebookEntry* CPhonebook::FindById(uint32_t id) const {
    for (const auto& e : m_entries) {
        if (e->m_nId == id)
            return e.get();
    }
    return nullptr;
}

void CPhonebook::Remove(const CPhonebookEntry* entry) {
    auto it = std::find_if(m_entries.begin(), m_entries.end(),
                           [entry](const auto& p) { return p.get() == entry; });
    if (it != m_entries.end())
        m_entries.erase(it);
}

std::optional<int32_t> CPhonebook::FirstFreeIndex(const StorageDescriptor& d) const {
    if (d.last < d.first)
        return std::nullopt;
    std::set<int32_t> used;
    for (const auto& e : m_entries) {
        if (StorageFlagOf(e->m_nId) == static_cast<uint32_t>(d.flag))
            used.insert(IndexOf(e->m_nId));
    }
    // Only indices of the range count; walk the used ones in order.
    int64_t candidate = d.first;
    for (auto it = used.lower_bound(d.first); it != used.end() && *it == candidate; ++it) {
        ++candidate;
    }
    if (candidate > d.last)
        return std::nullopt;
    return static_cast<int32_t>(candidate);
}

int CPhonebook::SlotOf(uint32_t flag) {
    return flag == STORAGE_FLAG_SIM ? 0 : flag == STORAGE_FLAG_PHONE ? 1 : -1;
}

fs::path PhonebookFolder(const fs::path& data_dir) {
    return data_dir / "pb";
}

fs::path PhonebookPath(const fs::path& data_dir, std::u16string_view identity) {
    return PhonebookFolder(data_dir) / (IdentityFileName(identity) + ".pb");
}

bool IsValidPhonebookNumber(std::u16string_view number) {
    if (number.empty())
        return false;
    for (char16_t c : number) {
        if (!((c >= u'0' && c <= u'9') || c == u'+' || c == u';'))
            return false;
    }
    return true;
}

std::optional<uint32_t> NewEntryId(const CPhonebook& book, uint32_t enabled_flags,
                                   uint32_t preferred_flag, platform::Prompt& prompt,
                                   const platform::StringTable& strings) {
    if (preferred_flag != 0) {
        int slot = CPhonebook::SlotOf(preferred_flag);
        if (slot >= 0) {
            const StorageDescriptor& d = book.m_descriptors[slot];
            if (static_cast<uint32_t>(d.flag) == preferred_flag) {
                if (auto index = book.FirstFreeIndex(d)) {
                    return preferred_flag | static_cast<uint32_t>(*index);
                }
            }
        }
        prompt.MessageBox(strings.Load(65072), platform::Buttons::Ok, platform::Icon::Warning);
        return std::nullopt;
    }
    for (const StorageDescriptor& d : book.m_descriptors) {
        uint32_t flag = static_cast<uint32_t>(d.flag);
        if ((flag & enabled_flags) == 0 || (flag & ~STORAGE_FLAG_MASK) != 0)
            continue;
        if (auto index = book.FirstFreeIndex(d))
            return flag | static_cast<uint32_t>(*index);
    }
    prompt.MessageBox(strings.Load(65091), platform::Buttons::Ok, platform::Icon::Warning);
    return std::nullopt;
}

namespace {

bool CheckEntry(std::u16string_view name, std::u16string_view number, platform::Prompt& prompt,
                const platform::StringTable& strings) {
    if (name.empty()) {
        prompt.MessageBox(strings.Load(65093), platform::Buttons::Ok, platform::Icon::Warning);
        return false;
    }
    if (number.empty()) {
        prompt.MessageBox(strings.Load(65094), platform::Buttons::Ok, platform::Icon::Warning);
        return false;
    }
    return IsValidPhonebookNumber(number);
}

}  // namespace

CPhonebookEntry* AddEntry(CPhonebook* book, uint32_t id, std::u16string_view name,
                          std::u16string_view number, platform::Prompt& prompt,
                          const platform::StringTable& strings) {
    if (!CheckEntry(name, number, prompt, strings))
        return nullptr;
    if (StorageFlagOf(id) == 0) {
        prompt.MessageBox(strings.Load(65092), platform::Buttons::Ok, platform::Icon::Warning);
        return nullptr;
    }
    auto entry = std::make_unique<CPhonebookEntry>(id, name, number);
    CPhonebookEntry* raw = entry.get();
    book->m_entries.push_back(std::move(entry));
    return raw;
}

bool EditEntry(CPhonebookEntry* entry, std::u16string_view name, std::u16string_view number,
               platform::Prompt& prompt, const platform::StringTable& strings) {
    if (!entry) {
        prompt.MessageBox(strings.Load(65052), platform::Buttons::Ok, platform::Icon::Warning);
        return false;
    }
    if (!CheckEntry(name, number, prompt, strings))
        return false;
    entry->m_strName = std::u16string(name);
    entry->m_strMobile = std::u16string(number);
    return true;
}

bool DeleteEntries(const std::vector<CPhonebookEntry*>& entries, platform::Prompt& prompt,
                   const platform::StringTable& strings) {
    if (entries.empty()) {
        prompt.MessageBox(strings.Load(65052), platform::Buttons::Ok, platform::Icon::Warning);
        return false;
    }
    if (prompt.MessageBox(strings.Load(65054), platform::Buttons::YesNo,
                          platform::Icon::Question) != platform::Answer::Yes) {
        return false;
    }
    for (CPhonebookEntry* e : entries) {
        e->m_strName.clear();
        e->m_strMobile.clear();
    }
    return true;
}

ImportResult ImportContacts(CPhonebook* book, const std::vector<const CContactEntry*>& contacts,
                            uint32_t target_flag, platform::Prompt& prompt,
                            const platform::StringTable& strings) {
    for (const CContactEntry* c : contacts) {
        const std::u16string* numbers[4] = {&c->m_strMobile, &c->m_strBusiness, &c->m_strHome,
                                            &c->m_strCar};
        for (int kind = 0; kind < 4; ++kind) {
            if (numbers[kind]->empty())
                continue;
            std::optional<int32_t> index;
            int32_t largest_last = 0;
            for (const StorageDescriptor& d : book->m_descriptors) {
                if (static_cast<uint32_t>(d.flag) != target_flag)
                    continue;
                largest_last = std::max(largest_last, d.last);
                if (!index)
                    index = book->FirstFreeIndex(d);
            }
            if (!index) {
                bool never_read = largest_last < 21;
                prompt.MessageBox(strings.Load(never_read ? 65110 : 65091), platform::Buttons::Ok,
                                  platform::Icon::Warning);
                return never_read ? ImportResult::kNeedSync : ImportResult::kFull;
            }
            auto entry = std::make_unique<CPhonebookEntry>();
            entry->m_nId = target_flag | static_cast<uint32_t>(*index);
            entry->m_strMobile = *numbers[kind];
            entry->m_strName = c->m_strName + u"/" + strings.Load(kKindLetterIds[kind]);
            book->m_entries.push_back(std::move(entry));
        }
    }
    return ImportResult::kImported;
}

std::vector<CPhonebookEntry*> VisibleEntries(const CPhonebook& book, uint32_t enabled_flags) {
    std::vector<CPhonebookEntry*> out;
    for (const auto& e : book.m_entries) {
        if ((StorageFlagOf(e->m_nId) & enabled_flags) == 0)
            continue;
        if (e->IsDeleted())
            continue;
        out.push_back(e.get());
    }
    return out;
}

}  // namespace parlo
