// The phone link's own cost: what a command costs beyond its bytes on the
// wire. The phone is a small responder on a pseudo-terminal that answers at
// full speed or paced as a serial line of a given baud rate would deliver.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cordis/cordis.h"
#include "platform/text.h"
#ifdef CORDIS_BENCH_PHONESIM
#include <fstream>
#include <iterator>

#include "tools/phonesim/testing/phonesim_process.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;

// CPU time of the whole process (the link's threads and the phone's).
double ProcessCpuMicros() {
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e6 + ru.ru_utime.tv_usec +
           ru.ru_stime.tv_usec;
}

double Micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

// Line time of `bytes` bytes at `baud` (10 bits a byte).
Clock::duration WireTime(size_t bytes, int baud) {
    if (baud <= 0)
        return Clock::duration::zero();
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(static_cast<long long>(bytes) * 10'000'000'000LL / baud));
}

// A phone without echo: every command line (ended by CR) gets the answer
// that `answer` gives for it. With a baud rate, the answer starts when the
// command would have arrived and its bytes are handed over as the line
// would deliver them.
class PacedPhone {
  public:
    PacedPhone(int baud, std::function<std::string(const std::string&)> answer)
        : baud_(baud), answer_(std::move(answer)) {
        char name[256] = {};
        openpty(&master_, &slave_, name, nullptr, nullptr);
        termios tio;
        tcgetattr(slave_, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave_, TCSANOW, &tio);
        device_ = name;
        thread_ = std::thread([this] { Run(); });
    }
    ~PacedPhone() {
        stop_ = true;
        thread_.join();
        close(master_);
        close(slave_);
    }
    const std::string& device() const { return device_; }
    // Line time of everything sent and received so far.
    Clock::duration wire_time() const { return WireTime(wire_bytes_.load(), baud_); }
    void reset_wire() { wire_bytes_ = 0; }

  private:
    void Run() {
        std::string line;
        Clock::time_point first;
        char buf[4096];
        while (!stop_) {
            pollfd p = {master_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0)
                continue;
            for (ssize_t i = 0; i < n; ++i) {
                if (line.empty())
                    first = Clock::now();
                line += buf[i];
                if (buf[i] != '\r')
                    continue;
                Respond(line, first);
                line.clear();
            }
        }
    }

    void Respond(const std::string& line, Clock::time_point first) {
        std::string command = line.substr(0, line.size() - 1);
        std::string out = answer_(command);
        wire_bytes_ += line.size() + out.size();
        Clock::time_point start = first + WireTime(line.size(), baud_);
        if (baud_ <= 0) {
            Write(out);
            return;
        }
        // About a millisecond of line time per chunk, each handed over when
        // its last byte would have arrived.
        size_t chunk = std::max(1, baud_ / 10000);
        for (size_t at = 0; at < out.size(); at += chunk) {
            size_t end = std::min(out.size(), at + chunk);
            std::this_thread::sleep_until(start + WireTime(end, baud_));
            Write(out.substr(at, end - at));
        }
    }

    void Write(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<size_t>(n);
        }
    }

    int baud_;
    std::function<std::string(const std::string&)> answer_;
    int master_ = -1, slave_ = -1;
    std::string device_;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> wire_bytes_{0};
    std::thread thread_;
};

// A stored message as "AT+CMGR" shows it: a 75-byte PDU.
const std::string kPdu =
    "07911326040000F0040B911346610089F60000208062917314080CC8F71D14969741F977FD07"
    "07911326040000F0040B911346610089F60000208062917314080CC8F71D14969741F977FD07";

std::string PhoneAnswer(const std::string& command) {
    if (command == "AT")
        return "\r\nOK\r\n";
    if (command == "AT+CGMI")
        return "\r\nACME Phones\r\n\r\nOK\r\n";
    if (command == "AT+CGMM")
        return "\r\nModel 7\r\n\r\nOK\r\n";
    if (command == "AT+COPS?")
        return "\r\n+COPS: 0,0,\"Skyvane Mobile\"\r\n\r\nOK\r\n";
    if (command == "AT+CSCA?")
        return "\r\n+CSCA: \"+31624000000\",145\r\n\r\nOK\r\n";
    if (command.rfind("AT+CPMS=", 0) == 0)
        return "\r\n+CPMS: 94,250,94,250\r\n\r\nOK\r\n";
    if (command.rfind("AT+CMGR=", 0) == 0)
        return "\r\n+CMGR: 1,,75\r\n" + kPdu + "\r\n\r\nOK\r\n";
    return "\r\nERROR\r\n";
}

