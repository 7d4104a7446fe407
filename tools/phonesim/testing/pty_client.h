// A minimal terminal for tests that talk to phonesim directly: opens the
// device in raw mode, writes bytes and reads with deadlines.
#pragma once

#include <string>
#include <string_view>

namespace phonesim::testing {

class PtyClient {
  public:
    PtyClient() = default;
    ~PtyClient() { Close(); }
    PtyClient(const PtyClient&) = delete;
    PtyClient& operator=(const PtyClient&) = delete;

    bool Open(const std::string& device);
    void Close();
    int fd() const { return fd_; }

    bool Write(std::string_view bytes);
    // Reads until what was read ends with `suffix`; returns all bytes read
    // (also when the deadline passed first).
    std::string ReadUntil(std::string_view suffix, int timeout_ms = 10000);
    // Reads until a final result ("OK", "ERROR", "+CME ERROR: n",
    // "+CMS ERROR: n", "NO CARRIER" with its line end) or the SMS prompt
    // "> " ends the data.
    std::string ReadAnswer(int timeout_ms = 10000);
    // Everything that arrives within `ms`.
    std::string ReadFor(int ms);
    // Writes `line` and a carriage return, then ReadAnswer.
    std::string Command(const std::string& line, int timeout_ms = 10000);

    // True when the data ends a verbose answer as ReadAnswer means it.
    static bool IsComplete(std::string_view data);

  private:
    int fd_ = -1;
};

}  // namespace phonesim::testing
