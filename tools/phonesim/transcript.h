// A transcript of every byte in and out, with time stamps.
//
// One line per stretch of bytes in one direction:
//   2026-12-07T12:00:01.234 IN  AT+CGMI\r
//   2026-12-07T12:00:01.236 OUT AT+CGMI\r\r\nPhonesim\r\n\r\nOK\r\n
//   2026-12-07T12:00:02.000 --- line dropped
// Bytes are escaped: printable ASCII as is, "\\" for a backslash, "\r",
// "\n", and "\xHH" for every other byte. The time stamp is the local time of
// the first byte of the line.
#pragma once

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace phonesim {

std::string EscapeBytes(std::string_view bytes);
// False on a bad escape.
bool UnescapeBytes(std::string_view text, std::string* bytes);

class Transcript {
  public:
    ~Transcript();
    bool Open(const std::filesystem::path& path);
    bool is_open() const { return file_ != nullptr; }

    // Bytes received (`in`) or sent. Consecutive bytes in one direction
    // within a short time join one line.
    void Add(bool in, std::string_view bytes);
    // An event line ("--- text").
    void Note(std::string_view text);
    // Writes the pending line.
    void Flush();

  private:
    std::FILE* file_ = nullptr;
    bool pending_in_ = false;
    std::string pending_;
    std::string pending_stamp_;
    timespec pending_time_{};
};

// A transcript read back: each line's direction and bytes ("---" lines are
// kept with `note` set).
struct TranscriptLine {
    std::string stamp;
    bool in = false;
    bool note = false;
    std::string bytes;  // unescaped; the note's text for notes
};
bool ParseTranscript(std::string_view text, std::vector<TranscriptLine>* lines);

}  // namespace phonesim
