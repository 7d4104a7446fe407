// The updater's work without windows: start-up, the check, the selection,
// the downloads, the installation and the self-update hand-over. The windows
// and the batch mode drive it; the long steps run on a worker thread while
// the caller waits and polls the progress.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "updater/http.h"
#include "updater/info.h"
#include "updater/log.h"
#include "updater/manifest.h"
#include "updater/places.h"

namespace updater {

// A directory text as the updater keeps it (command line, "self.tmp",
// "postresetcopy.ini") to a file path: a text beginning with "/" is a path of
// this machine, anything else a handheld path ("\a\b" below the device root,
// "a\b" below the installation directory).
std::filesystem::path LocalPath(const std::string& text);

// `s` with the ASCII capitals made small.
std::string AsciiLower(std::string s);

// "\windows\temp" below the device root.
std::filesystem::path TempDir();

// Deletes every file in `dir` (failures are ignored).
void EmptyDirectory(const std::filesystem::path& dir);

// Empties "\windows\temp", but keeps the files that wait there for "copy"
// (listed in "postresetcopy.ini") and the list itself. Returns true when such
// files wait.
bool CleanTempKeepingPending();

// "postresetcopy.sum" in the updater's directory: SHA-256 and size of every
// file waiting in "\windows\temp", checked before "copy" or "SelfUpdate"
// put it in place. Kept outside "\windows\temp" so that whoever can change
// a waiting file cannot change its sum too.
std::filesystem::path PendingSumsFile();

struct Config {
    std::string host;                             // string 65008, or $SKYVANE_UPDATE_HOST
    std::string folder;                           // string 65009, "/auto_update/"
    std::string own_version;                      // string 65010
    std::string own_folder;                       // string 65022, "updaterEng"
    std::string updater_dir;                      // UpdaterDirText()
    int pause_ms = 3000;                          // pause after "Find new ... version."
    bool batch = false;                           // started as "updater --batch"
    std::vector<std::filesystem::path> key_dirs;  // trusted public keys: DefaultKeyDirs()
    std::vector<std::string> builtin_keys;        // BuiltinKeys()
    std::string ca_file;  // $SKYVANE_UPDATE_CA_FILE: CAs for an https server
    // The updater's own files belong to the package manager: PackagedUpdater().
    bool packaged = false;
    // Every download ends within deadline_base_s plus one second for every
    // min_rate bytes of the file.
    long deadline_base_s = 60;
    int64_t min_rate = 4096;
};

// Caps of the small files of a server folder.
inline constexpr int64_t kMaxListBytes = 1 << 20;       // update.info
inline constexpr int64_t kMaxManifestBytes = 1 << 20;   // update.manifest
inline constexpr int64_t kMaxSignatureBytes = 4 << 10;  // update.manifest.sig
Config DefaultConfig();

// The command line "<5 chars>NAME <6 chars>DIRECTORY" (quotes removed).
void ParseCommandLine(const std::string& line, std::string* name, std::string* dir);
// Whether a start with `command_line` has something to update: "self.tmp"
// waits in the updater's directory, or the line names an application and
// its directory. Looks only; nothing is created.
bool CommandLineUsable(const std::string& command_line, const Config& config);
// "self.tmp": name LF directory [LF].
void ParseSelfTmp(std::string_view data, std::string* name, std::string* dir);

enum class Outcome {
    kNone,
    kCancelled,
    kError,
    kSelfUpdate,  // the updater itself must be updated first
    kAppRunning,
    kNoUpdates,
    kFiles,
};

enum class InstallMode { kDirect, kReset, kUpdater };

enum class StartResult { kNormal, kSelfUpdate, kQuit };

class Engine {
  public:
    explicit Engine(Config config);
    ~Engine();

    const Config& config() const { return config_; }
    Log& log() { return log_; }

    // Start-up: "self.tmp" or the command line, "\windows\temp", a stale
    // autostart entry. kQuit: "self.tmp" was empty and the program must end.
    StartResult StartUp(const std::string& command_line);
    bool self_update_mode() const { return self_update_mode_; }
    // Files of an earlier update wait in "\windows\temp" for the restart.
    bool restart_pending() const { return restart_pending_; }
    const std::string& app_name() const { return app_name_; }
    const std::string& app_dir() const { return app_dir_; }

    // Status texts of the check ("Checking for new ... version."); called on
    // the worker thread.
    std::function<void(const std::u16string&)> on_status;

