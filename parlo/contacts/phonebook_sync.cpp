#include "parlo/contacts/phonebook_sync.h"

#include <algorithm>
#include <cstdio>
#include <functional>
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
constexpr size_t kMaxNarrow = 199;

// Another synchronisation of this suite holds the phone: what it is, and
// which program runs it, when the lock's mark says so.
std::u16string BusyText(const std::filesystem::path& data_dir) {
    std::u16string text = u"A synchronization is running already. Try again when it has ended.";
    std::optional<SyncHolder> holder = CSyncLock::Holder(data_dir);
    if (!holder)
        return text;
    const std::string who = SyncHolderName(*holder);
    switch (holder->kind) {
        case SyncKind::kMessages:
            return text +
                   platform::FromUtf8("\nThe messages are being synchronised (" + who + ").");
        case SyncKind::kPhonebook:
            return text +
                   platform::FromUtf8("\nThe phonebook is being synchronised (" + who + ").");
        case SyncKind::kCall:
            return text + platform::FromUtf8("\nThe phone is dialling a number (" + who + ").");
    }
    return text;
}

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

std::u16string Num(int64_t n) {
    return platform::FromUtf8(std::to_string(n));
}

// "Name (number), SIM 12" for the report.
std::u16string Describe(const std::u16string& name, const std::u16string& number, uint32_t id) {
    return (name.empty() ? u"(no name)" : name) + u" (" + number + u"), " +
           (StorageFlagOf(id) == STORAGE_FLAG_SIM ? u"SIM " : u"phone ") + Num(IndexOf(id));
}

// The text of a "+CPBR:" line as it came in the character set of the run.
std::u16string DecodeText(const std::u16string& text, PhonebookCharset charset) {
    std::u16string out;
    if (charset == PhonebookCharset::kUcs2 && FromUcs2Hex(text, &out))
        return out;
    return text;  // the GSM alphabet was converted with the whole reply
}

enum class WriteOutcome { kWritten, kRefused, kLinkFailed };

WriteOutcome WriteEntry(PhoneLink& link, int32_t index, const CPhonebookEntry& entry,
                        const StorageDescriptor& limits, PhonebookCharset charset,
                        std::u16string* why) {
    *why = PhonebookLimitProblem(entry.m_strName, entry.m_strMobile, limits);
    if (!why->empty())
        return WriteOutcome::kRefused;
    std::string text;
    if (charset == PhonebookCharset::kUcs2) {
        text = Ucs2Hex(std::u16string_view(entry.m_strName).substr(0, kMaxNarrow));
    } else if (!GsmCommandText(entry.m_strName, &text)) {
        // Sent anyway it would arrive as other characters.
        *why =
            u"The phone takes names only in the GSM alphabet, and this name has a character "
            u"it cannot carry (such as '@', an accent, a bracket or another script).";
        return WriteOutcome::kRefused;
    }
    if (text.size() > kMaxNarrow * 4)
        text.resize(kMaxNarrow * 4);
    std::string number =
        platform::NarrowLow8(std::u16string_view(entry.m_strMobile).substr(0, kMaxNarrow));
    number.erase(std::remove(number.begin(), number.end(), '"'), number.end());
    std::string command =
        "AT+CPBW=" + std::to_string(index) + ",\"" + number + "\",,\"" + text + "\"";
    std::u16string reply;
    if (link.SendAndReceive(command, reply, kCommandTimeout) != 1)
        return WriteOutcome::kLinkFailed;
    if (!reply.empty()) {
        *why = u"The phone refused it (" + reply + u").";
        return WriteOutcome::kRefused;
    }
    // The link hands back an "ERROR" as an empty reply, just like an "OK": a
    // write the phone refused (text too long, a character it does not take)
    // would pass for a success and the entry would later be taken as deleted
    // on the phone. Reading the index back tells the two apart; both name and
    // number must have arrived as they were sent.
    reply.clear();
    if (link.SendAndReceive("AT+CPBR=" + std::to_string(index), reply, kReadTimeout) != 1)
        return WriteOutcome::kLinkFailed;
    if (charset == PhonebookCharset::kGsm)
        FromGsmAlphabet(reply);
    const std::u16string sent = platform::WidenBytes(number);
    for (std::u16string_view line : Lines(reply)) {
        PhoneEntryLine e;
        if (!ParsePhonebookLine(line, &e) || e.index != index)
            continue;
        if (e.number == sent && DecodeText(e.text, charset) == entry.m_strName)
            return WriteOutcome::kWritten;
        *why = u"The phone stored it differently (" + DecodeText(e.text, charset) + u", " +
               e.number + u").";
        return WriteOutcome::kRefused;
    }
    *why = u"The phone did not store it.";
    return WriteOutcome::kRefused;
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
    // A phone in the GSM alphabet sends a double quote of a name as it is:
    // the text ends at the quote that ends the line or precedes a comma.
    close = line.find(u'"', pos);
    while (close != std::u16string_view::npos && close + 1 < line.size() &&
           line[close + 1] != u',') {
        close = line.find(u'"', close + 1);
    }
    if (close == std::u16string_view::npos)
        return false;
    e.text = std::u16string(line.substr(pos, close - pos));
    if (e.type == 145 && (e.number.empty() || e.number[0] != u'+'))
        e.number = u"+" + e.number;
    *out = std::move(e);
    return true;
}

