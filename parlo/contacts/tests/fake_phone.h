// A phone behind the PhoneLink interface, answering the phonebook commands
// the way the link's transaction hands answers back (trimmed information
// text; "OK" and "ERROR" both become an empty reply).
#pragma once

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "parlo/contacts/phonebook_sync.h"
#include "platform/text.h"

namespace parlo::testing {

struct FakeRecord {
    std::string number;
    int type = 129;
    std::string text;
};

struct FakeStorage {
    int first = 1;
    int last = 20;
    std::map<int, FakeRecord> records;
};

class FakePhone : public PhoneLink {
  public:
    FakePhone() {
        storages["SM"] = FakeStorage();
        storages["ME"] = FakeStorage{1, 100, {}};
    }

    void StartSAR() override { log.push_back("StartSAR"); }
    int OpenPhone() override {
        log.push_back("OpenPhone");
        return open_ok;
    }
    int IdentifyPhone() override {
        log.push_back("IdentifyPhone");
        return identify_ok;
    }
    void ClosePort() override { log.push_back("ClosePort"); }
    void StopSAR() override { log.push_back("StopSAR"); }

    int SendAndReceive(const std::string& command, std::u16string& reply, int) override {
        log.push_back(command);
        commands.push_back(command);
        std::string out;
        int result = Answer(command, &out);
        const bool range_read =
            command.rfind("AT+CPBR=", 0) == 0 && command.find(',') != std::string::npos;
        if (range_read && ++range_reads_ == stray_ok_at_range_read && !late_) {
            // A stray "OK" ends this answer at once; the real one comes late.
            late_ = std::make_pair(result, out);
            result = 1;
            out.clear();
        } else if (late_) {
            std::pair<int, std::string> now = *late_;
            late_ = std::make_pair(result, out);
            result = now.first;
            out = now.second;
        }
        reply = platform::WidenBytes(out);
        return result;
    }
    // Drains what is late and answers "AT".
    int Resync() override {
        log.push_back("Resync");
        late_.reset();
        return 1;
    }

    // The range reads "AT+CPBR=a,b".
    int CountRangeReads() const {
        int n = 0;
        for (const std::string& c : commands)
            n += c.rfind("AT+CPBR=", 0) == 0 && c.find(',') != std::string::npos;
        return n;
    }

    int CountCommands(const std::string& prefix) const {
        int n = 0;
        for (const std::string& c : commands)
            n += c.rfind(prefix, 0) == 0;
        return n;
    }

    std::map<std::string, FakeStorage> storages;
    std::string selected = "SM";
    std::string imei = "350000000000001";
    int open_ok = 1;
    int identify_ok = 1;
    int cgsn_ok = 1;
    int cscs_ok = 1;
    int failing_reads = 0;  // the next CPBR range reads that fail with a garbage reply
    // The nth range read (counted from 1 over the phone's life) is answered
    // by a stray "OK" first: it looks empty, and every answer after it comes
    // one command late until the line is brought back in step (Resync).
    int stray_ok_at_range_read = 0;
    bool fail_writes = false;
    bool refuse_writes = false;
    bool report_used = true;
    // A write takes the text but keeps the number already at the index, as a
    // phone that refused the number silently would show it.
    bool keep_numbers = false;
    bool ucs2 = false;  // offers UCS2; texts are then kept as the hex they came in  // AT+CPBS?
                        // tells the used count
    std::vector<std::string> log;
    std::vector<std::string> commands;

  private:
    int range_reads_ = 0;
    std::optional<std::pair<int, std::string>> late_;

    int Answer(const std::string& c, std::string* out) {
        if (c == "AT+CGSN") {
            *out = imei;
            return cgsn_ok;
        }
        if (c == "AT+CSCS=\"GSM\"")
            return cscs_ok;
        if (c == "AT+CSCS=?") {
            *out = ucs2 ? "+CSCS: (\"GSM\",\"UCS2\")" : "+CSCS: (\"GSM\")";
            return 1;
        }
        if (c == "AT+CSCS=\"UCS2\"")
            return ucs2 ? 1 : 0;
        if (c == "AT+CPBS=\"SM\"" || c == "AT+CPBS=\"ME\"") {
            selected = c.substr(9, 2);
            return 1;
        }
        FakeStorage& s = storages[selected];
        if (c == "AT+CPBS?") {
            if (!report_used)
                return 0;
            *out = "+CPBS: \"" + selected + "\"," + std::to_string(s.records.size()) + "," +
                   std::to_string(s.last - s.first + 1);
            return 1;
        }
        if (c == "AT+CPBR=?") {
            *out = "+CPBR: (" + std::to_string(s.first) + "-" + std::to_string(s.last) + "),40,18";
            return 1;
        }
        int a = 0, b = 0;
        int fields = std::sscanf(c.c_str(), "AT+CPBR=%d,%d", &a, &b);
        if (fields == 1) {
            b = a;  // one index: the read-back after a write
            auto it = s.records.find(a);
            if (it != s.records.end()) {
                *out = "+CPBR: " + std::to_string(a) + ",\"" + it->second.number + "\"," +
                       std::to_string(it->second.type) + ",\"" + it->second.text + "\"";
            }
            return 1;
        }
        if (fields == 2) {
            if (failing_reads > 0) {
                --failing_reads;
                *out = "garbage";
                return 0;
            }
            for (auto it = s.records.lower_bound(a); it != s.records.end() && it->first <= b;
                 ++it) {
                if (!out->empty())
                    *out += "\r\n";
                *out += "+CPBR: " + std::to_string(it->first) + ",\"" + it->second.number + "\"," +
                        std::to_string(it->second.type) + ",\"" + it->second.text + "\"";
            }
            return 1;  // an empty range answers with an error: an empty reply
        }
        if (c.rfind("AT+CPBW=", 0) == 0) {
            if (fail_writes) {
                *out = "";
                return 0;
            }
            if (refuse_writes)
                return 1;  // "+CME ERROR": an empty reply with success
            int index = std::atoi(c.c_str() + 8);
            size_t q1 = c.find('"');
            if (q1 == std::string::npos) {
                s.records.erase(index);
                return 1;
            }
            size_t q2 = c.find('"', q1 + 1);
            size_t q3 = c.find('"', q2 + 1);
            size_t q4 = c.rfind('"');
            FakeRecord r;
            r.number = c.substr(q1 + 1, q2 - q1 - 1);
            // "\HH" in a quoted string is the byte HH (V.250).
            std::string quoted = c.substr(q3 + 1, q4 - q3 - 1);
            for (size_t i = 0; i < quoted.size(); ++i) {
                if (quoted[i] == '\\' && i + 2 < quoted.size()) {
                    r.text += static_cast<char>(std::stoi(quoted.substr(i + 1, 2), nullptr, 16));
                    i += 2;
                } else {
                    r.text += quoted[i];
                }
            }
            r.type = !r.number.empty() && r.number[0] == '+' ? 145 : 129;
            if (keep_numbers && s.records.count(index))
                r.number = s.records[index].number;
            s.records[index] = r;
            return 1;
        }
        if (c.rfind("ATD", 0) == 0)
            return 1;
        return 0;
    }
};

}  // namespace parlo::testing
