#include "channel/timer_event_generator.h"

#include <gtest/gtest.h>

#include "channel/tests/channel_test_support.h"
#include "framework/class_id.h"

namespace {

using chantest::TestManager;

TEST(TimerEventGeneratorTest, IntervalIsClampedAsAnUnsignedNumber) {
  const struct {
    const char* given;  // null: no "interval"
    std::uint32_t expected;
  } cases[] = {
      {nullptr, 60000},
      {"5", 10},
      {"10", 10},
      {"0", 10},
      {"abc", 10},
      {"0x3E8", 1000},
      {"86400000", 86400000},
      {"86400001", 86400000},
      {"100000000", 86400000},
      {"-1", 86400000},
      {"-2147483648", 86400000},
  };
  TestManager manager;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.given ? c.given : "(none)");
    std::vector<std::pair<const char*, std::wstring>> texts;
    if (c.given) texts.push_back({"interval", std::wstring(c.given, c.given + strlen(c.given))});
    auto params = chantest::parameters(manager.broker, texts);
    quor::TimerEventGenerator timer(params.get(), &manager);
    EXPECT_EQ(timer.interval(), c.expected);
  }
}

TEST(TimerEventGeneratorTest, TicksAreSimpleMessagesFromItsClassIdAndEndWithTheBroker) {
  TestManager manager;
  auto recording = chantest::addRecorder(manager.broker);
  recording->onMessage = [&](const chantest::Seen&) {
    if (recording->snapshot().size() == 3) manager.broker.stop(nullptr, false);
  };
  auto params = chantest::parameters(manager.broker, {{"interval", L"10"}});
  auto* timer = new quor::TimerEventGenerator(params.get(), &manager);
  ASSERT_TRUE(manager.broker.add(timer));
  EXPECT_TRUE(chantest::runLoop(manager.broker));
  const auto seen = recording->snapshot();
  ASSERT_EQ(seen.size(), 3u);
  for (const auto& s : seen) {
    EXPECT_EQ(s.source, &quor::kTimerEventGeneratorClassId);
    EXPECT_EQ(s.code, 123);
    EXPECT_EQ(s.flags, 0);
    EXPECT_TRUE(s.kinds.empty());  // no properties of its own
  }
  // The thread sleeps in a stoppable wait: joining it does not take an
  // interval, however long.
  EXPECT_TRUE(manager.broker.stopComponentThreads(5000));
  EXPECT_TRUE(timer->isFinished());
}

// A timer sleeping through a long interval ends at once when asked: its join
// is bounded by 5 s, the interval is a minute.
TEST(TimerEventGeneratorTest, JoiningTheThreadDoesNotWaitForTheInterval) {
  TestManager manager;
  auto params = chantest::parameters(manager.broker, {{"interval", L"60000"}});
  quor::TimerEventGenerator timer(params.get(), &manager);
  ASSERT_EQ(timer.interval(), 60000u);
  timer.start();
  platform::sleepMilliseconds(50);  // into its sleep
  EXPECT_FALSE(timer.isFinished());
  EXPECT_TRUE(timer.stopAndJoin());
  EXPECT_TRUE(timer.isFinished());
}

}  // namespace
