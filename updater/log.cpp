#include "updater/log.h"

#include <cstdio>
#include <ctime>

#include "platform/text.h"

namespace updater {

std::u16string Log::FormatLine(int hour, int minute, int second, std::u16string_view text) {
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%i:%i:%i: ", hour, minute, second);
    std::u16string line = platform::WidenBytes(stamp);
    line += text;
    line += u" \n";
    return line;
}

void Log::Write(std::string_view text) {
    Write(platform::WidenBytes(text));
}

void Log::Write(std::u16string_view text) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::u16string line = FormatLine(local.tm_hour, local.tm_min, local.tm_sec, text);
    std::string bytes;
    bytes.reserve(line.size() * 2);
    for (char16_t c : line) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (FILE* f = std::fopen(file_.c_str(), "ab")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

void Log::Delete() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::error_code ec;
    std::filesystem::remove(file_, ec);
}

}  // namespace updater
