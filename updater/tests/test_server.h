// A small HTTP/1.0 server on the loopback address for the updater's tests:
// serves fixed answers per path, and can leave out the content length, cut
// a body short or send it slowly.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace updater_test {

struct Answer {
    int status = 200;
    std::string body;
    bool send_length = true;
    // Sends only this many bytes of the body while announcing all of it.
    size_t cut_at = std::string::npos;
    // Pause after every 1024 bytes of the body.
    int chunk_delay_ms = 0;
    // More header lines ("Location: ...\r\n").
    std::string headers{};
};

// A self-signed certificate for 127.0.0.1 and its private key, in PEM.
bool MakeSelfSignedCertificate(std::string* cert_pem, std::string* key_pem);

class TestServer {
  public:
    TestServer();  // listens on 127.0.0.1 at a free port
    ~TestServer();

    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    void Set(const std::string& path, Answer answer);
    void SetFile(const std::string& path, const std::string& body) { Set(path, Answer{200, body}); }
    std::vector<std::string> Requests();  // the request lines received so far
    // Speaks https with this certificate from now on.
    bool EnableTls(const std::string& cert_pem, const std::string& key_pem);
    int tls_handshakes_failed() const { return tls_failed_; }

  private:
    void AcceptLoop();
    void Serve(int fd);

    void* tls_ = nullptr;  // SSL_CTX
    std::atomic<int> tls_failed_{0};
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::map<std::string, Answer> answers_;
    std::vector<std::string> requests_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

}  // namespace updater_test
