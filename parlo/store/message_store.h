// The message store "vok.sms": the in-memory message list and its file.
//
// The file is a plain sequence of records (no header, no count):
//   int32 state, record string number, record string text,
//   double time, int32 time status, int32 marked, int32 storage,
//   int32 folder id, int32 phone index
// The folder id comes before the phone index. A record takes
// 44 + 2 * (number length + text length) bytes.
//
// The list is shared by the user-interface thread and the synchronisation
// worker: every member takes the store's mutex. Records are owned by the
// store and keep their address as long as the store lives: records that a
// compaction drops leave the list but are kept aside, so that a pointer held
// by a worker never dangles.
//
// Several programs share the file. Every change (append, rewrite in place,
// compaction) is made under an exclusive flock on "vok.sms.lock", held only
// for the write, and is noted in that file's change log first. A writer
// first takes in the changes that others noted since it last read the store:
// appended records are read and added, records rewritten in place are
// re-read and updated in place, and after another program's compaction (or a
// change it cannot follow) the list is reloaded and matched against the old
// one, keeping the records' addresses. See docs/store.md.
//
// Two locks: the write lock lets one writer (or one taking in) work at a
// time and is taken first; the list lock guards the list and the records and
// is held only while they are read or changed in memory. The long file work
// of a compaction, and the reading of the file after another program's
// compaction, run with the write lock alone, so that a reader of the list
// (the user interface) never waits for a disk.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "parlo/store/sms_message.h"

namespace platform {
class BinaryReader;
}

namespace parlo {

enum class StoreResult {
    kOk,
    kReadError,   // "Error reading datafile." (65023)
    kSaveFailed,  // "Save failed." (57346)
    kGone,        // another program purged the record meanwhile: nothing written
};

// Longest number or text (in UTF-16 code units) that the store writes and
// reads back. Longer texts are refused by the writer, so every record written
// can be read again.
inline constexpr int32_t kMaxStoredUnits = 65535;

// Serialises one record in file order and appends it to `out`.
void AppendRecordBytes(const CSmsMessage& rec, std::string* out);
// Parses one record at the reader's position. On failure the reader's
// position is undefined and `out` may be partly filled.
bool ParseRecord(platform::BinaryReader& reader, CSmsMessage* out);
// Parses a whole store file: appends every record up to the first one that
// cannot be read (its file offset set) and returns the length of the
// readable part.
size_t ParseStoreBytes(std::string_view data, std::vector<std::unique_ptr<CSmsMessage>>* out);
// Size of the record on disk.
size_t RecordSize(const CSmsMessage& rec);

// What was taken in from other programs' changes.
struct TakenIn {
    std::vector<CSmsMessage*> added;
    std::vector<CSmsMessage*> changed;
    bool reset = false;  // the list was reloaded: every list is to be rebuilt
    bool empty() const { return added.empty() && changed.empty() && !reset; }
};

struct LoadReport {
    size_t records = 0;
    uint64_t file_length = 0;
    // Length of the readable part. When it is less than file_length the tail
    // could not be read (a record cut off by a crash, or damage): it was
    // copied to "vok.sms.torn" and cut from the store.
    uint64_t good_length = 0;
    bool tail_saved = false;
};

class CMessageStore {
  public:
    using List = std::vector<std::unique_ptr<CSmsMessage>>;

    explicit CMessageStore(std::filesystem::path dir = {});
    CMessageStore(const CMessageStore&) = delete;
    CMessageStore& operator=(const CMessageStore&) = delete;

    void SetDirectory(const std::filesystem::path& dir);
    std::filesystem::path StorePath() const;  // dir/vok.sms
    std::filesystem::path TmpPath() const;    // dir/vok.tmp
    std::filesystem::path TornPath() const;   // dir/vok.sms.torn
    std::filesystem::path LogPath() const;    // dir/vok.sms.lock: lock and change log