    // The check thread's body: returns 1 or 2, the waiting dialog's result.
    int RunCheck();
    Outcome CheckOutcome() const;

    // Cancel buttons. Safe from any thread.
    void Cancel() { cancel_ = true; }
    bool cancelled() const { return cancel_; }

    const std::u16string& error_text() const { return error_text_; }
    // The error was a refusal: an unverified list or file, an untrusted server.
    bool refused() const { return refused_; }
    // The current list was verified against a signed manifest.
    bool list_verified() const { return verified_; }
    // The current list was taken without verification: no trusted key.
    bool list_unverified() const { return unverified_; }
    bool download_started() const { return download_started_; }

    // The files view.
    const std::vector<Group>& groups() const { return server_.groups; }
    const std::vector<UpdateItem>& items() const { return items_; }
    void SetGroupSelected(size_t group, bool selected);
    void SelectFiles();
    int64_t TotalSize() const;  // of the groups that have items
    bool AnyGroupSelected() const;

    // "Update": logs the plan. BeginSelfUpdate does the same for the updater's
    // own files and switches to updater mode.
    void PrepareDownload();
    void BeginSelfUpdate();

    // The download thread's body: 1 when every file arrived, else 2.
    int RunDownload();
    bool download_failed() const { return download_failed_; }
    // After a cancelled or failed download: log and empty "\windows\temp".
    void AbandonDownload();
    // Progress of the current group, 0-100, with its label; logs a line.
    int ProgressTick();
    std::string progress_label() const;
    std::string product() const;

    // Puts the downloaded files in place (or lists them for the restart)
    // and rewrites "version.info".
    void Install();
    InstallMode install_mode() const { return mode_; }
    bool install_error() const { return install_error_; }

    // Writes "self.tmp" and starts "SelfUpdate"; the caller then ends.
    bool HandOver();

    // The texts of the string table, with "%s" filled in.
    static std::u16string Text(unsigned id, std::string_view arg1 = {}, std::string_view arg2 = {});

  private:
    int CheckUpdater();
    int CheckApplication();
    bool FetchUpdateInfo(const std::string& product, const std::string& dir, ServerList* server,
                         const char* failure_log);
    bool FetchSmall(const std::string& product, const char* name, std::string* data,
                    HttpError* error);
    bool VerifyList(const std::string& product, const std::string& dir,
                    std::string_view update_info, const ServerList& list);
    bool VerifyDownloaded(UpdateItem* item);
    void Refuse(std::u16string text, const std::string& log_line);
    bool QuerySizes(const std::string& product);
    bool ApplicationRunning();
    void Status(std::u16string text);
    void SetError(std::u16string text);
    void ReportHttpError(HttpError error, const std::string& name = "update.info");
    // A failed download or size query of `name`: its own text when the
    // failure has one, else "file on server not found".
    void ReportFileError(HttpError error, const std::string& name);
    bool ListTargetsSafe(const std::string& dir, const ServerList& list);
    void LeavePackageFiles(const std::string& dir, const LocalList& local);
    long Deadline(int64_t size) const;
    bool InstallDirect(const std::string& dir);
    std::string Object(const std::string& product, const std::string& file) const;

    Config config_;
    Log log_;
    Log debug_log_;
    HttpClient http_;

    std::string app_name_;
    std::string app_dir_;
    bool self_update_mode_ = false;

    std::atomic<bool> cancel_{false};
    bool error_ = false;
    bool refused_ = false;
    bool restart_pending_ = false;
    bool verified_ = false;
    bool unverified_ = false;
    Manifest manifest_;  // of the list being worked on, when verified
    // The sequence number to keep once the verified list is installed.
    std::filesystem::path sequence_file_;
    uint64_t sequence_ = 0;
    std::u16string error_text_;
    bool needs_updater_update_ = false;
    bool app_running_ = false;
    bool no_updates_ = false;

    LocalList local_;          // the application's "version.info"
    LocalList updater_local_;  // the updater's own
    ServerList server_;
    std::vector<UpdateItem> items_;
    InstallMode mode_ = InstallMode::kDirect;
    bool install_error_ = false;

    // Download state, read by the progress tick from another thread.
    bool download_started_ = false;
    bool download_failed_ = false;
    mutable std::mutex progress_mutex_;
    int current_group_ = -1;
    int64_t current_item_size_ = 0;
    int64_t group_done_ = 0;
    std::atomic<int64_t> received_{0};
};

}  // namespace updater
