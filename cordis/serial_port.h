// The serial port of the phone: a terminal device in raw mode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct termios;

namespace cordis {

class WakeEvent;

struct LineSettings {
    int baud = 9600;
    int parity = 0;     // 1 odd, 2 even, 3 mark, 4 space, else none
    int byte_size = 8;  // 5 to 8
    int stop_bits = 0;  // 1 one and a half (two here), 2 two, else one
};

class SerialPort {
  public:
    enum class Io { Ok, Failed, Cancelled, TimedOut };

    SerialPort() = default;
    ~SerialPort() { Close(); }
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens a device for reading and writing and locks it exclusively
    // (flock), so a second opener fails as on a port without sharing. Bytes
    // left on the line by an earlier session are discarded.
    bool Open(const std::string& device);
    void Close();
    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // Raw mode with the given line settings; false when the port is not a
    // terminal or a setting is not supported.
    bool Configure(const LineSettings& settings);

    // Writes every byte, waiting while the output is full. Cancelled when
    // `cancel` is set first.
    Io WriteAll(std::string_view bytes, const WakeEvent& cancel);

    // Hands out the next byte of the port. The port is read in blocks into
    // this object's buffer, but bytes are consumed one at a time: whatever
    // is not taken stays for the next reader. Waits until a byte arrives,
    // the port fails (hang-up, error), `cancel` is set or, with a
    // `timeout_ms` of 0 or more, that time passes (TimedOut).
    Io ReadByte(uint8_t* byte, const WakeEvent& cancel, int timeout_ms = -1);

    // Bytes taken from the port that ReadByte hands out without waiting.
    bool HasBuffered() const { return begin_ < end_; }

    // The phone sends "> " as the SMS prompt; the answer ends at the '>'.
    // Marks the blank to be dropped when it is the next byte.
    void SkipBlankAfterPrompt() { skip_blank_ = true; }

  private:
    enum class Ready { Data, Failed, Cancelled, TimedOut };
    Ready WaitFor(short events, const WakeEvent& cancel, int timeout_ms = -1);

    int fd_ = -1;
    uint8_t buffer_[4096];
    size_t begin_ = 0;
    size_t end_ = 0;
    bool skip_blank_ = false;
};

// The termios speed for a baud rate; false when there is none.
bool BaudToSpeed(int baud, unsigned int* speed);

// Changes `tio` (as read from the device) to raw mode with `settings`; false
// when the baud rate or byte size is not supported.
bool ApplyLineSettings(const LineSettings& settings, termios* tio);

}  // namespace cordis
