// Two-way synchronisation of the phonebook copy with the phone, and the
// voice call, over the phone link with the GSM 07.07 phonebook commands.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "parlo/contacts/phonebook.h"

namespace platform {
class Prompt;
class StringTable;
}  // namespace platform

namespace parlo {

// What the phonebook needs of an open phone: the link's listener and command
// transaction and the phone session's open and identify steps. Results are
// 1 or 0.
class PhoneLink {
  public:
    virtual ~PhoneLink() = default;
    virtual void StartSAR() = 0;
    virtual int OpenPhone() = 0;
    virtual int IdentifyPhone() = 0;
    // One AT command (without line end); `reply` receives the trimmed answer
    // (each byte as one character), as CCordis::SendAndReceive gives it.
    virtual int SendAndReceive(const std::string& command, std::u16string& reply,
                               int timeout_seconds) = 0;
    virtual void ClosePort() = 0;
    virtual void StopSAR() = 0;
    // Brings the line back in step after an answer that did not belong to its
    // command: what is still on its way is drained, then "AT" is answered.
    // 1 when the line is in step.
    virtual int Resync() {
        std::u16string reply;
        return SendAndReceive("AT", reply, 10);
    }
};

// The character set the phonebook texts travel in: the GSM default alphabet,
// or UCS2 (four hexadecimal digits per UTF-16 unit) where the phone offers it.
enum class PhonebookCharset { kGsm, kUcs2 };

// What a run could not do, and what it decided against one side: every entry
// that was not written (with the reason), and every change that lost a
// conflict, so that the user can redo it. Shown with the run's final message.
struct PhonebookSyncReport {
    std::vector<std::u16string> skipped;
    std::vector<std::u16string> conflicts;
    bool Empty() const { return skipped.empty() && conflicts.empty(); }
    // One line per case, skipped entries first; empty when there is none.
    std::u16string Text() const;
};

struct PhonebookSyncContext {
    std::filesystem::path data_dir;  // holds "vok.lock" and the "pb" folder
    PhoneLink* link = nullptr;
    platform::Prompt* prompt = nullptr;
    const platform::StringTable* strings = nullptr;
    uint32_t enabled_flags = STORAGE_FLAG_BOTH;
    // The document's phone identity ("0" = none known yet); the run stores
    // the phone's identity here and calls save_settings to keep it.
    std::u16string* identity = nullptr;
    std::function<bool()> save_settings;
    // The dialog's status field and list refresh (either may be empty).
    std::function<void(const std::u16string&)> status;
    std::function<void()> refresh;
    // Receives what the run skipped and the conflicts it resolved (may be
    // null).
    PhonebookSyncReport* report = nullptr;
    // Progress of the storage reads: indices read so far and in all (may be
    // empty). Called on the thread that runs the synchronisation.
    std::function<void(int done, int total)> progress;
};

// kBusy: another synchronisation of this suite holds the lock; kLocked:
// something else (the dial-up program) does.
enum class PhonebookSyncResult { kCompleted, kLocked, kFailed, kBusy };

// The whole run: lock file, open and identify the phone, identity check,
// GSM character set, read SIM and phone storage, final message.
PhonebookSyncResult SynchronizePhonebook(CPhonebook* book, const PhonebookSyncContext& ctx);

// Reads one enabled storage into `slot` and reconciles it with the copy.
// The link must be open. Returns false when an AT step failed; an entry the
// phone refuses is skipped and named in `report` (and makes the result false
// too), the rest of the storage is still synchronised.
// `record` keeps the copy on disk (false when it could not); it is called
// after every entry written to the phone and before an entry is written at an
// index it did not have, so that a run that is killed or stops never leaves
// an entry on the phone that the copy does not know at that index. When it
// fails the read stops before the next write and names the failure in
// `report`. Empty: nothing is kept (the caller saves).
bool ReadStorage(CPhonebook* book, uint32_t flag, int slot, PhoneLink& link,
                 PhonebookCharset charset = PhonebookCharset::kGsm,
                 PhonebookSyncReport* report = nullptr,
                 const std::function<void(int, int)>& progress = nullptr,
                 const std::function<bool()>& record = nullptr);

// The used count of "+CPBS: "SM",used,total"; false for any other reply.
bool ParsePhonebookUsed(std::u16string_view reply, int32_t* used);

// A name in the GSM alphabet as a quoted command argument: codes below 32,
// the double quote and the backslash (the code of "Ö") as "\HH", the
// extension table ("€", "[") as the escape and its code. False when a
// character has no GSM code (Cyrillic, "[" sent as a plain character), or is
// '@': its code 0 would come back as nothing.
bool GsmCommandText(std::u16string_view name, std::string* out);
// The name in UCS2: four upper-case hexadecimal digits per UTF-16 unit.
std::string Ucs2Hex(std::u16string_view name);
// The reverse; false unless the text is whole groups of four hex digits.
bool FromUcs2Hex(std::u16string_view hex, std::u16string* out);

// Dials the number ("ATD<cleaned number>;") on a connection of its own.
// Shows 65071 when the phone is in use by a synchronisation.
bool CallNumber(std::u16string_view number, const std::filesystem::path& data_dir, PhoneLink& link,
                platform::Prompt& prompt, const platform::StringTable& strings);

// "+CPBR: (first-last),numberlength,textlength" into the descriptor's range
// and lengths. False for any other reply.
bool ParsePhonebookRange(std::u16string_view reply, StorageDescriptor* d);

struct PhoneEntryLine {
    int32_t index = 0;
    std::u16string number;  // with '+' added for type 145
    int32_t type = 0;
    std::u16string text;
};
// One "+CPBR: index,"number",type,"text"" line. False when malformed.
bool ParsePhonebookLine(std::u16string_view line, PhoneEntryLine* out);

}  // namespace parlo
