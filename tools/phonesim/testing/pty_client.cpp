#include "tools/phonesim/testing/pty_client.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace phonesim::testing {
namespace {

using Clock = std::chrono::steady_clock;

bool EndsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

int MsLeft(Clock::time_point deadline) {
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return ms < 0 ? 0 : static_cast<int>(ms);
}

}  // namespace

bool PtyClient::Open(const std::string& device) {
    Close();
    fd_ = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0)
        return false;
    termios tio{};
    if (tcgetattr(fd_, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd_, TCSANOW, &tio);
    }
    return true;
}

void PtyClient::Close() {
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

bool PtyClient::Write(std::string_view bytes) {
    size_t done = 0;
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (done < bytes.size()) {
        ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (MsLeft(deadline) == 0)
            return false;
        pollfd p{fd_, POLLOUT, 0};
        poll(&p, 1, MsLeft(deadline));
    }
    return true;
}

std::string PtyClient::ReadUntil(std::string_view suffix, int timeout_ms) {
    std::string data;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!EndsWith(data, suffix)) {
        pollfd p{fd_, POLLIN, 0};
        int left = MsLeft(deadline);
        if (left == 0)
            break;
        if (poll(&p, 1, left) <= 0)
            continue;
        char c;
        ssize_t n = read(fd_, &c, 1);  // one byte at a time: never read past the suffix
        if (n == 1)
            data.push_back(c);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            break;
    }
    return data;
}

bool PtyClient::IsComplete(std::string_view d) {
    if (EndsWith(d, "\r\n> "))
        return true;
    if (!EndsWith(d, "\r\n"))
        return false;
    std::string_view body = d.substr(0, d.size() - 2);
    size_t start = body.rfind("\r\n");
    std::string_view last = start == std::string_view::npos ? body : body.substr(start + 2);
    return last == "OK" || last == "ERROR" || last == "NO CARRIER" ||
           last.rfind("+CME ERROR:", 0) == 0 || last.rfind("+CMS ERROR:", 0) == 0;
}

std::string PtyClient::ReadAnswer(int timeout_ms) {
    std::string data;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!IsComplete(data)) {
        pollfd p{fd_, POLLIN, 0};
        int left = MsLeft(deadline);
        if (left == 0)
            break;
        if (poll(&p, 1, left) <= 0)
            continue;
        char c;
        ssize_t n = read(fd_, &c, 1);
        if (n == 1)
            data.push_back(c);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            break;
    }
    return data;
}

std::string PtyClient::ReadFor(int ms) {
    std::string data;
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (true) {
        int left = MsLeft(deadline);
        if (left == 0)
            break;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, left) <= 0)
            continue;
        char buf[512];
        ssize_t n = read(fd_, buf, sizeof buf);
        if (n > 0)
            data.append(buf, static_cast<size_t>(n));
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            break;
    }
    return data;
}

std::string PtyClient::Command(const std::string& line, int timeout_ms) {
    if (!Write(line + "\r"))
        return "";
    return ReadAnswer(timeout_ms);
}

}  // namespace phonesim::testing
