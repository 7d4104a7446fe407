// parlo-cli sync, send, clear-phone, clear-sim and autosync: the SMS engine
// on the console.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "parlo/app/error_hints.h"
#include "parlo/app/parlo_doc.h"
#include "parlo/cli/cli.h"
#include "parlo/cli/run_log.h"
#include "parlo/contacts/contact_entry.h"
#include "parlo/sms/sms_operations.h"
#include "parlo/store/store_watcher.h"
#include "parlo_strings.h"
#include "platform/strings.h"
#include "platform/text.h"

namespace cli {

namespace {

using parlo::CParloDoc;
using parlo::CSmsMessage;

const char* StateName(int32_t state) {
    switch (state) {
        case parlo::STATE_UNREAD:
            return "Inbox (unread)";
        case parlo::STATE_READ:
            return "Inbox";
        case parlo::STATE_PHONE_SENT:
        case parlo::STATE_SENT:
            return "Sent Messages";
        case parlo::STATE_OUTBOX:
        case parlo::STATE_OUTBOX_PUSH:
            return "Outbox";
        case parlo::STATE_DELETED:
            return "Recycle Bin";
        default:
            return "store";
    }
}

// The view of the console: status texts as lines (the countdown rewrites one
// line on a terminal), list changes as short lines.
class ConsoleView : public parlo::IParloView {
  public:
    explicit ConsoleView(std::ostream& out) : out_(out), tty_(isatty(STDOUT_FILENO)) {}

    void SetStatusText(const std::u16string& text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (text == status_)
            return;
        bool countdown = text.rfind(u"AS: ", 0) == 0;
        if (countdown && tty_) {
            out_ << "\r" << platform::ToUtf8(text) << std::flush;
            open_line_ = true;
        } else if (!countdown || status_.rfind(u"AS: ", 0) != 0) {
            EndLine();
            if (!text.empty())
                out_ << platform::ToUtf8(text) << "\n" << std::flush;
        }
        status_ = text;
    }
    // The progress bar: a counter that rewrites its line on a terminal, the
    // number of steps otherwise.
    void SetProgressRange(int lower, int upper) override {
        std::lock_guard<std::mutex> lock(mutex_);
        EndLine();
        progress_ = 0;
        steps_ = upper - lower;
        if (!tty_)
            out_ << "  " << steps_ << " slots\n" << std::flush;
    }
    void StepProgress() override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++progress_;
        if (tty_) {
            out_ << "\r  slot " << progress_ << "/" << steps_ << std::flush;
            open_line_ = true;
        }
    }
    void ShowProgress(bool shown) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!shown)
            EndLine();
    }
    void MessageAdded(CSmsMessage* rec) override { Line("new", rec); }
    void MessageChanged(CSmsMessage* rec) override {
        Line(rec->m_nState == parlo::STATE_SENT ? "sent" : "changed", rec);
    }

  private:
    void EndLine() {
        if (open_line_)
            out_ << "\n";
        open_line_ = false;
    }
    void Line(const char* what, CSmsMessage* rec) {
        std::lock_guard<std::mutex> lock(mutex_);
        EndLine();
        std::string text = platform::ToUtf8(rec->m_strText);
        for (char& c : text)
            if (c == '\r' || c == '\n')
                c = ' ';
        if (text.size() > 60)
            text = text.substr(0, 57) + "...";
        out_ << "  " << what << " [" << StateName(rec->m_nState) << "] "
             << platform::ToUtf8(rec->m_strNumber) << ": " << text << "\n";
    }

    std::ostream& out_;
    bool tty_;
    std::mutex mutex_;
    std::u16string status_;
    bool open_line_ = false;
    int progress_ = 0;
    int steps_ = 0;
};

// Starts the document as every front end does; false (with the reason shown)
// when the client cannot start.
bool Start(CParloDoc& doc, const parlo::StartOptions& options = {}) {
    return doc.OnNewDocument(nullptr, options);
}

// The error list, and what its errors mean here.
void PrintErrors(Context& ctx, CParloDoc& doc, const std::u16string& errors) {
    ctx.err << "Errors:\n" << platform::ToUtf8(errors) << "\n";
    std::u16string hints = parlo::ErrorHints(doc, errors);
    if (!hints.empty())
        ctx.err << "\n" << platform::ToUtf8(hints) << "\n";
}

