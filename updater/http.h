// HTTP/1.0 GET against the update server, through libcurl.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include "updater/log.h"

namespace updater {

enum class HttpError {
    kOk,
    kNoSession,    // the client library could not be set up
    kNoConnect,    // the server could not be reached
    kNoRequest,    // the request could not be made (bad address)
    kSendFailed,   // the request failed before an answer came
    kNoLength,     // no content length, or the server has no such file
    kShort,        // the body ended before the announced length
    kWriteFailed,  // the local file could not be written
    kCancelled,
    kUntrusted,         // https: the server's certificate did not verify
    kInsecureRedirect,  // https: the server sent us on to a plain http address
    kTimedOut,          // the transfer did not end within its deadline
    kTooLarge,          // the body is larger than the file may be
    kOtherLength,       // the announced length is not the expected one
    kCaFile,            // the file of certificate authorities can not be read
};

// What one download may take.
struct Limits {
    int64_t max_bytes = -1;        // the body may not be longer (-1: no cap)
    int64_t expected_length = -1;  // the announced length must be this (-1: any)
    long deadline_s = 0;           // the whole transfer ends after this (0: none)
};

class HttpClient {
  public:
    // `host` is a host name ("example.org", "127.0.0.1:8080") or a base URL
    // ("https://example.org"). `debug` is "\t.log", deleted at every request.
    // Addresses given with "https://" are fetched with certificate and host
    // name verification, always; `ca_file` (when not empty) replaces the
    // system's certificate authorities. Redirects are followed, but never from
    // https to http.
    HttpClient(std::string host, Log* debug, std::string ca_file = {})
        : host_(std::move(host)), debug_(debug), ca_file_(std::move(ca_file)) {}

    const std::string& host() const { return host_; }
    std::string Url(const std::string& object) const;

    // Asks for the content length of `object` (a path such as
    // "/auto_update/app/file"): the length, or -1 and the error.
    int64_t QueryLength(const std::string& object, HttpError* error);

    // Fetches `object` into `file`. `received` counts the bytes of the body
    // written so far; `cancel` stops the transfer. A body shorter than its
    // announced length is a failure, and so is one beyond `limits` (the
    // transfer stops there). A failed download leaves no file behind.
    HttpError Download(const std::string& object, const std::filesystem::path& file,
                       const std::atomic<bool>* cancel, std::atomic<int64_t>* received,
                       const Limits& limits = {});

    // The state of one transfer, shared with the library's callbacks.
    struct Transfer;

  private:
    HttpError Run(const std::string& object, Transfer* t, const Limits& limits);

    std::string host_;
    Log* debug_;
    std::string ca_file_;
};

}  // namespace updater