struct Link {
    explicit Link(const PacedPhone& phone, int baud)
        : dir(std::filesystem::temp_directory_path() /
              ("cordis_bench_" + std::to_string(getpid()))),
          link((std::filesystem::create_directories(dir), dir / "comm.log")) {
        link.StartSAR();
        link.OpenPort(platform::FromUtf8(phone.device()));
        link.SetParams(baud, 0, 8, 0);
    }
    ~Link() {
        link.ClosePort();
        link.StopSAR();
        std::filesystem::remove_all(dir);
    }
    std::filesystem::path dir;
    CCordis link;
};

// One command against a phone at full speed: no line time at all, so all of
// it is the link's own cost (writing, waking, per-byte rules and log lines).
void BM_CommandOverhead(benchmark::State& state) {
    PacedPhone phone(0, PhoneAnswer);
    Link l(phone, 115200);
    std::u16string reply;
    std::vector<double> times;
    double cpu0 = ProcessCpuMicros();
    for (auto _ : state) {
        auto t0 = Clock::now();
        int ok = l.link.SendAndReceive("AT+CGMI", reply, 0, 10);
        times.push_back(Micros(Clock::now() - t0));
        if (!ok || reply != u"ACME Phones")
            state.SkipWithError("bad answer");
    }
    state.counters["cpu_us"] =
        (ProcessCpuMicros() - cpu0) / static_cast<double>(state.iterations());
    std::sort(times.begin(), times.end());
    state.counters["median_us"] = times[times.size() / 2];
    state.counters["p90_us"] = times[times.size() * 9 / 10];
}
BENCHMARK(BM_CommandOverhead)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);

// A session of 100 commands (identification, two storage selections and 92
// slot reads) at 115200 baud, against its line time.
void BM_Session100At115200(benchmark::State& state) {
    const int baud = 115200;
    PacedPhone phone(baud, PhoneAnswer);
    Link l(phone, baud);
    std::vector<std::string> session = {"AT",       "AT+CGMI",        "AT+CGMM", "AT+COPS?",
                                        "AT+CSCA?", "AT+CPMS=\"ME\"", "AT",      "AT+CPMS=\"SM\""};
    for (int i = 1; session.size() < 100; ++i)
        session.push_back("AT+CMGR=" + std::to_string(i));
    std::u16string reply;
    double ratio_sum = 0, wire_ms = 0;
    for (auto _ : state) {
        phone.reset_wire();
        auto t0 = Clock::now();
        for (const std::string& c : session) {
            if (!l.link.SendAndReceive(c, reply, 0, 10))
                state.SkipWithError("command failed");
        }
        auto took = Clock::now() - t0;
        wire_ms = Micros(phone.wire_time()) / 1000;
        ratio_sum += Micros(took) / Micros(phone.wire_time());
    }
    // Only what was measured: the session's time over its line time.
    state.counters["wire_ms"] = wire_ms;
    state.counters["time_over_wire"] = ratio_sum / static_cast<double>(state.iterations());
}
BENCHMARK(BM_Session100At115200)->Unit(benchmark::kMillisecond)->Iterations(10);

// 250 slot reads with the log as specified (a line per byte), at full speed:
// the link's and the log's cost, to set against 250 reads' line time.
void BM_SlotReads250(benchmark::State& state) {
    PacedPhone phone(0, PhoneAnswer);
    Link l(phone, 9600);
    std::u16string reply;
    double cpu0 = ProcessCpuMicros();
    for (auto _ : state) {
        for (int i = 1; i <= 250; ++i) {
            if (!l.link.SendAndReceive("AT+CMGR=" + std::to_string(i), reply, 0, 10)) {
                state.SkipWithError("read failed");
            }
        }
    }
    state.counters["cpu_ms"] =
        (ProcessCpuMicros() - cpu0) / 1000 / static_cast<double>(state.iterations());
    size_t bytes = PhoneAnswer("AT+CMGR=1").size() + std::string("AT+CMGR=100\r").size();
    state.counters["wire_ms_9600"] = Micros(WireTime(bytes * 250, 9600)) / 1000;
    state.counters["wire_ms_115200"] = Micros(WireTime(bytes * 250, 115200)) / 1000;
    state.counters["log_MB"] = static_cast<double>(std::filesystem::file_size(l.dir / "comm.log")) /
                               1e6 / static_cast<double>(state.iterations());
    std::filesystem::remove(l.dir / "comm.log");
}
BENCHMARK(BM_SlotReads250)->Unit(benchmark::kMillisecond)->Iterations(3);

