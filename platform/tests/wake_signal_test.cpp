#include "platform/wake_signal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/thread.h"

namespace {

// A setting waits for the wait that takes it, however many came before it.
TEST(WakeSignalTest, ASetBeforeTheWaitIsKeptAndSeveralSetsWakeOnce) {
  platform::WakeSignal signal;
  EXPECT_FALSE(signal.wait(0)) << "a new signal is clear";
  signal.set();
  EXPECT_TRUE(signal.wait(20000));
  signal.set();
  signal.set();
  EXPECT_TRUE(signal.wait(20000));
  EXPECT_FALSE(signal.wait(10)) << "the second set was not kept apart";
}

TEST(WakeSignalTest, ASetFromAnotherThreadWakesTheWaiter) {
  platform::WakeSignal signal;
  std::atomic<bool> waiting{false};
  std::thread setter([&] {
    while (!waiting.load()) platform::sleepMilliseconds(1);
    platform::sleepMilliseconds(20);
    signal.set();
  });
  waiting = true;
  const bool woken = signal.wait(20000);
  setter.join();
  EXPECT_TRUE(woken);
}

}  // namespace
