#include "tools/phonesim/testing/phonesim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/binio.h"
#include "platform/text.h"
#include "tools/phonesim/gsm_alphabet.h"
#include "tools/phonesim/hex.h"
#include "tools/phonesim/sms_pdu.h"
#include "tools/phonesim/state.h"

extern char** environ;

namespace phonesim::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Reads one line from `fd` within the deadline.
bool ReadLine(int fd, Clock::time_point deadline, std::string* line) {
    line->clear();
    while (true) {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        if (left <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, left);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        char c;
        ssize_t n = read(fd, &c, 1);
        if (n <= 0)
            return false;
        if (c == '\n')
            return true;
        line->push_back(c);
    }
}

}  // namespace

std::filesystem::path PhonesimProgram() {
    if (const char* dir = std::getenv("SKYVANE_BIN_DIR"); dir && *dir) {
        return std::filesystem::path(dir) / "phonesim";
    }
    return std::filesystem::path(PHONESIM_BUILD_BIN_DIR) / "phonesim";
}

nlohmann::json DefaultState() {
    return nlohmann::json::parse(StateToJson(State::Default()));
}

bool WriteState(const std::filesystem::path& path, const nlohmann::json& state) {
    return platform::WriteFileAtomic(path, state.dump(2) + "\n");
}

std::string MakeDeliverPdu(const std::string& from, const std::string& text,
                           const std::string& smsc) {
    return BytesToHex(MakeTextDeliver(smsc, from, platform::FromUtf8(text), std::time(nullptr)));
}

std::string MakeSubmitPdu(const std::string& to, const std::string& text, int* tpdu_length) {
    std::string septets;
    ToGsmSeptets(platform::FromUtf8(text), &septets);
    if (septets.size() > 160)
        septets.resize(160);
    std::string pdu;
    pdu.push_back(0);     // SMS centre from the phone
    pdu.push_back(0x11);  // SMS-SUBMIT, relative validity period
    pdu.push_back(0);     // message reference, set by the phone
    pdu += EncodeAddress(to, false);
    pdu.push_back(0);                        // PID
    pdu.push_back(0);                        // DCS: GSM 7-bit
    pdu.push_back(static_cast<char>(0xAA));  // 4 days
    pdu.push_back(static_cast<char>(septets.size()));
    pdu += PackSeptets(septets);
    if (tpdu_length)
        *tpdu_length = static_cast<int>(pdu.size() - 1);
    return BytesToHex(pdu);
}

PhonesimProcess::~PhonesimProcess() {
    Stop();
    if (!socket_dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(socket_dir_, ec);
    }
}

bool PhonesimProcess::Start(const std::filesystem::path& state_file,
                            const std::vector<std::string>& args) {
    if (pid_ > 0)
        return false;
    state_file_ = state_file;
    if (socket_dir_.empty()) {
        // A Unix socket path has room for about 100 characters only.
        std::filesystem::path base = std::filesystem::temp_directory_path();
        if (base.native().size() > 60)
            base = "/tmp";
        std::string tmpl = (base / "phonesim-XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            return false;
        socket_dir_ = tmpl;
    }
    socket_ = socket_dir_ / "control";

    std::vector<std::string> argv_s = {PhonesimProgram().string(), "--state", state_file.string(),
                                       "--control", socket_.string()};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_s)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        pid_ = -1;
        return false;
    }
    stdout_fd_ = out[0];
    status_ = -1;
    auto deadline = Clock::now() + std::chrono::seconds(10);
    if (!ReadLine(stdout_fd_, deadline, &device_) || device_.empty()) {
        Stop();
        return false;
    }
    bool registering = false;
    for (const auto& a : args)
        registering |= a == "--register";
    if (registering && !ReadLine(stdout_fd_, deadline, &alias_)) {
        Stop();
        return false;
    }
    // The control socket is open before the path is printed.
    return true;
}

nlohmann::json PhonesimProcess::ReadState() const {
    // The phone writes its changes a moment later: ask for them now.
    if (pid_ > 0)
        Control("save");
    std::string text;
    if (!platform::ReadFileBytes(state_file_, &text))
        return nlohmann::json();
    return nlohmann::json::parse(text, nullptr, false);
}

bool PhonesimProcess::WaitForState(const std::function<bool(const nlohmann::json&)>& pred,
                                   int timeout_ms) const {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (true) {
        nlohmann::json state = ReadState();
        if (!state.is_discarded() && !state.is_null() && pred(state))
            return true;
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string PhonesimProcess::Control(const std::string& line) const {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return "";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socket_.c_str(), sizeof addr.sun_path - 1);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        std::string msg = line + "\n";
        if (send(fd, msg.data(), msg.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(msg.size())) {
            auto deadline = Clock::now() + std::chrono::seconds(10);
            if (!ReadLine(fd, deadline, &answer))
                answer.clear();
        }
    }
    close(fd);
    return answer;
}

int PhonesimProcess::AddIncoming(const std::string& storage, const std::string& pdu_hex,
                                 bool notify) const {
    std::string answer = Control(std::string(notify ? "cmti " : "store ") +
                                 (storage.empty() ? "-" : storage) + " " + pdu_hex);
    if (answer.rfind("OK ", 0) != 0)
        return 0;
    return std::atoi(answer.c_str() + 3);
}

bool PhonesimProcess::Reload() const {
    return Control("reload") == "OK";
}

bool PhonesimProcess::Running() {
    return pid_ > 0 && Wait(0) == -1;
}

int PhonesimProcess::Wait(int timeout_ms) {
    if (pid_ <= 0)
        return status_;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (true) {
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            pid_ = -1;
            if (stdout_fd_ >= 0)
                close(stdout_fd_);
            stdout_fd_ = -1;
            return status_;
        }
        if (Clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int PhonesimProcess::Stop() {
    if (pid_ <= 0)
        return status_;
    kill(pid_, SIGTERM);
    if (Wait(5000) == -1 && pid_ > 0) {
        kill(pid_, SIGKILL);
        Wait(5000);
    }
    return status_;
}

}  // namespace phonesim::testing
