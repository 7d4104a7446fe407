#include "tools/phonesim/phone.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sstream>

#include "tools/phonesim/charset.h"
#include "tools/phonesim/hex.h"
#include "tools/phonesim/registration.h"
#include "tools/phonesim/sms_pdu.h"

namespace phonesim {

int64_t MonotonicUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

Phone::Phone(Options options) : options_(std::move(options)), output_(options_.baud) {}

Phone::~Phone() {
    if (signal_fd_ >= 0)
        close(signal_fd_);
}

int64_t Phone::ElapsedMs() const {
    return (MonotonicUs() - start_us_) / 1000;
}

bool Phone::LoadStateFile(std::string* error) {
    State loaded;
    bool created = false;
    if (!LoadState(options_.state_file, &loaded, error, &created))
        return false;
    state_ = std::move(loaded);
    if (options_.delay_ms)
        state_.timing.delay_ms = *options_.delay_ms;
    if (options_.send_ms)
        state_.timing.send_ms = *options_.send_ms;
    if (options_.echo)
        state_.echo = *options_.echo;
    if (options_.lowercase_hex)
        state_.lowercase_hex = *options_.lowercase_hex;
    if (options_.list_mode)
        state_.list_mode = *options_.list_mode;
    if (options_.list_limit)
        state_.list_limit = *options_.list_limit;
    for (const auto& [name, size] : options_.sizes) {
        SmsStorage& st = state_.sms_storages[name];
        st.size = size;
        std::erase_if(st.slots, [size](const SmsSlot& s) { return s.index > size; });
    }
    if (created)
        dirty_ = true;
    RebuildFaults();
    return true;
}

void Phone::RebuildFaults() {
    faults_ = state_.faults;
    const Faults& extra = options_.faults;
    faults_.silence.insert(faults_.silence.end(), extra.silence.begin(), extra.silence.end());
    faults_.garbage.insert(faults_.garbage.end(), extra.garbage.begin(), extra.garbage.end());
    if (extra.drop_command > 0)
        faults_.drop_command = extra.drop_command;
    if (extra.prompt_extra)
        faults_.prompt_extra = extra.prompt_extra;
    faults_.unsolicited.insert(faults_.unsolicited.end(), extra.unsolicited.begin(),
                               extra.unsolicited.end());
    // Timed faults whose time has passed do not fire again after a reload.
    timed_fired_.assign(faults_.unsolicited.size(), false);
    if (start_us_ != 0) {
        int64_t elapsed = ElapsedMs();
        for (size_t i = 0; i < faults_.unsolicited.size(); ++i) {
            const auto& f = faults_.unsolicited[i];
            if (f.at_ms >= 0 && f.at_ms <= elapsed)
                timed_fired_[i] = true;
        }
    }
}

bool Phone::Start() {
    std::string error;
    if (!LoadStateFile(&error)) {
        std::fprintf(stderr, "phonesim: %s\n", error.c_str());
        return false;
    }
    if (!pty_.Open(&error)) {
        std::fprintf(stderr, "phonesim: %s\n", error.c_str());
        return false;
    }
    if (!options_.transcript.empty() && !transcript_.Open(options_.transcript)) {
        std::fprintf(stderr, "phonesim: cannot open transcript %s\n", options_.transcript.c_str());
        return false;
    }
    if (!options_.control.empty() && !control_.Open(options_.control, &error)) {
        std::fprintf(stderr, "phonesim: %s\n", error.c_str());
        return false;
    }
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    signal_fd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    signal(SIGPIPE, SIG_IGN);

    modem_ = std::make_unique<Modem>(&state_, this);
    modem_->SetFaults(&faults_);
    start_us_ = MonotonicUs();
    RebuildFaults();
    SaveIfDirty(/*now=*/true);

    std::printf("%s\n", pty_.device().c_str());
    if (!options_.register_name.empty()) {
        if (!Register())
            return false;
        std::printf("%s\n", alias_.c_str());
    }
    std::fflush(stdout);
    transcript_.Note("phonesim on " + pty_.device());
    return true;
}

bool Phone::Register() {
    std::string error;
    if (!RegisterModem(options_.register_name, pty_.device(), options_.alias, &modem_key_, &alias_,
                       &error)) {
        std::fprintf(stderr, "phonesim: %s\n", error.c_str());
        return false;
    }
    return true;
}

void Phone::Unregister() {
    if (!modem_key_.empty())
        UnregisterModem(modem_key_, alias_, pty_.device());
    modem_key_.clear();
}

void Phone::Answer(std::string bytes, int delay_ms) {
    output_.Answer(std::move(bytes), MonotonicUs(), static_cast<int64_t>(delay_ms) * 1000);
}

void Phone::Echo(std::string bytes) {
    output_.Echo(std::move(bytes), MonotonicUs());
}

void Phone::DropLine() {
    drop_ = true;
}

int64_t Phone::SaveDueInMs() const {
    if (!dirty_)
        return -1;
    int64_t since_ms = (MonotonicUs() - last_save_us_) / 1000;
    return std::max<int64_t>(0, kSaveIntervalMs - since_ms);
}

void Phone::SaveIfDirty(bool now) {
    if (!dirty_)
        return;
    if (!now && SaveDueInMs() > 0)
        return;
    last_save_us_ = MonotonicUs();
    std::string error;
    if (!SaveState(options_.state_file, state_, &error)) {
        std::fprintf(stderr, "phonesim: %s\n", error.c_str());
        return;  // tried again after the next change
    }
    dirty_ = false;
}

void Phone::WriteOutput() {
    int64_t now = MonotonicUs();
    std::string ready = output_.Ready(now);
    if (ready.empty())
        return;
    ssize_t n = write(pty_.fd(), ready.data(), ready.size());
    if (n < 0) {
        blocked_write_ = errno == EAGAIN;
        return;
    }
    blocked_write_ = static_cast<size_t>(n) < ready.size();
    transcript_.Add(false, std::string_view(ready).substr(0, static_cast<size_t>(n)));
    output_.Consume(static_cast<size_t>(n), now);
}

void Phone::DrainLine() {
    // The terminal driver hands written bytes to the reading side a moment
    // later, so the count of unread bytes only means something after a pause.
    int64_t start = MonotonicUs();
    int64_t deadline = start + 2'000'000;
    while (MonotonicUs() < deadline) {
        WriteOutput();
        if (output_.empty() && MonotonicUs() - start > 100'000 && pty_.Unread() == 0)
            return;
        usleep(10'000);
    }
}

void Phone::ReadInput() {
    char buf[4096];
    ssize_t n = read(pty_.fd(), buf, sizeof buf);
    if (n <= 0)
        return;
    std::string_view bytes(buf, static_cast<size_t>(n));
    transcript_.Add(true, bytes);
    modem_->Receive(bytes);
}

void Phone::FireTimedFaults() {
    int64_t elapsed = ElapsedMs();
    for (size_t i = 0; i < faults_.unsolicited.size(); ++i) {
        const auto& f = faults_.unsolicited[i];
        if (f.at_ms < 0 || timed_fired_[i] || f.at_ms > elapsed)
            continue;
        timed_fired_[i] = true;
        modem_->FireUnsolicited(f);
    }
}

std::string Phone::HandleControl(const std::string& line) {
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    if (verb == "ping")
        return "OK";
    if (verb == "commands")
        return "OK " + std::to_string(modem_->commands_seen());
    if (verb == "save") {
        // The state as it is now, for a reader of the file.
        SaveIfDirty(/*now=*/true);
        return dirty_ ? "ERROR cannot write the state file" : "OK";
    }
    if (verb == "reload") {
        std::string error;
        State keep = state_;
        if (!LoadStateFile(&error)) {
            state_ = keep;
            return "ERROR " + error;
        }
        modem_->StateReloaded();
        return "OK";
    }
    if (verb == "store" || verb == "cmti" || verb == "incoming") {
        std::string storage, pdu;
        if (verb == "incoming") {
            in >> pdu;
        } else {
            in >> storage >> pdu;
        }
        std::string bytes;
        if (pdu.empty() || !HexToBytes(pdu, &bytes))
            return "ERROR bad PDU";
        if (storage == "-")
            storage.clear();
        int index = 0;
        if (verb == "store") {
            // Stored silently, whatever AT+CNMI says.
            std::string name = storage.empty() ? state_.sms_preferred[2] : storage;
            auto it = state_.sms_storages.find(name);
            if (it == state_.sms_storages.end())
                return "ERROR unknown storage";
            index = it->second.FirstFree();
            if (index == 0)
                return "ERROR storage full";
            SmsSlot slot;
            slot.index = index;
            slot.status = kStatusUnread;
            slot.pdu = BytesToHex(bytes);
            it->second.Put(slot);
            dirty_ = true;
        } else {
            index = modem_->StoreIncoming(storage, BytesToHex(bytes), verb == "cmti");
            if (index == 0)
                return "ERROR storage full or unknown";
        }
        SaveIfDirty(/*now=*/true);
        return "OK " + std::to_string(index);
    }
    if (verb == "long") {
        // long MEM FROM REF PARTS TEXT: the parts PARTS ("all" or a list such
        // as 3,1) of a concatenated message, each stored in MEM and
        // announced with +CMTI; the text runs to the end of the line.
        std::string storage, from, parts_arg, text;
        int ref = -1;
        in >> storage >> from >> ref >> parts_arg;
        std::getline(in, text);
        if (!text.empty() && text[0] == ' ')
            text.erase(0, 1);
        if (storage.empty() || from.empty() || ref < 0 || parts_arg.empty() || text.empty())
            return "ERROR usage: long MEM FROM REF PARTS TEXT";
        if (storage == "-")
            storage.clear();
        std::vector<std::string> pdus = MakeConcatDelivers(
            state_.smsc_number, from, Utf8ToUtf16(text), ref, std::time(nullptr));
        std::vector<size_t> which;
        if (parts_arg == "all") {
            for (size_t k = 0; k < pdus.size(); ++k)
                which.push_back(k);
        } else {
            std::istringstream list(parts_arg);
            std::string item;
            while (std::getline(list, item, ',')) {
                int k = std::atoi(item.c_str());
                if (k < 1 || static_cast<size_t>(k) > pdus.size())
                    return "ERROR no part " + item;
                which.push_back(static_cast<size_t>(k - 1));
            }
        }
        std::string answer = "OK";
        for (size_t k : which) {
            int index = modem_->StoreIncoming(storage, BytesToHex(pdus[k]), true);
            if (index == 0)
                return "ERROR storage full or unknown";
            answer += " " + std::to_string(index);
        }
        SaveIfDirty(/*now=*/true);
        return answer;
    }
    if (verb == "cmt") {
        std::string pdu, bytes;
        in >> pdu;
        if (pdu.empty() || !HexToBytes(pdu, &bytes))
            return "ERROR bad PDU";
        modem_->DeliverCmt(BytesToHex(bytes));
        return "OK";
    }
    return "ERROR unknown command";
}

int Phone::Run() {
    int exit_code = 0;
    bool running = true;
    while (running) {
        FireTimedFaults();
        SaveIfDirty();
        WriteOutput();
        if (drop_) {
            DrainLine();
            transcript_.Note("line dropped");
            pty_.Close();
            break;
        }
        if (options_.exit_after_commands > 0 &&
            modem_->commands_seen() >= options_.exit_after_commands && output_.empty()) {
            DrainLine();
            transcript_.Note("exit after " + std::to_string(options_.exit_after_commands) +
                             " commands");
            break;
        }
        int64_t now = MonotonicUs();
        int64_t elapsed_ms = (now - start_us_) / 1000;
        if (options_.exit_after_ms > 0 && elapsed_ms >= options_.exit_after_ms) {
            transcript_.Note("exit after time");
            break;
        }

        // How long to sleep: the next output byte, timed fault, exit time, or a
        // transcript flush.
        int64_t timeout_ms = 200;
        int64_t next = output_.NextTime(now);
        if (next >= 0 && !blocked_write_) {
            timeout_ms = std::min<int64_t>(timeout_ms, (next - now + 999) / 1000);
        }
        if (int64_t save = SaveDueInMs(); save >= 0)
            timeout_ms = std::min<int64_t>(timeout_ms, save);
        for (size_t i = 0; i < faults_.unsolicited.size(); ++i) {
            const auto& f = faults_.unsolicited[i];
            if (f.at_ms >= 0 && !timed_fired_[i]) {
                timeout_ms =
                    std::min<int64_t>(timeout_ms, std::max<int64_t>(0, f.at_ms - elapsed_ms));
            }
        }
        if (options_.exit_after_ms > 0) {
            timeout_ms = std::min<int64_t>(timeout_ms, options_.exit_after_ms - elapsed_ms);
        }
        if (timeout_ms < 0)
            timeout_ms = 0;

        std::vector<pollfd> fds;
        short events = POLLIN;
        if (blocked_write_)
            events |= POLLOUT;
        fds.push_back({pty_.fd(), events, 0});
        fds.push_back({signal_fd_, POLLIN, 0});
        control_.AddPollFds(&fds);
        int ready = poll(fds.data(), fds.size(), static_cast<int>(timeout_ms));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "phonesim: poll: %s\n", strerror(errno));
            exit_code = 1;
            break;
        }
        if (ready == 0) {
            transcript_.Flush();
            continue;
        }
        if (fds[0].revents & POLLOUT)
            blocked_write_ = false;
        if (fds[0].revents & POLLIN)
            ReadInput();
        if (fds[1].revents & POLLIN) {
            signalfd_siginfo info{};
            while (read(signal_fd_, &info, sizeof info) == sizeof info) {
                if (info.ssi_signo == SIGHUP) {
                    std::string error;
                    State keep = state_;
                    if (LoadStateFile(&error)) {
                        modem_->StateReloaded();
                        transcript_.Note("state reloaded");
                    } else {
                        state_ = keep;
                        std::fprintf(stderr, "phonesim: reload: %s\n", error.c_str());
                    }
                } else {
                    running = false;
                }
            }
        }
        std::vector<pollfd> control_fds(fds.begin() + 2, fds.end());
        control_.Service(control_fds,
                         [this](const std::string& line) { return HandleControl(line); });
    }
    SaveIfDirty(/*now=*/true);
    transcript_.Flush();
    Unregister();
    return exit_code;
}

}  // namespace phonesim
