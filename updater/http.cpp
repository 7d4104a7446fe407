#include "updater/http.h"

#include <curl/curl.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace updater {

struct HttpClient::Transfer {
    bool headers_done = false;
    bool header_only = false;  // stop as soon as the headers are in
    long status = 0;
    int64_t length = -1;
    int64_t count = 0;
    FILE* out = nullptr;
    bool write_failed = false;
    const std::atomic<bool>* cancel = nullptr;
    std::atomic<int64_t>* received = nullptr;
    void* curl = nullptr;
    Limits limits;
    bool too_large = false;
    bool other_length = false;
};

namespace {

bool Cancelled(const std::atomic<bool>* cancel) {
    return cancel && cancel->load();
}

size_t OnHeader(char* data, size_t size, size_t n, void* user) {
    auto* t = static_cast<HttpClient::Transfer*>(user);
    size_t len = size * n;
    std::string_view line(data, len);
    if (line.rfind("HTTP/", 0) == 0) {
        // A new status line (after "100 Continue") starts the headers again.
        t->headers_done = false;
    } else if (line == "\r\n" || line == "\n") {
        t->headers_done = true;
        // The announced length of a file is judged before its body comes.
        long status = 0;
        curl_off_t length = -1;
        curl_easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_getinfo(t->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (status >= 200 && status < 300 && length >= 0) {
            if (t->limits.expected_length >= 0 && length != t->limits.expected_length) {
                t->other_length = true;
                return 0;
            }
            if (t->limits.max_bytes >= 0 && length > t->limits.max_bytes) {
                t->too_large = true;
                return 0;
            }
        }
    }
    return len;
}

size_t OnBody(char* data, size_t size, size_t n, void* user) {
    auto* t = static_cast<HttpClient::Transfer*>(user);
    size_t len = size * n;
    if (t->header_only || Cancelled(t->cancel))
        return 0;
    if (!t->out)
        return 0;
    if (t->limits.max_bytes >= 0 && t->count + static_cast<int64_t>(len) > t->limits.max_bytes) {
        t->too_large = true;
        return 0;
    }
    if (std::fwrite(data, 1, len, t->out) != len) {
        t->write_failed = true;
        return 0;
    }
    t->count += static_cast<int64_t>(len);
    if (t->received)
        t->received->store(t->count);
    return len;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<HttpClient::Transfer*>(user);
    return Cancelled(t->cancel) ? 1 : 0;
}

bool IsUnreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == '/';
}

}  // namespace

std::string HttpClient::Url(const std::string& object) const {
    size_t scheme_end = host_.find("://");
    std::string url = scheme_end == std::string::npos ? "http://" + host_ : host_;
    // The scheme is case-insensitive; written in lower case it is the one
    // the checks below compare with.
    for (size_t i = 0; scheme_end != std::string::npos && i < scheme_end; ++i) {
        if (url[i] >= 'A' && url[i] <= 'Z')
            url[i] = static_cast<char>(url[i] - 'A' + 'a');
    }
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : object) {
        if (IsUnreserved(c)) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += kHex[c >> 4];
            url += kHex[c & 15];
        }
    }
    return url;
}

HttpError HttpClient::Run(const std::string& object, Transfer* t, const Limits& limits) {
    static std::once_flag once;
    static CURLcode init_result = CURLE_OK;
    std::call_once(once, [] { init_result = curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (debug_)
        debug_->Delete();
    if (init_result != CURLE_OK)
        return HttpError::kNoSession;
    if (!ca_file_.empty() && ::access(ca_file_.c_str(), R_OK) != 0) {
        if (debug_)
            debug_->Write("can not read the certificate authorities " + ca_file_);
        return HttpError::kCaFile;
    }
    CURL* curl = curl_easy_init();
    if (!curl)
        return HttpError::kNoSession;
    t->curl = curl;
    t->limits = limits;

    std::string url = Url(object);
    if (debug_)
        debug_->Write("GET " + url);
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Accept: */*");
    headers = curl_slist_append(headers, "Pragma: no-cache");
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "updater");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    const bool https = url.rfind("https://", 0) == 0;
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, https ? "https" : "http,https");
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!ca_file_.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, ca_file_.c_str());
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    // A server that stops sending for a minute has failed.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
    if (limits.deadline_s > 0)
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, limits.deadline_s);
    if (limits.max_bytes >= 0)
        curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                         static_cast<curl_off_t>(limits.max_bytes));
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, t);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, t);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, t);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);

    CURLcode rc = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &t->status);
    curl_off_t length = -1;
    if (curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK) {
        t->length = length;
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);

    if (debug_) {
        debug_->Write("Result: " + std::to_string(static_cast<int>(rc)) + " " +
                      curl_easy_strerror(rc) + ", status " + std::to_string(t->status) +
                      ", length " + std::to_string(t->length) + ", received " +
                      std::to_string(t->count));
    }
    if (Cancelled(t->cancel))
        return HttpError::kCancelled;
    if (t->other_length)
        return HttpError::kOtherLength;
    if (t->too_large || rc == CURLE_FILESIZE_EXCEEDED)
        return HttpError::kTooLarge;
    switch (rc) {
        case CURLE_OPERATION_TIMEDOUT:
            return HttpError::kTimedOut;
        case CURLE_SSL_CACERT_BADFILE:
            return HttpError::kCaFile;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
            return HttpError::kUntrusted;
        case CURLE_UNSUPPORTED_PROTOCOL:
            // The first address was ours; only a redirect can name another scheme.
            if (t->status >= 300 && t->status < 400)
                return https ? HttpError::kInsecureRedirect : HttpError::kNoLength;
            break;
        default:
            break;
    }
    if (!t->headers_done) {
        switch (rc) {
            case CURLE_URL_MALFORMAT:
            case CURLE_UNSUPPORTED_PROTOCOL:
                return HttpError::kNoRequest;
            case CURLE_COULDNT_RESOLVE_HOST:
            case CURLE_COULDNT_RESOLVE_PROXY:
            case CURLE_COULDNT_CONNECT:
                return HttpError::kNoConnect;
            default:
                return HttpError::kSendFailed;
        }
    }
    // An error page is no file, whatever its length; nor is a redirect that
    // was not followed.
    if (t->status >= 300 || t->length < 0)
        return HttpError::kNoLength;
    if (t->header_only)
        return HttpError::kOk;
    if (t->write_failed)
        return HttpError::kWriteFailed;
    if (rc != CURLE_OK || t->count != t->length)
        return HttpError::kShort;
    return HttpError::kOk;
}

int64_t HttpClient::QueryLength(const std::string& object, HttpError* error) {
    Transfer t;
    t.header_only = true;
    *error = Run(object, &t, Limits());
    return *error == HttpError::kOk ? t.length : -1;
}

HttpError HttpClient::Download(const std::string& object, const std::filesystem::path& file,
                               const std::atomic<bool>* cancel, std::atomic<int64_t>* received,
                               const Limits& limits) {
    Transfer t;
    t.cancel = cancel;
    t.received = received;
    if (received)
        received->store(0);
    t.out = std::fopen(file.c_str(), "wb");
    if (!t.out) {
        if (debug_)
            debug_->Delete();
        return HttpError::kWriteFailed;
    }
    HttpError error = Run(object, &t, limits);
    if (std::fclose(t.out) != 0 && error == HttpError::kOk)
        error = HttpError::kWriteFailed;
    if (error != HttpError::kOk) {
        std::error_code ec;
        std::filesystem::remove(file, ec);
    }
    return error;
}

}  // namespace updater
