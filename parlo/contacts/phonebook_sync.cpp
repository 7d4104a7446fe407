#include "parlo/contacts/phonebook_sync.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "parlo/contacts/contact_entry.h"
#include "parlo/sms/gsm_alphabet.h"
#include "parlo/store/sync_lock.h"
#include "platform/prompt.h"
#include "platform/strings.h"
#include "platform/text.h"

namespace parlo {

namespace {

constexpr int kCommandTimeout = 10;
constexpr int kReadTimeout = 30;
constexpr int kBlockSize = 10;
constexpr int kReadAttempts = 3;
constexpr int kEmptyBlocksEnd = 4;
constexpr size_t kMaxNarrow = 199;

bool IsSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// Digits at `pos` into `value`; false without a digit or beyond 9 digits.
template <typename Str>
bool TakeNumber(const Str& s, size_t* pos, int32_t* value) {
    int64_t v = 0;
    size_t start = *pos, i = *pos;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        if (i - start >= 9)
            return false;
        v = v * 10 + (s[i] - '0');
        ++i;
    }
    if (i == start)
        return false;
    *value = static_cast<int32_t>(v);
    *pos = i;
    return true;
}

// A storage selection or write succeeds only with an empty reply.
bool SendExpectEmpty(PhoneLink& link, const std::string& command) {
    std::u16string reply;
    return link.SendAndReceive(command, reply, kCommandTimeout) == 1 && reply.empty();
}

// Splits a reply into its lines.
std::vector<std::u16string_view> Lines(std::u16string_view text) {
    std::vector<std::u16string_view> out;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == u'\r' || text[i] == u'\n') {
            if (i > start)
                out.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

bool WriteEntry(PhoneLink& link, int32_t index, const CPhonebookEntry& entry) {
    std::u16string name = entry.m_strName;
    ToGsmAlphabet(name);
    std::string text = platform::NarrowLow8(std::u16string_view(name).substr(0, kMaxNarrow));
    std::string number =
        platform::NarrowLow8(std::u16string_view(entry.m_strMobile).substr(0, kMaxNarrow));
    // The phone cannot take a double quote inside a quoted field.
    std::replace(text.begin(), text.end(), '"', '\'');
    number.erase(std::remove(number.begin(), number.end(), '"'), number.end());
    std::string command =
        "AT+CPBW=" + std::to_string(index) + ",\"" + number + "\",,\"" + text + "\"";
    if (!SendExpectEmpty(link, command))
        return false;
    // The link hands back an "ERROR" as an empty reply, just like an "OK": a
    // write the phone refused (text too long, a character it does not take)
    // would pass for a success and the entry would later be taken as deleted
    // on the phone. Reading the index back tells the two apart.
    std::u16string reply;
    if (link.SendAndReceive("AT+CPBR=" + std::to_string(index), reply, kReadTimeout) != 1)
        return false;
    FromGsmAlphabet(reply);
    const std::u16string sent = platform::WidenBytes(number);
    for (std::u16string_view line : Lines(reply)) {
        PhoneEntryLine e;
        if (ParsePhonebookLine(line, &e) && e.index == index && e.number == sent)
            return true;
    }
    return false;
}

bool DeleteOnPhone(PhoneLink& link, int32_t index) {
    return SendExpectEmpty(link, "AT+CPBW=" + std::to_string(index));
}

}  // namespace

bool ParsePhonebookRange(std::u16string_view reply, StorageDescriptor* d) {
    constexpr std::u16string_view kTag = u"+CPBR:";
    if (reply.substr(0, kTag.size()) != kTag)
        return false;
    std::u16string_view s = reply.substr(kTag.size());
    size_t pos = 0;
    auto skip = [&](std::u16string_view chars) {
        while (pos < s.size() && chars.find(s[pos]) != std::u16string_view::npos)
            ++pos;
    };
    int32_t first = 0, last = 0, number_length = 0, text_length = 0;
    skip(u"( ,");
    if (!TakeNumber(s, &pos, &first))
        return false;
    if (pos >= s.size() || s[pos] != u'-')
        return false;
    ++pos;
    if (!TakeNumber(s, &pos, &last))
        return false;
    skip(u") ,(");
    if (!TakeNumber(s, &pos, &number_length))
        return false;
    skip(u") ,(");
    TakeNumber(s, &pos, &text_length);  // the leading digits of the rest, if any
    if (last < first)
        return false;
    d->first = first;
    d->last = last;
    d->number_length = number_length;
    d->text_length = text_length;
    return true;
}

bool ParsePhonebookLine(std::u16string_view line, PhoneEntryLine* out) {
    constexpr std::u16string_view kTag = u"+CPBR:";
    if (line.substr(0, kTag.size()) != kTag)
        return false;
    size_t pos = kTag.size();
    while (pos < line.size() && line[pos] == u' ')
        ++pos;
    PhoneEntryLine e;
    if (!TakeNumber(line, &pos, &e.index))
        return false;
    // ,"number",type,"text"
    if (line.substr(pos, 2) != u",\"")
        return false;
    pos += 2;
    size_t close = line.find(u'"', pos);
    if (close == std::u16string_view::npos)
        return false;
    e.number = std::u16string(line.substr(pos, close - pos));
    pos = close + 1;
    if (pos >= line.size() || line[pos] != u',')
        return false;
    ++pos;
    while (pos < line.size() && line[pos] == u' ')
        ++pos;
    if (!TakeNumber(line, &pos, &e.type))
        return false;
    if (line.substr(pos, 2) != u",\"")
        return false;
    pos += 2;
    close = line.find(u'"', pos);
    if (close == std::u16string_view::npos)
        return false;
    e.text = std::u16string(line.substr(pos, close - pos));
    if (e.type == 145 && (e.number.empty() || e.number[0] != u'+'))
        e.number = u"+" + e.number;
    *out = std::move(e);
    return true;
}

bool ReadStorage(CPhonebook* book, uint32_t flag, int slot, PhoneLink& link) {
    if (!SendExpectEmpty(link, flag == STORAGE_FLAG_SIM ? "AT+CPBS=\"SM\"" : "AT+CPBS=\"ME\"")) {
        return false;
    }
    std::u16string reply;
    if (link.SendAndReceive("AT+CPBR=?", reply, kCommandTimeout) != 1)
        return false;
    StorageDescriptor d;
    d.flag = static_cast<int32_t>(flag);
    if (!ParsePhonebookRange(reply, &d))
        return false;
    book->m_descriptors[slot] = d;

    int empty_blocks = 0;
    // Every index up to `last` is read, also when the range is not a multiple
    // of the block size.
    for (int64_t s = d.first; s <= d.last; s += kBlockSize) {
        const int32_t start = static_cast<int32_t>(s);
        const int32_t end = static_cast<int32_t>(std::min<int64_t>(s + kBlockSize - 1, d.last));
        std::vector<bool> seen(static_cast<size_t>(end - start + 1), false);

        std::u16string block;
        bool ok = false;
        char command[48];
        std::snprintf(command, sizeof command, "AT+CPBR=%d,%d", start, end);
        for (int attempt = 0; attempt < kReadAttempts && !ok; ++attempt) {
            block.clear();
            if (link.SendAndReceive(command, block, kReadTimeout) == 1) {
                ok = true;
            } else if (std::all_of(block.begin(), block.end(), IsSpace)) {
                block.clear();
                ok = true;  // nothing in this block
            }
        }
        if (!ok)
            return false;
        if (empty_blocks >= kEmptyBlocksEnd)
            return true;

        std::u16string text = block;
        FromGsmAlphabet(text);
        int found = 0;
        for (std::u16string_view line : Lines(text)) {
            PhoneEntryLine phone;
            if (!ParsePhonebookLine(line, &phone))
                continue;
            ++found;
            const uint32_t id = flag | (static_cast<uint32_t>(phone.index) & 0x0FFFFFFFu);
            if (phone.index >= start && phone.index <= end)
                seen[phone.index - start] = true;
            CPhonebookEntry* local = book->FindById(id);
            if (!local) {
                auto entry = std::make_unique<CPhonebookEntry>();
                entry->m_nId = id;
                entry->m_strName = phone.text;
                entry->m_strMobile = phone.number;
                entry->m_strSyncName = phone.text;
                entry->m_strSyncNumber = phone.number;
                book->m_entries.push_back(std::move(entry));
            } else if (local->IsDeleted()) {
                if (!DeleteOnPhone(link, phone.index))
                    return false;
                book->Remove(local);
            } else if (local->m_strName != phone.text || local->m_strMobile != phone.number) {
                if (local->m_strSyncName == phone.text && local->m_strSyncNumber == phone.number) {
                    // Only the handheld changed it.
                    if (!WriteEntry(link, phone.index, *local))
                        return false;
                    local->m_strSyncName = local->m_strName;
                    local->m_strSyncNumber = local->m_strMobile;
                } else {
                    // The phone changed it: the phone wins.
                    local->m_strName = local->m_strSyncName = phone.text;
                    local->m_strMobile = local->m_strSyncNumber = phone.number;
                }
            } else {
                // Both agree: remember the agreement.
                local->m_strSyncName = phone.text;
                local->m_strSyncNumber = phone.number;
            }
        }
        for (int32_t index = start; index <= end; ++index) {
            if (seen[index - start])
                continue;
            CPhonebookEntry* local = book->FindById(flag | static_cast<uint32_t>(index));
            if (!local)
                continue;
            if (local->IsUnsynced() && !local->IsDeleted()) {
                // Created on the handheld.
                if (!WriteEntry(link, index, *local))
                    return false;
                local->m_strSyncName = local->m_strName;
                local->m_strSyncNumber = local->m_strMobile;
            } else {
                // Deleted on the phone, or created and deleted on the handheld.
                book->Remove(local);
            }
        }
        empty_blocks = found == 0 ? empty_blocks + 1 : 0;
    }
    return true;
}

PhonebookSyncResult SynchronizePhonebook(CPhonebook* book, const PhonebookSyncContext& ctx) {
    platform::Prompt& prompt = *ctx.prompt;
    const platform::StringTable& strings = *ctx.strings;
    PhoneLink& link = *ctx.link;

    CSyncLock lock;
    if (!lock.Acquire(ctx.data_dir)) {
        prompt.MessageBox(strings.Load(65071));
        return PhonebookSyncResult::kLocked;
    }
    if (ctx.status)
        ctx.status(strings.Load(65051));
    bool ok = true;
    link.StartSAR();
    if (!link.OpenPhone()) {
        prompt.MessageBox(
            u"Kommunikationsport konnte nicht ge\u00f6ffnet werden.\nKontrollieren Sie Ihr "
            u"Handy und Beenden Sie den SMS Client.");
        ok = false;
    } else if (!link.IdentifyPhone()) {
        prompt.MessageBox(u"Error in configuration");
        ok = false;
    }

    if (ok) {
        std::u16string reply;
        if (link.SendAndReceive("AT+CGSN", reply, kCommandTimeout) != 1 || reply.empty()) {
            // An empty answer names no phone: it must not become a file name.
            prompt.MessageBox(u"Error checking IMEI");
            ok = false;
        } else {
            const std::u16string identity = reply;
            if (identity != *ctx.identity) {
                if (*ctx.identity != u"0") {
                    book->Save(PhonebookPath(ctx.data_dir, *ctx.identity));
                    book->Load(PhonebookPath(ctx.data_dir, identity));
                    if (ctx.refresh)
                        ctx.refresh();
                }
                *ctx.identity = identity;
                if (ctx.save_settings)
                    ctx.save_settings();
                book->Save(PhonebookPath(ctx.data_dir, identity));
            }
        }
    }

    if (ok) {
        std::u16string reply;
        if (link.SendAndReceive("AT+CSCS=\"GSM\"", reply, kCommandTimeout) != 1) {
            // Without the character set nothing can be read: that is no success.
            ok = false;
        } else {
            const std::filesystem::path file = PhonebookPath(ctx.data_dir, *ctx.identity);
            book->m_nStoragesRead = 0;
            const uint32_t storages[2] = {STORAGE_FLAG_SIM, STORAGE_FLAG_PHONE};
            for (int slot = 0; slot < 2; ++slot) {
                if ((ctx.enabled_flags & storages[slot]) == 0)
                    continue;
                if (!ReadStorage(book, storages[slot], slot, link))
                    ok = false;
                ++book->m_nStoragesRead;
                book->Save(file);
            }
            if (ctx.refresh)
                ctx.refresh();
        }
    }

    // The port is closed also when opening the phone failed half way.
    link.ClosePort();
    link.StopSAR();
    if (ctx.status)
        ctx.status(u"");
    prompt.MessageBox(strings.Load(ok ? 65085 : 65024));
    lock.Release();
    return ok ? PhonebookSyncResult::kCompleted : PhonebookSyncResult::kFailed;
}

bool CallNumber(std::u16string_view number, const std::filesystem::path& data_dir, PhoneLink& link,
                platform::Prompt& prompt, const platform::StringTable& strings) {
    std::u16string cleaned = CleanedNumber(number);
    if (cleaned.empty()) {
        prompt.MessageBox(strings.Load(65052), platform::Buttons::Ok, platform::Icon::Warning);
        return false;
    }
    // The port belongs to one user at a time, as for a synchronisation.
    CSyncLock lock;
    if (!lock.Acquire(data_dir)) {
        prompt.MessageBox(strings.Load(65071));
        return false;
    }
    link.StartSAR();
    bool ok = false;
    if (link.OpenPhone() && link.IdentifyPhone()) {
        std::u16string reply;
        ok = link.SendAndReceive("ATD" + platform::NarrowLow8(cleaned) + ";", reply,
                                 kCommandTimeout) == 1;
    }
    link.ClosePort();
    link.StopSAR();
    return ok;
}

}  // namespace parlo