std::u16string PhonebookSyncReport::Text() const {
    std::u16string out;
    for (const std::u16string& line : skipped)
        out += (out.empty() ? u"" : u"\n") + line;
    for (const std::u16string& line : conflicts)
        out += (out.empty() ? u"" : u"\n") + line;
    return out;
}

bool ParsePhonebookUsed(std::u16string_view reply, int32_t* used) {
    constexpr std::u16string_view kTag = u"+CPBS:";
    if (reply.substr(0, kTag.size()) != kTag)
        return false;
    size_t pos = reply.find(u',');
    if (pos == std::u16string_view::npos)
        return false;
    ++pos;
    while (pos < reply.size() && reply[pos] == u' ')
        ++pos;
    int32_t value = 0;
    if (!TakeNumber(reply, &pos, &value))
        return false;
    *used = value;
    return true;
}

bool GsmCommandText(std::u16string_view name, std::string* out) {
    std::string text;
    auto put = [&text](uint8_t code) {
        if (code < 0x20 || code == '"' || code == '\\') {
            static const char kHex[] = "0123456789ABCDEF";
            text += '\\';
            text += kHex[code >> 4];
            text += kHex[code & 0x0F];
        } else {
            text += static_cast<char>(code);
        }
    };
    for (char16_t c : name) {
        std::u16string one(1, c);
        ToGsmAlphabet(one);
        bool done = false;
        if (one[0] <= 0x7F && one[0] != 0) {
            std::u16string back(1, one[0]);
            FromGsmAlphabet(back);
            if (back[0] == c) {
                put(static_cast<uint8_t>(one[0]));
                done = true;
            }
        }
        for (uint8_t code = 0; !done && code < 0x80; ++code) {
            if (code != GSM_ESCAPE && GsmExtensionToUnicode(code) == c) {
                put(GSM_ESCAPE);
                put(code);
                done = true;
            }
        }
        if (!done)
            return false;
    }
    *out = std::move(text);
    return true;
}

std::string Ucs2Hex(std::u16string_view name) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(name.size() * 4);
    for (char16_t c : name) {
        for (int shift = 12; shift >= 0; shift -= 4)
            out += kHex[(c >> shift) & 0x0F];
    }
    return out;
}

