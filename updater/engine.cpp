#include "updater/engine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <thread>

#include "platform/binio.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"
#include "updater/place.h"
#include "updater/postreset.h"
#include "updater_strings.h"

namespace fs = std::filesystem;

namespace updater {

namespace {

std::string Narrow(std::u16string_view text) {
    return platform::NarrowLow8(text);
}

std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

std::string EnvOr(const char* name, std::string fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::string(value) : fallback;
}

}  // namespace

fs::path LocalPath(const std::string& text) {
    if (!text.empty() && text[0] == '/') {
        std::string native = text;
        std::replace(native.begin(), native.end(), '\\', '/');
        return fs::path(native).lexically_normal();
    }
    return platform::DevicePath(text);
}

fs::path TempDir() {
    return platform::DevicePath("\\windows\\temp");
}

void EmptyDirectory(const fs::path& dir) {
    std::error_code ec;
    std::vector<fs::path> found;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        found.push_back(it->path());
    }
    for (const fs::path& p : found)
        fs::remove(p, ec);
}

bool CleanTempKeepingPending() {
    fs::path dir = TempDir();
    std::string data;
    std::vector<PendingFile> pending;
    if (platform::ReadFileBytes(dir / "postresetcopy.ini", &data))
        pending = ParsePostResetList(data);
    if (pending.empty()) {
        EmptyDirectory(dir);
        return false;
    }
    std::error_code ec;
    std::vector<fs::path> found;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        found.push_back(it->path());
    }
    for (const fs::path& p : found) {
        std::string name = p.filename().string();
        bool keep = name == "postresetcopy.ini" ||
                    std::any_of(pending.begin(), pending.end(),
                                [&](const PendingFile& f) { return f.name == name; });
        if (!keep)
            fs::remove(p, ec);
    }
    return true;
}

fs::path PendingSumsFile() {
    return LocalPath(UpdaterDirText()) / "postresetcopy.sum";
}

Config DefaultConfig() {
    const platform::StringTable& table = strings::updater();
    Config config;
    config.host = EnvOr("SKYVANE_UPDATE_HOST", Narrow(table.Load(65008)));
    config.folder = Narrow(table.Load(65009));
    config.own_version = Narrow(table.Load(65010));
    config.own_folder = Narrow(table.Load(65022));
    config.updater_dir = UpdaterDirText();
    config.packaged = PackagedUpdater();
    config.key_dirs = DefaultKeyDirs();
    config.builtin_keys = BuiltinKeys();
    config.ca_file = EnvOr("SKYVANE_UPDATE_CA_FILE", "");
    return config;
}

void ParseCommandLine(const std::string& line, std::string* name, std::string* dir) {
    name->clear();
    dir->clear();
    size_t blank = line.find(' ');
    std::string first = line.substr(0, blank);
    if (first.size() > 5)
        *name = first.substr(5);
    if (blank == std::string::npos)
        return;
    std::string rest;
    for (char c : line.substr(blank + 1)) {
        if (c != '"' && c != '\'')
            rest += c;
    }
    if (rest.size() > 6)
        *dir = rest.substr(6);
}

bool CommandLineUsable(const std::string& command_line, const Config& config) {
    std::string name, dir;
    ParseCommandLine(command_line, &name, &dir);
    if (!name.empty() && !dir.empty())
        return true;
    // A packaged updater never hands over to SelfUpdate, so no "self.tmp"
    // waits for it (and its directory is not looked for, which would create
    // the installation directory).
    std::error_code ec;
    return !config.packaged && fs::exists(LocalPath(config.updater_dir) / "self.tmp", ec);
}