#ifdef CORDIS_BENCH_PHONESIM
// The same against the simulated phone (echo on, as phones start).

nlohmann::json FilledPhone(int slots) {
    nlohmann::json state = phonesim::testing::DefaultState();
    state["echo"] = true;
    nlohmann::json list = nlohmann::json::array();
    for (int i = 1; i <= slots; ++i) {
        list.push_back({{"index", i},
                        {"status", 1},
                        {"pdu", phonesim::testing::MakeDeliverPdu(
                                    "+491701234567", "Slot " + std::to_string(i) +
                                                         ": the quick brown fox jumps over the "
                                                         "lazy dog.")}});
    }
    state["sms"]["storages"] = {{"ME", {{"size", slots}, {"slots", list}}},
                                {"SM", {{"size", slots}, {"slots", list}}}};
    return state;
}

struct SimLink {
    SimLink(int baud, int slots)
        : dir(std::filesystem::temp_directory_path() /
              ("cordis_bench_sim_" + std::to_string(getpid()))),
          link((std::filesystem::create_directories(dir), dir / "comm.log")) {
        phonesim::testing::WriteState(dir / "phone.json", FilledPhone(slots));
        std::vector<std::string> args;
        if (baud > 0)
            args = {"--baud", std::to_string(baud)};
        ok = phone.Start(dir / "phone.json", args);
        link.StartSAR();
        ok = ok && link.OpenPort(platform::FromUtf8(phone.device())) &&
             link.SetParams(baud > 0 ? baud : 115200, 0, 8, 0);
    }
    ~SimLink() {
        link.ClosePort();
        link.StopSAR();
        phone.Stop();
        std::filesystem::remove_all(dir);
    }
    // Bytes the link has read so far: one "reading" log line each.
    size_t BytesRead() {
        std::ifstream in(dir / "comm.log", std::ios::binary);
        std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string needle;
        for (char c : std::string(": reading: <s>")) {
            needle += c;
            needle += '\0';
        }
        size_t n = 0;
        for (size_t at = log.find(needle); at != std::string::npos;
             at = log.find(needle, at + needle.size()))
            ++n;
        return n;
    }
    std::filesystem::path dir;
    phonesim::testing::PhonesimProcess phone;
    CCordis link;
    bool ok = false;
};

// One command against the simulated phone at full speed.
void BM_PhonesimCommandOverhead(benchmark::State& state) {
    SimLink l(0, 1);
    if (!l.ok) {
        state.SkipWithError("phonesim did not start");
        return;
    }
    std::u16string reply;
    std::vector<double> times;
    for (auto _ : state) {
        auto t0 = Clock::now();
        int ok = l.link.SendAndReceive("AT+CGMI", reply, 0, 10);
        times.push_back(Micros(Clock::now() - t0));
        if (!ok || reply.empty())
            state.SkipWithError("bad answer");
    }
    std::sort(times.begin(), times.end());
    state.counters["median_us"] = times[times.size() / 2];
    state.counters["p90_us"] = times[times.size() * 9 / 10];
}
BENCHMARK(BM_PhonesimCommandOverhead)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);

