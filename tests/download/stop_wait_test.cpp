// The Break loop that the Operation page and vornic-flash share, with real
// events, a real thread and a real Ctrl-C request (SIGINT on Linux, the
// console's control handler on Windows).

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "download/stop_wait.h"

namespace {

using Clock = std::chrono::steady_clock;

struct RunEvents {
    platform::Event stop{platform::ResetMode::Auto, false};
    platform::Event idle{platform::ResetMode::Manual, false};
};

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

TEST(StopWait, AnIdleRunIsNeverAskedToStop) {
    RunEvents run;
    run.idle.Set();
    EXPECT_EQ(StopUntilIdle(run.idle, run.stop), StopWaitEnd::Idle);
    EXPECT_FALSE(run.stop.IsSignalled());
}

TEST(StopWait, TheRequestIsRaisedEvery200MsUntilTheRunIsIdle) {
    RunEvents run;
    // A worker that misses the first request, as one waiting for a reply may.
    std::thread worker([&] {
        run.stop.Wait(platform::kInfinite);
        run.stop.Wait(platform::kInfinite);
        run.idle.Set();
    });
    const auto start = Clock::now();
    EXPECT_EQ(StopUntilIdle(run.idle, run.stop), StopWaitEnd::Idle);
    EXPECT_GE(MsSince(start), 2 * kStopWaitSliceMs - 5);
    worker.join();
}

TEST(StopWait, AFurtherInterruptEndsTheWaitBeforeTheRunIsIdle) {
    platform::InterruptSignals signals;
    ASSERT_TRUE(signals.IsValid());
    RunEvents run;
    platform::RaiseInterruptRequest();  // taken as data now: it waits for the loop
    EXPECT_EQ(StopUntilIdle(run.idle, run.stop, &signals), StopWaitEnd::Interrupted);
    EXPECT_FALSE(signals.Take()) << "the loop took the request";

    // Without one, the same loop ends when the run does.
    std::thread worker([&] {
        run.stop.Wait(platform::kInfinite);
        run.idle.Set();
    });
    EXPECT_EQ(StopUntilIdle(run.idle, run.stop, &signals), StopWaitEnd::Idle);
    worker.join();
}
