// Other programs' changes to the files that the window shares with them:
// the folder table, the contacts, the groups and the phonebook copy (the
// message store has its own watcher). A burst of changes is taken in at
// once, shortly after it. The folder table is taken in at any time (its
// users keep folder ids, not folders); the contacts, groups and phonebook
// only while no dialog is open, since their dialogs hold their entries: a
// change found meanwhile waits until TakeInPending is called again.
#pragma once

#include <QObject>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "platform/file_watcher.h"

class QSocketNotifier;
class QTimer;

namespace parlo {

class CParloDoc;

class OthersChanges : public QObject {
  public:
    // `entries_free` says whether the contacts, groups and phonebook may be
    // read again now.
    OthersChanges(CParloDoc& doc, std::function<bool()> entries_free, QObject* parent = nullptr);
    ~OthersChanges() override;

    bool ok() const { return watcher_.ok(); }
    // Takes in the changes found so far, as far as allowed now.
    void TakeInPending();

  private:
    // kSettings: pb.ini, which names the phone whose phonebook copy is shown.
    enum Bits : uint32_t {
        kFolders = 1,
        kContacts = 2,
        kGroups = 4,
        kPhonebook = 8,
        kSettings = 16
    };
    // (Re)adds the watches: a folder that did not exist yet, or an address
    // book that came, is watched from then on.
    void WatchAll();
    void WatchFolder(const std::filesystem::path& dir, uint32_t events, uint32_t bits,
                     platform::FileWatcher::Filter filter);

    CParloDoc& doc_;
    std::function<bool()> entries_free_;
    platform::FileWatcher watcher_;
    std::set<std::string> watched_;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* delay_ = nullptr;
    uint32_t pending_ = 0;
};

}  // namespace parlo
