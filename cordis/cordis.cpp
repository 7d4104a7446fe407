#include "cordis/cordis.h"

#include <chrono>
#include <cstring>

#include "cordis/comm_log.h"
#include "cordis/listener.h"
#include "cordis/reply_rules.h"
#include "cordis/serial_port.h"
#include "platform/ports.h"
#include "platform/text.h"

using cordis::LinkState;
using Clock = std::chrono::steady_clock;

CCordis::CCordis() : CCordis(std::filesystem::path()) {}

CCordis::CCordis(std::filesystem::path log_file)
    : m_log(std::make_unique<cordis::CommLog>(std::move(log_file))),
      m_state(std::make_unique<LinkState>()) {}

CCordis::~CCordis() {
    {
        std::lock_guard<std::mutex> lock(m_threadMutex);
        CancelListener();
    }
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->port.reset();
    m_state->job_port.reset();
}

void CCordis::Log(const std::u16string& text) {
    m_log->Write(text);
}
void CCordis::Log(const char* text) {
    m_log->Write(platform::Cp1252ToUtf16(text));
}

int CCordis::OpenPort(const std::u16string& port) {
    Log("opening port");
    auto opened = std::make_shared<cordis::SerialPort>();
    std::optional<std::string> device = platform::ResolvePort(platform::ToUtf8(port));
    bool ok = device && opened->Open(*device);
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->port = ok ? std::move(opened) : nullptr;
    // A program that ended between "AT+CMGS" and the message body (killed,
    // or a crash) leaves the phone waiting for the body, where every command
    // we send is taken for text. Until the phone has answered once, the
    // line is treated as possibly in that state, so that the resync after a
    // first time-out ends the body with escape.
    m_state->maybe_pdu_mode = ok;
    m_bOutOfStep = false;
    return ok ? 1 : 0;
}

int CCordis::SetParams(int baud, int parity, int byte_size, int stop_bits) {
    Log("SetParams - start");
    std::shared_ptr<cordis::SerialPort> port;
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        port = m_state->port;
    }
    cordis::LineSettings settings;
    settings.baud = baud;
    settings.parity = parity >= 1 && parity <= 4 ? parity : 0;
    settings.byte_size = byte_size;
    settings.stop_bits = stop_bits == 1 || stop_bits == 2 ? stop_bits : 0;
    if (!port || !port->Configure(settings))
        return 0;
    Log("SetParams - end");
    return 1;
}

void CCordis::ClosePort() {
    {
        // The port closes when the last job that uses it has ended.
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->port.reset();
    }
    Log("closing port");
}

void CCordis::_SetBuf(char* buffer, const char* command) {
    size_t n = std::strlen(command);
    std::memcpy(buffer, command, n + 1);
    buffer[n] = '\r';
    buffer[n + 1] = '\0';
}

int CCordis::SendAndReceive(const std::string& command, std::u16string& reply, int waitPastPrompt,
                            int timeoutSeconds) {
    // After a time-out or an answer that belonged to another command, the
    // line is brought back in step before anything else is sent.
    if (m_bOutOfStep)
        Resync();
    Outcome outcome;
    int rc = RunOne(command, reply, waitPastPrompt, timeoutSeconds, false, 0, &outcome);
    if (outcome == Outcome::kUnpaired && waitPastPrompt != 1) {
        // Never used for this command: in step again, then once more.
        Resync();
        rc = RunOne(command, reply, waitPastPrompt, timeoutSeconds, false, 0, &outcome);
    }
    m_bOutOfStep = outcome == Outcome::kTimedOut || outcome == Outcome::kUnpaired;
    return outcome == Outcome::kUnpaired ? 0 : rc;
}

int CCordis::Resync() {
    Log("resync");
    bool pdu_mode;
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        pdu_mode = m_state->maybe_pdu_mode;
    }
    std::u16string ignored;
    Outcome outcome;
    // Escape ends an SMS body the phone may still wait for.
    RunOne(pdu_mode ? "\x1b" : "", ignored, 0, SAR_RESYNC_DRAIN_SECONDS, true, SAR_RESYNC_QUIET_MS,
           &outcome);
    for (int attempt = 0; attempt < SAR_RESYNC_ATTEMPTS; ++attempt) {
        std::u16string reply;
        int rc = RunOne("AT", reply, 0, SAR_RESYNC_AT_SECONDS, false, 0, &outcome);
        if (rc == 1 && outcome == Outcome::kDone && reply.empty() && LastFinalResult() == u"OK") {
            m_bOutOfStep = false;
            Log("in step");
            return 1;
        }
        if (outcome == Outcome::kTimedOut)
            break;  // the phone does not answer at all
        RunOne("", ignored, 0, SAR_RESYNC_DRAIN_SECONDS, true, SAR_RESYNC_QUIET_MS, &outcome);
    }
    Log("resync failed");
    return 0;
}

void CCordis::SetUnsolicitedHandler(std::function<void(const std::u16string&)> handler) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->on_unsolicited = std::move(handler);
}

std::u16string CCordis::LastFinalResult() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->job_final;
}

