// A byte-scripted peer on a pseudo-terminal, for tests of code that talks to
// a phone over a serial port. The code under test opens device(); the peer
// works through its script on its own thread: Expect waits for exactly the
// given bytes, Send writes bytes. Steps may be added before or while the
// script runs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace cordis::testing {

class ScriptedPeer {
  public:
    ScriptedPeer();
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    // The device path of the pseudo-terminal's terminal side.
    const std::string& device() const { return device_; }
    bool ok() const { return master_ >= 0; }

    // Waits (up to the step time-out) until the next bytes from the client
    // are exactly `bytes`; a mismatch or time-out stops the script.
    ScriptedPeer& Expect(std::string bytes);
    // Writes `bytes` to the client.
    ScriptedPeer& Send(std::string bytes);
    // Writes `bytes` paced as a line of `baud` bits per second (10 bits a byte).
    ScriptedPeer& SendPaced(std::string bytes, int baud);
    // Waits until the client wrote `count` bytes more (whatever they are).
    ScriptedPeer& Swallow(size_t count);
    // Closes the peer's side: the client's port hangs up.
    ScriptedPeer& Hangup();

    // Waits until every step so far was carried out. False on a mismatch,
    // a step time-out or when `timeout` passes first; error() tells why.
    bool Done(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    std::string error() const;
    // Every byte the client wrote, in order.
    std::string received() const;

    // Time-out of one Expect or Swallow step.
    void set_step_timeout(std::chrono::milliseconds t) { step_timeout_ = t; }

  private:
    struct Step {
        enum Kind { kExpect, kSend, kSendPaced, kSwallow, kHangup } kind;
        std::string bytes;
        size_t count = 0;
        int baud = 0;
    };
    ScriptedPeer& Add(Step step);
    void Run();
    bool ReadExactly(size_t count, std::string* out);
    bool WriteAll(const std::string& bytes);
    void Fail(std::string why);

    int master_ = -1;
    int slave_ = -1;
    std::string device_;
    std::chrono::milliseconds step_timeout_{std::chrono::seconds(20)};

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Step> steps_;
    bool busy_ = false;
    bool stop_ = false;
    std::string error_;
    std::string received_;
    std::thread thread_;
};

}  // namespace cordis::testing
