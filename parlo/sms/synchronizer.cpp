#include "parlo/sms/synchronizer.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cordis/cordis.h"
#include "parlo/sms/engine_view.h"
#include "parlo/sms/error_list.h"
#include "parlo/store/message_store.h"
#include "parlo/store/sync_lock.h"
#include "parlo_strings.h"
#include "platform/strings.h"

namespace parlo {

namespace {

// Worker threads run at a low priority, below the phone link's listener.
void LowerThreadPriority() {
    pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
    setpriority(PRIO_PROCESS, static_cast<id_t>(tid), 10);
}

std::u16string Countdown(long long seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "AS: %02i:%02i:%02i", static_cast<int>(seconds / 3600 % 24),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return std::u16string(text, text + std::char_traits<char>::length(text));
}

struct OutboxItem {
    CSmsMessage* rec;
    int32_t state;
    std::u16string number;
    std::u16string text;
    int32_t phone_index;
};

}  // namespace

CSynchronizer::CSynchronizer(const CEngineContext& ctx, CPhoneSession* session, CSmsOperations* ops)
    : ctx_(ctx), session_(session), ops_(ops) {}

CSynchronizer::~CSynchronizer() {
    Shutdown();
}

std::u16string CSynchronizer::Load(unsigned id) const {
    return (ctx_.strings ? *ctx_.strings : strings::parlo()).Load(id);
}

std::optional<SyncHolder> CSynchronizer::BlockedBy() const {
    std::lock_guard<std::mutex> g(blocked_mutex_);
    return blocked_by_;
}

void CSynchronizer::SetTimingForTesting(std::chrono::milliseconds minute,
                                        std::chrono::milliseconds step) {
    minute_ms_ = minute.count();
    step_ms_ = step.count();
}

void CSynchronizer::RequestStop() {
    if (m_bSyncBusy)
        m_bStopRequested = 1;
}

void CSynchronizer::SynchronizeMessages() {
    std::lock_guard<std::mutex> run(run_mutex_);
    CEngineView& view = *ctx_.view;
    CErrorList& errors = *ctx_.errors;
    CCordis& link = *ctx_.cordis;

    errors.Clear();
    // A stop asked for before this run began was for an earlier one.
    struct StopReset {
        std::atomic<int>& flag;
        ~StopReset() { flag = 0; }
    } stop_reset{m_bStopRequested};
    const std::u16string stopped_text =
        u"The synchronisation was stopped before its end. What it did not send is still in "
        u"the Outbox and what it did not read is still on the phone: the next "
        u"synchronisation does the rest.";
    CSyncLock lock;
    if (!lock.Acquire(ctx_.dir, SyncKind::kMessages)) {
        // Another synchronisation (of the phonebook, or of another program)
        // is no dial-up connection. Who it was is kept for the report: it
        // may have ended by the time the user reads it.
        std::optional<SyncHolder> holder = CSyncLock::Holder(ctx_.dir);
        {
            std::lock_guard<std::mutex> g(blocked_mutex_);
            blocked_by_ = holder;
        }
        if (holder)
            errors.Add(IDS_SYNC_RUNNING);
        else if (lock.OpenError() != 0)
            errors.Add(LockFileError(ctx_.dir, lock.OpenError()));
        else
            errors.Add(IDS_CONNECTION_ACTIVE);
        return;
    }
    {
        std::lock_guard<std::mutex> g(blocked_mutex_);
        blocked_by_.reset();
    }
    view.SetStatusText(Load(IDS_SYNCHRONIZING));
    link.StartSAR();
    // Messages the phone delivers on the line during the run are kept and
    // stored at its end, whichever way it ends.
    link.SetUnsolicitedHandler([this](const std::u16string& line) { ops_->OnUnsolicited(line); });
    struct Deliveries {
        CCordis& link;
        CSmsOperations* ops;
        ~Deliveries() {
            link.SetUnsolicitedHandler(nullptr);
            ops->StoreDeliveries();
        }
    } deliveries{link, ops_};
    if (!session_->OpenPhone()) {
        link.StopSAR();
        link.ClosePort();
        errors.Add(IDS_SYNC_FAILED);
        view.SetStatusText(u"");
        return;
    }
    if (!session_->IdentifyPhone()) {
        link.StopSAR();
        link.ClosePort();
        view.SetStatusText(u"");
        return;
    }

    // Outbox and deletion pass, in list order. What other programs queued or
    // changed up to now is part of this run. The fields are copied under the
    // store's lock; the user interface may change records meanwhile.
    ctx_.store->TakeInChanges();
    std::vector<OutboxItem> work;
    ctx_.store->ForEach([&work](CSmsMessage& m) {
        if (m.m_nState == STATE_OUTBOX || m.m_nState == STATE_OUTBOX_PUSH ||
            m.m_nState == STATE_PHONE_DELETE)
            work.push_back({&m, m.m_nState, m.m_strNumber, m.m_strText, m.m_nPhoneIndex});
    });
    for (const OutboxItem& item : work) {
        if (m_bStopRequested)
            break;
        if (item.state == STATE_PHONE_DELETE) {
            if (!ops_->DeleteOnPhone(item.rec))
                errors.Add(IDS_DELETE_FAILED);
            continue;
        }
        if (item.phone_index == kFateUnknownIndex) {
            // It may have gone out in an earlier run: the user decides.
            errors.AddFormatted(IDS_HELD_IN_OUTBOX, {item.number});
            continue;
        }
        int push = item.state == STATE_OUTBOX_PUSH ? 1 : 0;
        // Marked as one that may have gone out before it goes to the phone: a
        // run that ends in the middle of sending (killed, a crash) leaves it
        // held in the Outbox, never sent twice unasked. Storing the mark also
        // takes in what other programs changed: a message deleted or moved
        // meanwhile is not sent.
        const int32_t unsent_index = item.phone_index;
        auto unmark = [unsent_index](CSmsMessage& m) { m.m_nPhoneIndex = unsent_index; };
        if (ctx_.store->Change(item.rec, [](CSmsMessage& m) {
                m.m_nPhoneIndex = kFateUnknownIndex;
            }) != StoreResult::kOk) {
            ctx_.store->ChangeInMemory(item.rec, unmark);
            errors.Add(IDS_SEND_FAILED);
            continue;
        }
        CSmsMessage now;
        if (!ctx_.store->Read(item.rec, &now) ||
            (now.m_nState != STATE_OUTBOX && now.m_nState != STATE_OUTBOX_PUSH)) {
            ctx_.store->Change(item.rec, unmark);
            continue;
        }
        SendReport report;
        if (!ops_->SendLongSms(item.number, item.text, push, &report)) {
            if (report.fate_unknown) {
                // Stays marked, so that it is not sent again unasked.
                errors.AddFormatted(IDS_FATE_UNKNOWN, {item.number});
            } else {
                // Nothing went out: sent at the next run.
                ctx_.store->Change(item.rec, unmark);
                errors.Add(IDS_SEND_FAILED);
            }
            continue;
        }
        // The message reference of the phone's answer is kept in the record's
        // phone index (a sent record has no phone slot).
        if (ctx_.store->Change(item.rec, [&report](CSmsMessage& m) {
                m.m_nState = STATE_SENT;
                m.m_nPhoneIndex = report.reference;
            }) != StoreResult::kOk) {
            // On disk it stays held in the Outbox: never sent twice unasked.
            errors.Add(u"The message to " + item.number +
                       u" was sent, but the message store could not record it (is the disk "
                       u"full?). It stays held in the Outbox so that it is not sent again.");
        }
        view.MessageChanged(item.rec);
        view.EmptyOutboxList();
    }

    if (m_bStopRequested) {
        link.ClosePort();
        link.StopSAR();
        errors.Add(stopped_text);
        view.SetStatusText(u"");
        return;
    }
    if (ops_->m_bClearPhonePending.exchange(0) && !ops_->ClearPhoneStorage("ME"))
        errors.Add(IDS_CLEAR_PHONE_FAILED);
    if (ops_->m_bClearSimPending.exchange(0) && !ops_->ClearPhoneStorage("SM"))
        errors.Add(IDS_CLEAR_SIM_FAILED);

    ops_->m_pStop = &m_bStopRequested;
    int read = ops_->ReadPhoneMessages(1, ctx_.Settings().m_bDeleteAfterSync);
    ops_->m_pStop = nullptr;
    link.ClosePort();
    link.StopSAR();
    if (m_bStopRequested) {
        errors.Add(stopped_text);
    } else if (!read) {
        errors.Add(IDS_SYNC_FAILED);
    } else if (ctx_.store->CompactStore() != StoreResult::kOk) {
        errors.Add(
            u"The message store could not be compacted at the end of the synchronisation (is "
            u"the disk full?). No message is lost; deleted records stay in the file until the "
            u"next compaction.");
    }
    view.SetStatusText(u"");
    lock.Release();
}

bool CSynchronizer::StartManualSync() {
    int expected = 0;
    if (!m_bSyncBusy.compare_exchange_strong(expected, 1))
        return false;
    m_bSyncIdle = 0;
    // The view is called with no lock of ours held.
    ctx_.view->EnableFolderChooser(false);
    std::lock_guard<std::mutex> guard(thread_mutex_);
    if (manual_thread_.joinable())
        manual_thread_.join();  // the previous run has ended: busy was clear
    manual_thread_ = std::thread(&CSynchronizer::ManualWorker, this);
    return true;
}

void CSynchronizer::EndRun() {
    ++m_nRuns;
    {
        std::lock_guard<std::mutex> lock(idle_mutex_);
        m_bSyncBusy = 0;
        m_bSyncIdle = 1;
    }
    idle_cv_.notify_all();
}

void CSynchronizer::ManualWorker() {
    LowerThreadPriority();
    SynchronizeMessages();
    ctx_.view->EnableFolderChooser(true);
    EndRun();
}

bool CSynchronizer::RunManualSync() {
    int expected = 0;
    if (!m_bSyncBusy.compare_exchange_strong(expected, 1))
        return false;
    m_bSyncIdle = 0;
    SynchronizeMessages();
    EndRun();
    return true;
}

void CSynchronizer::WaitIdle() {
    std::unique_lock<std::mutex> lock(idle_mutex_);
    // The flag is also cleared by paths that do not hold the mutex; the
    // timed wait (the close's 500 ms step) covers them.
    while (m_bSyncBusy)
        idle_cv_.wait_for(lock, std::chrono::milliseconds(500));
}

void CSynchronizer::SetInterfaceIdle(bool idle) {
    m_bSyncIdle = idle ? 1 : 0;
    Notify();
}

void CSynchronizer::Notify() {
    { std::lock_guard<std::mutex> guard(thread_mutex_); }
    wake_.notify_all();
}

void CSynchronizer::StartAutoSync() {
    std::lock_guard<std::mutex> guard(thread_mutex_);
    if (m_bAutoSyncRunning)
        return;
    m_bAutoSyncRunning = 1;
    if (auto_alive_)
        return;  // the thread has not noticed the stop yet: it goes on
    if (auto_thread_.joinable())
        auto_thread_.join();
    auto_alive_ = true;
    auto_thread_ = std::thread(&CSynchronizer::AutoSyncThread, this);
}

void CSynchronizer::StopAutoSync() {
    m_bAutoSyncRunning = 0;
    Notify();
}

void CSynchronizer::RestartCountdown() {
    m_bRestartCountdown = 1;
    Notify();
}

void CSynchronizer::SleepStep() {
    std::unique_lock<std::mutex> lock(thread_mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(step_ms_.load()),
                   [this] { return !m_bAutoSyncRunning || m_bRestartCountdown; });
}

void CSynchronizer::AutoSyncThread() {
    using Clock = std::chrono::steady_clock;
    LowerThreadPriority();
    for (;;) {
        // The countdown. Unlike a plain flag reset, m_bSyncBusy is left alone
        // here: a manual run in progress keeps it set.
        long long interval_ms =
            static_cast<long long>(ctx_.Settings().m_nAutoSyncInterval) * minute_ms_.load();
        Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(interval_ms);
        while (m_bAutoSyncRunning && !m_bRestartCountdown) {
            Clock::time_point now = Clock::now();
            if (deadline <= now)
                break;
            if (m_bSyncIdle) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
                // Seconds shown as a countdown on the scale of the interval.
                long long seconds = (left.count() * 60 + minute_ms_ - 1) / minute_ms_;
                ctx_.view->SetStatusText(Countdown(seconds));
            }
            SleepStep();
        }
        bool end = false;
        {
            std::lock_guard<std::mutex> guard(thread_mutex_);
            if (!m_bAutoSyncRunning)
                end = true, auto_alive_ = false;
        }
        if (end) {
            if (m_bSyncIdle)
                ctx_.view->SetStatusText(u"");
            return;
        }
        if (m_bSyncIdle)
            ctx_.view->SetStatusText(Countdown(0));
        ++m_nCountdowns;
        if (m_bRestartCountdown.exchange(0))
            continue;  // the interval changed: count down again, no run
        int expected = 0;
        if (m_bSyncIdle && m_bSyncBusy.compare_exchange_strong(expected, 1)) {
            m_bSyncIdle = 0;
            SynchronizeMessages();
            EndRun();
        }
    }
}

void CSynchronizer::Shutdown() {
    StopAutoSync();
    WaitIdle();
    std::thread a, m;
    {
        std::lock_guard<std::mutex> guard(thread_mutex_);
        a = std::move(auto_thread_);
        m = std::move(manual_thread_);
    }
    if (a.joinable())
        a.join();
    if (m.joinable())
        m.join();
}

}  // namespace parlo
