// The updater's logs "\updater.log" and "\t.log": UTF-16LE text without a
// byte-order mark, one line "%i:%i:%i: %s \n" (local hour, minute, second)
// per message.
#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

namespace updater {

class Log {
  public:
    explicit Log(std::filesystem::path file) : file_(std::move(file)) {}

    // Appends one line; the file is created when missing. Byte texts are
    // widened byte by byte, as the handheld does with its 8-bit file texts.
    void Write(std::string_view text);
    void Write(std::u16string_view text);
    void Delete();
    const std::filesystem::path& file() const { return file_; }

    // The line as it is written, without the encoding.
    static std::u16string FormatLine(int hour, int minute, int second, std::u16string_view text);

  private:
    std::filesystem::path file_;
    std::mutex mutex_;
};

}  // namespace updater
