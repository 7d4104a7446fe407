#include "cordis/listener.h"

#include <array>
#include <chrono>

#include "cordis/comm_log.h"
#include "cordis/cordis.h"
#include "cordis/reply_rules.h"
#include "cordis/serial_port.h"
#include "platform/text.h"

namespace cordis {

namespace {

// Each byte of the port as its Windows-1252 character (a zero byte as none).
const std::array<char16_t, 256>& ByteChars() {
    static const std::array<char16_t, 256> table = [] {
        std::array<char16_t, 256> t{};
        for (int b = 1; b < 256; ++b) {
            std::u16string c = platform::Cp1252ToUtf16(std::string(1, static_cast<char>(b)));
            t[b] = c.size() == 1 ? c[0] : u'?';
        }
        return t;
    }();
    return table;
}

}  // namespace

Listener::Listener(LinkState& state, CommLog& log) : state_(state), log_(log) {}

Listener::~Listener() {
    Cancel();
    Join();
}

void Listener::Start() {
    thread_ = std::thread([this] { Run(); });
}

void Listener::Cancel() {
    std::lock_guard<std::mutex> lock(state_.mutex);
    cancel_.Set();
    state_.changed.notify_all();
}

void Listener::Join() {
    if (thread_.joinable())
        thread_.join();
}

// The listener's lines wait in memory while it works and go to the file,
// in order and in one write, before it waits for anything: a job, the port
// or the end of a write. So a burst of bytes costs one file access, not one
// per line, and the file's content is the same.
void Listener::Log(const std::u16string& text) {
    log_.Write(text, true);
}

void Listener::Run() {
    Log(u"starting thread");
    {
        std::lock_guard<std::mutex> lock(state_.mutex);
        state_.job_signal = 0;
        ++state_.thread_alive;
        state_.changed.notify_all();
    }
    for (;;) {
        Log(u"waiting for AT...");
        log_.Flush();
        int signal;
        std::string command;
        std::u16string* reply;
        int mode;
        bool drain;
        int quiet_ms;
        std::shared_ptr<SerialPort> port;
        {
            std::unique_lock<std::mutex> lock(state_.mutex);
            state_.changed.wait(lock, [this] { return state_.job_signal != 0 || cancel_.IsSet(); });
            if (cancel_.IsSet())
                return;
            signal = state_.job_signal;
            command = state_.job_command;
            reply = state_.job_reply;
            mode = state_.job_mode;
            drain = state_.job_drain;
            quiet_ms = state_.job_quiet_ms;
            port = std::move(state_.job_port);
        }
        Log(u"got something (in:" + platform::Cp1252ToUtf16(command) +
            (signal > 2 ? u") thread end." : u")"));
        if (signal > 2) {
            // A stop request: the signal stays as it is; the next listener
            // resets it.
            log_.Flush();
            std::lock_guard<std::mutex> lock(state_.mutex);
            --state_.thread_alive;
            state_.changed.notify_all();
            return;
        }
        bool alive = drain ? RunDrain(command, quiet_ms, std::move(port))
                           : RunJob(command, reply, mode, std::move(port));
        if (!alive) {
            log_.Flush();
            return;
        }
    }
}

void Listener::Finish(int status) {
    log_.Flush();
    std::lock_guard<std::mutex> lock(state_.mutex);
    // A cancelled listener or an abandoned job reports nothing: the caller
    // has moved on.
    if (cancel_.IsSet() || state_.job_abandoned)
        return;
    --state_.job_signal;
    state_.job_status = status;
    state_.changed.notify_all();
}

bool Listener::RunJob(const std::string& command, std::u16string* reply, int mode,
                      std::shared_ptr<SerialPort> port) {
    Log(u"IN: " + platform::Cp1252ToUtf16(command));
    // The command, its carriage return and a terminator fill at most the
    // output buffer; a longer command is refused rather than cut.
    bool fits = command.size() + 2 <= static_cast<size_t>(SAR_BUFFER_SIZE);
    std::string bytes = command + '\r';
    reply->clear();
    Log(u"writing to port");
    if (!fits || !port) {
        Finish(SAR_FAILED);
        return true;
    }
    if (std::optional<bool> ended = WriteOrEnd(bytes, *port))
        return *ended;
    Log(u"write done");

    const auto& chars = ByteChars();
    int status = SAR_PENDING;
    // The answer is collected in the caller's string: after a time-out it
    // holds what came so far.
    AnswerCollector answer(command, mode, reply);
    Completion done = Completion::Incomplete;
    for (;;) {
        uint8_t byte = 0;
        if (!port->HasBuffered())
            log_.Flush();
        SerialPort::Io io = port->ReadByte(&byte, cancel_);
        if (io == SerialPort::Io::Cancelled)
            return false;
        if (io == SerialPort::Io::Failed) {
            status = SAR_FAILED;
            break;
        }
        std::u16string text;
        if (byte != 0)
            text.push_back(chars[byte]);
        Log(u"reading: <s>" + text + u"</s>");
        if (text.empty())
            continue;
        done = answer.Add(text[0]);
        Report(answer.TakeUnsolicited());
        if (done == Completion::Prompt)
            port->SkipBlankAfterPrompt();
        if (done != Completion::Incomplete)
            break;
    }
    bool paired = status != SAR_PENDING || IsPairedAnswer(*reply, command, mode == 1);
    if (done == Completion::Error) {
        Log(u"ERROR: " + *reply);
        reply->clear();
        status = SAR_DONE;
    }
    Log(u"OUT: " + *reply);
    if (!paired) {
        Log(u"answer does not belong to the command");
        status = SAR_FAILED;
    } else if (status == SAR_PENDING) {
        status = PostProcess(*reply, command, [this](const std::u16string& t) { Log(t); });
    }
    {
        std::lock_guard<std::mutex> lock(state_.mutex);
        state_.job_unpaired = !paired;
        state_.job_final = answer.final_line();
        state_.maybe_pdu_mode = done == Completion::Prompt;
    }
    Finish(status);
    return true;
}

std::optional<bool> Listener::WriteOrEnd(const std::string& bytes, SerialPort& port) {
    log_.Flush();
    SerialPort::Io io = port.WriteAll(bytes, cancel_);
    if (io == SerialPort::Io::Cancelled)
        return false;
    if (io == SerialPort::Io::Failed) {
        Finish(SAR_FAILED);
        return true;
    }
    return std::nullopt;
}

bool Listener::RunDrain(const std::string& bytes, int quiet_ms, std::shared_ptr<SerialPort> port) {
    if (!port) {
        Finish(SAR_FAILED);
        return true;
    }
    if (!bytes.empty()) {
        Log(u"writing to port");
        if (std::optional<bool> ended = WriteOrEnd(bytes, *port))
            return *ended;
    }
    // Unsolicited lines among the bytes dropped are still reported.
    const auto& chars = ByteChars();
    AnswerCollector dropped("", 1);
    // A line that never falls quiet is given up on before the job's time-out.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(SAR_RESYNC_DRAIN_SECONDS) -
                 std::chrono::milliseconds(500);
    while (std::chrono::steady_clock::now() < until) {
        uint8_t byte = 0;
        if (!port->HasBuffered())
            log_.Flush();
        SerialPort::Io io = port->ReadByte(&byte, cancel_, quiet_ms);
        if (io == SerialPort::Io::Cancelled)
            return false;
        if (io != SerialPort::Io::Ok)
            break;
        if (byte != 0)
            dropped.Add(chars[byte]);
        Report(dropped.TakeUnsolicited());
    }
    Log(u"discarded: " + dropped.reply());
    {
        std::lock_guard<std::mutex> lock(state_.mutex);
        state_.maybe_pdu_mode = false;
    }
    Finish(SAR_DONE);
    return true;
}

void Listener::Report(std::vector<std::u16string> lines) {
    if (lines.empty())
        return;
    std::function<void(const std::u16string&)> handler;
    {
        std::lock_guard<std::mutex> lock(state_.mutex);
        handler = state_.on_unsolicited;
    }
    for (const std::u16string& line : lines) {
        Log(u"unsolicited: " + line);
        if (handler)
            handler(line);
    }
}

}  // namespace cordis
