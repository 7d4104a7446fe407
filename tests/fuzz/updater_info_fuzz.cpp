// Feeds arbitrary bytes to the updater's list parsers, then compares, selects
// and writes the result as a real run would.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "updater/info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    // The first half plays the device's list, the whole input the server's.
    updater::LocalList local = updater::ParseVersionInfo(text.substr(0, size / 2));
    updater::ServerList server;
    std::string bad;
    if (updater::ParseUpdateInfo(text, &server, &bad) != updater::ParseStatus::kOk)
        return 0;
    std::vector<updater::UpdateItem> items;
    updater::CompareLists(&server, local, &items);
    for (size_t i = 0; i < items.size(); ++i)
        items[i].size = static_cast<int64_t>(i) * 1024;
    if (!server.groups.empty())
        server.groups[0].selected = false;
    updater::SelectFiles(&server.groups, &items, local, false);
    updater::LocalList again =
        updater::ParseVersionInfo(updater::FormatVersionInfo("0.01", items, local));
    (void)again;
    return 0;
}
