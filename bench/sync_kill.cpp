// kill -9 trials of whole programs against the simulated phone, then a run to
// the end, and what the two runs left behind:
// - `parlo-cli sync` with delete after synchronisation on, a phone memory of
//   100 messages and a SIM of 20 (every other one unread) and 3 Outbox
//   messages: messages lost (neither on the phone nor in the store), stored
//   twice, stored read although they were unread, sent twice;
// - `parlo-cli phonebook sync` with 15 new local entries and a SIM holding
//   10: entries lost (not on the phone or not in the copy), written twice.
// Each trial kills at a random moment of a run (uniform over the length of an
// undisturbed run, measured first).
//
//   bench_sync_kill [--trials N] [--seed S] [--family sms|phonebook|both]
//                   [--delay-ms MS] [--verbose] [-- PHONESIM_ARGS...]
//
// PHONESIM_ARGS go to the phone of the sms family, e.g. `--cmgl error` for
// reading slot by slot.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "parlo/cli/testing/cli_process.h"
#include "parlo/cli/testing/sim_phonebook.h"
#include "parlo/store/message_store.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tools/phonesim/testing/phonesim_process.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

using parlo::clitest::Launch;
using parlo::clitest::Slurp;

// The exit status; -1 when killed or not started.
int Wait(pid_t pid) {
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int Run(const std::vector<std::string>& args, const fs::path& out) {
    return Wait(Launch(args, out).pid);
}

// One installation and its phone.
class Trial {
  public:
    explicit Trial(fs::path dir) : dir_(std::move(dir)) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        setenv("SKYVANE_HOME", dir_.c_str(), 1);
        setenv("SKYVANE_ROOT", dir_.c_str(), 1);
    }
    bool StartPhone(const nlohmann::json& state, std::vector<std::string> args, int delay_ms) {
        if (!phonesim::testing::WriteState(dir_ / "phone.json", state))
            return false;
        args.insert(args.end(), {"--register", "Bench phone", "--send-ms", "0", "--delay-ms",
                                 std::to_string(delay_ms)});
        return phone_.Start(dir_ / "phone.json", args);
    }
    bool Cli(const std::vector<std::string>& args) { return Run(args, dir_ / "setup.out") == 0; }
    // Starts `args`, kills it after `after` (when still running); whether it
    // was killed while running.
    bool Kill(const std::vector<std::string>& args, Clock::duration after) {
        parlo::clitest::Program p = Launch(args, dir_ / "killed.out");
        std::this_thread::sleep_for(after);
        bool running = parlo::clitest::Running(p);
        if (p.pid > 0)  // kill(-1) would reach every process of the user
            kill(p.pid, SIGKILL);
        Wait(p.pid);
        return running;
    }
    // Runs `args` to the end; its length.
    Clock::duration Timed(const std::vector<std::string>& args, int* status) {
        auto start = Clock::now();
        *status = Run(args, dir_ / "again.out");
        return Clock::now() - start;
    }
    nlohmann::json PhoneState() const { return phone_.ReadState(); }
    const fs::path& dir() const { return dir_; }

  private:
    fs::path dir_;
    phonesim::testing::PhonesimProcess phone_;
};

struct Counts {
    int trials = 0, killed_running = 0, rerun_failed = 0;
    int lost = 0, duplicates = 0, unread_lost = 0, sent_twice = 0;
    void Add(const Counts& c) {
        trials += c.trials;
        killed_running += c.killed_running;
        rerun_failed += c.rerun_failed;
        lost += c.lost;
        duplicates += c.duplicates;
        unread_lost += c.unread_lost;
        sent_twice += c.sent_twice;
    }
};

// --- parlo-cli sync -----------------------------------------------------

struct PhoneMessage {
    std::string text, pdu;
    bool unread;
};

std::vector<PhoneMessage> SmsMessages(int round) {
    std::vector<PhoneMessage> out;
    for (int i = 1; i <= 120; ++i) {
        std::string text = "r" + std::to_string(round) + " message " + std::to_string(i);
        out.push_back(
            {text, phonesim::testing::MakeDeliverPdu("+4917012345" + std::to_string(i % 10), text),
             i % 2 == 1});
    }
    return out;
}

