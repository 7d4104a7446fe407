// "comm.log": one UTF-16LE line per step of the phone link, appended.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

namespace cordis {

// The size at which "comm.log" is moved aside to "comm.log.1" (replacing the
// one before) and a new log begins: HKEY_CURRENT_USER\Software\Tarnwell
// Skyvane pro\Cordis, DWORD "LogLimitKB" (0: never), else this default.
inline constexpr uint64_t kDefaultLogLimit = 8ull << 20;
inline constexpr const char* kLogLimitKey = "Software\\Tarnwell Skyvane pro\\Cordis";
inline constexpr const char* kLogLimitValue = "LogLimitKB";

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

    // The size limit in bytes (0: the log grows without limit). A log at the
    // default place reads it from the registry on first use; any other log
    // keeps the default until this is called.
    void SetSizeLimit(uint64_t bytes);

    const std::filesystem::path& file();

  private:
    std::u16string Stamp();
    void Resolve();   // with mutex_ held
    void WriteOut();  // with mutex_ held
    // Opens the log for appending, moving a full one aside first; -1 when it
    // cannot be opened. The descriptor holds an exclusive lock.
    int OpenForAppend(size_t bytes);

    std::string pending_;

    std::mutex mutex_;
    std::filesystem::path file_;
    bool resolved_ = false;
    uint64_t limit_ = kDefaultLogLimit;
    time_t stamp_time_ = -1;
    std::u16string stamp_;
};

// The line as written to the file (without the time stamp): for tests.
std::string EncodeLogLine(std::u16string_view stamp, std::u16string_view text);

}  // namespace cordis
