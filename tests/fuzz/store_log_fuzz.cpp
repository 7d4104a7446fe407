// A program's store taking in another program's changes from arbitrary log
// entries and store bytes: nothing is believed beyond what the files hold
// (no allocation of a length read from the log), every record the list
// keeps is one the store file holds at its offset, and the next write
// succeeds.
//
// Input: a uint16 count n, n bytes appended to vok.sms without a note, then
// the bytes appended to the change log as entries.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "parlo/store/message_store.h"
#include "platform/binio.h"

namespace {

std::filesystem::path Dir() {
    static const std::filesystem::path dir = [] {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "store-log-fuzz-XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            abort();
        return std::filesystem::path(tmpl);
    }();
    return dir;
}

std::unique_ptr<parlo::CSmsMessage> Record(const std::u16string& text) {
    return std::make_unique<parlo::CSmsMessage>(parlo::STATE_READ, u"+4917", text,
                                                platform::OleDate{45000.0, 0}, 0,
                                                parlo::STORAGE_POCKETPC, -1, -1, 0);
}

void Append(const std::filesystem::path& file, std::string_view bytes) {
    std::string all;
    platform::ReadFileBytes(file, &all);
    all.append(bytes);
    if (!platform::WriteFileAtomic(file, all))
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const size_t n = std::min<size_t>(size - 2, data[0] | (data[1] << 8));
    const std::string_view store_tail(reinterpret_cast<const char*>(data + 2), n);
    const std::string_view log_tail(reinterpret_cast<const char*>(data + 2 + n), size - 2 - n);
    const std::filesystem::path dir = Dir();
    std::filesystem::remove(dir / "vok.sms");
    std::filesystem::remove(dir / "vok.sms.lock");
    std::filesystem::remove(dir / "vok.sms.torn");

    parlo::CMessageStore store(dir);
    if (store.LoadMessages() != parlo::StoreResult::kOk)
        abort();
    store.Add(Record(u"one"));
    store.Add(Record(u"two"));
    Append(dir / "vok.sms", store_tail);
    Append(dir / "vok.sms.lock", log_tail);

    store.TakeInChanges();
    for (parlo::CSmsMessage* rec : store.Snapshot()) {
        if (rec->m_nFileOffset < 0)
            continue;
        parlo::CSmsMessage on_disk;
        if (store.ReloadMessage(*rec, &on_disk) != parlo::StoreResult::kOk ||
            on_disk.m_strText != rec->m_strText || on_disk.m_strNumber != rec->m_strNumber)
            abort();
    }
    parlo::StoreResult r;
    store.Add(Record(u"after"), &r);
    if (r != parlo::StoreResult::kOk)
        abort();
    return 0;
}
