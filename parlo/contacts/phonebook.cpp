#include "parlo/contacts/phonebook.h"

#include <algorithm>
#include <set>
#include <system_error>

#include "parlo/contacts/file_names.h"
#include "parlo/sms/gsm_alphabet.h"
#include "platform/binio.h"
#include "platform/prompt.h"
#include "platform/strings.h"
#include "platform/text.h"

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

namespace {

std::u16string Num(int64_t n) {
    return platform::FromUtf8(std::to_string(n));
}

// Septets of one character in the GSM alphabet: 1 for the basic table, 2
// for the extension table (after the escape), 0 for none.
int GsmSeptets(char16_t c) {
    std::u16string one(1, c);
    ToGsmAlphabet(one);
    if (one[0] <= 0x7F) {
        std::u16string back(1, one[0]);
        FromGsmAlphabet(back);
        if (back[0] == c)
            return 1;
    }
    for (uint8_t code = 0; code < 0x80; ++code) {
        if (code != GSM_ESCAPE && GsmExtensionToUnicode(code) == c)
            return 2;
    }
    return 0;
}

// The message shown when a storage that was never read is asked for an index.
const char16_t kNotReadYet[] =
    u"The phone's phonebook has not been read yet. Synchronize the phonebook "
    u"with the phone first.";

}  // namespace

int PhonebookTextLength(std::u16string_view name) {
    int septets = 0;
    for (char16_t c : name) {
        int n = GsmSeptets(c);
        if (n == 0)
            return 1 + 2 * static_cast<int>(name.size());
        septets += n;
    }
    return septets;
}

std::u16string PhonebookLimitProblem(std::u16string_view name, std::u16string_view number,
                                     const StorageDescriptor& d) {
    if (number.find(u';') != std::u16string_view::npos)
        return u"A phonebook entry holds one number: the phone does not take ';'.";
    if (number.find(u'+', 1) != std::u16string_view::npos)
        return u"A '+' can only stand at the start of the number.";
    const size_t digits = number.size() - (!number.empty() && number[0] == u'+' ? 1 : 0);
    if (d.number_length > 0 && digits > static_cast<size_t>(d.number_length)) {
        return u"The number is too long for the phone: it takes " + Num(d.number_length) +
               u" digits.";
    }
    if (d.text_length > 0 && PhonebookTextLength(name) > d.text_length) {
        std::u16string text = u"The name \"" + std::u16string(name) +
                              u"\" is too long for the phone: it takes " + Num(d.text_length) +
                              u" characters";
        if (d.text_length >= 3)
            text +=
                u" (" + Num((d.text_length - 1) / 2) + u" with letters outside the GSM alphabet)";
        return text + u".";
    }
    return u"";
}

const StorageDescriptor* DescriptorOf(const CPhonebook& book, uint32_t id) {
    const uint32_t flag = StorageFlagOf(id);
    const int slot = CPhonebook::SlotOf(flag);
    if (slot < 0 || static_cast<uint32_t>(book.m_descriptors[slot].flag) != flag)
        return nullptr;
    return &book.m_descriptors[slot];
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
            } else {
                // Not full: nobody knows its size yet.
                prompt.MessageBox(kNotReadYet, platform::Buttons::Ok, platform::Icon::Warning);
                return std::nullopt;
            }
        }
        prompt.MessageBox(strings.Load(65072), platform::Buttons::Ok, platform::Icon::Warning);
        return std::nullopt;
    }
    bool known = false;
    for (const StorageDescriptor& d : book.m_descriptors) {
        uint32_t flag = static_cast<uint32_t>(d.flag);
        if ((flag & enabled_flags) == 0 || (flag & ~STORAGE_FLAG_MASK) != 0)
            continue;
        known = true;
        if (auto index = book.FirstFreeIndex(d))
            return flag | static_cast<uint32_t>(*index);
    }
    prompt.MessageBox(known ? strings.Load(65091) : std::u16string(kNotReadYet),
                      platform::Buttons::Ok, platform::Icon::Warning);
    return std::nullopt;
}

