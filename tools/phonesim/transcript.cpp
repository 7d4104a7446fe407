#include "tools/phonesim/transcript.h"

#include "platform/text.h"

namespace phonesim {
namespace {

// Bytes in one direction within this time join one line.
constexpr long kJoinNs = 200'000'000;

std::string Stamp(const timespec& ts) {
    std::tm local{};
    localtime_r(&ts.tv_sec, &local);
    char buf[64];
    size_t n = strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &local);
    snprintf(buf + n, sizeof buf - n, ".%03ld", ts.tv_nsec / 1'000'000);
    return buf;
}

}  // namespace

std::string EscapeBytes(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
        } else {
            char buf[8];
            snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

bool UnescapeBytes(std::string_view text, std::string* bytes) {
    bytes->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\') {
            bytes->push_back(c);
            continue;
        }
        if (i + 1 >= text.size())
            return false;
        char e = text[++i];
        if (e == '\\') {
            bytes->push_back('\\');
        } else if (e == 'r') {
            bytes->push_back('\r');
        } else if (e == 'n') {
            bytes->push_back('\n');
        } else if (e == 'x') {
            if (i + 2 >= text.size())
                return false;
            int hi = platform::HexDigitValue(text[i + 1]);
            int lo = platform::HexDigitValue(text[i + 2]);
            if (hi < 0 || lo < 0)
                return false;
            bytes->push_back(static_cast<char>(hi * 16 + lo));
            i += 2;
        } else {
            return false;
        }
    }
    return true;
}

Transcript::~Transcript() {
    Flush();
    if (file_)
        std::fclose(file_);
}

bool Transcript::Open(const std::filesystem::path& path) {
    file_ = std::fopen(path.c_str(), "ae");
    return file_ != nullptr;
}

void Transcript::Add(bool in, std::string_view bytes) {
    if (!file_ || bytes.empty())
        return;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    long gap = (now.tv_sec - pending_time_.tv_sec) * 1'000'000'000L +
               (now.tv_nsec - pending_time_.tv_nsec);
    if (!pending_.empty() && (pending_in_ != in || gap > kJoinNs))
        Flush();
    if (pending_.empty()) {
        pending_in_ = in;
        pending_stamp_ = Stamp(now);
    }
    pending_time_ = now;
    pending_.append(bytes);
}

void Transcript::Note(std::string_view text) {
    if (!file_)
        return;
    Flush();
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::fprintf(file_, "%s --- %.*s\n", Stamp(now).c_str(), static_cast<int>(text.size()),
                 text.data());
    std::fflush(file_);
}

void Transcript::Flush() {
    if (!file_ || pending_.empty())
        return;
    std::fprintf(file_, "%s %s %s\n", pending_stamp_.c_str(), pending_in_ ? "IN " : "OUT",
                 EscapeBytes(pending_).c_str());
    std::fflush(file_);
    pending_.clear();
}

bool ParseTranscript(std::string_view text, std::vector<TranscriptLine>* lines) {
    lines->clear();
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty())
            continue;
        size_t sp = line.find(' ');
        if (sp == std::string_view::npos || line.size() < sp + 4)
            return false;
        TranscriptLine tl;
        tl.stamp = std::string(line.substr(0, sp));
        std::string_view kind = line.substr(sp + 1, 3);
        std::string_view rest = line.size() > sp + 5 ? line.substr(sp + 5) : std::string_view();
        if (kind == "---") {
            tl.note = true;
            tl.bytes = std::string(rest);
        } else if (kind == "IN " || kind == "OUT") {
            tl.in = kind == "IN ";
            if (!UnescapeBytes(rest, &tl.bytes))
                return false;
        } else {
            return false;
        }
        lines->push_back(std::move(tl));
    }
    return true;
}

}  // namespace phonesim
