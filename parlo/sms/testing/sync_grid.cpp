#include "parlo/sms/testing/sync_grid.h"

#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "cordis/cordis.h"
#include "parlo/sms/pdu_codec.h"
#include "parlo/sms/sms_engine.h"
#include "parlo/store/message_store.h"
#include "platform/text.h"
#include "tools/phonesim/testing/phonesim_process.h"

namespace parlo::testing {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kFaultFrom = "+491701234567";
constexpr const char* kFaultText = "Incoming message";
constexpr const char* kOutboxNumber = "+491709999999";
constexpr const char* kOutboxText = "Going out";

// One message of the phone at the start of a run.
struct PhoneMessage {
    const char* storage;
    int index;
    int status;
    const char* number;
    const char* text;
};

// ME: unread, read, stored sent and a stored-unsent draft; SM: a short text
// that phones repeat ("OK"), an empty slot, and a message in the last slot.
const PhoneMessage kPhone[] = {
    {"ME", 1, 0, "+491701111111", "Hello from Anna"},
    {"ME", 2, 1, "+491702222222", "OK"},
    {"ME", 3, 3, "+491703333333", "Sent from the phone"},
    {"ME", 4, 2, "+491704444444", "Draft on the phone"},
    {"SM", 1, 1, "+491705555555", "OK"},
    {"SM", 3, 0, "+491706666666", "Last slot of the SIM"},
};

json Storage(int size, const std::string& name) {
    json slots = json::array();
    for (const PhoneMessage& m : kPhone) {
        if (name != m.storage)
            continue;
        int length = 0;
        std::string pdu = m.status >= 2
                              ? phonesim::testing::MakeSubmitPdu(m.number, m.text, &length)
                              : phonesim::testing::MakeDeliverPdu(m.number, m.text);
        slots.push_back({{"index", m.index}, {"status", m.status}, {"pdu", pdu}});
    }
    return {{"size", size}, {"slots", slots}};
}

json PhoneState(bool echo) {
    json s = phonesim::testing::DefaultState();
    s["echo"] = echo;
    s["operator"]["name"] = "T-Mobile D";
    s["smsc"] = {{"number", "+491710760000"}, {"type", 145}};
    s["sms"]["storages"] = {{"ME", Storage(5, "ME")}, {"SM", Storage(3, "SM")}};
    return s;
}

std::string UnsolicitedArg(const GridCell& c) {
    std::string head = std::to_string(c.command) + ":" + c.position + ":";
    if (c.kind == "cmti")
        return head + "cmti:SM";
    if (c.kind == "cmt")
        return head + "cmt";
    if (c.kind == "ring")
        return head + "line:RING";
    if (c.kind == "creg")
        return head + "line:+CREG: 1";
    if (c.kind == "vendor")
        return head + "line:^RSSI: 14";
    return head + "line:+CDSI: \"SM\",2";
}

// The phone's fault options for a cell.
std::vector<std::string> FaultArgs(const GridCell& c) {
    if (c.kind == "ok")
        return {"--garbage", std::to_string(c.command) + ":0D0A4F4B0D0A"};
    if (c.kind == "error")
        return {"--garbage", std::to_string(c.command) + ":0D0A4552524F520D0A"};
    if (c.kind == "cms500")
        return {"--garbage", std::to_string(c.command) + ":0D0A2B434D53204552524F523A203530300D0A"};
    return {"--unsolicited", UnsolicitedArg(c)};
}

// Texts (number and text) of the messages a phone state holds.
std::multimap<std::string, std::string> PhoneTexts(const json& state) {
    std::multimap<std::string, std::string> out;
    for (const char* name : {"ME", "SM"}) {
        for (const auto& slot : state["sms"]["storages"][name]["slots"]) {
            std::string pdu = slot["pdu"].get<std::string>();
            CPduMessage m;
            int status = slot["status"].get<int>();
            int rc = status >= 2 ? CPduCodec::ParseSubmitPdu(pdu, &m)
                                 : CPduCodec::ParseDeliverPdu(pdu, &m);
            if (rc >= 0)
                out.emplace(platform::ToUtf8(m.m_strNumber), platform::ToUtf8(m.m_strText));
        }
    }
    return out;
}

int SentCount(const json& state, const std::string& text) {
    int n = 0;
    for (const auto& s : state["sms"]["sent"]) {
        CPduMessage m;
        if (CPduCodec::ParseSubmitPdu(s["pdu"].get<std::string>(), &m) >= 0 &&
            platform::ToUtf8(m.m_strText) == text)
            ++n;
    }
    return n;
}

// A scratch installation with an engine over its store.
class Installation {
  public:
    Installation(const fs::path& dir, bool delete_after) : dir_(dir) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        setenv("SKYVANE_HOME", dir_.c_str(), 1);
        setenv("SKYVANE_ROOT", dir_.c_str(), 1);
        OperatorRecord op;
        op.m_strName = u"T-Mobile D1";
        op.m_strOperatorNames[2] = u"T-MOBILED";
        op.m_strSmsCentre = u"+491710760000";
        operators_.push_back(op);
        settings_.SetDefaults();
        settings_.m_strConnection = u"Phonesim";
        settings_.m_bUsePort = 0;
        settings_.m_bDeleteAfterSync = delete_after ? 1 : 0;
        store_ = std::make_unique<CMessageStore>(dir_);
        store_->LoadMessages();
        cordis_ = std::make_unique<CCordis>(dir_ / "comm.log");
    }

