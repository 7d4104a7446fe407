// "comm.log": one UTF-16LE line per step of the phone link, appended.
#pragma once

#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

namespace cordis {

class CommLog {
  public:
    // An empty path means DevicePath("\\comm.log"), resolved on first use.
    explicit CommLog(std::filesystem::path file = {});

    // Appends "<local date and time>: <text>\n" in UTF-16LE without a byte
    // order mark. The file is opened and closed for every line, so another
    // program may move or delete it at any time; a line that cannot be
    // written is dropped.
    void Write(std::u16string_view text);

    const std::filesystem::path& file();

  private:
    std::u16string Stamp();

    std::mutex mutex_;
    std::filesystem::path file_;
    bool resolved_ = false;
    time_t stamp_time_ = -1;
    std::u16string stamp_;
};

// The line as written to the file (without the time stamp): for tests.
std::string EncodeLogLine(std::u16string_view stamp, std::u16string_view text);

}  // namespace cordis
