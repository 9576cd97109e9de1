#include "platform/wake_signal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/tests/blocked_thread.h"
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
  std::string waiter;  // set before `named`
  std::atomic<bool> named{false};
  std::atomic<bool> blocked{false};
  std::thread setter([&] {
    while (!named.load()) platform::sleepMilliseconds(1);
    // Set only once the waiter sleeps in its wait: a set before the wait
    // would be kept and prove nothing about waking.
    blocked = platform::testing::waitUntilBlocked(waiter);
    signal.set();
  });
  waiter = platform::testing::nameCallingThread();
  named = true;
  const bool woken = signal.wait(20000);
  setter.join();
  EXPECT_TRUE(blocked) << "the waiter was never seen blocked";
  EXPECT_TRUE(woken);
}

}  // namespace
