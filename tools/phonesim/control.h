// Control commands on a Unix socket: one command per line, one answer line
// each ("OK ..." or "ERROR ...").
#pragma once

#include <poll.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace phonesim {

class ControlServer {
  public:
    using Handler = std::function<std::string(const std::string& line)>;

    ~ControlServer();
    bool Open(const std::filesystem::path& path, std::string* error);
    bool is_open() const { return listen_fd_ >= 0; }

    // Adds the descriptors to poll for.
    void AddPollFds(std::vector<pollfd>* fds) const;
    // Handles what the poll found ready.
    void Service(const std::vector<pollfd>& fds, const Handler& handler);

  private:
    void Drop(int fd);
    int listen_fd_ = -1;
    std::filesystem::path path_;
    std::map<int, std::string> clients_;  // fd -> partial line
};

}  // namespace phonesim
