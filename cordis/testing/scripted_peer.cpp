#include "cordis/testing/scripted_peer.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace cordis::testing {

namespace {

std::string Printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 32 || c >= 127) {
            const char* hex = "0123456789ABCDEF";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

ScriptedPeer::ScriptedPeer() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        master_ = slave_ = -1;
        error_ = "openpty failed";
        return;
    }
    // Raw from the start, so that nothing the peer sends is echoed or
    // translated before the client configures the port. The peer keeps its
    // own descriptor of the terminal side open, so the line never hangs up
    // between two opens by the client.
    termios tio;
    if (tcgetattr(slave_, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave_, TCSANOW, &tio);
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    device_ = name;
    thread_ = std::thread([this] { Run(); });
}

ScriptedPeer::~ScriptedPeer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        changed_.notify_all();
    }
    if (thread_.joinable())
        thread_.join();
    if (master_ >= 0)
        close(master_);
    if (slave_ >= 0)
        close(slave_);
}

ScriptedPeer& ScriptedPeer::Add(Step step) {
    std::lock_guard<std::mutex> lock(mutex_);
    steps_.push_back(std::move(step));
    changed_.notify_all();
    return *this;
}

ScriptedPeer& ScriptedPeer::Expect(std::string bytes) {
    return Add({Step::kExpect, std::move(bytes)});
}
ScriptedPeer& ScriptedPeer::Send(std::string bytes) {
    return Add({Step::kSend, std::move(bytes)});
}
ScriptedPeer& ScriptedPeer::SendPaced(std::string bytes, int baud) {
    return Add({Step::kSendPaced, std::move(bytes), 0, baud});
}
ScriptedPeer& ScriptedPeer::Swallow(size_t count) {
    return Add({Step::kSwallow, {}, count});
}
ScriptedPeer& ScriptedPeer::Hangup() {
    return Add({Step::kHangup, {}});
}

bool ScriptedPeer::Done(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    bool idle = changed_.wait_for(lock, timeout,
                                  [this] { return !error_.empty() || (steps_.empty() && !busy_); });
    if (!idle && error_.empty())
        error_ = "script not finished in time";
    return error_.empty();
}

std::string ScriptedPeer::error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

std::string ScriptedPeer::received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

void ScriptedPeer::Fail(std::string why) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (error_.empty())
        error_ = std::move(why);
    steps_.clear();
    changed_.notify_all();
}

bool ScriptedPeer::ReadExactly(size_t count, std::string* out) {
    auto deadline = std::chrono::steady_clock::now() + step_timeout_;
    out->clear();
    while (out->size() < count) {
        char buf[256];
        size_t want = std::min(sizeof buf, count - out->size());
        ssize_t n = master_ >= 0 ? read(master_, buf, want) : -1;
        if (n > 0) {
            out->append(buf, static_cast<size_t>(n));
            std::lock_guard<std::mutex> lock(mutex_);
            received_.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // EIO: the client has no descriptor of its side open right now.
        if (n < 0 && errno != EAGAIN && errno != EIO)
            return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_)
                return false;
        }
        pollfd p = {master_, POLLIN, 0};
        // Short slices, so that the destructor is never kept waiting long.
        poll(&p, 1, static_cast<int>(std::min<long>(left.count(), 50)));
    }
    return true;
}

bool ScriptedPeer::WriteAll(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = master_ >= 0 ? write(master_, bytes.data() + done, bytes.size() - done) : -1;
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            return false;
        pollfd p = {master_, POLLOUT, 0};
        poll(&p, 1, 50);
    }
    return true;
}

void ScriptedPeer::Run() {
    for (;;) {
        Step step;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            busy_ = false;
            changed_.notify_all();
            changed_.wait(lock, [this] { return stop_ || !steps_.empty(); });
            if (stop_)
                return;
            step = std::move(steps_.front());
            steps_.pop_front();
            busy_ = true;
        }
        std::string got;
        switch (step.kind) {
            case Step::kExpect:
                if (!ReadExactly(step.bytes.size(), &got) || got != step.bytes) {
                    Fail("expected \"" + Printable(step.bytes) + "\", got \"" + Printable(got) +
                         "\"");
                }
                break;
            case Step::kSwallow:
                if (!ReadExactly(step.count, &got)) {
                    Fail("expected " + std::to_string(step.count) + " bytes, got \"" +
                         Printable(got) + "\"");
                }
                break;
            case Step::kSend:
                if (!WriteAll(step.bytes))
                    Fail("write failed");
                break;
            case Step::kSendPaced: {
                // Chunks of about 1 ms of line time, each handed over when
                // the line would have delivered its last byte.
                auto start = std::chrono::steady_clock::now();
                size_t chunk = std::max<size_t>(1, static_cast<size_t>(step.baud) / 10000);
                for (size_t at = 0; at < step.bytes.size(); at += chunk) {
                    size_t end = std::min(step.bytes.size(), at + chunk);
                    auto due = start + std::chrono::microseconds(static_cast<long long>(end) *
                                                                 10'000'000 / step.baud);
                    std::this_thread::sleep_until(due);
                    if (!WriteAll(step.bytes.substr(at, chunk))) {
                        Fail("write failed");
                        break;
                    }
                }
                break;
            }
            case Step::kHangup:
                if (master_ >= 0)
                    close(master_);
                if (slave_ >= 0)
                    close(slave_);
                master_ = slave_ = -1;
                break;
        }
    }
}

}  // namespace cordis::testing
