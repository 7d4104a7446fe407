// The phone's output, released at its time and paced to the line speed.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

namespace phonesim {

class OutputQueue {
  public:
    // `baud` 0: as fast as the terminal takes it; else baud / 10 bytes per
    // second.
    explicit OutputQueue(int baud = 0) { SetBaud(baud); }
    void SetBaud(int baud);

    // Times are microseconds of a monotonic clock.
    // An answer goes out after everything queued so far, not before now + delay.
    void Answer(std::string bytes, int64_t now_us, int64_t delay_us);
    // An echo goes out at once, ahead of answers that wait for their time.
    void Echo(std::string bytes, int64_t now_us);

    bool empty() const { return items_.empty(); }
    // When the next byte may go out (-1: nothing queued).
    int64_t NextTime(int64_t now_us) const;
    // The bytes that may go out now; call Consume with what was written.
    std::string Ready(int64_t now_us) const;
    void Consume(size_t n, int64_t now_us);
    void Clear() { items_.clear(); }

  private:
    struct Item {
        std::string bytes;
        int64_t release_us;
    };
    std::deque<Item> items_;
    int64_t byte_us_ = 0;  // time per byte, 0 = unpaced
    int64_t next_byte_us_ = 0;
};

}  // namespace phonesim
