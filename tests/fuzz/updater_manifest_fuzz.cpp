// Feeds arbitrary bytes to the parser of "update.manifest" and of the sums
// of waiting files. Whatever the manifest parser accepts must survive a
// format and parse round trip unchanged, and be checked against a list
// without reading past anything.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "updater/info.h"
#include "updater/manifest.h"
#include "updater/postreset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)updater::ParsePendingSums(text);
    updater::Manifest manifest;
    if (!updater::ParseManifest(text, &manifest))
        return 0;
    std::string formatted = updater::FormatManifest(manifest);
    updater::Manifest again;
    if (!updater::ParseManifest(formatted, &again) || updater::FormatManifest(again) != formatted) {
        std::abort();
    }
    updater::ServerList list;
    if (updater::ParseUpdateInfo(text, &list, nullptr) == updater::ParseStatus::kOk) {
        std::string problem;
        (void)updater::ManifestCoversList(manifest, text, list, &problem);
    }
    return 0;
}