nlohmann::json SmsState(const std::vector<PhoneMessage>& messages) {
    nlohmann::json state = phonesim::testing::DefaultState();
    state["operator"]["name"] = "T-Mobile D";
    nlohmann::json me = nlohmann::json::array(), sm = nlohmann::json::array();
    for (size_t k = 0; k < messages.size(); ++k) {
        bool sim = k >= 100;
        int index = sim ? static_cast<int>(k) - 100 + 1 : static_cast<int>(k) + 1;
        (sim ? sm : me)
            .push_back({{"index", index},
                        {"status", messages[k].unread ? 0 : 1},
                        {"pdu", messages[k].pdu}});
    }
    state["sms"]["storages"] = {{"ME", {{"size", 150}, {"slots", me}}},
                                {"SM", {{"size", 30}, {"slots", sm}}}};
    return state;
}

bool PrepareSms(Trial& t, int round, const std::vector<PhoneMessage>& messages,
                const std::vector<std::string>& phone_args, int delay_ms) {
    if (!t.StartPhone(SmsState(messages), phone_args, delay_ms) ||
        !t.Cli({"options", "delete-after-sync", "on"}))
        return false;
    for (int i = 0; i < 3; ++i) {
        if (!t.Cli({"send", "+4917055510" + std::to_string(i),
                    "o" + std::to_string(round) + "-" + std::to_string(i)}))
            return false;
    }
    return true;
}

Counts CheckSms(Trial& t, int round, const std::vector<PhoneMessage>& messages, bool verbose) {
    Counts c;
    std::map<std::string, std::vector<int32_t>> stored;
    parlo::CMessageStore store(t.dir());
    store.LoadMessages();
    store.ForEach([&](parlo::CSmsMessage& m) {
        if (m.m_nState != parlo::STATE_PURGED)
            stored[platform::ToUtf8(m.m_strText)].push_back(m.m_nState);
    });
    nlohmann::json phone = t.PhoneState();
    std::map<std::string, int> on_phone;
    for (const char* mem : {"ME", "SM"})
        for (const auto& s : phone["sms"]["storages"][mem]["slots"])
            ++on_phone[s.value("pdu", std::string())];
    for (const PhoneMessage& m : messages) {
        const auto& states = stored[m.text];
        if (states.empty() && !on_phone[m.pdu]) {
            ++c.lost;
            if (verbose)
                std::printf("  lost: %s\n", m.text.c_str());
        }
        if (states.size() > 1)
            c.duplicates += static_cast<int>(states.size()) - 1;
        if (m.unread && !states.empty() && states[0] == parlo::STATE_READ)
            ++c.unread_lost;
    }
    std::map<std::string, int> sent;
    for (const auto& s : phone["sms"]["sent"])
        ++sent[s.value("text", std::string())];
    for (int i = 0; i < 3; ++i) {
        std::string text = "o" + std::to_string(round) + "-" + std::to_string(i);
        c.sent_twice += sent[text] > 1 ? sent[text] - 1 : 0;
        c.lost += stored[text].empty() ? 1 : 0;
    }
    return c;
}

// --- parlo-cli phonebook sync -------------------------------------------

bool PreparePhonebook(Trial& t, int delay_ms) {
    if (!t.StartPhone(parlo::clitest::SimPhonebookState(), {}, delay_ms) ||
        !t.Cli({"options", "phonebook", "sim"}))
        return false;
    for (int i = 1; i <= 15; ++i) {
        if (!t.Cli({"phonebook", "add", "New " + std::to_string(i),
                    "0170" + std::to_string(100 + i), "--sim"}))
            return false;
    }
    return true;
}

Counts CheckPhonebook(Trial& t, bool verbose) {
    Counts c;
    std::map<std::string, int> texts;
    const nlohmann::json phone = t.PhoneState();
    for (const auto& e : phone["phonebook"]["storages"]["SM"]["entries"])
        ++texts[e.value("text", std::string())];
    Run({"phonebook", "list"}, t.dir() / "list.out");
    std::string copy = Slurp(t.dir() / "list.out");
    for (int i = 1; i <= 15; ++i) {
        std::string name = "New " + std::to_string(i);
        bool in_copy = copy.find("\t" + name + "\t") != std::string::npos;
        if (texts[name] == 0 || !in_copy) {
            ++c.lost;
            if (verbose)
                std::printf("  lost: %s (phone %d, copy %d)\n", name.c_str(), texts[name], in_copy);
        }
        c.duplicates += texts[name] > 1 ? texts[name] - 1 : 0;
    }
    for (int i = 1; i <= 10; ++i) {
        int n = texts["Phone " + std::to_string(i)];
        c.lost += n == 0;
        c.duplicates += n > 1 ? n - 1 : 0;
    }
    return c;
}

// --- the trials -----------------------------------------------------------