// 100 commands with the phone's output paced at 115200 baud. The phone
// paces what it sends (echo included), not what it receives, so the line
// time is that of the bytes the link read.
void BM_PhonesimSession100At115200(benchmark::State& state) {
    SimLink l(115200, 92);
    if (!l.ok) {
        state.SkipWithError("phonesim did not start");
        return;
    }
    std::vector<std::string> session = {"AT",       "AT+CGMI",        "AT+CGMM", "AT+COPS?",
                                        "AT+CSCA?", "AT+CPMS=\"ME\"", "AT",      "AT+CPMS=\"SM\""};
    for (int i = 1; session.size() < 100; ++i)
        session.push_back("AT+CMGR=" + std::to_string(i));
    std::u16string reply;
    double ratio_sum = 0, wire_ms = 0;
    for (auto _ : state) {
        size_t before = l.BytesRead();
        auto t0 = Clock::now();
        for (const std::string& c : session) {
            if (!l.link.SendAndReceive(c, reply, 0, 10))
                state.SkipWithError("command failed");
        }
        auto took = Clock::now() - t0;
        state.PauseTiming();
        wire_ms = Micros(WireTime(l.BytesRead() - before, 115200)) / 1000;
        ratio_sum += Micros(took) / 1000 / wire_ms;
        state.ResumeTiming();
    }
    state.counters["wire_ms"] = wire_ms;
    state.counters["time_over_wire"] = ratio_sum / static_cast<double>(state.iterations());
}
BENCHMARK(BM_PhonesimSession100At115200)->Unit(benchmark::kMillisecond)->Iterations(5);

// The same session without the link: a bare reader that writes each command
// and reads until the final "OK". Its time is the phone's and the line's;
// what the link adds is the difference to the session above.
void BM_PhonesimSession100RawAt115200(benchmark::State& state) {
    SimLink l(115200, 92);
    l.link.ClosePort();
    int fd = open(l.phone.device().c_str(), O_RDWR | O_NOCTTY);
    if (!l.ok || fd < 0) {
        state.SkipWithError("phonesim did not start");
        return;
    }
    std::vector<std::string> session = {"AT",       "AT+CGMI",        "AT+CGMM", "AT+COPS?",
                                        "AT+CSCA?", "AT+CPMS=\"ME\"", "AT",      "AT+CPMS=\"SM\""};
    for (int i = 1; session.size() < 100; ++i)
        session.push_back("AT+CMGR=" + std::to_string(i));
    double ratio_sum = 0, wire_ms = 0;
    for (auto _ : state) {
        size_t bytes = 0;
        auto t0 = Clock::now();
        for (const std::string& c : session) {
            std::string line = c + "\r";
            if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                state.SkipWithError("write failed");
            std::string answer;
            char buf[512];
            while (answer.size() < 4 || answer.compare(answer.size() - 4, 4, "OK\r\n") != 0) {
                pollfd p = {fd, POLLIN, 0};
                ssize_t n = poll(&p, 1, 10000) == 1 ? read(fd, buf, sizeof buf) : -1;
                if (n < 0) {
                    state.SkipWithError("read failed");
                    break;
                }
                answer.append(buf, static_cast<size_t>(n));
            }
            bytes += answer.size();
        }
        auto took = Clock::now() - t0;
        wire_ms = Micros(WireTime(bytes, 115200)) / 1000;
        ratio_sum += Micros(took) / 1000 / wire_ms;
    }
    close(fd);
    state.counters["wire_ms"] = wire_ms;
    state.counters["time_over_wire"] = ratio_sum / static_cast<double>(state.iterations());
}
BENCHMARK(BM_PhonesimSession100RawAt115200)->Unit(benchmark::kMillisecond)->Iterations(5);

// 250 slot reads (with the log on) from the simulated phone at full speed.
void BM_PhonesimSlotReads250(benchmark::State& state) {
    SimLink l(0, 250);
    if (!l.ok) {
        state.SkipWithError("phonesim did not start");
        return;
    }
    std::u16string reply;
    l.link.SendAndReceive("AT+CPMS=\"ME\"", reply, 0, 10);
    size_t before = l.BytesRead();
    for (auto _ : state) {
        for (int i = 1; i <= 250; ++i) {
            if (!l.link.SendAndReceive("AT+CMGR=" + std::to_string(i), reply, 0, 10) ||
                reply.empty())
                state.SkipWithError("read failed");
        }
    }
    size_t bytes = (l.BytesRead() - before) / static_cast<size_t>(state.iterations());
    state.counters["wire_ms_9600"] = Micros(WireTime(bytes, 9600)) / 1000;
    state.counters["wire_ms_115200"] = Micros(WireTime(bytes, 115200)) / 1000;
}
BENCHMARK(BM_PhonesimSlotReads250)->Unit(benchmark::kMillisecond)->Iterations(3);
#endif

}  // namespace

BENCHMARK_MAIN();
