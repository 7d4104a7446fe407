#include "cordis/comm_log.h"

#include <fcntl.h>
#include <locale.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace cordis {

namespace {

// Date and time in the user's locale format ("%x %X" of LC_TIME).
std::u16string FormatLocalTime(time_t t) {
    static locale_t user_locale = [] {
        locale_t l = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
        if (l == static_cast<locale_t>(0))
            l = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
        return l;
    }();
    tm local;
    localtime_r(&t, &local);
    char buf[128];
    size_t n = user_locale != static_cast<locale_t>(0)
                   ? strftime_l(buf, sizeof buf, "%x %X", &local, user_locale)
                   : strftime(buf, sizeof buf, "%x %X", &local);
    return platform::FromUtf8(std::string_view(buf, n));
}

}  // namespace

std::string EncodeLogLine(std::u16string_view stamp, std::u16string_view text) {
    std::string out;
    out.reserve((stamp.size() + text.size() + 3) * 2);
    auto put = [&out](char16_t c) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    };
    for (char16_t c : stamp)
        put(c);
    put(u':');
    put(u' ');
    for (char16_t c : text)
        put(c);
    put(u'\n');
    return out;
}

CommLog::CommLog(std::filesystem::path file) : file_(std::move(file)), resolved_(!file_.empty()) {}

void CommLog::Resolve() {
    if (resolved_)
        return;
    file_ = platform::DevicePath("\\comm.log");
    resolved_ = true;
    if (auto kb = platform::Registry::Device().QueryDword(platform::Hive::CurrentUser, kLogLimitKey,
                                                          kLogLimitValue))
        limit_ = static_cast<uint64_t>(*kb) * 1024;
}

const std::filesystem::path& CommLog::file() {
    std::lock_guard<std::mutex> lock(mutex_);
    Resolve();
    return file_;
}

void CommLog::SetSizeLimit(uint64_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    Resolve();
    limit_ = bytes;
}

int CommLog::OpenForAppend(size_t bytes) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = open(file_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0)
            return -1;
        // Several programs log to the same file: the lock keeps one from
        // moving the log aside while another writes or moves it.
        flock(fd, LOCK_EX);
        struct stat held;
        if (limit_ == 0 || fstat(fd, &held) != 0 || held.st_size == 0 ||
            static_cast<uint64_t>(held.st_size) + bytes <= limit_)
            return fd;
        // Move it aside only if the name still leads to the file we hold:
        // another program may have done so meanwhile.
        struct stat named;
        if (stat(file_.c_str(), &named) == 0 && named.st_ino == held.st_ino &&
            named.st_dev == held.st_dev) {
            std::filesystem::path old = file_;
            old += ".1";
            if (rename(file_.c_str(), old.c_str()) != 0) {
                return fd;  // cannot move it: keep appending rather than lose lines
            }
        }
        close(fd);
    }
    return open(file_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

std::u16string CommLog::Stamp() {
    time_t now = time(nullptr);
    if (now != stamp_time_) {
        stamp_ = FormatLocalTime(now);
        stamp_time_ = now;
    }
    return stamp_;
}

void CommLog::Write(std::u16string_view text, bool defer) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ += EncodeLogLine(Stamp(), text);
    if (!defer)
        WriteOut();
}

void CommLog::Flush() {
    std::lock_guard<std::mutex> lock(mutex_);
    WriteOut();
}

void CommLog::WriteOut() {
    if (pending_.empty())
        return;
    Resolve();
    int fd = OpenForAppend(pending_.size());
    if (fd >= 0) {
        // One write: lines of two threads or two programs never interleave.
        ssize_t n = write(fd, pending_.data(), pending_.size());
        (void)n;
        close(fd);
    }
    pending_.clear();
}

}  // namespace cordis
