#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/event.h"
#include "platform/thread.h"

using namespace std::chrono;
using platform::Event;
using platform::ResetMode;

namespace {
std::int64_t ElapsedMs(steady_clock::time_point start) {
    return duration_cast<milliseconds>(steady_clock::now() - start).count();
}
}  // namespace

TEST(EventSemantics, AutoResetSignalIsConsumedByOneWait) {
    Event e(ResetMode::Auto, false);
    ASSERT_TRUE(e.IsValid());
    EXPECT_FALSE(e.Wait(0));
    e.Set();
    e.Set();  // setting twice is still one signal
    EXPECT_TRUE(e.Wait(0));
    EXPECT_FALSE(e.Wait(0));
}

TEST(EventSemantics, ManualResetStaysSignalledUntilReset) {
    Event e(ResetMode::Manual, true);
    EXPECT_TRUE(e.Wait(0));
    EXPECT_TRUE(e.Wait(0));
    e.Reset();
    EXPECT_FALSE(e.Wait(0));
    EXPECT_FALSE(e.IsSignalled());
}

TEST(EventSemantics, TimedWaitLastsAtLeastItsTimeout) {
    Event e(ResetMode::Auto, false);
    const auto start = steady_clock::now();
    EXPECT_FALSE(e.Wait(60));
    EXPECT_GE(ElapsedMs(start), 60);
}

TEST(EventSemantics, WaitForAnyPrefersTheLowerIndexWhenBothAreSignalled) {
    Event a(ResetMode::Auto, false), b(ResetMode::Auto, false);
    a.Set();
    b.Set();
    Event* both[] = {&a, &b};
    EXPECT_EQ(platform::WaitForAny(both, 0), 0);
    EXPECT_EQ(platform::WaitForAny(both, 0), 1);
    EXPECT_EQ(platform::WaitForAny(both, 0), platform::kWaitTimeout);
}

TEST(EventSemantics, WaitForAnyTakesOnlyTheWinnersSignalAndALookTakesNone) {
    Event autoReset(ResetMode::Auto, false), manual(ResetMode::Manual, false);
    manual.Set();
    autoReset.Set();
    EXPECT_TRUE(autoReset.IsSignalled());
    EXPECT_TRUE(autoReset.IsSignalled()) << "looking must not consume the signal";
    Event* both[] = {&autoReset, &manual};
    EXPECT_EQ(platform::WaitForAny(both, 0), 0);
    EXPECT_EQ(platform::WaitForAny(both, 0), 1);
    EXPECT_EQ(platform::WaitForAny(both, platform::kInfinite), 1) << "a manual event stays set";
    EXPECT_FALSE(autoReset.IsSignalled());
    manual.Reset();
    const auto start = steady_clock::now();
    EXPECT_EQ(platform::WaitForAny(both, 30), platform::kWaitTimeout);
    EXPECT_GE(ElapsedMs(start), 30);
}

TEST(EventSemantics, SignalFromAnotherThreadWakesTheWaiterAndPublishesItsWrites) {
    Event e(ResetMode::Auto, false);
    int shared = 0;
    ASSERT_TRUE(platform::StartDetachedThread([&] {
        std::this_thread::sleep_for(20ms);
        shared = 42;
        e.Set();
    }));
    EXPECT_TRUE(e.Wait(platform::kInfinite));
    EXPECT_EQ(shared, 42);
}

TEST(DetachedThread, AFailedStartRunsNothing) {
    std::atomic<int> runs{0};
    platform::FailNextThreadStarts(1);
    EXPECT_FALSE(platform::StartDetachedThread([&] { ++runs; }));
    Event done(ResetMode::Manual, false);
    EXPECT_TRUE(platform::StartDetachedThread([&] {
        ++runs;
        done.Set();
    }));
    EXPECT_TRUE(done.Wait(5000));
    EXPECT_EQ(runs.load(), 1);
}