    bool StartPhone(const json& state, const std::vector<std::string>& args) {
        phone_ = std::make_unique<phonesim::testing::PhonesimProcess>();
        if (!phonesim::testing::WriteState(dir_ / "phone.json", state) ||
            !phone_->Start(dir_ / "phone.json", args))
            return false;
        ports_ = {ModemEntry{u"Phonesim", platform::WidenBytes(phone_->device()), 0}};
        return true;
    }
    // Stops the phone and returns its final state.
    json StopPhone(int* commands = nullptr) {
        if (commands) {
            std::string answer = phone_->Control("commands");
            *commands = answer.rfind("OK ", 0) == 0 ? std::atoi(answer.c_str() + 3) : 0;
        }
        phone_->Stop();
        json state = phone_->ReadState();
        phone_.reset();
        return state;
    }

    // One run; true when it listed no error.
    bool Sync(std::string* errors) {
        if (!engine_) {
            CEngineContext ctx;
            ctx.cordis = cordis_.get();
            ctx.store = store_.get();
            ctx.settings = &settings_;
            ctx.ports = &ports_;
            ctx.phones = &phones_;
            ctx.operators = &operators_;
            ctx.dir = dir_;
            engine_ = std::make_unique<CSmsEngine>(ctx);
        }
        engine_->m_sync.SynchronizeMessages();
        *errors = platform::ToUtf8(engine_->m_errors.Text());
        return engine_->m_errors.Empty();
    }

    // How often the store holds number and text (records not purged).
    int StoreCount(const std::string& number, const std::string& text) const {
        int n = 0;
        for (CSmsMessage* m : store_->Snapshot()) {
            if (m->m_nState != STATE_PURGED && platform::ToUtf8(m->m_strNumber) == number &&
                platform::ToUtf8(m->m_strText) == text)
                ++n;
        }
        return n;
    }
    CMessageStore& store() { return *store_; }

  private:
    fs::path dir_;
    CSettings settings_;
    std::vector<ModemEntry> ports_;
    std::vector<PhoneModelRecord> phones_;
    std::vector<OperatorRecord> operators_;
    std::unique_ptr<CMessageStore> store_;
    std::unique_ptr<CCordis> cordis_;
    std::unique_ptr<phonesim::testing::PhonesimProcess> phone_;
    std::unique_ptr<CSmsEngine> engine_;
};

}  // namespace

const std::vector<std::string>& GridKinds() {
    static const std::vector<std::string> kinds = {"cmti", "cmt", "ring", "creg", "vendor", "cdsi"};
    return kinds;
}

const std::vector<std::string>& StrayKinds() {
    static const std::vector<std::string> kinds = {"ok", "error", "cms500"};
    return kinds;
}

const std::vector<std::string>& GridPositions() {
    static const std::vector<std::string> positions = {"before-echo", "before", "inside", "after"};
    return positions;
}

void GridCounts::Add(const GridOutcome& o) {
    ++runs;
    lost += o.lost;
    duplicates += o.duplicates;
    wrong += o.wrong_result ? 1 : 0;
    false_successes += o.wrong_result && o.faulty_run_ok ? 1 : 0;
    if (o.lost || o.duplicates || o.wrong_result)
        ++cells_with_fault;
}

SyncGrid::SyncGrid(fs::path scratch) : scratch_(std::move(scratch)) {}

