#include "tools/phonesim/state.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/binio.h"
#include "tools/phonesim/hex.h"

namespace phonesim {

bool IsUnsolicitedPosition(const std::string& p) {
    for (const char* known : kPositions) {
        if (p == known)
            return true;
    }
    return false;
}

using nlohmann::json;

namespace {

template <class Vec>
auto FindIn(Vec& v, int index) -> decltype(&v[0]) {
    for (auto& item : v) {
        if (item.index == index)
            return &item;
    }
    return nullptr;
}

template <class Vec, class Item>
void PutIn(Vec& v, Item item) {
    for (auto& existing : v) {
        if (existing.index == item.index) {
            existing = std::move(item);
            return;
        }
    }
    auto at = std::find_if(v.begin(), v.end(), [&](const Item& e) { return e.index > item.index; });
    v.insert(at, std::move(item));
}

template <class Vec>
bool EraseIn(Vec& v, int index) {
    auto it = std::find_if(v.begin(), v.end(), [&](const auto& e) { return e.index == index; });
    if (it == v.end())
        return false;
    v.erase(it);
    return true;
}

template <class T>
void Take(const json& obj, const char* key, T* out) {
    auto it = obj.find(key);
    if (it != obj.end() && !it->is_null())
        *out = it->template get<T>();
}

void ParseFaults(const json& j, Faults* f) {
    if (auto it = j.find("silence"); it != j.end()) {
        for (const auto& e : *it) {
            SilenceFault s;
            Take(e, "command", &s.command);
            Take(e, "count", &s.count);
            f->silence.push_back(s);
        }
    }
    if (auto it = j.find("garbage"); it != j.end()) {
        for (const auto& e : *it) {
            GarbageFault g;
            Take(e, "command", &g.command);
            std::string hex;
            Take(e, "hex", &hex);
            if (!HexToBytes(hex, &g.bytes))
                throw std::runtime_error("faults.garbage: bad hex");
            Take(e, "replace", &g.replace);
            f->garbage.push_back(g);
        }
    }
    if (auto it = j.find("drop"); it != j.end())
        Take(*it, "command", &f->drop_command);
    if (auto it = j.find("prompt_extra"); it != j.end()) {
        PromptExtraFault p;
        Take(*it, "text", &p.text);
        Take(*it, "delay_ms", &p.delay_ms);
        f->prompt_extra = p;
    }
    if (auto it = j.find("unsolicited"); it != j.end()) {
        for (const auto& e : *it) {
            UnsolicitedFault u;
            Take(e, "command", &u.command);
            Take(e, "at_ms", &u.at_ms);
            Take(e, "kind", &u.kind);
            Take(e, "storage", &u.storage);
            Take(e, "pdu", &u.pdu);
            Take(e, "from", &u.from);
            Take(e, "text", &u.text);
            bool before_answer = true;
            Take(e, "before_answer", &before_answer);
            if (!before_answer)
                u.position = "after";
            Take(e, "position", &u.position);
            Take(e, "line", &u.line);
            if (u.kind != "cmti" && u.kind != "cmt" && u.kind != "line") {
                throw std::runtime_error(
                    "faults.unsolicited: kind must be \"cmti\", \"cmt\" or \"line\"");
            }
            if (!IsUnsolicitedPosition(u.position))
                throw std::runtime_error("faults.unsolicited: unknown position " + u.position);
            f->unsolicited.push_back(u);
        }
    }
}

json FaultsToJson(const Faults& f) {
    json j = json::object();
    if (!f.silence.empty()) {
        json a = json::array();
        for (const auto& s : f.silence)
            a.push_back({{"command", s.command}, {"count", s.count}});
        j["silence"] = a;
    }
    if (!f.garbage.empty()) {
        json a = json::array();
        for (const auto& g : f.garbage) {
            a.push_back(
                {{"command", g.command}, {"hex", BytesToHex(g.bytes)}, {"replace", g.replace}});
        }
        j["garbage"] = a;
    }
    if (f.drop_command > 0)
        j["drop"] = {{"command", f.drop_command}};
    if (f.prompt_extra) {
        j["prompt_extra"] = {{"text", f.prompt_extra->text},
                             {"delay_ms", f.prompt_extra->delay_ms}};
    }
    if (!f.unsolicited.empty()) {
        json a = json::array();
        for (const auto& u : f.unsolicited) {
            a.push_back({{"command", u.command},
                         {"at_ms", u.at_ms},
                         {"kind", u.kind},
                         {"storage", u.storage},
                         {"pdu", u.pdu},
                         {"from", u.from},
                         {"text", u.text},
                         {"line", u.line},
                         {"position", u.position}});
        }
        j["unsolicited"] = a;
    }
    return j;
}

void Validate(const State& s) {
    for (const auto& [name, st] : s.sms_storages) {
        if (name.empty() || st.size < 0 || st.size > 10000) {
            throw std::runtime_error("sms storage " + name + ": bad size");
        }
        int last = 0;
        for (const auto& slot : st.slots) {
            if (slot.index < 1 || slot.index > st.size || slot.index <= last) {
                throw std::runtime_error("sms storage " + name + ": bad or repeated slot index " +
                                         std::to_string(slot.index));
            }
            if (slot.status < 0 || slot.status > 3) {
                throw std::runtime_error("sms storage " + name + ": status must be 0 to 3");
            }
            last = slot.index;
        }
    }
    for (const auto& mem : s.sms_preferred) {
        if (!s.sms_storages.count(mem))
            throw std::runtime_error("sms.preferred: unknown " + mem);
    }
    for (const auto& [name, pb] : s.phonebooks) {
        if (pb.first < 0 || pb.last < pb.first || pb.last - pb.first > 100000) {
            throw std::runtime_error("phonebook " + name + ": bad index range");
        }
        int last = pb.first - 1;
        for (const auto& e : pb.entries) {
            if (e.index < pb.first || e.index > pb.last || e.index <= last) {
                throw std::runtime_error("phonebook " + name + ": bad or repeated index " +
                                         std::to_string(e.index));
            }
            last = e.index;
        }
    }
    if (!s.phonebooks.empty() && !s.phonebooks.count(s.phonebook_selected)) {
        throw std::runtime_error("phonebook.selected: unknown storage");
    }
}

}  // namespace

SmsSlot* SmsStorage::Find(int index) {
    return FindIn(slots, index);
}
const SmsSlot* SmsStorage::Find(int index) const {
    for (const auto& s : slots) {
        if (s.index == index)
            return &s;
    }
    return nullptr;
}
int SmsStorage::FirstFree() const {
    for (int i = 1; i <= size; ++i) {
        if (!Find(i))
            return i;
    }
    return 0;
}
void SmsStorage::Put(SmsSlot slot) {
    PutIn(slots, std::move(slot));
}
bool SmsStorage::Erase(int index) {
    return EraseIn(slots, index);
}

PhonebookEntry* Phonebook::Find(int index) {
    return FindIn(entries, index);
}
int Phonebook::FirstFree() const {
    size_t k = 0;
    for (int i = first; i <= last; ++i) {
        while (k < entries.size() && entries[k].index < i)
            ++k;
        if (k >= entries.size() || entries[k].index != i)
            return i;
    }
    return 0;
}
void Phonebook::Put(PhonebookEntry entry) {
    PutIn(entries, std::move(entry));
}
bool Phonebook::Erase(int index) {
    return EraseIn(entries, index);
}

State State::Default() {
    State s;
    s.sms_storages["ME"].size = 100;
    s.sms_storages["SM"].size = 20;
    Phonebook sm;
    sm.first = 1;
    sm.last = 250;
    sm.number_length = 40;
    sm.text_length = 14;
    Phonebook me;
    me.first = 1;
    me.last = 500;
    me.number_length = 40;
    me.text_length = 30;
    s.phonebooks["SM"] = sm;
    s.phonebooks["ME"] = me;
    return s;
}

bool StateFromJson(const std::string& text, State* out, std::string* error) {
    json j = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (j.is_discarded() || !j.is_object()) {
        *error = "not a JSON object";
        return false;
    }
    try {
        State s = State::Default();
        if (auto it = j.find("identity"); it != j.end()) {
            Take(*it, "manufacturer", &s.identity.manufacturer);
            Take(*it, "model", &s.identity.model);
            Take(*it, "revision", &s.identity.revision);
            Take(*it, "serial", &s.identity.serial);
            Take(*it, "imsi", &s.identity.imsi);
        }
        Take(j, "own_number", &s.own_number);
        if (auto it = j.find("operator"); it != j.end()) {
            Take(*it, "registered", &s.op.registered);
            Take(*it, "mode", &s.op.mode);
            Take(*it, "format", &s.op.format);
            Take(*it, "name", &s.op.name);
        }
        if (auto it = j.find("smsc"); it != j.end()) {
            Take(*it, "number", &s.smsc_number);
            Take(*it, "type", &s.smsc_type);
        }
        Take(j, "echo", &s.echo);
        Take(j, "cmee", &s.cmee);
        Take(j, "charset", &s.charset);
        Take(j, "charsets", &s.charsets);
        Take(j, "signal", &s.signal);
        if (auto it = j.find("sim"); it != j.end()) {
            Take(*it, "pin", &s.sim.pin);
            Take(*it, "puk", &s.sim.puk);
            Take(*it, "pin_enabled", &s.sim.pin_enabled);
            Take(*it, "pin_attempts", &s.sim.pin_attempts);
            Take(*it, "puk_attempts", &s.sim.puk_attempts);
        }
        if (auto it = j.find("sms"); it != j.end()) {
            const json& sms = *it;
            if (auto st = sms.find("storages"); st != sms.end()) {
                s.sms_storages.clear();
                for (const auto& [name, sj] : st->items()) {
                    SmsStorage storage;
                    Take(sj, "size", &storage.size);
                    if (auto sl = sj.find("slots"); sl != sj.end()) {
                        for (const auto& e : *sl) {
                            SmsSlot slot;
                            Take(e, "index", &slot.index);
                            Take(e, "status", &slot.status);
                            Take(e, "pdu", &slot.pdu);
                            if (e.contains("length") && !e["length"].is_null()) {
                                slot.length = e["length"].get<int>();
                            }
                            storage.slots.push_back(slot);
                        }
                    }
                    std::sort(storage.slots.begin(), storage.slots.end(),
                              [](const SmsSlot& a, const SmsSlot& b) { return a.index < b.index; });
                    s.sms_storages[name] = storage;
                }
            }
            Take(sms, "preferred", &s.sms_preferred);
            std::string empty = "ok";
            Take(sms, "empty_slot", &empty);
            if (empty != "ok" && empty != "error") {
                throw std::runtime_error("sms.empty_slot must be \"ok\" or \"error\"");
            }
            s.empty_slot_error = empty == "error";
            Take(sms, "lowercase_hex", &s.lowercase_hex);
            Take(sms, "list", &s.list_mode);
            if (s.list_mode != "all" && s.list_mode != "error" && s.list_mode != "cms") {
                throw std::runtime_error("sms.list must be \"all\", \"error\" or \"cms\"");
            }
            Take(sms, "list_limit", &s.list_limit);
            Take(sms, "cnmi", &s.cnmi);
            Take(sms, "loopback_storage", &s.loopback_storage);
            Take(sms, "next_reference", &s.next_reference);
            s.next_reference &= 0xFF;
            if (auto se = sms.find("sent"); se != sms.end()) {
                for (const auto& e : *se) {
                    SentMessage m;
                    Take(e, "reference", &m.reference);
                    Take(e, "pdu", &m.pdu);
                    Take(e, "time", &m.time);
                    Take(e, "to", &m.to);
                    Take(e, "text", &m.text);
                    if (auto c = e.find("concat"); c != e.end()) {
                        Take(*c, "reference", &m.concat_ref);
                        Take(*c, "parts", &m.concat_total);
                        Take(*c, "part", &m.concat_seq);
                    }
                    Take(e, "joined", &m.joined);
                    s.sent.push_back(m);
                }
            }
            if (auto de = sms.find("delivered"); de != sms.end()) {
                for (const auto& e : *de) {
                    DeliveredMessage m;
                    Take(e, "to", &m.to);
                    Take(e, "text", &m.text);
                    Take(e, "parts", &m.parts);
                    s.delivered.push_back(m);
                }
            }
        }
        if (auto it = j.find("phonebook"); it != j.end()) {
            const json& pbj = *it;
            Take(pbj, "selected", &s.phonebook_selected);
            std::string overrange = "error";
            Take(pbj, "overrange", &overrange);
            if (overrange != "error" && overrange != "partial") {
                throw std::runtime_error("phonebook.overrange must be \"error\" or \"partial\"");
            }
            s.phonebook_partial_overrange = overrange == "partial";
            if (auto st = pbj.find("storages"); st != pbj.end()) {
                s.phonebooks.clear();
                for (const auto& [name, bj] : st->items()) {
                    Phonebook pb;
                    Take(bj, "first", &pb.first);
                    Take(bj, "last", &pb.last);
                    Take(bj, "number_length", &pb.number_length);
                    Take(bj, "text_length", &pb.text_length);
                    if (auto en = bj.find("entries"); en != bj.end()) {
                        for (const auto& e : *en) {
                            PhonebookEntry entry;
                            Take(e, "index", &entry.index);
                            Take(e, "number", &entry.number);
                            Take(e, "type", &entry.type);
                            Take(e, "text", &entry.text);
                            pb.entries.push_back(entry);
                        }
                    }
                    std::sort(pb.entries.begin(), pb.entries.end(),
                              [](const PhonebookEntry& a, const PhonebookEntry& b) {
                                  return a.index < b.index;
                              });
                    s.phonebooks[name] = pb;
                }
            }
        }
        if (auto it = j.find("timing"); it != j.end()) {
            Take(*it, "delay_ms", &s.timing.delay_ms);
            Take(*it, "send_ms", &s.timing.send_ms);
        }
        if (auto it = j.find("faults"); it != j.end())
            ParseFaults(*it, &s.faults);
        Validate(s);
        *out = std::move(s);
        return true;
    } catch (const std::exception& e) {
        *error = e.what();
        return false;
    }
}

std::string StateToJson(const State& s) {
    json j;
    j["identity"] = {{"manufacturer", s.identity.manufacturer},
                     {"model", s.identity.model},
                     {"revision", s.identity.revision},
                     {"serial", s.identity.serial},
                     {"imsi", s.identity.imsi}};
    j["own_number"] = s.own_number;
    j["operator"] = {{"registered", s.op.registered},
                     {"mode", s.op.mode},
                     {"format", s.op.format},
                     {"name", s.op.name}};
    j["smsc"] = {{"number", s.smsc_number}, {"type", s.smsc_type}};
    j["echo"] = s.echo;
    j["cmee"] = s.cmee;
    j["charset"] = s.charset;
    if (!s.charsets.empty())
        j["charsets"] = s.charsets;
    j["signal"] = s.signal;
    j["sim"] = {{"pin", s.sim.pin},
                {"puk", s.sim.puk},
                {"pin_enabled", s.sim.pin_enabled},
                {"pin_attempts", s.sim.pin_attempts},
                {"puk_attempts", s.sim.puk_attempts}};
    json storages = json::object();
    for (const auto& [name, st] : s.sms_storages) {
        json slots = json::array();
        for (const auto& slot : st.slots) {
            json e = {{"index", slot.index}, {"status", slot.status}, {"pdu", slot.pdu}};
            if (slot.length)
                e["length"] = *slot.length;
            slots.push_back(e);
        }
        storages[name] = {{"size", st.size}, {"slots", slots}};
    }
    json sent = json::array();
    for (const auto& m : s.sent) {
        json e = {{"reference", m.reference},
                  {"pdu", m.pdu},
                  {"time", m.time},
                  {"to", m.to},
                  {"text", m.text}};
        if (m.concat_ref >= 0) {
            e["concat"] = {
                {"reference", m.concat_ref}, {"parts", m.concat_total}, {"part", m.concat_seq}};
            e["joined"] = m.joined;
        }
        sent.push_back(e);
    }
    json delivered = json::array();
    for (const auto& m : s.delivered)
        delivered.push_back({{"to", m.to}, {"text", m.text}, {"parts", m.parts}});
    j["sms"] = {{"storages", storages},
                {"preferred", s.sms_preferred},
                {"empty_slot", s.empty_slot_error ? "error" : "ok"},
                {"lowercase_hex", s.lowercase_hex},
                {"list", s.list_mode},
                {"list_limit", s.list_limit},
                {"cnmi", s.cnmi},
                {"loopback_storage", s.loopback_storage},
                {"next_reference", s.next_reference},
                {"sent", sent},
                {"delivered", delivered}};
    json books = json::object();
    for (const auto& [name, pb] : s.phonebooks) {
        json entries = json::array();
        for (const auto& e : pb.entries) {
            entries.push_back(
                {{"index", e.index}, {"number", e.number}, {"type", e.type}, {"text", e.text}});
        }
        books[name] = {{"first", pb.first},
                       {"last", pb.last},
                       {"number_length", pb.number_length},
                       {"text_length", pb.text_length},
                       {"entries", entries}};
    }
    j["phonebook"] = {{"selected", s.phonebook_selected},
                      {"overrange", s.phonebook_partial_overrange ? "partial" : "error"},
                      {"storages", books}};
    j["timing"] = {{"delay_ms", s.timing.delay_ms}, {"send_ms", s.timing.send_ms}};
    j["faults"] = FaultsToJson(s.faults);
    // Texts from the phonebook may hold any bytes; never fail on them.
    return j.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

bool LoadState(const std::filesystem::path& path, State* state, std::string* error, bool* created) {
    if (created)
        *created = false;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        *state = State::Default();
        if (created)
            *created = true;
        return true;
    }
    std::string text;
    if (!platform::ReadFileBytes(path, &text)) {
        *error = "cannot read " + path.string();
        return false;
    }
    if (!StateFromJson(text, state, error)) {
        *error = path.string() + ": " + *error;
        return false;
    }
    return true;
}

bool SaveState(const std::filesystem::path& path, const State& state, std::string* error) {
    if (!platform::WriteFileAtomic(path, StateToJson(state))) {
        *error = "cannot write " + path.string();
        return false;
    }
    return true;
}

}  // namespace phonesim
