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

std::string EnvOr(const char* name, std::string fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::string(value) : fallback;
}

}  // namespace

std::string AsciiLower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

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
        std::string lower = AsciiLower(running);
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

}  // namespace updater
