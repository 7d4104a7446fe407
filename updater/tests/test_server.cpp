#include "updater/tests/test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <functional>

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
    SSL_CTX_free(static_cast<SSL_CTX*>(tls_));
}

bool MakeSelfSignedCertificate(std::string* cert_pem, std::string* key_pem) {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    X509* cert = X509_new();
    bool ok = key && cert;
    if (ok) {
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        X509V3_CTX ctx;
        X509V3_set_ctx_nodb(&ctx);
        X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
        for (auto [nid, value] : {std::pair{NID_subject_alt_name, "IP:127.0.0.1"},
                                  std::pair{NID_basic_constraints, "critical,CA:TRUE"}}) {
            X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
            ok = ok && ext && X509_add_ext(cert, ext, -1) == 1;
            X509_EXTENSION_free(ext);
        }
        ok = ok && X509_sign(cert, key, EVP_sha256()) > 0;
    }
    auto text = [](BIO* bio) {
        char* data = nullptr;
        long len = BIO_get_mem_data(bio, &data);
        return std::string(data, len > 0 ? static_cast<size_t>(len) : 0);
    };
    if (ok) {
        BIO* c = BIO_new(BIO_s_mem());
        BIO* k = BIO_new(BIO_s_mem());
        ok = PEM_write_bio_X509(c, cert) == 1 &&
             PEM_write_bio_PrivateKey(k, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
        *cert_pem = text(c);
        *key_pem = text(k);
        BIO_free(c);
        BIO_free(k);
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    return ok;
}

bool TestServer::EnableTls(const std::string& cert_pem, const std::string& key_pem) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    BIO* c = BIO_new_mem_buf(cert_pem.data(), static_cast<int>(cert_pem.size()));
    BIO* k = BIO_new_mem_buf(key_pem.data(), static_cast<int>(key_pem.size()));
    X509* cert = PEM_read_bio_X509(c, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(k, nullptr, nullptr, nullptr);
    bool ok = ctx && cert && key && SSL_CTX_use_certificate(ctx, cert) == 1 &&
              SSL_CTX_use_PrivateKey(ctx, key) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(c);
    BIO_free(k);
    if (!ok) {
        SSL_CTX_free(ctx);
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    tls_ = ctx;
    return true;
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
    SSL* ssl = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (tls_)
            ssl = SSL_new(static_cast<SSL_CTX*>(tls_));
    }
    if (ssl) {
        timeval tv{30, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) != 1) {
            ++tls_failed_;
            SSL_free(ssl);
            ::close(fd);
            return;
        }
    }
    // Reads some bytes: > 0 read, 0 nothing yet, < 0 end.
    std::function<ssize_t(char*, size_t)> read_some = [&](char* buf, size_t size) -> ssize_t {
        if (ssl) {
            int n = SSL_read(ssl, buf, static_cast<int>(size));
            return n > 0 ? n : -1;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            return 0;
        ssize_t n = ::recv(fd, buf, size, 0);
        return n > 0 ? n : -1;
    };
    auto send_all = [&](const char* data, size_t size) {
        if (ssl)
            return size == 0 || SSL_write(ssl, data, static_cast<int>(size)) > 0;
        return SendAll(fd, data, size);
    };
    std::string request;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (request.find("\r\n\r\n") == std::string::npos && !stop_ &&
           std::chrono::steady_clock::now() < deadline) {
        char buf[1024];
        ssize_t n = read_some(buf, sizeof buf);
        if (n < 0)
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
                       "\r\nContent-Type: application/octet-stream\r\n" + answer.headers;
    if (answer.send_length)
        head += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
    head += "\r\n";
    std::string body = answer.body.substr(0, answer.cut_at);
    if (send_all(head.data(), head.size())) {
        for (size_t pos = 0; pos < body.size() && !stop_; pos += 1024) {
            size_t n = std::min<size_t>(1024, body.size() - pos);
            if (!send_all(body.data() + pos, n))
                break;
            if (answer.chunk_delay_ms > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(answer.chunk_delay_ms));
            }
        }
    }
    if (ssl) {
        SSL_shutdown(ssl);
        SSL_free(ssl);
    }
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

}  // namespace updater_test
