// The updater's download and installation: the chosen files fetched within
// their signed sizes and deadlines, checked, and put in place directly or
// handed to "copy" and "SelfUpdate".
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/binio.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"
#include "updater/engine.h"
#include "updater/place.h"
#include "updater/postreset.h"
#include "updater_strings.h"

namespace fs = std::filesystem;

namespace updater {

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