void ParseSelfTmp(std::string_view data, std::string* name, std::string* dir) {
    auto take_line = [&data]() {
        size_t lf = data.find('\n');
        std::string line(data.substr(0, lf));
        data.remove_prefix(lf == std::string_view::npos ? data.size() : lf + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return line;
    };
    *name = take_line();
    *dir = take_line();
}

Engine::Engine(Config config)
    : config_(std::move(config)),
      log_(platform::DevicePath("\\updater.log")),
      debug_log_(platform::DevicePath("\\t.log")),
      http_(config_.host, &debug_log_, config_.ca_file) {}

Engine::~Engine() = default;

std::u16string Engine::Text(unsigned id, std::string_view arg1, std::string_view arg2) {
    std::u16string text = strings::updater().Load(id);
    for (std::string_view arg : {arg1, arg2}) {
        size_t at = text.find(u"%s");
        if (at == std::u16string::npos)
            break;
        text.replace(at, 2, platform::WidenBytes(arg));
    }
    return text;
}

StartResult Engine::StartUp(const std::string& command_line) {
    log_.Write("Testing for self.tmp");
    fs::path self_tmp = LocalPath(config_.updater_dir) / "self.tmp";
    std::string data;
    if (!platform::ReadFileBytes(self_tmp, &data)) {
        log_.Delete();
        log_.Write("Parsing command line");
        ParseCommandLine(command_line, &app_name_, &app_dir_);
        log_.Write("application name : " + app_name_);
        log_.Write("path to application : " + app_dir_);
        log_.Write("Parsing done.");
    } else {
        log_.Write("File self.tmp found, parsing");
        if (data.empty()) {
            log_.Write("File self.tmp is empty");
            return StartResult::kQuit;
        }
        log_.Write("Read self.tmp");
        ParseSelfTmp(data, &app_name_, &app_dir_);
        log_.Write("AppName:" + app_name_);
        log_.Write("AppPath:" + app_dir_);
        self_update_mode_ = true;
    }
    std::error_code ec;
    fs::remove(self_tmp, ec);
    fs::create_directories(TempDir(), ec);
    // An update that waits for the restart keeps its files.
    restart_pending_ = CleanTempKeepingPending();
    if (restart_pending_)
        log_.Write("An update waits for the restart: its files in \\windows\\temp are kept");
    // The entry that runs "copy" is written when files wait for it, and
    // goes when none wait any more.
    if (!restart_pending_)
        RemoveAutostartEntry();
    return self_update_mode_ ? StartResult::kSelfUpdate : StartResult::kNormal;
}

void Engine::Status(std::u16string text) {
    log_.Write(text);
    if (on_status)
        on_status(text);
}

void Engine::SetError(std::u16string text) {
    error_ = true;
    error_text_ = std::move(text);
}

void Engine::Refuse(std::u16string text, const std::string& log_line) {
    log_.Write("Refused: " + log_line);
    refused_ = true;
    SetError(std::move(text));
}

void Engine::ReportHttpError(HttpError error, const std::string& name) {
    switch (error) {
        case HttpError::kOk:
            return;
        case HttpError::kNoSession:
            log_.Write("Can not init inetsession.");
            SetError(Text(65012));
            return;
        case HttpError::kNoConnect:
            log_.Write("Can not connect to server: " + http_.host());
            SetError(Text(65013));
            return;
        case HttpError::kNoRequest:
            log_.Write("Can not create request.");
            SetError(Text(65014));
            return;
        case HttpError::kSendFailed:
            log_.Write("Can not connect to server");
            SetError(Text(65013));
            return;
        case HttpError::kNoLength:
            log_.Write("File not found on server");
            SetError(Text(65015));
            return;
        case HttpError::kShort:
            log_.Write("Download incomplete: " + name);
            SetError(Text(65042, name));
            return;
        case HttpError::kWriteFailed:
            log_.Write("Can not write the downloaded file");
            SetError(Text(65015));
            return;
        case HttpError::kCancelled:
            log_.Write("Cancel");
            return;
        case HttpError::kUntrusted:
            Refuse(Text(65037), "the certificate of " + http_.host() + " is not trusted");
            return;
        case HttpError::kInsecureRedirect:
            Refuse(Text(65038), http_.host() + " redirected from https to http");
            return;
        case HttpError::kTimedOut:
            log_.Write("Time-out: " + name + " did not arrive within its deadline");
            SetError(Text(65041, name));
            return;
        case HttpError::kTooLarge:
        case HttpError::kOtherLength:
            if (error == HttpError::kTooLarge) {
                log_.Write("Larger than it may be: " + name);
                SetError(Text(65043, name));
            } else {
                log_.Write("Not of the size the server announced before: " + name);
                SetError(Text(65049, name));
            }
            return;
        case HttpError::kCaFile:
            log_.Write("Can not read the certificate authorities " + config_.ca_file);
            SetError(Text(65044, config_.ca_file));
            return;
    }
}

void Engine::ReportFileError(HttpError error, const std::string& name) {
    ReportHttpError(error, name);
    switch (error) {
        case HttpError::kNoSession:
        case HttpError::kNoConnect:
        case HttpError::kNoRequest:
        case HttpError::kSendFailed:
        case HttpError::kWriteFailed:
            if (!refused_)
                SetError(Text(65015));
            return;
        default:
            return;
    }
}

long Engine::Deadline(int64_t size) const {
    int64_t rate = std::max<int64_t>(config_.min_rate, 1);
    return config_.deadline_base_s + static_cast<long>(std::max<int64_t>(size, 0) / rate);
}

std::string Engine::Object(const std::string& product, const std::string& file) const {
    return config_.folder + product + "/" + file;
}

std::string Engine::product() const {
    return mode_ == InstallMode::kUpdater ? config_.own_folder : app_name_;
}

int Engine::RunCheck() {
    cancel_ = false;
    error_ = false;
    refused_ = false;
    verified_ = false;
    unverified_ = false;
    manifest_ = Manifest();
    sequence_file_.clear();
    error_text_.clear();
    needs_updater_update_ = false;
    app_running_ = false;
    no_updates_ = false;
    download_started_ = false;
    download_failed_ = false;
    mode_ = InstallMode::kDirect;
    items_.clear();
    server_ = ServerList();
    if (config_.packaged && !self_update_mode_) {
        log_.Write("The updater's own files belong to the package manager");
        Status(Text(65047));
    } else if (!self_update_mode_) {
        int result = CheckUpdater();
        if (result != 0)
            return result;
    }
    return CheckApplication();
}

bool Engine::FetchSmall(const std::string& product, const char* name, std::string* data,
                        HttpError* error) {
    fs::path file = TempDir() / name;
    Limits limits;
    limits.max_bytes =
        std::string_view(name) == kSignatureName ? kMaxSignatureBytes : kMaxManifestBytes;
    limits.deadline_s = Deadline(limits.max_bytes);
    *error = http_.Download(Object(product, name), file, &cancel_, nullptr, limits);
    bool ok = *error == HttpError::kOk && platform::ReadFileBytes(file, data);
    std::error_code ec;
    fs::remove(file, ec);
    return ok;
}

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
    } else if (manifest.product != Lower(product)) {
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

bool Engine::QuerySizes(const std::string& product) {
    for (UpdateItem& item : items_) {
        HttpError error;
        const std::string& name = item.kind == KIND_CVR ? item.extra : item.name;
        int64_t size = http_.QueryLength(Object(product, name), &error);
        if (cancel_)
            return false;
        if (size < 0) {
            ReportFileError(error, name);
            return false;
        }
        // The size the publisher signed is the size; a server that announces
        // another one is not asked for the file.
        const ManifestFile* signed_file =
            verified_ && item.kind != KIND_CVR ? manifest_.Find(item.path + item.name) : nullptr;
        if (signed_file && signed_file->size != size) {
            Refuse(Text(65034, item.name), "file " + item.name + ": the server announces " +
                                               std::to_string(size) + " bytes, the manifest " +
                                               std::to_string(signed_file->size));
            return false;
        }
        item.size = size;
    }
    return true;
}

// Phase A: does the updater need a newer version of itself? 0 goes on with
// the application, 1 or 2 end the check.
int Engine::CheckUpdater() {
    const std::string& own = config_.own_folder;
    Status(Text(65023, own));
    std::string data;
    if (!platform::ReadFileBytes(LocalPath(config_.updater_dir) / "version.info", &data)) {
        SetError(Text(65018, own));
        return 2;
    }
    updater_local_ = ParseVersionInfo(data);
    if (!FetchUpdateInfo(own, config_.updater_dir, &server_,
                         "Error, can't download updater update.info"))
        return 2;
    CompareLists(&server_, updater_local_, &items_);
    LeavePackageFiles(config_.updater_dir, updater_local_);
    if (items_.empty()) {
        items_.clear();
        server_ = ServerList();
        return 0;
    }
    Status(Text(65024, own, own));
    mode_ = InstallMode::kUpdater;
    if (!QuerySizes(own))
        return 2;
    SelectFiles();
    for (int waited = 0; waited < config_.pause_ms && !cancel_; waited += 50) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (cancel_)
        return 2;
    needs_updater_update_ = true;
    return 1;
}

// Phase B: the application's own list.
int Engine::CheckApplication() {
    mode_ = InstallMode::kDirect;
    Status(Text(65023, app_name_));
    std::string data;
    local_ = platform::ReadFileBytes(LocalPath(app_dir_) / "version.info", &data)
                 ? ParseVersionInfo(data)
                 : LocalList();
    auto updater_too_old = [this](const std::string& required) {
        if (!VersionLess(config_.own_version, required) || app_name_ == "updater")
            return false;
        log_.Write("Updater version " + config_.own_version + " is lower than " + required);
        needs_updater_update_ = true;
        SetError(Text(65025));
        return true;
    };
    if (updater_too_old(local_.version_of_file))
        return 1;
    if (!FetchUpdateInfo(app_name_, app_dir_, &server_, "Error, can't download update.info"))
        return 2;
    if (cancel_)
        return 2;
    if (server_.post_reset_copy)
        mode_ = InstallMode::kReset;
    if (!server_.post_reset_copy && ApplicationRunning()) {
        app_running_ = true;
        return 2;
    }
    if (updater_too_old(server_.required_version))
        return 1;
    CompareLists(&server_, local_, &items_);
    LeavePackageFiles(app_dir_, local_);
    if (!QuerySizes(app_name_))
        return 2;
    SelectFiles();
    bool any = std::any_of(server_.groups.begin(), server_.groups.end(),
                           [](const Group& g) { return !g.items.empty(); });
    if (any)
        return 1;
    no_updates_ = true;
    return 2;
}

Outcome Engine::CheckOutcome() const {
    if (cancel_)
        return Outcome::kCancelled;
    if (error_)
        return Outcome::kError;
    if (needs_updater_update_)
        return Outcome::kSelfUpdate;
    if (app_running_)
        return Outcome::kAppRunning;
    if (no_updates_)
        return Outcome::kNoUpdates;
    return Outcome::kFiles;
}

// Logs only the result: the program that blocks the update, if any.
bool Engine::ApplicationRunning() {
    for (const std::string& running : platform::RunningProgramNames()) {
        std::string lower = Lower(running);
        for (const LocalEntry& entry : local_.entries) {
            if (entry.name == lower) {
                log_.Write("   Application still runing: " + running);
                return true;
            }
        }
    }
    log_.Write("No program of the application is running");
    return false;
}

void Engine::SelectFiles() {
    bool self = mode_ == InstallMode::kUpdater;
    updater::SelectFiles(&server_.groups, &items_, self ? updater_local_ : local_, self);
}

void Engine::SetGroupSelected(size_t group, bool selected) {
    if (group >= server_.groups.size())
        return;
    server_.groups[group].selected = selected;
    SelectFiles();
}

int64_t Engine::TotalSize() const {
    int64_t total = 0;
    for (const Group& g : server_.groups) {
        if (!g.items.empty())
            total += g.size;
    }
    return total;
}

bool Engine::AnyGroupSelected() const {
    return std::any_of(server_.groups.begin(), server_.groups.end(),
                       [](const Group& g) { return !g.items.empty() && g.selected; });
}

void Engine::PrepareDownload() {
    cancel_ = false;
    for (const UpdateItem& item : items_) {
        if (!item.download)
            continue;
        log_.Write("Budu stahovat:" + item.name + " velikost: " + std::to_string(item.size) +
                   " ze skupiny: " + server_.groups[item.group].label);
    }
}

void Engine::BeginSelfUpdate() {
    cancel_ = false;
    mode_ = InstallMode::kUpdater;
    SelectFiles();
    log_.Write("Updating updater");
    for (const UpdateItem& item : items_) {
        if (!item.download)
            continue;
        log_.Write("I will download:" + item.name + " size: " + std::to_string(item.size / 1024) +
                   " kb from group: " + server_.groups[item.group].label);
    }
}

int Engine::RunDownload() {
    cancel_ = false;
    download_started_ = true;
    download_failed_ = false;
    const std::string prod = product();
    std::error_code ec;
    bool any =
        std::any_of(items_.begin(), items_.end(), [](const UpdateItem& i) { return i.download; });
    if (!any) {
        log_.Write("Nothing found");
        fs::remove(TempDir() / "update.info", ec);
        return 2;
    }
    fs::create_directories(TempDir(), ec);
    for (size_t g = 0; g < server_.groups.size(); ++g) {
        {
            std::lock_guard<std::mutex> lock(progress_mutex_);
            current_group_ = static_cast<int>(g);
            group_done_ = 0;
        }
        for (size_t index : server_.groups[g].items) {
            UpdateItem& item = items_[index];
            if (!item.download)
                continue;
            {
                std::lock_guard<std::mutex> lock(progress_mutex_);
                current_item_size_ = item.size;
                received_ = 0;
            }
            // A verified file may not be longer than the manifest says, a
            // file of the list not longer than its size query said.
            Limits limits;
            const ManifestFile* signed_file =
                verified_ ? manifest_.Find(item.path + item.name) : nullptr;
            if (signed_file) {
                limits.max_bytes = limits.expected_length = signed_file->size;
            } else if (item.kind != KIND_CVR) {
                limits.max_bytes = limits.expected_length = item.size;
            }
            limits.deadline_s = Deadline(limits.max_bytes >= 0 ? limits.max_bytes : item.size);
            HttpError error = http_.Download(Object(prod, item.name), TempDir() / item.name,
                                             &cancel_, &received_, limits);
            if (error == HttpError::kCancelled || cancel_) {
                log_.Write("Cancel");
                return 2;
            }
            if (error != HttpError::kOk) {
                download_failed_ = true;
                if (signed_file &&
                    (error == HttpError::kTooLarge || error == HttpError::kOtherLength)) {
                    Refuse(Text(65034, item.name), "file " + item.name + ": longer than the " +
                                                       std::to_string(signed_file->size) +
                                                       " bytes of the manifest");
                } else {
                    ReportFileError(error, item.name);
                }
                return 2;
            }
            if (!VerifyDownloaded(&item)) {
                download_failed_ = true;
                return 2;
            }
            std::lock_guard<std::mutex> lock(progress_mutex_);
            group_done_ += item.size;
            received_ = 0;
        }
    }
    fs::remove(TempDir() / "update.info", ec);
    log_.Write("DownLoadUpgrades done.");
    return 1;
}

// Notes the downloaded file's SHA-256; with a verified list it must match the
// manifest in size and hash, else the file is refused.
bool Engine::VerifyDownloaded(UpdateItem* item) {
    std::string hash;
    int64_t size = 0;
    if (!Sha256File(TempDir() / item->name, &hash, &size)) {
        log_.Write("can't read the downloaded file: " + item->name);
        SetError(Text(65015));
        return false;
    }
    item->sha256 = hash;
    if (!verified_)
        return true;
    const ManifestFile* expected = manifest_.Find(item->path + item->name);
    if (!expected || expected->size != size || expected->sha256 != hash) {
        std::string why =
            !expected ? "not in the manifest"
            : expected->size != size
                ? "size " + std::to_string(size) + " instead of " + std::to_string(expected->size)
                : "SHA-256 differs from the manifest";
        Refuse(Text(65034, item->name), "file " + item->name + ": " + why);
        return false;
    }
    return true;
}

void Engine::AbandonDownload() {
    log_.Write(cancel_ ? "cancel" : "error");
    CleanTempKeepingPending();
    if (cancel_ && mode_ == InstallMode::kUpdater) {
        items_.clear();
        server_ = ServerList();
    }
}

std::string Engine::progress_label() const {
    std::lock_guard<std::mutex> lock(progress_mutex_);
    if (current_group_ < 0 || current_group_ >= static_cast<int>(server_.groups.size()))
        return {};
    return server_.groups[current_group_].label;
}

int Engine::ProgressTick() {
    std::lock_guard<std::mutex> lock(progress_mutex_);
    if (current_group_ < 0 || current_group_ >= static_cast<int>(server_.groups.size()))
        return 0;
    int64_t size = server_.groups[current_group_].size;
    int64_t now = received_;
    int64_t percent = size > 0 ? (group_done_ + now) * 100 / size : 100;
    percent = std::clamp<int64_t>(percent, 0, 100);
    char line[160];
    std::snprintf(line, sizeof line,
                  "File lenght:%lld  downloaded:%lld  actual lenght:%lld   %%:%d",
                  static_cast<long long>(current_item_size_), static_cast<long long>(group_done_),
                  static_cast<long long>(now), static_cast<int>(percent));
    log_.Write(line);
    return static_cast<int>(percent);
}

// Direct installation: every file is copied into a private folder beside its
// target and checked there against the hash noted at its download; only when
// all are the downloaded ones are they renamed into place.
bool Engine::InstallDirect(const std::string& dir) {
    std::vector<std::pair<UpdateItem*, StagedFile>> staged;
    auto discard_all = [&] {
        for (auto& [item, file] : staged)
            DiscardStaged(file);
    };
    for (UpdateItem& item : items_) {
        if (!item.download)
            continue;
        fs::path target = LocalPath(DestinationDir(dir, item.path)) / item.name;
        if (PackageOwned(target) || InKeyFolder(target, config_.key_dirs)) {
            // Left out by the check already; never written, whatever happened since.
            log_.Write("not written: " + target.string());
            item.download = false;
            continue;
        }
        StagedFile file;
        StageResult result =
            StageFile(TempDir() / item.name, target, item.sha256, item.kind == KIND_BIN, &file);
        if (result == StageResult::kChanged) {
            discard_all();
            Refuse(Text(65040, item.name),
                   "file " + item.name + " changed in \\windows\\temp after its download");
            install_error_ = true;
            CleanTempKeepingPending();
            return false;
        }
        if (result != StageResult::kStaged) {
            // The old version stays listed, so the next check offers it again.
            log_.Write("can't move file: " + item.name);
            item.download = false;
            continue;
        }
        staged.emplace_back(&item, std::move(file));
    }
    for (auto& [item, file] : staged) {
        log_.Write("file: " + item->name);
        log_.Write("moving file: " + item->name);
        if (!CommitStaged(file)) {
            log_.Write("can't move file: " + item->name);
            item->download = false;
        }
    }
    CleanTempKeepingPending();
    return true;
}

void Engine::Install() {
    log_.Write("Upgrading files");
    install_error_ = false;
    const bool direct = mode_ == InstallMode::kDirect;
    const std::string dir = mode_ == InstallMode::kUpdater ? config_.updater_dir : app_dir_;
    const LocalList& local = mode_ == InstallMode::kUpdater ? updater_local_ : local_;
    if (direct && !InstallDirect(dir))
        return;
    // Files that wait must still be the ones that were downloaded (and
    // verified) when they are listed; "copy" checks them again.
    for (const UpdateItem& item : items_) {
        if (direct || !item.download)
            continue;
        std::string hash;
        if (!Sha256File(TempDir() / item.name, &hash, nullptr) || hash != item.sha256) {
            Refuse(Text(65040, item.name),
                   "file " + item.name + " changed in \\windows\\temp after its download");
            install_error_ = true;
            CleanTempKeepingPending();
            return;
        }
    }
    if (!direct) {
        // Files that already wait for the restart stay listed, unless this
        // run brings a newer copy of them.
        std::vector<PendingFile> pending;
        std::map<std::string, PendingSum> sums;
        std::string data;
        if (platform::ReadFileBytes(TempDir() / "postresetcopy.ini", &data))
            pending = ParsePostResetList(data);
        if (platform::ReadFileBytes(PendingSumsFile(), &data))
            sums = ParsePendingSums(data);
        for (UpdateItem& item : items_) {
            if (!item.download)
                continue;
            log_.Write("file: " + item.name);
            std::string destination = DestinationDir(dir, item.path);
            std::erase_if(pending, [&](const PendingFile& f) { return f.name == item.name; });
            pending.push_back({item.name, destination});
            sums[item.name] = PendingSum{item.sha256, dir, destination};
            log_.Write("Seting file:" + item.name + " " + destination + " for postreset copy");
        }
        std::string list, sum_text;
        for (const PendingFile& f : pending) {
            list += f.name + "\n" + f.directory + "\n";
            auto sum = sums.find(f.name);
            if (sum != sums.end())
                sum_text += FormatPendingSum(f.name, sum->second);
        }
        std::error_code ec;
        fs::create_directories(PendingSumsFile().parent_path(), ec);
        if (!platform::WriteFileAtomic(PendingSumsFile(), sum_text) ||
            !platform::WriteFileAtomic(TempDir() / "postresetcopy.ini", list)) {
            log_.Write("can't write postresetcopy.ini");
            install_error_ = true;
            SetError(Text(65015));
        } else if (mode_ == InstallMode::kReset && !config_.packaged) {
            // A packaged installation's own entry in the system's autostart
            // folder runs "copy"; elsewhere the user's entry is written now.
            fs::path copy = platform::ResolveProgram(LocalPath(config_.updater_dir), "copy.exe");
            if (copy.empty())
                copy = LocalPath(config_.updater_dir) / "copy";
            if (!CreateAutostartEntry(copy))
                log_.Write("Can not create the autostart entry");
        }
    }
    fs::path info = LocalPath(dir) / "version.info";
    std::error_code ec;
    fs::create_directories(info.parent_path(), ec);
    if (!platform::WriteFileAtomic(info, FormatVersionInfo(config_.own_version, items_, local))) {
        log_.Write("can't open " + info.string());
        install_error_ = true;
        SetError(Text(65018, product()));
    }
    if (!install_error_ && !sequence_file_.empty()) {
        fs::create_directories(sequence_file_.parent_path(), ec);
        if (!platform::WriteFileAtomic(sequence_file_, std::to_string(sequence_) + "\n"))
            log_.Write("can't write " + sequence_file_.string());
    }
}

bool Engine::HandOver() {
    fs::path dir = LocalPath(config_.updater_dir);
    fs::path self_tmp = dir / "self.tmp";
    log_.Write("Create:" + self_tmp.string());
    if (!platform::WriteFileAtomic(self_tmp, app_name_ + "\n" + app_dir_ + "\n")) {
        log_.Write("can't open " + self_tmp.string());
        return false;
    }
    fs::path program = platform::ResolveProgram(dir, "SelfUpdate.exe");
    std::vector<std::string> args;
    if (config_.batch)
        args.push_back("--batch");
    if (program.empty() || !platform::StartDetached(program, args)) {
        log_.Write("Can not start SelfUpdate");
        return false;
    }
    return true;
}

}  // namespace updater
