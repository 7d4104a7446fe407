// Cordis, the phone link: the only code that reads from and writes to the
// serial port of the phone.
//
// A client obtains the process-wide object with GetCordis() and, per
// connection, calls StartSAR, OpenPort, SetParams, any number of
// SendAndReceive, ClosePort and StopSAR. Every AT command runs as one job on
// the SAR listener thread, which writes the command, collects the answer byte
// by byte until it is complete, trims it and reports a status; the caller
// waits for the status with a time-out. Every step is appended to "comm.log"
// in the device's root folder.
//
// Callers serialise their own use: one SendAndReceive at a time per object.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// Status of a job.
inline constexpr int SAR_PENDING = 0;
inline constexpr int SAR_DONE = 1;
inline constexpr int SAR_FAILED = 2;

// The job's whole time-outs the clients use, in seconds.
inline constexpr int SAR_TIMEOUT_COMMAND = 10;
inline constexpr int SAR_TIMEOUT_SMS_BODY = 15;
inline constexpr int SAR_TIMEOUT_PHONEBOOK = 30;

// Bringing the line back in step: the input is drained until it has been
// quiet this long (at most the drain time), then "AT" is sent until it is
// answered "OK", at most this many times.
inline constexpr int SAR_RESYNC_QUIET_MS = 300;
inline constexpr int SAR_RESYNC_DRAIN_SECONDS = 5;
inline constexpr int SAR_RESYNC_ATTEMPTS = 3;
inline constexpr int SAR_RESYNC_AT_SECONDS = 3;

// Size of the listener's output buffer: a command and its carriage return
// must fit in it together with a terminating zero.
inline constexpr int SAR_BUFFER_SIZE = 10000;

namespace cordis {
class CommLog;
class Listener;
struct LinkState;
}  // namespace cordis

class CCordis {
  public:
    // Logs to "comm.log" in the device's root folder (platform::DevicePath).
    CCordis();
    // Logs to `log_file` instead (tests, benchmarks, tools).
    explicit CCordis(std::filesystem::path log_file);
    // Stops the listener and closes the port.
    ~CCordis();

    // The object owns a thread and a port: it is neither copied nor moved.
    CCordis(const CCordis&) = delete;
    CCordis& operator=(const CCordis&) = delete;

    // Opens a port: a "COMn:" alias (HKEY_LOCAL_MACHINE\Ports) or a device
    // path, for reading and writing, exclusively. Returns 1 or 0.
    int OpenPort(const std::u16string& port);

    // Configures the open port: raw bytes, no parity checking, no hardware or
    // software flow control, RTS on. `parity` 1 odd, 2 even, 3 mark, 4 space,
    // anything else none. `stop_bits` 1 (one and a half, which a POSIX
    // terminal does not have: two are used) and 2 give two stop bits,
    // anything else one. Returns 1 or 0 (an unsupported baud rate or byte size,
    // or a port that is not a terminal, gives 0).
    int SetParams(int baud, int parity, int byte_size, int stop_bits);

    // Runs one AT command (given without line end; a carriage return is
    // appended) through the listener. Returns 1 when the job ended with
    // SAR_DONE, 0 when it failed or timed out. `reply` receives the answer
    // (each byte as its Windows-1252 character), trimmed to the information
    // text: empty for a plain "OK" and for an error result, exactly ">" for
    // the SMS prompt. The answer is complete only with its final result code
    // (or the prompt); unsolicited lines of the phone (+CMTI, +CMT, RING,
    // +CREG, ...) are taken out of it wherever they arrive and go to the log
    // and the unsolicited handler.
    // `waitPastPrompt` 1 keeps a '>' from ending the answer (SMS body only).
    // `timeoutSeconds` bounds the whole job; after a time-out the listener is
    // replaced and the reply may hold a partial answer.
    //
    // An answer that does not belong to the command (the echo or the result
    // prefix of another command: a late answer) is never handed back: the
    // line is brought back in step and the command is sent once more (an SMS
    // body is not: it fails). After a time-out, the next command first
    // brings the line back in step.
    int SendAndReceive(const std::string& command, std::u16string& reply, int waitPastPrompt,
                       int timeoutSeconds);

    // Drains the input (after an Escape when the phone may wait for an SMS
    // body) and sends "AT" until the phone answers "OK". Returns 1 when the
    // line is in step.
    int Resync();

    // Called on the listener's thread with every unsolicited line (a +CMT
    // delivery as header, CR LF, PDU). Empty: none.
    void SetUnsolicitedHandler(std::function<void(const std::u16string&)> handler);

    // The final result code of the last command's answer: "OK", "ERROR",
    // "+CMS ERROR: 321", ">" for the prompt; empty after a time-out.
    std::u16string LastFinalResult() const;

    // Closes the port (when open) and logs "closing port".
    void ClosePort();

    // Copies `command` with its terminator into `buffer`, then replaces the
    // terminator with a carriage return and a new terminator. `buffer` must
    // hold strlen(command) + 2 bytes.
    void _SetBuf(char* buffer, const char* command);

    // Starts the listener unless one is active, and waits until it runs.
    void StartSAR();
    // Asks the listener to end after its current job; a listener still busy
    // after 5 seconds is cancelled. Returns at once when none runs.
    void StopSAR();

    // 1 for a complete unsolicited new-message delivery ("+CMT:" header line
    // followed by its PDU line), else 0.
    int IsPDUMsg(const std::u16string& reply);
    // 1 for a complete "+CMTI: " new-message indication, else 0.
    int IsMsgInfo(const std::u16string& reply);

    // Opens `port` and switches the SIM's PIN request off with `pin` (its
    // first 20 characters, low 8 bits each); up to three attempts. Returns 0
    // only when the port cannot be opened. The listener must be running.
    int DisablePIN(const std::u16string& port, const std::u16string& pin, int baud, int parity,
                   int byte_size, int stop_bits);

  private:
    enum class Outcome { kDone, kFailed, kUnpaired, kTimedOut };
    int RunOne(const std::string& command, std::u16string& reply, int waitPastPrompt,
               int timeoutSeconds, bool drain, int quiet_ms, Outcome* outcome);
    void StartListener();
    void CancelListener();
    void Log(const std::u16string& text);
    void Log(const char* text);

    std::unique_ptr<cordis::CommLog> m_log;
    // The open port, the job hand-over between the caller and the listener,
    // and the listener's counters, under one mutex.
    std::unique_ptr<cordis::LinkState> m_state;
    // Start, stop and replacement of the listener are serialised by this mutex.
    std::mutex m_threadMutex;
    std::unique_ptr<cordis::Listener> m_pThread;
    // Set after a time-out or an unpaired answer: the next command resyncs.
    // Used by the one caller thread.
    std::atomic<bool> m_bOutOfStep{false};
};

// The process-wide phone link, created on first use and never destroyed.
CCordis* GetCordis();