    // --- the file ---------------------------------------------------------
    // Reads the whole store into the list (records of every state). An absent
    // store is created empty.
    StoreResult LoadMessages(LoadReport* report = nullptr);
    // Appends the record or rewrites it in place. When the stored copy's
    // number or text differs, that copy is first marked deleted (state 9) and
    // the record is appended.
    StoreResult StoreMessage(CSmsMessage* rec);
    // Reads the stored copy of `rec` from its file offset into `out`; kOk and
    // nothing read when the offset is -1.
    StoreResult ReloadMessage(const CSmsMessage& rec, CSmsMessage* out) const;
    // Drops purged records (state 11) and rewrites the store through
    // "vok.tmp", which is then renamed over "vok.sms": the store is written
    // once. On failure nothing changes, in memory or on disk. What is
    // written is what is on disk (after taking in others' changes), plus the
    // records of this program that could not be stored before.
    StoreResult CompactStore(size_t* dropped = nullptr);

    // --- other programs -----------------------------------------------------
    // Takes in what other programs changed since this one last read or wrote
    // the store. Cheap when nothing changed: one read of the log's length.
    StoreResult TakeInChanges();
    // Called, outside the store's lock, with what a write or TakeInChanges
    // took in; the records are in the list by then.
    void SetTakenInListener(std::function<void(const TakenIn&)> listener);
    // Scans "vok.sms.torn" for whole records and adds back those the store
    // lacks. `found`: records found in it; `added`: records added.
    StoreResult Recover(size_t* found, size_t* added);

    // --- the list ---------------------------------------------------------
    size_t Count() const;
    // Changes whenever the list or a record in it changes (in memory or on
    // disk): a copy of the lists taken at one generation is stale when the
    // generation has moved on.
    uint64_t Generation() const { return generation_.load(std::memory_order_acquire); }
    // Pointers to the records in list order, taken under the lock. They stay
    // valid until the next load or compaction.
    std::vector<CSmsMessage*> Snapshot() const;
    // Calls `fn` for each record in list order while holding the lock; `fn`
    // must not call back into the store.
    void ForEach(const std::function<void(CSmsMessage&)>& fn) const;
    // Index of the record in the list, or -1.
    int IndexOf(const CSmsMessage* rec) const;
    CSmsMessage* At(size_t index) const;
    // A copy of the record taken under the lock: what a list model reads
    // while a worker may change the record. False (and `out` untouched) when
    // `rec` is no longer in the list, for instance when a compaction
    // destroyed it before the view heard of it; the pointer is only compared,
    // never followed, in that case.
    bool Read(const CSmsMessage* rec, CSmsMessage* out) const;
    // Copies of `recs` without their number and text (every other field),
    // under one hold of the lock, for a change of state, folder or mark;
    // records no longer in the list go to `gone`.
    void ReadStates(const std::vector<CSmsMessage*>& recs,
                    std::vector<std::pair<CSmsMessage*, CSmsMessage>>* states,
                    std::vector<CSmsMessage*>* gone) const;
    // A copy of any record this store ever held (in the list or dropped from
    // it), taken under the lock.
    CSmsMessage Copy(const CSmsMessage* rec) const;
    // Runs `fn` under the lock, so that it may read records' fields while
    // other threads change them; `fn` must not call back into the store.
    void WithListLocked(const std::function<void()>& fn) const;

    // --- record operations --------------------------------------------------
    // Appends a new record to the list and stores it. The record stays in the
    // list when it cannot be stored (result in `result`).
    CSmsMessage* Add(std::unique_ptr<CSmsMessage> rec, StoreResult* result = nullptr);
    // Applies `change` to the record under the lock, then stores it. When
    // the text or number changed, the stored copy that the new version
    // replaces gets `superseded_state`: a Recycle Bin entry by default,
    // STATE_PURGED where the old text is of no use (a message completed).
    // A record that another program purged while the change waited (taken
    // in under the lock) stays purged and the result is kGone: a move, a
    // delete or a mark never brings back a copy that a newer version
    // replaced. A completion (superseded_state STATE_PURGED) still does:
    // its message comes back whole.
    StoreResult Change(CSmsMessage* rec, const std::function<void(CSmsMessage&)>& change,
                       int32_t superseded_state = STATE_DELETED);
    // Applies `change` to every record of `recs` under the lock and stores
    // them in one hold of the file lock: each record is written once, the
    // records rewritten in place with one entry batch in the change log and
    // nearby records in one write. Records that cannot be stored keep their
    // new values in memory only; the result is the last failure.
    StoreResult ChangeMany(const std::vector<CSmsMessage*>& recs,
                           const std::function<void(CSmsMessage&)>& change);
    // Applies `change` under the lock without storing: for what lives in
    // memory only (the marks).
    void ChangeInMemory(CSmsMessage* rec, const std::function<void(CSmsMessage&)>& change);
    // Sets the state of every record in state `from` to `to` and stores each;
    // returns the records changed. `folder_id` >= 0 limits it to that folder.
    std::vector<CSmsMessage*> ChangeAllInState(int32_t from, int32_t to, int32_t folder_id,
                                               StoreResult* result = nullptr);
    // Purges every record in state `state` (of folder `folder_id` when it is
    // >= 0) and compacts the store, in one step: the new store is written
    // without them and replaces the old one in one rename. On success the
    // records are gone from the list (`purged` gets their former addresses,
    // to be compared only); on failure nothing changes, in memory or on disk.
    StoreResult PurgeAndCompact(int32_t state, int32_t folder_id,
                                std::vector<const CSmsMessage*>* purged = nullptr);

