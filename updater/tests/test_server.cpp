#include "updater/tests/test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace updater_test {

TestServer::TestServer() {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listen_fd_, 16);
    socklen_t len = sizeof addr;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

TestServer::~TestServer() {
    stop_ = true;
    acceptor_.join();
    for (std::thread& t : workers_)
        t.join();
    ::close(listen_fd_);
}

void TestServer::Set(const std::string& path, Answer answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_[path] = std::move(answer);
}

std::vector<std::string> TestServer::Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void TestServer::AcceptLoop() {
    while (!stop_) {
        pollfd p{listen_fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard<std::mutex> lock(mutex_);
        workers_.emplace_back([this, fd] { Serve(fd); });
    }
}

namespace {

bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

void TestServer::Serve(int fd) {
    std::string request;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (request.find("\r\n\r\n") == std::string::npos && !stop_ &&
           std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        char buf[1024];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        request.append(buf, static_cast<size_t>(n));
    }
    std::string line = request.substr(0, request.find("\r\n"));
    std::string path;
    size_t sp1 = line.find(' ');
    size_t sp2 = sp1 == std::string::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp2 != std::string::npos)
        path = line.substr(sp1 + 1, sp2 - sp1 - 1);
    Answer answer;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(line);
        auto it = answers_.find(path);
        if (it != answers_.end()) {
            answer = it->second;
        } else {
            answer.status = 404;
            answer.body = "<!DOCTYPE html>\n<html><body>Not found</body></html>\n";
        }
    }
    std::string head = "HTTP/1.0 " + std::to_string(answer.status) +
                       (answer.status == 200 ? " OK" : " Error") +
                       "\r\nContent-Type: application/octet-stream\r\n";
    if (answer.send_length)
        head += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
    head += "\r\n";
    std::string body = answer.body.substr(0, answer.cut_at);
    if (SendAll(fd, head.data(), head.size())) {
        for (size_t pos = 0; pos < body.size() && !stop_; pos += 1024) {
            size_t n = std::min<size_t>(1024, body.size() - pos);
            if (!SendAll(fd, body.data() + pos, n))
                break;
            if (answer.chunk_delay_ms > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(answer.chunk_delay_ms));
            }
        }
    }
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

}  // namespace updater_test