int ReportErrors(Context& ctx, CParloDoc& doc) {
    std::u16string errors = doc.Errors().Take();
    if (errors.empty()) {
        ctx.out << "Synchronisation finished.\n";
        return kOk;
    }
    PrintErrors(ctx, doc, errors);
    return kFailed;
}

int RunSync(Context& ctx, CParloDoc& doc) {
    if (!doc.SyncNow()) {
        ctx.err << "parlo-cli: a synchronisation is already running; try again when it has "
                   "finished\n";
        return kFailed;
    }
    return ReportErrors(ctx, doc);
}

// The console has no toolbar: the confirmation of a wipe order that speaks
// of one is replaced by what the command does next.
class ClearPrompt : public platform::Prompt {
  public:
    explicit ClearPrompt(platform::Prompt& inner) : inner_(inner) {}
    platform::Answer MessageBox(const std::u16string& text, platform::Buttons buttons,
                                platform::Icon icon, const std::u16string& caption) override {
        if (text == strings::parlo().Load(parlo::IDS_CLEAR_ORDERED))
            return inner_.MessageBox(
                u"OK, the messages are deleted by the synchronisation "
                u"that starts now.",
                buttons, icon, caption);
        return inner_.MessageBox(text, buttons, icon, caption);
    }

  private:
    platform::Prompt& inner_;
};

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) {
    g_interrupted = true;
}

}  // namespace

int CmdSync(Context& ctx) {
    if (!ctx.args.empty()) {
        ctx.err << "usage: parlo-cli sync\n";
        return kUsage;
    }
    ConsoleView view(ctx.out);
    CParloDoc doc(&view, &ctx.prompt);
    if (!Start(doc))
        return kFailed;
    return RunSync(ctx, doc);
}

int CmdSend(Context& ctx) {
    bool push = false, sync = false;
    std::vector<std::string> words;
    for (const std::string& a : ctx.args) {
        if (a == "--push")
            push = true;
        else if (a == "--sync")
            sync = true;
        else
            words.push_back(a);
    }
    if (words.size() != 2 || words[1].empty()) {
        ctx.err << "usage: parlo-cli send NUMBER[;NUMBER...] TEXT [--push] [--sync]\n";
        return kUsage;
    }
    // Every number is checked before anything is stored: a number that can
    // never be sent is refused now, not at the next synchronisation.
    std::u16string text = platform::FromUtf8(words[1]);
    const CParloDoc::Recipients to = CParloDoc::CheckRecipients(platform::FromUtf8(words[0]));
    if (!to.refused.empty()) {
        ctx.err << "parlo-cli: \"" << platform::ToUtf8(to.refused)
                << "\" is not a number a message can go to: " << to.why << "; nothing was queued\n";
        return kFailed;
    }
    if (to.numbers.empty()) {
        ctx.err << "parlo-cli: no number given\n";
        return kUsage;
    }
    ConsoleView view(ctx.out);
    CParloDoc doc(&view, &ctx.prompt);
    if (sync) {
        if (!Start(doc))
            return kFailed;
    } else if (doc.LoadMessagesOnly() != parlo::StoreResult::kOk) {
        ctx.err << "parlo-cli: the message store cannot be read; nothing was queued\n";
        return kFailed;
    } else {
        doc.LoadSettings();  // how long texts go out; a torn file keeps what it read
    }
    // The document's Send, which the compose dialog uses too: one Outbox
    // message per number, each number once.
    const CParloDoc::SendResult sent = doc.Send(platform::FromUtf8(words[0]), text, push);
    for (const std::u16string& number : sent.not_stored)
        ctx.err << "parlo-cli: the message to " << platform::ToUtf8(number)
                << " could not be stored and is not queued\n";
    for (const std::u16string& number : sent.queued_to)
        ctx.out << "Queued a message to " << platform::ToUtf8(number) << " in the Outbox.\n";
    if (sent.queued > 1)
        ctx.out << "Queued " << sent.queued << " messages in the Outbox.\n";
    if (sent.queued > 0) {
        parlo::CSmsPlan plan = doc.PlanText(text);
        ctx.out << (sent.queued == 1 ? "It goes out as " : "Each goes out as ") << plan.Count()
                << " SMS in " << parlo::CodingName(plan);
        if (plan.m_scheme == parlo::SmsScheme::kNumbered)
            ctx.out << ", parts numbered \"1/" << plan.Count() << ":\"";
        else if (plan.m_scheme == parlo::SmsScheme::kConcatenated)
            ctx.out << ", shown as one message";
        ctx.out << ".\n";
    }
    if (!sent.not_stored.empty())
        return kFailed;  // no run: the user first learns what was not stored
    return sync ? RunSync(ctx, doc) : kOk;
}

