#include "tools/phonesim/control.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace phonesim {
namespace {
constexpr size_t kMaxLine = 8192;
}

ControlServer::~ControlServer() {
    for (auto& [fd, buf] : clients_)
        close(fd);
    if (listen_fd_ >= 0) {
        close(listen_fd_);
        unlink(path_.c_str());
    }
}

bool ControlServer::Open(const std::filesystem::path& path, std::string* error) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.native().size() >= sizeof addr.sun_path) {
        *error = "control socket path too long";
        return false;
    }
    std::strcpy(addr.sun_path, path.c_str());
    unlink(path.c_str());
    listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listen_fd_, 8) != 0) {
        *error = "control socket " + path.string() + ": " + strerror(errno);
        if (listen_fd_ >= 0)
            close(listen_fd_);
        listen_fd_ = -1;
        return false;
    }
    path_ = path;
    return true;
}

void ControlServer::AddPollFds(std::vector<pollfd>* fds) const {
    if (listen_fd_ < 0)
        return;
    fds->push_back({listen_fd_, POLLIN, 0});
    for (const auto& [fd, buf] : clients_)
        fds->push_back({fd, POLLIN, 0});
}

void ControlServer::Drop(int fd) {
    close(fd);
    clients_.erase(fd);
}

void ControlServer::Service(const std::vector<pollfd>& fds, const Handler& handler) {
    for (const pollfd& p : fds) {
        if (p.revents == 0)
            continue;
        if (p.fd == listen_fd_) {
            int c = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0)
                clients_[c];
            continue;
        }
        auto it = clients_.find(p.fd);
        if (it == clients_.end())
            continue;
        char buf[4096];
        ssize_t n = read(p.fd, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            Drop(p.fd);
            continue;
        }
        std::string& pending = it->second;
        pending.append(buf, static_cast<size_t>(n));
        bool dropped = false;
        size_t nl;
        while (!dropped && (nl = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            std::string answer = handler(line) + "\n";
            if (send(p.fd, answer.data(), answer.size(), MSG_NOSIGNAL) !=
                static_cast<ssize_t>(answer.size())) {
                Drop(p.fd);
                dropped = true;
            }
        }
        if (!dropped && pending.size() > kMaxLine)
            Drop(p.fd);
    }
}

}  // namespace phonesim
