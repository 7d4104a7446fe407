// The updater's trust checks: the signed manifest that must cover a list,
// the key folders no list may write into, and the files that belong to the
// package manager.
#include <algorithm>
#include <map>

#include "platform/binio.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "updater/engine.h"
#include "updater_strings.h"

namespace fs = std::filesystem;

namespace updater {

// With trusted keys the list must come with a manifest signed by one of them,
// for this product, not older than the last one accepted, naming the list's
// bytes and every file of it. The sequence is kept per directory.
bool Engine::VerifyList(const std::string& product, const std::string& dir,
                        std::string_view update_info, const ServerList& list) {
    manifest_ = Manifest();
    verified_ = false;
    unverified_ = false;
    sequence_file_.clear();
    std::vector<std::string> skipped;
    std::vector<TrustedKey> keys =
        LoadTrustedKeys(config_.builtin_keys, config_.key_dirs, &skipped);
    for (const std::string& name : skipped)
        log_.Write("Not a public key, skipped: " + name);
    std::error_code ec;
    for (fs::directory_iterator it(RetiredKeysDir(), ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() == ".pem")
            log_.Write("Not read: " + it->path().string() +
                       " (updates can write that folder; trusted keys go into " +
                       UserKeysDir().string() + " or " + SystemKeysDir().string() + ")");
    }
    if (keys.empty()) {
        log_.Write("The update list of " + product + " was not verified: no trusted key");
        unverified_ = true;
        return true;
    }
    std::string manifest_bytes, signature;
    HttpError error;
    for (const char* name : {kManifestName, kSignatureName}) {
        std::string* data = name == kManifestName ? &manifest_bytes : &signature;
        if (FetchSmall(product, name, data, &error))
            continue;
        if (error == HttpError::kNoLength) {
            Refuse(Text(65030), std::string("no ") + name + " for " + product);
        } else {
            ReportHttpError(error);
        }
        return false;
    }
    if (!VerifySignature(manifest_bytes, signature, keys)) {
        Refuse(Text(65031), "the signature of the manifest of " + product +
                                " is not valid for any of the trusted keys");
        return false;
    }
    Manifest manifest;
    std::string problem;
    if (!ParseManifest(manifest_bytes, &manifest)) {
        problem = "the signed manifest can not be read";
    } else if (manifest.product != AsciiLower(product)) {
        problem = "the manifest is for " + manifest.product;
    } else {
        ManifestCoversList(manifest, update_info, list, &problem);
    }
    if (!problem.empty()) {
        Refuse(Text(65032), "update list of " + product + ": " + problem);
        return false;
    }
    // An old list may not be served for ever: each has its end.
    int64_t now = static_cast<int64_t>(std::time(nullptr));
    if (manifest.expires == 0 || now >= manifest.expires) {
        Refuse(Text(65045),
               "the manifest of " + product +
                   (manifest.expires == 0 ? std::string(" carries no expiry time")
                                          : " expired at " + FormatUtcTime(manifest.expires)));
        return false;
    }
    fs::path sequence_file = LocalPath(dir) / "update.sequence";
    std::string stored;
    uint64_t last = 0;
    if (platform::ReadFileBytes(sequence_file, &stored))
        last = std::strtoull(stored.c_str(), nullptr, 10);
    if (manifest.sequence < last) {
        Refuse(Text(65033), "update list of " + product + " has sequence " +
                                std::to_string(manifest.sequence) + ", lower than " +
                                std::to_string(last) + " accepted before");
        return false;
    }
    // Kept once the list's files are installed (see Install).
    if (manifest.sequence > last) {
        sequence_file_ = sequence_file;
        sequence_ = manifest.sequence;
    }
    log_.Write("The update list of " + product + " is verified: sequence " +
               std::to_string(manifest.sequence));
    manifest_ = std::move(manifest);
    verified_ = true;
    return true;
}

bool Engine::FetchUpdateInfo(const std::string& product, const std::string& dir, ServerList* server,
                             const char* failure_log) {
    fs::path file = TempDir() / "update.info";
    std::error_code ec;
    fs::create_directories(TempDir(), ec);
    Limits limits;
    limits.max_bytes = kMaxListBytes;
    limits.deadline_s = Deadline(kMaxListBytes);
    HttpError error =
        http_.Download(Object(product, "update.info"), file, &cancel_, nullptr, limits);
    if (error != HttpError::kOk) {
        if (error != HttpError::kCancelled)
            log_.Write(failure_log);
        ReportHttpError(error);
        return false;
    }
    std::string data;
    std::string bad_line;
    if (!platform::ReadFileBytes(file, &data)) {
        log_.Write("Error, can't read update.info");
        SetError(Text(65015));
        return false;
    }
    ParseStatus status = ParseUpdateInfo(data, server, &bad_line);
    // A list that the publisher did not sign is refused before its contents
    // are judged.
    ServerList none;
    if (!VerifyList(product, dir, data, status == ParseStatus::kOk ? *server : none))
        return false;
    switch (status) {
        case ParseStatus::kOk:
            return ListTargetsSafe(dir, *server);
        case ParseStatus::kNotUpdateList:
            log_.Write("Error, can't parse update.info: " + bad_line);
            SetError(Text(65013));
            return false;
        case ParseStatus::kUnsafePath:
            Refuse(Text(65035), "update.info names an unsafe path: " + bad_line);
            return false;
        case ParseStatus::kBadEntry:
        case ParseStatus::kGarbage:
            log_.Write("Error, update.info is no update list: " +
                       (bad_line.empty() ? std::string("no entry") : bad_line));
            SetError(Text(65036));
            return false;
    }
    return false;
}

// No entry of a list may write into a folder of trusted keys: a list that
// names one is refused as a whole, signed or not.
bool Engine::ListTargetsSafe(const std::string& dir, const ServerList& list) {
    for (const ServerEntry& entry : list.entries) {
        fs::path target = LocalPath(DestinationDir(dir, entry.path)) / entry.name;
        if (InKeyFolder(target, config_.key_dirs)) {
            Refuse(Text(65035), "update.info names " + entry.path + entry.name +
                                    ", which would be written into a folder of trusted keys");
            return false;
        }
    }
    return true;
}

// Files that belong to the package manager are updated with the package:
// they are named and left out.
void Engine::LeavePackageFiles(const std::string& dir, const LocalList& local) {
    std::vector<std::string> owned;
    for (const UpdateItem& item : items_) {
        if (PackageOwned(LocalPath(DestinationDir(dir, item.path)) / item.name))
            owned.push_back(item.path + item.name);
    }
    if (owned.empty())
        return;
    std::erase_if(server_.entries, [&](const ServerEntry& e) {
        return std::find(owned.begin(), owned.end(), e.path + e.name) != owned.end();
    });
    for (const std::string& name : owned) {
        log_.Write("Left to the package manager: " + name);
        Status(Text(65048, name));
    }
    CompareLists(&server_, local, &items_);
}

}  // namespace updater