bool FromUcs2Hex(std::u16string_view hex, std::u16string* out) {
    if (hex.size() % 4 != 0)
        return false;
    std::u16string text;
    for (size_t i = 0; i < hex.size(); i += 4) {
        unsigned value = 0;
        for (size_t k = i; k < i + 4; ++k) {
            const char16_t c = hex[k];
            const int digit = c < 0x80 ? platform::HexDigitValue(static_cast<char>(c)) : -1;
            if (digit < 0)
                return false;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        text.push_back(static_cast<char16_t>(value));
    }
    *out = std::move(text);
    return true;
}

namespace {

// The reconciliation of one storage with the copy.
class StorageReader {
  public:
    StorageReader(CPhonebook* book, uint32_t flag, PhoneLink& link, PhonebookCharset charset,
                  PhonebookSyncReport* report, std::function<bool()> record)
        : book_(book),
          flag_(flag),
          link_(link),
          charset_(charset),
          report_(report),
          record_(std::move(record)) {}

    // False when the link failed: the read ends there.
    bool PhoneEntry(const PhoneEntryLine& phone);
    bool NotOnPhone(int32_t index);
    // Gives the entries that lost their index to the phone, and new ones
    // outside the range, a free index and writes them.
    bool PlaceHomeless();
    // An entry was skipped: the run is not a success.
    bool skipped() const { return skipped_; }
    StorageDescriptor d;

  private:
    bool Write(int32_t index, CPhonebookEntry* entry);
    // Keeps the copy on disk; false (and named in the report) when it could
    // not be kept.
    bool Record();
    void Conflict(const std::u16string& text) {
        if (report_)
            report_->conflicts.push_back(text);
    }
    void Skipped(const std::u16string& text) {
        skipped_ = true;
        if (report_)
            report_->skipped.push_back(text);
    }
    // Moves an entry to the first index past the range and past every index
    // in use, where no read looks for it.
    void Park(CPhonebookEntry* entry);

    CPhonebook* book_;
    uint32_t flag_;
    PhoneLink& link_;
    PhonebookCharset charset_;
    PhonebookSyncReport* report_;
    std::function<bool()> record_;
    bool skipped_ = false;
};

bool StorageReader::Record() {
    if (!record_ || record_())
        return true;
    skipped_ = true;
    if (report_) {
        report_->skipped.push_back(
            u"The phonebook copy could not be saved (is the disk full?), so no further entry "
            u"was written to the phone. The next synchronisation takes over what the phone "
            u"has.");
    }
    return false;
}

bool StorageReader::Write(int32_t index, CPhonebookEntry* entry) {
    std::u16string why;
    switch (WriteEntry(link_, index, *entry, d, charset_, &why)) {
        case WriteOutcome::kWritten:
            entry->m_strSyncName = entry->m_strName;
            entry->m_strSyncNumber = entry->m_strMobile;
            // The agreement is on disk before the next entry is written: a
            // run killed now finds it agreed, not new, and writes nothing twice.
            return Record();
        case WriteOutcome::kRefused:
            Skipped(u"Not written to the phone: " +
                    Describe(entry->m_strName, entry->m_strMobile, entry->m_nId) + u". " + why);
            return true;
        case WriteOutcome::kLinkFailed:
            break;
    }
    return false;
}

void StorageReader::Park(CPhonebookEntry* entry) {
    int64_t index = std::max<int64_t>(d.last, d.first);
    for (const auto& e : book_->m_entries) {
        if (StorageFlagOf(e->m_nId) == flag_)
            index = std::max<int64_t>(index, IndexOf(e->m_nId));
    }
    entry->m_nId = flag_ | static_cast<uint32_t>(std::min<int64_t>(index + 1, 0x0FFFFFFF));
}

bool StorageReader::PhoneEntry(const PhoneEntryLine& phone) {
    const uint32_t id = flag_ | (static_cast<uint32_t>(phone.index) & 0x0FFFFFFFu);
    CPhonebookEntry* local = book_->FindById(id);
    auto take_over = [&] {
        auto entry = std::make_unique<CPhonebookEntry>();
        entry->m_nId = id;
        entry->m_strName = entry->m_strSyncName = phone.text;
        entry->m_strMobile = entry->m_strSyncNumber = phone.number;
        book_->m_entries.push_back(std::move(entry));
    };
    const bool phone_changed =
        local && (local->m_strSyncName != phone.text || local->m_strSyncNumber != phone.number);
    if (!local) {
        take_over();
    } else if (local->IsUnsynced()) {
        if (local->IsDeleted()) {
            // Created and deleted here before it reached the phone: the
            // phone's entry is another one.
            book_->Remove(local);
            take_over();
        } else if (local->m_strName == phone.text && local->m_strMobile == phone.number) {
            local->m_strSyncName = phone.text;
            local->m_strSyncNumber = phone.number;
        } else {
            // New here, at an index the phone uses already: the phone's entry
            // stays, ours moves to a free index (PlaceHomeless).
            Park(local);
            take_over();
        }
    } else if (local->IsDeleted()) {
        if (phone_changed) {
            Conflict(u"Deleted here and changed on the phone, so deleted on the phone too: " +
                     Describe(phone.text, phone.number, id) + u".");
        }
        if (!DeleteOnPhone(link_, phone.index))
            return false;
        book_->Remove(local);
    } else if (local->m_strName != phone.text || local->m_strMobile != phone.number) {
        if (!phone_changed) {
            // Only the handheld changed it.
            if (!Write(phone.index, local))
                return false;
        } else {
            // The phone changed it: the phone wins.
            if (local->m_strName != local->m_strSyncName ||
                local->m_strMobile != local->m_strSyncNumber) {
                Conflict(u"Changed here and on the phone; the phone's version was kept: " +
                         Describe(phone.text, phone.number, id) + u". Your change was: " +
                         local->m_strName + u" (" + local->m_strMobile + u").");
            }
            local->m_strName = local->m_strSyncName = phone.text;
            local->m_strMobile = local->m_strSyncNumber = phone.number;
        }
    } else {
        // Both agree: remember the agreement.
        local->m_strSyncName = phone.text;
        local->m_strSyncNumber = phone.number;
    }
    return true;
}

bool StorageReader::NotOnPhone(int32_t index) {
    CPhonebookEntry* local = book_->FindById(flag_ | static_cast<uint32_t>(index));
    if (!local)
        return true;
    if (local->IsUnsynced() && !local->IsDeleted())
        return Write(index, local);  // created on the handheld
    if (!local->IsDeleted() && !local->IsUnsynced() &&
        (local->m_strName != local->m_strSyncName ||
         local->m_strMobile != local->m_strSyncNumber)) {
        Conflict(u"Changed here and deleted on the phone, so removed here too: " +
                 Describe(local->m_strName, local->m_strMobile, local->m_nId) + u".");
    }
    // Deleted on the phone, or created and deleted on the handheld.
    book_->Remove(local);
    return true;
}

bool StorageReader::PlaceHomeless() {
    std::vector<CPhonebookEntry*> homeless;
    for (const auto& e : book_->m_entries) {
        const int32_t index = IndexOf(e->m_nId);
        if (StorageFlagOf(e->m_nId) == flag_ && e->IsUnsynced() && !e->IsDeleted() &&
            (index < d.first || index > d.last)) {
            homeless.push_back(e.get());
        }
    }
    for (CPhonebookEntry* e : homeless) {
        std::optional<int32_t> index = book_->FirstFreeIndex(d);
        if (!index) {
            Skipped(u"Not written to the phone, its memory is full (the entry stays here): " +
                    Describe(e->m_strName, e->m_strMobile, e->m_nId) + u".");
            continue;
        }
        // The new index is on disk before the phone has the entry there:
        // a run killed after the write finds the phone's entry at the
        // index the copy gives it, instead of writing it once more elsewhere.
        e->m_nId = flag_ | static_cast<uint32_t>(*index);
        if (!Record() || !Write(*index, e))
            return false;
    }
    return true;
}

// Whether the copy holds an entry of the storage in start..end: an empty
// answer for such a block changes the copy, so it must be a true one.
bool LocalIn(const CPhonebook& book, uint32_t flag, int32_t start, int32_t end) {
    for (const auto& e : book.m_entries) {
        const int32_t index = IndexOf(e->m_nId);
        if (StorageFlagOf(e->m_nId) == flag && index >= start && index <= end)
            return true;
    }
    return false;
}

// One attempt at a block: the entries of the answer. kOutOfStep when the
// answer names an index outside the block (a late answer of another read).
enum class BlockAnswer { kEntries, kEmpty, kFailed, kOutOfStep };

BlockAnswer TryBlock(PhoneLink& link, const char* command, int32_t start, int32_t end,
                     PhonebookCharset charset, std::vector<PhoneEntryLine>* entries) {
    entries->clear();
    std::u16string block;
    if (link.SendAndReceive(command, block, kReadTimeout) != 1) {
        // A failed read whose reply holds nothing is an empty block (some
        // phones answer an empty range with an error).
        return std::all_of(block.begin(), block.end(), IsSpace) ? BlockAnswer::kEmpty
                                                                : BlockAnswer::kFailed;
    }
    if (charset == PhonebookCharset::kGsm)
        FromGsmAlphabet(block);
    for (std::u16string_view line : Lines(block)) {
        PhoneEntryLine phone;
        if (!ParsePhonebookLine(line, &phone))
            continue;
        if (phone.index < start || phone.index > end)
            return BlockAnswer::kOutOfStep;
        phone.text = DecodeText(phone.text, charset);
        entries->push_back(std::move(phone));
    }
    return entries->empty() ? BlockAnswer::kEmpty : BlockAnswer::kEntries;
}

// Reads one block, at most three attempts. A stray final result ("OK" before
// the answer) makes a block look empty and hands its answer to the next
// command; so an answer out of step brings the line back in step and asks
// again, and an empty answer for a block the copy holds entries in is
// confirmed by a second read after the line was brought back in step, before
// anything is taken as deleted on the phone.
bool ReadBlock(PhoneLink& link, const char* command, int32_t start, int32_t end,
               PhonebookCharset charset, bool local_entries, std::vector<PhoneEntryLine>* out) {
    bool confirming = false;
    int failures = 0;
    while (failures < kReadAttempts) {
        switch (TryBlock(link, command, start, end, charset, out)) {
            case BlockAnswer::kEntries:
                return true;
            case BlockAnswer::kEmpty:
                if (!local_entries || confirming)
                    return true;
                confirming = true;
                link.Resync();
                break;
            case BlockAnswer::kOutOfStep:
                ++failures;
                link.Resync();
                break;
            case BlockAnswer::kFailed:
                ++failures;
                break;
        }
    }
    out->clear();
    return false;
}

}  // namespace

bool ReadStorage(CPhonebook* book, uint32_t flag, int slot, PhoneLink& link,
                 PhonebookCharset charset, PhonebookSyncReport* report,
                 const std::function<void(int, int)>& progress,
                 const std::function<bool()>& record) {
    if (!SendExpectEmpty(link, flag == STORAGE_FLAG_SIM ? "AT+CPBS=\"SM\"" : "AT+CPBS=\"ME\"")) {
        return false;
    }
    // How many entries the storage holds: the read ends when all were found.
    // A phone that does not say reads the whole range.
    std::u16string reply;
    int32_t used = -1;
    if (link.SendAndReceive("AT+CPBS?", reply, kCommandTimeout) != 1 ||
        !ParsePhonebookUsed(reply, &used)) {
        used = -1;
    }
    reply.clear();
    if (link.SendAndReceive("AT+CPBR=?", reply, kCommandTimeout) != 1)
        return false;
    StorageReader reader(book, flag, link, charset, report, record);
    reader.d.flag = static_cast<int32_t>(flag);
    if (!ParsePhonebookRange(reply, &reader.d))
        return false;
    const StorageDescriptor& d = reader.d;
    book->m_descriptors[slot] = d;

    int found = 0;
    int64_t read_end = static_cast<int64_t>(d.first) - 1;  // the last index read
    const int total = d.last - d.first + 1;
    // Every index up to `last` is read, also when the range is not a multiple
    // of the block size.
    for (int64_t s = d.first; s <= d.last && (used < 0 || found < used); s += kBlockSize) {
        const int32_t start = static_cast<int32_t>(s);
        const int32_t end = static_cast<int32_t>(std::min<int64_t>(s + kBlockSize - 1, d.last));
        std::vector<bool> seen(static_cast<size_t>(end - start + 1), false);

        char command[48];
        std::snprintf(command, sizeof command, "AT+CPBR=%d,%d", start, end);
        std::vector<PhoneEntryLine> entries;
        if (!ReadBlock(link, command, start, end, charset, LocalIn(*book, flag, start, end),
                       &entries)) {
            if (report) {
                report->skipped.push_back(
                    u"The phone's answers to the reading of indices " + Num(start) + u" to " +
                    Num(end) + u" were out of step or missing; nothing was changed from there on.");
            }
            return false;
        }
        for (PhoneEntryLine& phone : entries) {
            ++found;
            seen[phone.index - start] = true;
            if (!reader.PhoneEntry(phone))
                return false;
        }
        for (int32_t index = start; index <= end; ++index) {
            if (!seen[index - start] && !reader.NotOnPhone(index))
                return false;
        }
        read_end = end;
        if (progress)
            progress(static_cast<int>(read_end - d.first + 1), total);
    }
    // The indices after the last entry the phone has: nothing is there.
    std::vector<int32_t> rest;
    for (const auto& e : book->m_entries) {
        const int32_t index = IndexOf(e->m_nId);
        if (StorageFlagOf(e->m_nId) == flag && index > read_end && index <= d.last)
            rest.push_back(index);
    }
    std::sort(rest.begin(), rest.end());
    for (int32_t index : rest) {
        if (!reader.NotOnPhone(index))
            return false;
    }
    if (progress)
        progress(total, total);
    if (!reader.PlaceHomeless())
        return false;
    return !reader.skipped();
}

namespace {

std::u16string CopyNotSaved(const std::filesystem::path& file) {
    return u"The phonebook copy could not be saved to " + platform::FromUtf8(file.string()) +
           u" (is the disk full or the folder read-only?).";
}

// The phone is another one than the copy's: the copy goes to its phone's
// file, and the new phone's file is loaded. Each file is on disk before the
// settings name it, so that a run killed or failing at any point leaves
// settings that name a file holding the copy. False (with the reason in the
// report) when a save failed; the identity then stays as it was.
bool SwitchIdentity(CPhonebook* book, const PhonebookSyncContext& ctx,
                    const std::u16string& identity, PhonebookSyncReport* report) {
    const std::filesystem::path old_file = PhonebookPath(ctx.data_dir, *ctx.identity);
    const std::filesystem::path new_file = PhonebookPath(ctx.data_dir, identity);
    if (*ctx.identity != u"0") {
        if (!book->Save(old_file)) {
            report->skipped.push_back(CopyNotSaved(old_file));
            return false;
        }
        book->Load(new_file);
        if (ctx.refresh)
            ctx.refresh();
    }
    // Entries made while no phone was known become the new phone's.
    if (!book->Save(new_file)) {
        report->skipped.push_back(CopyNotSaved(new_file));
        return false;
    }
    const std::u16string previous = *ctx.identity;
    *ctx.identity = identity;
    if (ctx.save_settings && !ctx.save_settings()) {
        *ctx.identity = previous;
        if (previous != u"0") {
            // The settings still name the old phone: so does the copy.
            book->Load(old_file);
            if (ctx.refresh)
                ctx.refresh();
        }
        report->skipped.push_back(
            u"The settings (pb.ini) could not be saved, so the copy of this phone is not "
            u"used yet.");
        return false;
    }
    return true;
}

}  // namespace

PhonebookSyncResult SynchronizePhonebook(CPhonebook* book, const PhonebookSyncContext& ctx) {
    platform::Prompt& prompt = *ctx.prompt;
    const platform::StringTable& strings = *ctx.strings;
    PhoneLink& link = *ctx.link;

    CSyncLock lock;
    if (!lock.Acquire(ctx.data_dir, SyncKind::kPhonebook)) {
        if (CSyncLock::HeldBySync(ctx.data_dir)) {
            prompt.MessageBox(BusyText(ctx.data_dir));
            return PhonebookSyncResult::kBusy;
        }
        if (lock.OpenError() != 0) {
            prompt.MessageBox(LockFileError(ctx.data_dir, lock.OpenError()));
            return PhonebookSyncResult::kFailed;
        }
        prompt.MessageBox(strings.Load(65071));
        return PhonebookSyncResult::kLocked;
    }
    PhonebookSyncReport local_report;
    PhonebookSyncReport& report = ctx.report ? *ctx.report : local_report;
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
            if (identity != *ctx.identity)
                ok = SwitchIdentity(book, ctx, identity, &report);
        }
    }

    if (ok) {
        std::u16string reply;
        if (link.SendAndReceive("AT+CSCS=\"GSM\"", reply, kCommandTimeout) != 1) {
            // Without the character set nothing can be read: that is no success.
            ok = false;
        } else {
            // Names outside the GSM alphabet travel in UCS2 where the phone
            // offers it; a phone that does not keeps the GSM alphabet, and
            // names it cannot carry are not written.
            PhonebookCharset charset = PhonebookCharset::kGsm;
            reply.clear();
            if (link.SendAndReceive("AT+CSCS=?", reply, kCommandTimeout) == 1 &&
                reply.find(u"\"UCS2\"") != std::u16string::npos) {
                if (SendExpectEmpty(link, "AT+CSCS=\"UCS2\""))
                    charset = PhonebookCharset::kUcs2;
            }
            const std::filesystem::path file = PhonebookPath(ctx.data_dir, *ctx.identity);
            book->m_nStoragesRead = 0;
            const uint32_t storages[2] = {STORAGE_FLAG_SIM, STORAGE_FLAG_PHONE};
            int storage_count = 0;
            for (uint32_t f : storages)
                storage_count += (ctx.enabled_flags & f) != 0;
            int storage_number = 0;
            for (int slot = 0; slot < 2; ++slot) {
                if ((ctx.enabled_flags & storages[slot]) == 0)
                    continue;
                std::function<void(int, int)> progress;
                if (ctx.progress) {
                    // Each enabled storage takes an equal share of the bar.
                    progress = [&ctx, storage_number, storage_count](int done, int total) {
                        const int share = 1000 / std::max(storage_count, 1);
                        ctx.progress(
                            storage_number * share + (total > 0 ? share * done / total : share),
                            1000);
                    };
                }
                auto record = [book, &file] { return book->Save(file); };
                if (!ReadStorage(book, storages[slot], slot, link, charset, &report, progress,
                                 record))
                    ok = false;
                ++storage_number;
                ++book->m_nStoragesRead;
                if (!book->Save(file)) {
                    ok = false;
                    report.skipped.push_back(CopyNotSaved(file));
                }
            }
            if (charset == PhonebookCharset::kUcs2) {
                // Back to the set the phone had for everyone else.
                std::u16string ignored;
                link.SendAndReceive("AT+CSCS=\"GSM\"", ignored, kCommandTimeout);
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
    // The final message names what was skipped and what lost a conflict, so
    // that the user can redo it.
    std::u16string text = strings.Load(ok ? 65085 : 65024);
    if (!report.Empty())
        text += u"\n\n" + report.Text();
    prompt.MessageBox(text);
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
    if (!lock.Acquire(data_dir, SyncKind::kCall)) {
        prompt.MessageBox(CSyncLock::HeldBySync(data_dir) ? BusyText(data_dir)
                                                          : strings.Load(65071));
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
