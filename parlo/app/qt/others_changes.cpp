#include "parlo/app/qt/others_changes.h"

#include <QSocketNotifier>
#include <QTimer>
#include <system_error>

#include "parlo/app/parlo_doc.h"

namespace parlo {

namespace {

namespace fs = std::filesystem;
using platform::FileWatcher;

// Long enough for a burst of writes (a phonebook synchronisation, a folder
// added and renamed) to be taken in once.
constexpr int kDelayMs = 150;

bool EndsWith(std::string_view name, std::string_view ending) {
    return name.size() >= ending.size() && name.substr(name.size() - ending.size()) == ending;
}

bool IsDir(const fs::path& dir) {
    std::error_code ec;
    return fs::is_directory(dir, ec);
}

}  // namespace

OthersChanges::OthersChanges(CParloDoc& doc, std::function<bool()> entries_free, QObject* parent)
    : QObject(parent), doc_(doc), entries_free_(std::move(entries_free)) {
    if (!watcher_.ok())
        return;  // others' changes then show at the next start
    delay_ = new QTimer(this);
    delay_->setSingleShot(true);
    delay_->setInterval(kDelayMs);
    connect(delay_, &QTimer::timeout, this, &OthersChanges::TakeInPending);
    notifier_ = new QSocketNotifier(watcher_.fd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        const uint32_t raised = watcher_.Drain();
        if (raised == 0)
            return;
        pending_ |= raised;
        WatchAll();  // a new address book, or a folder made meanwhile
        if (!delay_->isActive())
            delay_->start();
    });
    WatchAll();
}

OthersChanges::~OthersChanges() {
    delete notifier_;  // before the watcher closes its descriptor
}

void OthersChanges::WatchFolder(const fs::path& dir, uint32_t events, uint32_t bits,
                                FileWatcher::Filter filter) {
    // One watch per folder and purpose (a folder may serve several).
    const std::string key = dir.string() + "|" + std::to_string(bits);
    if (watched_.count(key))
        return;
    if (IsDir(dir)) {
        if (watcher_.Watch(dir, events, bits, std::move(filter)))
            watched_.insert(key);
        return;
    }
    // Not there yet: its making is heard in the folder above it.
    const fs::path parent = dir.parent_path();
    const std::string name = dir.filename().string();
    const std::string arrival = key + "|arrival";
    if (!watched_.count(arrival) && IsDir(parent) &&
        watcher_.Watch(
            parent, FileWatcher::kArrivals, bits,
            [name](std::string_view file, bool directory) { return directory && file == name; }))
        watched_.insert(arrival);
}

void OthersChanges::WatchAll() {
    const CParloDoc::SharedPaths paths = doc_.SharedFiles();
    const uint32_t all = FileWatcher::kAll;
    // The registry is replaced by a rename at every change.
    const std::string registry = paths.registry.filename().string();
    WatchFolder(paths.registry.parent_path(), all, kFolders,
                [registry](std::string_view file, bool) { return file == registry; });
    // The address books (subfolders of the root), each with its cards.
    auto card = [](std::string_view file, bool directory) {
        return !directory && EndsWith(file, ".vcf");
    };
    WatchFolder(paths.contacts, all, kContacts, [card](std::string_view file, bool directory) {
        return directory || card(file, directory);
    });
    if (IsDir(paths.contacts)) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(paths.contacts, ec)) {
            if (entry.is_directory(ec))
                WatchFolder(entry.path(), all, kContacts, card);
        }
    }
    WatchFolder(paths.groups, all, kGroups, [](std::string_view file, bool directory) {
        return !directory && EndsWith(file, ".grp");
    });
    // Every phone's copy: which one is current may change with the phone.
    WatchFolder(paths.phonebook.parent_path(), all, kPhonebook,
                [](std::string_view, bool directory) { return !directory; });
    const std::string pb_ini = paths.phonebook_settings.filename().string();
    WatchFolder(paths.phonebook_settings.parent_path(), all, kSettings,
                [pb_ini](std::string_view file, bool) { return file == pb_ini; });
}

void OthersChanges::TakeInPending() {
    if (pending_ & kFolders) {
        pending_ &= ~kFolders;
        doc_.TakeInFolders();
    }
    if ((pending_ & (kContacts | kGroups | kPhonebook | kSettings)) == 0 || !entries_free_())
        return;
    const uint32_t now = pending_;
    pending_ = 0;
    if (now & kContacts)
        doc_.TakeInContacts();
    if (now & kGroups)
        doc_.TakeInGroups();
    if (now & (kPhonebook | kSettings))
        doc_.TakeInPhonebook();
}

}  // namespace parlo
