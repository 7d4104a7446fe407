// The SAR listener: the thread that carries out every job on the port.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cordis/wake_event.h"

namespace cordis {

class CommLog;
class SerialPort;

// What the caller of a job and the listener share, guarded by `mutex`;
// `changed` is notified on every change.
struct LinkState {
    std::mutex mutex;
    std::condition_variable changed;

    int thread_alive = 0;  // running listeners
    int sar_active = 0;    // set by StartSAR and by every job, cleared by StopSAR
    // 0 no job; each posted job adds 1 and the listener takes 1 away when the
    // job ends; a stop request adds 4, so any value above 2 means "stop".
    int job_signal = 0;
    int job_status = 0;          // SAR_PENDING, SAR_DONE or SAR_FAILED
    bool job_abandoned = false;  // the caller gave up waiting (time-out)
    int job_mode = 0;            // waitPastPrompt
    // A command job, or a drain: write the command's bytes as they are (no
    // carriage return) and read everything until the line has been quiet
    // for job_quiet_ms.
    bool job_drain = false;
    int job_quiet_ms = 0;
    bool job_unpaired = false;  // the answer belongs to another command
    std::u16string job_final;   // the final result code of the answer
    // The last answer was the SMS prompt: the phone may wait for a body.
    bool maybe_pdu_mode = false;
    // Called on the listener's thread with every unsolicited line.
    std::function<void(const std::u16string&)> on_unsolicited;
    std::string job_command;
    std::u16string* job_reply = nullptr;   // the caller's string
    std::shared_ptr<SerialPort> job_port;  // handed to the listener with the job
    std::shared_ptr<SerialPort> port;      // the open port
};

class Listener {
  public:
    Listener(LinkState& state, CommLog& log);
    // Cancels and joins.
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    void Start();
    // Makes every wait of the thread return at once; the thread then ends
    // without touching the job any further. Join afterwards.
    void Cancel();
    void Join();

  private:
    void Run();
    // False when cancelled.
    bool RunJob(const std::string& command, std::u16string* reply, int mode,
                std::shared_ptr<SerialPort> port);
    bool RunDrain(const std::string& bytes, int quiet_ms, std::shared_ptr<SerialPort> port);
    // Writes a job's bytes. Empty when they were written; otherwise the job
    // has ended and this is what the job runner returns (false: cancelled;
    // true: finished as failed).
    std::optional<bool> WriteOrEnd(const std::string& bytes, SerialPort& port);
    // Logs the unsolicited lines and hands them to the client's callback.
    void Report(std::vector<std::u16string> lines);
    void Finish(int status);
    void Log(const std::u16string& text);

    LinkState& state_;
    CommLog& log_;
    WakeEvent cancel_;
    std::thread thread_;
};

}  // namespace cordis