int CCordis::RunOne(const std::string& command, std::u16string& reply, int waitPastPrompt,
                    int timeoutSeconds, bool drain, int quiet_ms, Outcome* outcome) {
    LinkState& s = *m_state;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.job_status = SAR_PENDING;
        s.job_abandoned = false;
        s.job_unpaired = false;
        s.job_final.clear();
        s.job_port = s.port;
        s.job_command = command;
        s.job_reply = &reply;
        s.job_mode = waitPastPrompt;
        s.job_drain = drain;
        s.job_quiet_ms = quiet_ms;
        s.sar_active = 1;
        ++s.job_signal;
        s.changed.notify_all();
    }
    Log(u"SAR - GO: " + platform::Cp1252ToUtf16(command));
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    int status;
    bool unpaired;
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        bool ended =
            s.changed.wait_until(lock, deadline, [&s] { return s.job_status != SAR_PENDING; });
        status = s.job_status;
        unpaired = s.job_unpaired;
        if (!ended) {
            // From here on the listener reports nothing for this job.
            s.job_abandoned = true;
            s.job_port.reset();
        }
    }
    if (status != SAR_PENDING) {
        Log(u"SAR - END: status: " + platform::FromUtf8(std::to_string(status)));
        *outcome = unpaired             ? Outcome::kUnpaired
                   : status == SAR_DONE ? Outcome::kDone
                                        : Outcome::kFailed;
        return status == SAR_DONE ? 1 : 0;
    }
    *outcome = Outcome::kTimedOut;
    // Time-out: the listener is replaced; the new one starts with no job, so
    // the abandoned job is dropped. Bytes not yet taken stay on the port.
    std::lock_guard<std::mutex> lock(m_threadMutex);
    CancelListener();
    Log("thread terminated - timeout");
    {
        std::lock_guard<std::mutex> state_lock(s.mutex);
        s.thread_alive = 0;
    }
    StartListener();
    return 0;
}

void CCordis::CancelListener() {
    // Called with m_threadMutex held.
    if (m_pThread) {
        m_pThread->Cancel();
        m_pThread->Join();
        m_pThread.reset();
    }
}

void CCordis::StartListener() {
    // Called with m_threadMutex held.
    m_pThread = std::make_unique<cordis::Listener>(*m_state, *m_log);
    m_pThread->Start();
    std::unique_lock<std::mutex> lock(m_state->mutex);
    m_state->changed.wait(lock, [this] { return m_state->thread_alive != 0; });
}

void CCordis::StartSAR() {
    std::lock_guard<std::mutex> lock(m_threadMutex);
    {
        std::lock_guard<std::mutex> state_lock(m_state->mutex);
        if (m_state->sar_active)
            return;
        m_state->sar_active = 1;
    }
    Log("starting SAR");
    // A listener that already ended (or was cut off) is only joined.
    CancelListener();
    StartListener();
}

void CCordis::StopSAR() {
    std::lock_guard<std::mutex> lock(m_threadMutex);
    LinkState& s = *m_state;
    {
        std::lock_guard<std::mutex> state_lock(s.mutex);
        s.sar_active = 0;
    }
    Log("Stoping SAR");
    bool stopped;
    {
        std::unique_lock<std::mutex> state_lock(s.mutex);
        s.job_signal += 4;
        s.changed.notify_all();
        stopped = s.changed.wait_for(state_lock, std::chrono::seconds(5),
                                     [&s] { return s.thread_alive == 0; });
    }
    if (!stopped)
        Log("timeout while stopping SAR - terminating");
    // A listener that ended is only joined; one still busy is cut off.
    CancelListener();
    if (!stopped) {
        std::lock_guard<std::mutex> state_lock(s.mutex);
        s.thread_alive = 0;
    }
    Log("SAR stoped.");
}

int CCordis::IsPDUMsg(const std::u16string& reply) {
    return cordis::IsPduMessage(reply) ? 1 : 0;
}

int CCordis::IsMsgInfo(const std::u16string& reply) {
    return cordis::IsMessageInfo(reply) ? 1 : 0;
}

int CCordis::DisablePIN(const std::u16string& port, const std::u16string& pin, int baud, int parity,
                        int byte_size, int stop_bits) {
    if (!OpenPort(port))
        return 0;
    std::string pin8 = platform::NarrowLow8(pin).substr(0, 20);
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!SetParams(baud, parity, byte_size, stop_bits))
            continue;
        std::u16string reply;
        if (!SendAndReceive("AT", reply, 0, SAR_TIMEOUT_COMMAND) || !reply.empty())
            continue;
        if (!SendAndReceive("at+cpin=\"" + pin8 + "\"", reply, 0, SAR_TIMEOUT_COMMAND))
            continue;
        if (SendAndReceive("at+clck=\"SC\",0,\"" + pin8 + "\"", reply, 0, SAR_TIMEOUT_COMMAND))
            break;
    }
    ClosePort();
    return 1;
}

CCordis* GetCordis() {
    static CCordis* const instance = new CCordis();
    return instance;
}
