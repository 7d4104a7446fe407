// The running phone: the pseudo-terminal, the state file, the command
// interpreter, paced output, transcript, control socket and signals.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/phonesim/control.h"
#include "tools/phonesim/modem.h"
#include "tools/phonesim/options.h"
#include "tools/phonesim/output_queue.h"
#include "tools/phonesim/pty.h"
#include "tools/phonesim/state.h"
#include "tools/phonesim/transcript.h"

namespace phonesim {

class Phone : public ModemHost {
  public:
    explicit Phone(Options options);
    ~Phone() override;

    // Loads the state, opens the pseudo-terminal and prints its path. Returns
    // false with a message on stderr.
    bool Start();
    // Runs until a signal, --exit-after or a dropped line. Returns the exit code.
    int Run();

    // ModemHost
    void Answer(std::string bytes, int delay_ms) override;
    void Echo(std::string bytes) override;
    void DropLine() override;
    void StateChanged() override { dirty_ = true; }

  private:
    bool LoadStateFile(std::string* error);
    void RebuildFaults();
    // Writes the state file when it changed, at most every kSaveIntervalMs
    // unless `now`: a synchronisation that reads hundreds of messages must not
    // rewrite and fsync the whole file for each one.
    void SaveIfDirty(bool now = false);
    // Milliseconds until a pending write is due; -1 when none is pending.
    int64_t SaveDueInMs() const;
    void WriteOutput();
    // Before the line goes away: lets the terminal read what was sent, for up
    // to two seconds.
    void DrainLine();
    void ReadInput();
    void FireTimedFaults();
    std::string HandleControl(const std::string& line);
    bool Register();
    void Unregister();
    int64_t ElapsedMs() const;

    Options options_;
    State state_;
    Faults faults_;
    std::unique_ptr<Modem> modem_;
    Pty pty_;
    OutputQueue output_;
    Transcript transcript_;
    ControlServer control_;
    int signal_fd_ = -1;
    int64_t start_us_ = 0;
    bool dirty_ = false;
    int64_t last_save_us_ = 0;
    bool drop_ = false;
    bool blocked_write_ = false;
    std::vector<bool> timed_fired_;
    std::string alias_;
    std::string modem_key_;
};

int64_t MonotonicUs();

// The shortest time between two writes of the state file.
inline constexpr int64_t kSaveIntervalMs = 100;

}  // namespace phonesim
