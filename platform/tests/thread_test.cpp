#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>

#include "platform/mutex.h"

namespace {

using Clock = std::chrono::steady_clock;

std::uint32_t waitForRelease(void* argument) {
  auto* release = static_cast<std::atomic<bool>*>(argument);
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (!release->load() && Clock::now() < deadline) platform::sleepMilliseconds(1);
  return 7;
}

TEST(PlatformThreadTest, ExitCodeIsStillActiveUntilTheEntryReturnsThenItsResult) {
  std::atomic<bool> release{false};
  std::uint32_t id = 0;
  platform::ThreadHandle thread = platform::createThread(waitForRelease, &release, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, platform::currentThreadId());

  std::uint32_t code = 0;
  ASSERT_TRUE(platform::getExitCodeThread(thread, &code));
  EXPECT_EQ(code, platform::kStillActive);
  EXPECT_EQ(platform::waitForThread(thread, 10), platform::kWaitTimeout);

  release = true;
  ASSERT_EQ(platform::waitForThread(thread, 20000), platform::kWaitObject0);
  ASSERT_TRUE(platform::getExitCodeThread(thread, &code));
  EXPECT_EQ(code, 7u);
  platform::closeThreadHandle(thread);
}

TEST(PlatformThreadTest, NullHandleFailsEveryQuery) {
  std::uint32_t code = 1;
  EXPECT_FALSE(platform::getExitCodeThread(nullptr, &code));
  EXPECT_EQ(platform::waitForThread(nullptr, 0), platform::kWaitFailed);
  EXPECT_FALSE(platform::cancelSynchronousIo(nullptr));
  platform::closeThreadHandle(nullptr);
}

TEST(PlatformThreadTest, HandleClosedWhileTheThreadRunsLeavesItRunningAlone) {
  // The thread keeps its own share of what it needs: closing first and ending
  // later must neither block nor touch freed memory.
  static std::atomic<bool> release{false};
  static std::atomic<bool> ended{false};
  release = false;
  ended = false;
  platform::ThreadHandle thread = platform::createThread(
      [](void*) -> std::uint32_t {
        while (!release.load()) platform::sleepMilliseconds(1);
        ended = true;
        return 0;
      },
      nullptr, nullptr);
  ASSERT_NE(thread, nullptr);
  platform::closeThreadHandle(thread);
  release = true;
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (!ended.load() && Clock::now() < deadline) platform::sleepMilliseconds(1);
  EXPECT_TRUE(ended.load());
  platform::sleepMilliseconds(20);  // let the thread leave before the test ends
}

TEST(PlatformMutexTest, OwnerMayTakeItAgainAndOnlyTheOwnerReleases) {
  platform::MutexHandle mutex = platform::createMutex();
  ASSERT_NE(mutex, nullptr);
  ASSERT_EQ(platform::waitForMutex(mutex, platform::kInfinite), platform::kWaitObject0);
  ASSERT_EQ(platform::waitForMutex(mutex, 0), platform::kWaitObject0);

  struct Probe {
    platform::MutexHandle mutex;
    std::uint32_t waitResult = 0;
    bool released = true;
  } probe{mutex};
  platform::ThreadHandle other = platform::createThread(
      [](void* argument) -> std::uint32_t {
        auto* p = static_cast<Probe*>(argument);
        p->released = platform::releaseMutex(p->mutex);
        p->waitResult = platform::waitForMutex(p->mutex, 30);
        return 0;
      },
      &probe, nullptr);
  ASSERT_NE(other, nullptr);
  ASSERT_EQ(platform::waitForThread(other, 20000), platform::kWaitObject0);
  platform::closeThreadHandle(other);
  EXPECT_FALSE(probe.released) << "a thread that does not own the mutex released it";
  EXPECT_EQ(probe.waitResult, platform::kWaitTimeout);

  EXPECT_TRUE(platform::releaseMutex(mutex));
  EXPECT_TRUE(platform::releaseMutex(mutex));
  EXPECT_FALSE(platform::releaseMutex(mutex)) << "released more often than taken";
  platform::closeMutex(mutex);
}

TEST(PlatformMutexTest, NullMutexFailsQuietly) {
  EXPECT_EQ(platform::waitForMutex(nullptr, 0), platform::kWaitFailed);
  EXPECT_FALSE(platform::releaseMutex(nullptr));
  platform::closeMutex(nullptr);
}

}  // namespace
