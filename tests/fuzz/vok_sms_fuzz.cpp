// The message store loader on arbitrary bytes: it must stop cleanly at the
// first unreadable record, and every record it reads must write back to the
// same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "parlo/store/message_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::unique_ptr<parlo::CSmsMessage>> list;
    size_t good = parlo::ParseStoreBytes(bytes, &list);
    if (good > size)
        abort();
    std::string again;
    for (const auto& rec : list) {
        if (rec->m_nFileOffset != static_cast<int32_t>(again.size()))
            abort();
        parlo::AppendRecordBytes(*rec, &again);
    }
    if (again.size() != good)
        abort();
    return 0;
}