// The wipe orders live only as long as the program: the command-line client
// places the order and carries it out with a synchronisation at once.
static int ClearCommand(Context& ctx, bool sim) {
    if (!ctx.args.empty()) {
        ctx.err << "usage: parlo-cli " << (sim ? "clear-sim" : "clear-phone") << "\n";
        return kUsage;
    }
    ConsoleView view(ctx.out);
    ClearPrompt prompt(ctx.prompt);
    CParloDoc doc(&view, &prompt);
    if (!Start(doc))
        return kFailed;
    if (!(sim ? doc.ClearSimMemory() : doc.ClearPhoneMemory()))
        return kOk;  // not confirmed
    return RunSync(ctx, doc);
}

int CmdClearPhone(Context& ctx) {
    return ClearCommand(ctx, false);
}
int CmdClearSim(Context& ctx) {
    return ClearCommand(ctx, true);
}

int CmdAutoSync(Context& ctx) {
    int interval = 0;
    bool log = false;
    for (size_t i = 0; i < ctx.args.size(); ++i) {
        if (ctx.args[i] == "--log") {
            log = true;
        } else if (ctx.args[i] == "--interval" && i + 1 < ctx.args.size()) {
            interval = std::atoi(ctx.args[++i].c_str());
            if (interval <= 0) {
                ctx.err << "parlo-cli: --interval takes a number of minutes\n";
                return kUsage;
            }
        } else {
            ctx.err << "usage: parlo-cli autosync [--interval MINUTES] [--log]\n";
            return kUsage;
        }
    }
    ConsoleView console(ctx.out);
    RunLogView run_log(ctx.out);
    parlo::IParloView* view = log ? static_cast<parlo::IParloView*>(&run_log) : &console;
    CParloDoc doc(view, &ctx.prompt);
    // The automatic run starts only once the interval is set: it reads the
    // interval when it starts its countdown.
    parlo::StartOptions options;
    options.auto_sync = false;
    if (!Start(doc, options))
        return kFailed;
    if (interval > 0) {
        parlo::CSettings s = doc.Settings();
        s.m_nAutoSyncInterval = interval;
        doc.SetSettings(s);
    }
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    int minutes = doc.Settings().m_nAutoSyncInterval;
    ctx.out << "Automatic synchronisation every " << minutes
            << (minutes == 1 ? " minute" : " minutes") << "; interrupt to stop.\n"
            << std::flush;
    doc.StartAutoSync();
    // Messages that other programs queue or change while this one waits are
    // taken in as they come: the next run sends them, and no write of this
    // program works from an old picture of the store.
    parlo::CStoreWatcher watcher(doc.Store().StorePath().parent_path());
    int seen = 0;
    auto report = [&] {
        int runs = doc.SyncRuns();
        if (runs == seen)
            return;
        seen = runs;
        std::u16string errors = doc.Errors().Text();
        if (log)
            run_log.EndRun(runs, errors);
        else if (!errors.empty())
            PrintErrors(ctx, doc, errors);
    };
    while (!g_interrupted) {
        if (watcher.Wait(std::chrono::milliseconds(100)))
            doc.TakeInChanges();
        report();
    }
    ctx.out << (log ? "Stopping...\n" : "\nStopping...\n") << std::flush;
    // A run in progress ends first (the document's close waits for it), and
    // is reported like the others.
    doc.OnCloseDocument();
    report();
    return kOk;
}

}  // namespace cli