namespace {

bool CheckEntry(std::u16string_view name, std::u16string_view number, platform::Prompt& prompt,
                const platform::StringTable& strings, const StorageDescriptor* limits) {
    if (name.empty()) {
        prompt.MessageBox(strings.Load(65093), platform::Buttons::Ok, platform::Icon::Warning);
        return false;
    }
    if (number.empty()) {
        prompt.MessageBox(strings.Load(65094), platform::Buttons::Ok, platform::Icon::Warning);
        return false;
    }
    if (!IsValidPhonebookNumber(number))
        return false;
    if (limits) {
        std::u16string problem = PhonebookLimitProblem(name, number, *limits);
        if (!problem.empty()) {
            prompt.MessageBox(problem, platform::Buttons::Ok, platform::Icon::Warning);
            return false;
        }
    }
    return true;
}

}  // namespace

CPhonebookEntry* AddEntry(CPhonebook* book, uint32_t id, std::u16string_view name,
                          std::u16string_view number, platform::Prompt& prompt,
                          const platform::StringTable& strings) {
    if (!CheckEntry(name, number, prompt, strings, DescriptorOf(*book, id)))
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
               platform::Prompt& prompt, const platform::StringTable& strings,
               const StorageDescriptor* limits) {
    if (!entry) {
        prompt.MessageBox(strings.Load(65052), platform::Buttons::Ok, platform::Icon::Warning);
        return false;
    }
    if (!CheckEntry(name, number, prompt, strings, limits))
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
                            const platform::StringTable& strings, int* added) {
    int count = 0;
    if (added)
        *added = 0;
    std::u16string skipped;
    for (const CContactEntry* c : contacts) {
        const std::u16string* numbers[4] = {&c->m_strMobile, &c->m_strBusiness, &c->m_strHome,
                                            &c->m_strCar};
        for (int kind = 0; kind < 4; ++kind) {
            if (numbers[kind]->empty())
                continue;
            const std::u16string name = c->m_strName + u"/" + strings.Load(kKindLetterIds[kind]);
            std::optional<int32_t> index;
            const StorageDescriptor* limits = nullptr;
            int32_t largest_last = 0;
            for (const StorageDescriptor& d : book->m_descriptors) {
                if (static_cast<uint32_t>(d.flag) != target_flag)
                    continue;
                largest_last = std::max(largest_last, d.last);
                if (!index) {
                    index = book->FirstFreeIndex(d);
                    limits = &d;
                }
            }
            if (!index) {
                bool never_read = largest_last < 21;
                std::u16string text = strings.Load(never_read ? 65110 : 65091);
                if (count > 0) {
                    text += u"\n" + Num(count) + (count == 1 ? u" entry was" : u" entries were") +
                            u" imported, the others were not.";
                }
                prompt.MessageBox(text, platform::Buttons::Ok, platform::Icon::Warning);
                return never_read ? ImportResult::kNeedSync : ImportResult::kFull;
            }
            if (limits) {
                std::u16string problem = PhonebookLimitProblem(name, *numbers[kind], *limits);
                if (!problem.empty()) {
                    skipped += u"\n" + name + u": " + problem;
                    continue;
                }
            }
            auto entry = std::make_unique<CPhonebookEntry>();
            entry->m_nId = target_flag | static_cast<uint32_t>(*index);
            entry->m_strMobile = *numbers[kind];
            entry->m_strName = name;
            book->m_entries.push_back(std::move(entry));
            ++count;
            if (added)
                *added = count;
        }
    }
    if (!skipped.empty()) {
        prompt.MessageBox(u"These entries were not imported:" + skipped, platform::Buttons::Ok,
                          platform::Icon::Warning);
        return ImportResult::kSomeSkipped;
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
