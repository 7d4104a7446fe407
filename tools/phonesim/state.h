// The phone's state: identity, SIM, message storages, phonebooks, what was
// sent, timing and faults. Kept in a JSON file (docs/phonesim.md) that is read
// at start and written back atomically after every change.
#pragma once

#include <array>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace phonesim {

inline constexpr int kStatusUnread = 0;
inline constexpr int kStatusRead = 1;
inline constexpr int kStatusUnsent = 2;
inline constexpr int kStatusSent = 3;

struct Identity {
    std::string manufacturer = "Phonesim";
    std::string model = "PS-1";
    std::string revision = "1.0";
    std::string serial = "350000000000017";
    std::string imsi = "262010000000017";
};

struct Operator {
    bool registered = true;
    int mode = 0;
    int format = 0;
    std::string name = "Phonesim Net";
};

struct Sim {
    std::string pin = "1234";
    std::string puk = "12345678";
    bool pin_enabled = false;  // the SIM asks for the PIN at start
    int pin_attempts = 3;
    int puk_attempts = 10;
};

struct SmsSlot {
    int index = 0;
    int status = kStatusUnread;
    std::string pdu;            // hexadecimal, SMS centre address field first
    std::optional<int> length;  // overrides the computed TPDU length
};

struct SmsStorage {
    int size = 20;
    std::vector<SmsSlot> slots;  // sorted by index

    SmsSlot* Find(int index);
    const SmsSlot* Find(int index) const;
    int Used() const { return static_cast<int>(slots.size()); }
    int FirstFree() const;  // 0 when full
    void Put(SmsSlot slot);
    bool Erase(int index);
};

struct SentMessage {
    int reference = 0;
    std::string pdu;
    std::string time;
    // What the recipient's phone reads, decoded from the PDU: the destination
    // and the text of this part (UTF-8, without its user-data header), and the
    // concatenation element when the part has one.
    std::string to;
    std::string text;
    int concat_ref = -1;  // -1: not a part of a concatenated message
    int concat_total = 0;
    int concat_seq = 0;
    bool joined = false;  // taken into a delivered message already
};

// A message as the recipient's phone shows it: a single SMS, or every part of
// a concatenated one joined in part order once all have arrived.
struct DeliveredMessage {
    std::string to;
    std::string text;  // UTF-8
    int parts = 1;
};

struct PhonebookEntry {
    int index = 0;
    std::string number;
    int type = 129;
    std::string text;  // UTF-8
};

struct Phonebook {
    int first = 1;
    int last = 100;
    int number_length = 40;
    int text_length = 14;
    std::vector<PhonebookEntry> entries;  // sorted by index

    PhonebookEntry* Find(int index);
    int Used() const { return static_cast<int>(entries.size()); }
    int FirstFree() const;  // 0 when full
    void Put(PhonebookEntry entry);
    bool Erase(int index);
};

struct Timing {
    int delay_ms = 0;   // before every answer
    int send_ms = 100;  // network time of AT+CMGS
};

// Faults. Commands are counted from 1 for every command line received.
struct SilenceFault {
    int command = 0;
    int count = 1;  // 0: silent from then on
};

struct GarbageFault {
    int command = 0;
    std::string bytes;     // raw bytes sent
    bool replace = false;  // instead of the answer, else before it
};

struct PromptExtraFault {
    std::string text = " ";
    int delay_ms = 0;
};

// Where an unsolicited line goes relative to the n-th command's answer.
inline constexpr const char* kPositions[] = {"before-echo", "before", "inside", "after"};

bool IsUnsolicitedPosition(const std::string& position);

struct UnsolicitedFault {
    int command = 0;  // at the n-th command, or
    int at_ms = -1;   // this long after start
    // "cmti" (stored and announced), "cmt" (delivered, not stored) or "line"
    // (the text of `line` as an unsolicited result code: "RING", "+CREG: 1",
    // "^RSSI: 12", ...).
    std::string kind = "cmti";
    std::string storage = "SM";
    std::string pdu;  // empty: a message built from `from` and `text`
    std::string from = "+491701234567";
    std::string text = "Incoming message";
    std::string line;
    // "before-echo": ahead of the command's echo; "before": after the echo,
    // ahead of the answer; "inside": within the answer, after the first line
    // of its information text (with no information text: ahead of the final
    // result code; with the SMS prompt: ahead of it); "after": after the
    // answer.
    std::string position = "before";
};

struct Faults {
    std::vector<SilenceFault> silence;
    std::vector<GarbageFault> garbage;
    int drop_command = 0;
    std::optional<PromptExtraFault> prompt_extra;
    std::vector<UnsolicitedFault> unsolicited;
};

struct State {
    Identity identity;
    std::string own_number = "+491709876543";
    Operator op;
    std::string smsc_number = "+491710760000";
    int smsc_type = 145;
    bool echo = true;
    int cmee = 1;
    std::string charset = "GSM";
    // The TE character sets AT+CSCS offers; empty: every one phonesim knows.
    std::vector<std::string> charsets;
    int signal = 20;
    Sim sim;

    std::map<std::string, SmsStorage> sms_storages;
    std::array<std::string, 3> sms_preferred = {"SM", "SM", "SM"};
    bool empty_slot_error = false;  // empty slot: "+CMS ERROR: 321" instead of "OK"
    bool lowercase_hex = false;     // PDUs in answers in lowercase hexadecimal
    // AT+CMGL: "all" lists as 27.005 says, "error" answers ERROR and "cms"
    // "+CMS ERROR: 303" (phones without the command); `list_limit` > 0 lists
    // at most that many messages and still answers OK (a listing cut short).
    std::string list_mode = "all";
    int list_limit = 0;
    std::array<int, 5> cnmi = {0, 0, 0, 0, 0};
    std::string loopback_storage = "ME";
    int next_reference = 0;
    std::vector<SentMessage> sent;
    std::vector<DeliveredMessage> delivered;

    std::map<std::string, Phonebook> phonebooks;
    std::string phonebook_selected = "SM";
    // AT+CPBR with a last index beyond the storage: list the entries up to
    // its end before "+CME ERROR: 21" (some phones), instead of the error alone.
    bool phonebook_partial_overrange = false;

    Timing timing;
    Faults faults;

    // The default phone: empty "ME" (100 slots) and "SM" (20 slots) message
    // storages, "ME" (1-500) and "SM" (1-250) phonebooks.
    static State Default();
};

// Parses the JSON text; missing keys keep their defaults. On failure `error`
// says why.
bool StateFromJson(const std::string& text, State* state, std::string* error);
std::string StateToJson(const State& state);

// A missing file gives the default state (and `*created` is set).
bool LoadState(const std::filesystem::path& path, State* state, std::string* error,
               bool* created = nullptr);
// Writes a temporary file, fsyncs it and renames it over `path`.
bool SaveState(const std::filesystem::path& path, const State& state, std::string* error);

}  // namespace phonesim
