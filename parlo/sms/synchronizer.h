// The synchronisation run and the automatic synchronisation thread.
//
// A run takes the lock file "vok.lock", opens and identifies the phone, sends
// the Outbox, carries out pending phone deletions and wipe orders, reads both
// storages into the store and compacts it. Problems go to the error list.
//
// Runs never overlap: a run starts only when it can claim m_bSyncBusy (0 to 1
// in one atomic step), and the run itself is serialised by a mutex as well.
// The automatic thread counts down in steps (5 s), shows "AS: hh:mm:ss" while
// the interface is idle, and starts a run when the interval has passed.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "parlo/sms/engine_context.h"
#include "parlo/sms/phone_session.h"
#include "parlo/sms/sms_operations.h"
#include "parlo/store/sync_lock.h"

namespace parlo {

inline constexpr unsigned IDS_SYNC_FAILED = 65024;
inline constexpr unsigned IDS_SEND_FAILED = 65041;
inline constexpr unsigned IDS_DELETE_FAILED = 65042;
inline constexpr unsigned IDS_CLEAR_PHONE_FAILED = 65049;
inline constexpr unsigned IDS_CLEAR_SIM_FAILED = 65050;
inline constexpr unsigned IDS_SYNCHRONIZING = 65051;
inline constexpr unsigned IDS_CONNECTION_ACTIVE = 65071;
inline constexpr unsigned IDS_SYNC_RUNNING = 65135;

class CSynchronizer {
  public:
    CSynchronizer(const CEngineContext& ctx, CPhoneSession* session, CSmsOperations* ops);
    // Stops the automatic thread and waits for every run (Shutdown).
    ~CSynchronizer();
    CSynchronizer(const CSynchronizer&) = delete;
    CSynchronizer& operator=(const CSynchronizer&) = delete;

    // One run on the calling thread; the outcome is in the error list.
    void SynchronizeMessages();

    // The sync command: starts a run on a worker thread unless one is busy.
    // Returns false (and does nothing) while a run is busy.
    bool StartManualSync();
    // A run on the calling thread with the manual command's flags (the
    // command-line front end). False when a run is busy.
    bool RunManualSync();
    // Waits until no run is busy.
    void WaitIdle();

    // Starts the automatic thread unless it is running.
    void StartAutoSync();
    // Asks the automatic thread to end at its next check.
    void StopAutoSync();
    // Restarts the countdown without a run (the interval changed).
    void RestartCountdown();
    // Clears the automatic flag, waits until no run is busy and joins the
    // threads: the document's close.
    void Shutdown();

    // Asks the run in progress to end at its next safe point: between two
    // messages it sends, and before (or between the slots of) the reading.
    // Nothing is lost: what was not sent stays in the Outbox, what was not
    // read stays on the phone, and the error list says that the run stopped.
    void RequestStop();
    bool StopRequested() const { return m_bStopRequested != 0; }

    // The interface-idle flag: the front end clears it while one of its
    // dialogs is open, so that an automatic run due then is skipped.
    void SetInterfaceIdle(bool idle);

    // The synchronisation (of this or another program) whose lock kept the
    // last run from starting; none when the last run took the lock, or the
    // lock was held by something else (the dial-up program).
    std::optional<SyncHolder> BlockedBy() const;

    // Test hook: the length of an interval "minute" and of a countdown step.
    void SetTimingForTesting(std::chrono::milliseconds minute, std::chrono::milliseconds step);

    std::atomic<int> m_bSyncBusy{0};
    std::atomic<int> m_bSyncIdle{1};
    std::atomic<int> m_bRestartCountdown{0};
    std::atomic<int> m_bAutoSyncRunning{0};
    std::atomic<int> m_bStopRequested{0};
    // Runs completed since construction (automatic and manual).
    std::atomic<int> m_nRuns{0};
    // Countdowns of the automatic thread that ran out.
    std::atomic<int> m_nCountdowns{0};

  private:
    void AutoSyncThread();
    void ManualWorker();
    // The end of every run: counted, busy cleared, interface idle again, and
    // the waiters woken.
    void EndRun();
    // Sleeps one countdown step, waking early when a flag changes.
    void SleepStep();
    void Notify();
    std::u16string Load(unsigned id) const;

    CEngineContext ctx_;
    CPhoneSession* session_;
    CSmsOperations* ops_;

    std::mutex run_mutex_;  // held for the length of one run

    std::mutex thread_mutex_;  // guards the thread objects and auto_alive_
    std::condition_variable wake_;
    std::thread auto_thread_;
    bool auto_alive_ = false;
    std::thread manual_thread_;

    std::mutex idle_mutex_;
    std::condition_variable idle_cv_;

    mutable std::mutex blocked_mutex_;
    std::optional<SyncHolder> blocked_by_;

    std::atomic<long long> minute_ms_{60000};
    std::atomic<long long> step_ms_{5000};
};

}  // namespace parlo
