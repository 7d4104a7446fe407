// The phone's end of a pseudo-terminal pair.
#pragma once

#include <string>

namespace phonesim {

class Pty {
  public:
    Pty() = default;
    ~Pty() { Close(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // Creates the pair, sets the terminal side to raw mode (no echo, no line
    // editing, no character translation, 8 bits, 9600 baud) and keeps the
    // terminal side open so that the device stays usable while no program has
    // it open. The phone's side is non-blocking.
    bool Open(std::string* error);
    void Close();

    int fd() const { return master_; }
    // Bytes the phone sent that the terminal side has not read yet.
    int Unread() const;
    const std::string& device() const { return device_; }
    bool is_open() const { return master_ >= 0; }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string device_;
};

}  // namespace phonesim