int SyncGrid::CommandsOfCleanRun(bool echo, bool delete_after) {
    Installation inst(scratch_ / ("clean_" + std::to_string(::getpid())), delete_after);
    inst.store().Add(std::make_unique<CSmsMessage>(
        STATE_OUTBOX, platform::FromUtf8(kOutboxNumber), platform::FromUtf8(kOutboxText),
        platform::OleDate::Now(), 0, STORAGE_POCKETPC, -1, -1, 0));
    if (!inst.StartPhone(PhoneState(echo), {}))
        return 0;
    std::string errors;
    inst.Sync(&errors);
    int commands = 0;
    inst.StopPhone(&commands);
    return commands;
}

GridOutcome SyncGrid::Run(const GridCell& cell) {
    GridOutcome out;
    Installation inst(
        scratch_ / ("cell_" + std::to_string(::getpid()) + "_" + std::to_string(++serial_)),
        cell.delete_after);
    inst.store().Add(std::make_unique<CSmsMessage>(
        STATE_OUTBOX, platform::FromUtf8(kOutboxNumber), platform::FromUtf8(kOutboxText),
        platform::OleDate::Now(), 0, STORAGE_POCKETPC, -1, -1, 0));
    json start = PhoneState(cell.echo);
    if (!inst.StartPhone(start, FaultArgs(cell))) {
        out.detail = "phonesim did not start";
        out.wrong_result = true;
        return out;
    }
    std::string errors1;
    out.faulty_run_ok = inst.Sync(&errors1);
    int commands1 = 0;
    json after1 = inst.StopPhone(&commands1);

    // What the faulty run should have done: every message the phone held at
    // its start (but the draft) in the store, and with delete after
    // synchronisation gone from the phone; the Outbox message sent.
    bool skipped = false;
    const std::multimap<std::string, std::string> left = PhoneTexts(after1);
    for (const PhoneMessage& m : kPhone) {
        if (m.status == 2)
            continue;
        if (inst.StoreCount(m.number, m.text) == 0)
            skipped = true;
        auto [b, e] = left.equal_range(m.number);
        if (cell.delete_after &&
            std::any_of(b, e, [&m](const auto& p) { return p.second == m.text; }))
            skipped = true;
    }
    if (SentCount(after1, kOutboxText) == 0)
        skipped = true;

    // The clean run.
    if (!inst.StartPhone(after1, {})) {
        out.detail = "phonesim did not start again";
        out.wrong_result = true;
        return out;
    }
    std::string errors2;
    bool clean_ok = inst.Sync(&errors2);
    json after2 = inst.StopPhone();

    std::multimap<std::string, std::string> phone = PhoneTexts(after2);
    auto on_phone = [&phone](const std::string& number, const std::string& text) {
        int n = 0;
        auto [b, e] = phone.equal_range(number);
        for (auto it = b; it != e; ++it)
            n += it->second == text ? 1 : 0;
        return n;
    };
    auto check = [&](const std::string& number, const std::string& text, bool draft) {
        int stored = inst.StoreCount(number, text);
        int kept = on_phone(number, text);
        if (draft) {
            // Left alone on the phone, never taken into the store.
            if (kept == 0) {
                ++out.lost;
                out.detail += "draft deleted; ";
            }
            return;
        }
        if (stored + kept == 0) {
            ++out.lost;
            out.detail += "lost " + text + "; ";
        }
        if (stored > 1) {
            out.duplicates += stored - 1;
            out.detail += "duplicate " + text + "; ";
        }
    };
    for (const PhoneMessage& m : kPhone)
        check(m.number, m.text, m.status == 2);
    if (cell.kind == "cmti" || cell.kind == "cmt") {
        // The new message counts when the phone got as far as the command.
        if (commands1 >= cell.command)
            check(kFaultFrom, kFaultText, false);
    }
    int sent = SentCount(after2, kOutboxText);
    if (sent == 0) {
        ++out.lost;
        out.detail += "never sent; ";
    } else if (sent > 1) {
        out.duplicates += sent - 1;
        out.detail += "sent " + std::to_string(sent) + " times; ";
    }
    if (!clean_ok)
        out.detail += "clean run: " + errors2 + "; ";

    bool harm = out.lost > 0 || out.duplicates > 0;
    if (out.faulty_run_ok && (skipped || harm)) {
        out.wrong_result = true;
        out.detail += "faulty run said finished; ";
    } else if (!out.faulty_run_ok && !skipped && !harm) {
        out.wrong_result = true;
        out.detail += "faulty run failed for nothing: " + errors1 + "; ";
    }
    return out;
}

}  // namespace parlo::testing