void Report(const char* what, const Counts& c, double run_s) {
    std::printf(
        "%s: %d trials (run of %.2f s undisturbed; %d killed while running), reruns failed %d, "
        "lost %d, duplicates %d, unread stored read %d, sent twice %d\n",
        what, c.trials, run_s, c.killed_running, c.rerun_failed, c.lost, c.duplicates,
        c.unread_lost, c.sent_twice);
}

}  // namespace

int main(int argc, char** argv) {
    int trials = 20;
    unsigned seed = 1;
    int delay_ms = 8;
    std::string family = "both";
    bool verbose = false;
    std::vector<std::string> phone_args;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--trials" && i + 1 < argc) {
            trials = std::atoi(argv[++i]);
        } else if (a == "--seed" && i + 1 < argc) {
            seed = static_cast<unsigned>(std::atoi(argv[++i]));
        } else if (a == "--family" && i + 1 < argc) {
            family = argv[++i];
        } else if (a == "--delay-ms" && i + 1 < argc) {
            delay_ms = std::atoi(argv[++i]);
        } else if (a == "--verbose") {
            verbose = true;
        } else if (a == "--") {
            phone_args.assign(argv + i + 1, argv + argc);
            break;
        } else {
            std::fprintf(stderr,
                         "usage: bench_sync_kill [--trials N] [--seed S] "
                         "[--family sms|phonebook|both] [--delay-ms MS] [--verbose] "
                         "[-- PHONESIM_ARGS...]\n");
            return 2;
        }
    }
    std::mt19937 random(seed);
    const fs::path base = fs::temp_directory_path() / ("sync_kill_" + std::to_string(getpid()));
    int failures = 0;

    auto family_run = [&](const char* name, auto prepare, auto check,
                          const std::vector<std::string>& command) {
        // An undisturbed run gives the span the kill moments are drawn from.
        Clock::duration span{};
        {
            Trial t(base / (std::string(name) + "-calibration"));
            if (!prepare(t, 0)) {
                std::fprintf(stderr, "%s: the installation could not be prepared\n", name);
                ++failures;
                return;
            }
            int status = 0;
            span = t.Timed(command, &status);
            if (status != 0) {
                std::fprintf(stderr, "%s: the undisturbed run failed (%d):\n%s\n", name, status,
                             Slurp(t.dir() / "again.out").c_str());
                ++failures;
                return;
            }
        }
        Counts total;
        for (int round = 1; round <= trials; ++round) {
            Trial t(base / (std::string(name) + "-" + std::to_string(round)));
            if (!prepare(t, round)) {
                ++failures;
                continue;
            }
            std::uniform_int_distribution<long> at(
                0, std::chrono::duration_cast<std::chrono::microseconds>(span).count());
            auto after = std::chrono::microseconds(at(random));
            Counts c;
            c.trials = 1;
            c.killed_running = t.Kill(command, after) ? 1 : 0;
            int status = 0;
            t.Timed(command, &status);
            // A rerun may end with status 1 when it lists messages held
            // because they may have gone out; anything else is a failure.
            c.rerun_failed = status == 0 || status == 1 ? 0 : 1;
            c.Add(check(t, round));
            if (verbose)
                std::printf(
                    "%s trial %d: killed after %ld ms%s, rerun %d; lost %d, duplicates %d, "
                    "unread stored read %d, sent twice %d\n",
                    name, round, static_cast<long>(after.count() / 1000),
                    c.killed_running ? "" : " (had ended)", status, c.lost, c.duplicates,
                    c.unread_lost, c.sent_twice);
            total.Add(c);
            fs::remove_all(t.dir());
        }
        Report(name, total, std::chrono::duration<double>(span).count());
    };

    if (family == "sms" || family == "both") {
        // The PDUs carry the time they were made: one set a round.
        std::map<int, std::vector<PhoneMessage>> messages;
        family_run(
            "parlo-cli sync",
            [&](Trial& t, int round) {
                messages[round] = SmsMessages(round);
                return PrepareSms(t, round, messages[round], phone_args, delay_ms);
            },
            [&](Trial& t, int round) { return CheckSms(t, round, messages[round], verbose); },
            std::vector<std::string>{"sync"});
    }
    if (family == "phonebook" || family == "both") {
        family_run(
            "parlo-cli phonebook sync",
            [&](Trial& t, int) { return PreparePhonebook(t, delay_ms); },
            [&](Trial& t, int) { return CheckPhonebook(t, verbose); },
            std::vector<std::string>{"phonebook", "sync"});
    }
    fs::remove_all(base);
    return failures ? 1 : 0;
}
