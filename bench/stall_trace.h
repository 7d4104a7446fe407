// Where the event loop stalls: with SKYVANE_STALL_TRACE set in the
// environment, a watchdog thread has the GUI thread print its stack to
// stderr every 20 ms of a stall longer than 40 ms (function names need the
// bench linked with -rdynamic; `c++filt` makes them readable). Without it,
// nothing runs.
#pragma once

#include <execinfo.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace stall_trace {

struct State {
    std::atomic<long> beats{0};
    std::atomic<bool> armed{false};
    pthread_t gui{};
};

inline State& Shared() {
    static State state;
    return state;
}

inline void PrintStack(int) {
    void* frames[64];
    const int n = backtrace(frames, 64);
    static const char kHead[] = "--- stalled in:\n";
    (void)!write(2, kHead, sizeof kHead - 1);
    backtrace_symbols_fd(frames, n, 2);
}

// Called on the GUI thread; starts the watchdog once.
inline void Arm() {
    if (!std::getenv("SKYVANE_STALL_TRACE"))
        return;
    static bool started = [] {
        Shared().gui = pthread_self();
        signal(SIGUSR2, PrintStack);
        std::thread([] {
            using Clock = std::chrono::steady_clock;
            long last = -1;
            Clock::time_point since = Clock::now();
            for (;;) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                const long beats = Shared().beats.load();
                if (beats != last || !Shared().armed) {
                    last = beats;
                    since = Clock::now();
                } else if (Clock::now() - since > std::chrono::milliseconds(40)) {
                    pthread_kill(Shared().gui, SIGUSR2);
                    since += std::chrono::milliseconds(20);
                }
            }
        }).detach();
        return true;
    }();
    (void)started;
    Shared().armed = true;
}

inline void Beat() {
    Shared().beats.fetch_add(1, std::memory_order_relaxed);
}

inline void Disarm() {
    Shared().armed = false;
}

}  // namespace stall_trace
