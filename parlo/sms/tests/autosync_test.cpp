// The automatic synchronisation thread with short intervals: countdown text,
// restart on an interval change, switching off, skipped runs, and a manual
// run that never overlaps an automatic one.
#include <gtest/gtest.h>

#include "parlo/sms/tests/engine_fixture.h"

namespace parlo::testing {
namespace {

using namespace std::chrono_literals;

// Polls `pred` until it holds or a generous deadline passes.
template <typename Pred>
bool WaitFor(Pred pred, std::chrono::seconds deadline = 60s) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        if (pred())
            return true;
        std::this_thread::sleep_for(5ms);
    }
    return pred();
}

bool StartsWith(const std::u16string& s, const std::u16string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

class AutoSyncTest : public EngineTest {};

TEST_F(AutoSyncTest, CountdownRestartsOnIntervalChangeAndEndsWhenSwitchedOff) {
    settings_.m_nAutoSyncInterval = 1;
    Engine().m_sync.SetTimingForTesting(60000ms, 10ms);
    Engine().m_sync.StartAutoSync();
    EXPECT_TRUE(WaitFor([&] {
        std::u16string s = view_.last_status();
        return StartsWith(s, u"AS: 00:00:5") || s == u"AS: 00:01:00";
    }));
    // A longer interval: the countdown starts again from it, with no run.
    settings_.m_nAutoSyncInterval = 3;
    Engine().m_sync.RestartCountdown();
    EXPECT_TRUE(WaitFor([&] {
        std::u16string s = view_.last_status();
        return StartsWith(s, u"AS: 00:02:5") || s == u"AS: 00:03:00";
    }));
    EXPECT_EQ(Engine().m_sync.m_nRuns, 0);
    EXPECT_EQ(Engine().m_sync.m_nCountdowns, 1);

    Engine().m_sync.StopAutoSync();
    EXPECT_TRUE(WaitFor([&] { return view_.last_status().empty(); }));
    Engine().m_sync.Shutdown();
    EXPECT_EQ(Engine().m_sync.m_nRuns, 0);
}

TEST_F(AutoSyncTest, RunsWhenTheIntervalHasPassed) {
    StartPhone();
    AddRecord(STATE_OUTBOX, u"+491709999999", u"automatic");
    settings_.m_nAutoSyncInterval = 1;
    Engine().m_sync.SetTimingForTesting(100ms, 10ms);
    Engine().m_sync.StartAutoSync();
    EXPECT_TRUE(WaitFor([&] { return Engine().m_sync.m_nRuns >= 1; }));
    Engine().m_sync.Shutdown();
    EXPECT_TRUE(Engine().m_errors.Empty()) << platform::ToUtf8(Engine().m_errors.Text());
    EXPECT_EQ(InState(STATE_SENT).size(), 1u);
    EXPECT_EQ(SentCount(), 1u);
}

TEST_F(AutoSyncTest, RunDueWhileTheInterfaceIsBusyIsSkipped) {
    settings_.m_nAutoSyncInterval = 1;
    Engine().m_sync.SetTimingForTesting(20ms, 5ms);
    Engine().m_sync.SetInterfaceIdle(false);
    Engine().m_sync.StartAutoSync();
    EXPECT_TRUE(WaitFor([&] { return Engine().m_sync.m_nCountdowns >= 3; }));
    EXPECT_EQ(Engine().m_sync.m_nRuns, 0);
    // No countdown text while the interface is busy.
    for (const std::u16string& s : view_.status())
        EXPECT_FALSE(StartsWith(s, u"AS:")) << platform::ToUtf8(s);
    Engine().m_sync.Shutdown();
}

TEST_F(AutoSyncTest, ManualRunNeverOverlapsAnAutomaticOne) {
    // A slow phone keeps the manual run busy over many countdowns.
    StartPhone({"--delay-ms", "20"});
    settings_.m_nAutoSyncInterval = 1;
    Engine().m_sync.SetTimingForTesting(10ms, 2ms);
    Engine().m_sync.StartAutoSync();
    ASSERT_TRUE(Engine().m_sync.StartManualSync());
    int countdowns_before = Engine().m_sync.m_nCountdowns;
    while (Engine().m_sync.m_nRuns == 0) {
        // While the manual run is in progress no second run can start.
        EXPECT_EQ(Engine().m_sync.m_bSyncBusy, 1);
        EXPECT_FALSE(Engine().m_sync.StartManualSync());
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_GT(Engine().m_sync.m_nCountdowns, countdowns_before);
    Engine().m_sync.Shutdown();
    EXPECT_TRUE(Engine().m_errors.Empty()) << platform::ToUtf8(Engine().m_errors.Text());
}

TEST_F(AutoSyncTest, StartingTwiceKeepsOneThread) {
    settings_.m_nAutoSyncInterval = 1;
    Engine().m_sync.SetTimingForTesting(60000ms, 5ms);
    Engine().m_sync.StartAutoSync();
    Engine().m_sync.StartAutoSync();
    Engine().m_sync.StopAutoSync();
    Engine().m_sync.StartAutoSync();  // before the thread noticed the stop
    EXPECT_EQ(Engine().m_sync.m_bAutoSyncRunning, 1);
    Engine().m_sync.Shutdown();
    EXPECT_EQ(Engine().m_sync.m_bAutoSyncRunning, 0);
}

}  // namespace
}  // namespace parlo::testing
