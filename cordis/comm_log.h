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
    //
    // With `defer`, the line (time-stamped now) waits in memory and goes to
    // the file with the next line written without `defer`, in one write; the
    // listener defers the lines of bytes it already holds, so a burst of
    // bytes costs one file access instead of one per byte. The file's content
    // and order are the same.
    void Write(std::u16string_view text, bool defer = false);
    // Writes the lines that wait.
    void Flush();

    const std::filesystem::path& file();

  private:
    std::u16string Stamp();
    void WriteOut();  // with mutex_ held

    std::string pending_;

    std::mutex mutex_;
    std::filesystem::path file_;
    bool resolved_ = false;
    time_t stamp_time_ = -1;
    std::u16string stamp_;
};

// The line as written to the file (without the time stamp): for tests.
std::string EncodeLogLine(std::u16string_view stamp, std::u16string_view text);

}  // namespace cordis