  private:
    class WriteScope;
    class Writing;
    class ListUnlocked;
    struct LogState {
        uint64_t epoch = 0;       // changes with every compaction
        uint64_t entries = 0;     // log entries taken in
        int64_t store_size = -1;  // the length of vok.sms they lead to
    };

    StoreResult StoreLocked(CSmsMessage* rec, WriteScope* scope,
                            int32_t superseded_state = STATE_DELETED);
    StoreResult LoadLocked(LoadReport* report);
    // Reads the whole store into `fresh`; cuts an unreadable tail off into
    // "vok.sms.torn" (only with the exclusive lock held).
    StoreResult ReadStoreFile(List* fresh, LoadReport* rep);
    // Brings the list up to date with the log and the file; the log lock is
    // held by the caller. With the shared lock only (`exclusive` false) it
    // writes nothing and returns false when the exclusive lock is needed
    // (a reload, or a log to start).
    bool TakeInLocked(int log_fd, bool exclusive);
    // Reloads the file and matches its records with the list's.
    void Reconcile();
    CSmsMessage* ByOffset(int32_t offset);
    void ForgetOffset(const CSmsMessage* rec);
    void NoteOffset(CSmsMessage* rec);
    void Flush();
    // Rewrites the store without the records for which `drop` is true, then
    // drops them from the list.
    StoreResult CompactLocked(const std::function<bool(const CSmsMessage&)>& drop,
                              std::vector<const CSmsMessage*>* dropped);
    // Stores the records of a bulk change (message_store_batch.cpp).
    StoreResult StoreManyLocked(const std::vector<CSmsMessage*>& recs, WriteScope* scope);
    void Bump() { generation_.fetch_add(1, std::memory_order_acq_rel); }
    void Push(std::unique_ptr<CSmsMessage> rec);
    // A record that is no longer in the list (dropped by a compaction) comes
    // back when it is changed: it is appended again rather than lost.
    void Revive(CSmsMessage* rec);

    std::filesystem::path dir_;
    // Where appends go while an unreadable tail could not be cut off the
    // store (-1: at the end of the file).
    int64_t append_at_ = -1;
    // Taken before mutex_ by every writer and by taking in.
    std::mutex write_mutex_;
    mutable std::mutex mutex_;
    // The list lock as the current writer holds it, so that long file work
    // can let go of it (ListUnlocked); null outside a writer.
    std::unique_lock<std::mutex>* held_ = nullptr;
    std::atomic<uint64_t> generation_{0};
    List list_;
    // The records of list_, for Read's check; built when first needed (a
    // program that only runs one command never needs it).
    bool IsLive(const CSmsMessage* rec) const;
    mutable std::unordered_set<const CSmsMessage*> live_;
    mutable bool live_built_ = false;
    // Records dropped from the list, kept so that their addresses stay valid.
    List dropped_;
    // Stored records by file offset, built when first needed.
    std::unordered_map<int32_t, CSmsMessage*> by_offset_;
    bool by_offset_built_ = false;
    LogState log_;
    TakenIn pending_;
    std::function<void(const TakenIn&)> listener_;
};

}  // namespace parlo
