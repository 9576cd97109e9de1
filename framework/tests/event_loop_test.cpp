// The main loop waits for the next thing to do instead of pausing between
// passes: a posted message, a stop, a start request, a window message
// (Windows) or the minute in which its heartbeat may be due. These cases hold
// the loop to its rules, not to a speed: the clock stands at the start of a
// minute, so a loop that missed what the test does would sleep for a minute,
// past the test's deadline, and fail it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "framework/event_broker.h"
#include "framework/instance_manager.h"
#include "framework/tests/test_support.h"
#include "platform/thread.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using fwtest::FunctionGenerator;
using fwtest::RecordingListener;
using fwtest::Seen;
using namespace std::chrono_literals;

const vela::Guid kTopic = quor::kTarnListenerClassId;

platform::LocalTime at(int minute, int second, int milliseconds) {
  platform::LocalTime t;
  t.year = 2026;
  t.month = 3;
  t.day = 9;
  t.hour = 10;
  t.minute = minute;
  t.second = second;
  t.milliseconds = milliseconds;
  return t;
}

// A loop with the real wait: the instance manager's pump step (window
// messages and the wake signal on Windows, the wake signal natively), or a
// broker without a manager, which waits on its signal alone.
class QuietLoopTest : public ::testing::TestWithParam<bool> {
 protected:
  QuietLoopTest() {
    if (GetParam()) {
      manager_ = std::make_unique<quor::InstanceManager>();
    } else {
      alone_ = std::make_unique<quor::EventBroker>(nullptr);
    }
    // Still at the start of a minute: each quiet pass may wait a minute.
    broker().setClock([this] {
      ++reads;
      return at(0, 0, 0);
    });
  }
  quor::EventBroker& broker() { return manager_ ? *manager_->getEventBroker() : *alone_; }
  quor::IInstanceManager* manager() { return manager_.get(); }
  // Runs the loop; false when the deadline ended it.
  bool runLoop() {
    return fwtest::runWithDeadline(broker(), 20s, [&] {
      EXPECT_EQ(manager_ ? manager_->run() : alone_->run(), 0);
    });
  }
  // Blocks until the loop has started (read the clock once).
  void awaitLoop() {
    ASSERT_TRUE(fwtest::waitUntil([&] { return reads.load() >= 1; }));
  }

  std::atomic<int> reads{0};

 private:
  std::unique_ptr<quor::InstanceManager> manager_;
  std::unique_ptr<quor::EventBroker> alone_;
};

INSTANTIATE_TEST_SUITE_P(WithAndWithoutManager, QuietLoopTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "InstanceManager" : "BrokerAlone";
                         });

// The clock is read as the loop starts, once per quiet pass and once per
// delivered message: a loop that waits has made one quiet pass by the time
// the message comes; one that paused 100 ms at a time would have made three.
TEST_P(QuietLoopTest, AMessagePostedFromAnotherThreadWakesTheLoop) {
  std::vector<Seen> log;
  auto* listener = new RecordingListener("l", &log);
  listener->onReceive = [&](vela::IMessage*) { broker().stop(nullptr, false); };
  ASSERT_TRUE(broker().add(listener));
  std::thread poster([&] {
    awaitLoop();
    platform::sleepMilliseconds(300);
    broker().post(&kTopic, 7, 0, false);
  });
  EXPECT_TRUE(runLoop()) << "the posted message did not wake the loop";
  poster.join();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].code, 7);
  EXPECT_LE(reads.load(), 4) << "the loop did not wait";
}

TEST_P(QuietLoopTest, AStopFromAnotherThreadEndsTheLoop) {
  std::thread stopper([&] {
    awaitLoop();
    platform::sleepMilliseconds(300);
    broker().stop(nullptr, false);
  });
  EXPECT_TRUE(runLoop()) << "the stop did not wake the loop";
  stopper.join();
  EXPECT_LE(reads.load(), 3) << "the loop did not wait";
}

// A thread that asks for its start while the loop waits is started by the
// loop, in the quiet pass the request wakes.
TEST_P(QuietLoopTest, AStartRequestWakesTheLoopWhichStartsTheThread) {
  std::unique_ptr<FunctionGenerator> generator;
  std::thread requester([&] {
    awaitLoop();
    platform::sleepMilliseconds(300);
    vela::PropertyHolder parameters;
    fwtest::setThreadControl(parameters, &broker());
    generator = std::make_unique<FunctionGenerator>(&parameters, manager(), [&](FunctionGenerator&) {
      broker().stop(nullptr, false);
      return 0u;
    });
    generator->requestStart();
  });
  EXPECT_TRUE(runLoop()) << "the start request did not wake the loop";
  requester.join();
  generator.reset();
}

// With nothing queued the loop waits only until the minute may have turned:
// a clock at 59.999 s gives a wait of a few milliseconds, and every minute
// after the first quiet one brings the heartbeat, as before.
TEST_P(QuietLoopTest, TheHeartbeatStillComesWhileTheLoopWaits) {
  int minute = 0;
  broker().setClock([&] { return at(minute++ % 60, 59, 999); });
  std::vector<Seen> log;
  auto* listener = new RecordingListener("l", &log);
  listener->onReceive = [&](vela::IMessage* m) {
    if (m->getProperties()->getInt(L"status", 0) == 3) broker().stop(nullptr, false);
  };
  ASSERT_TRUE(broker().add(listener));
  EXPECT_TRUE(runLoop()) << "no third heartbeat";
  std::vector<int> beats;
  for (const Seen& s : log) {
    if (*s.source == quor::kTarnEventGeneratorClassId && s.subcode == quor::kHeartbeatSubcode)
      beats.push_back(s.status);
  }
  EXPECT_EQ(beats, (std::vector<int>{1, 2, 3}));
}

TEST(IdleBoundTest, TheWaitEndsJustAfterTheNextMinuteBegins) {
  using quor::EventBroker;
  EXPECT_EQ(EventBroker::millisecondsToNextMinute(at(0, 0, 0)), 60001u);
  EXPECT_EQ(EventBroker::millisecondsToNextMinute(at(0, 30, 250)), 29751u);
  EXPECT_EQ(EventBroker::millisecondsToNextMinute(at(0, 59, 999)), 2u);
  // A leap second, or a clock that answers nonsense, never makes the wait
  // longer than a minute or zero.
  EXPECT_EQ(EventBroker::millisecondsToNextMinute(at(0, 60, 500)), 501u);
  EXPECT_EQ(EventBroker::millisecondsToNextMinute(at(0, -1, -1)), 60001u);
  EXPECT_EQ(EventBroker::millisecondsToNextMinute(at(0, 59, 5000)), 2u);
}

#ifdef _WIN32
// Window messages are still pumped by a waiting loop: one posted to a window
// of the loop's thread, and one sent from another thread, whose sender
// waits for the answer.
std::atomic<int> postedSeen{0};

LRESULT CALLBACK probeProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP + 1) {
    ++postedSeen;
    return 0;
  }
  if (message == WM_APP + 2) return 42;
  return DefWindowProcW(window, message, wParam, lParam);
}

TEST(QuietLoopWindowsTest, WindowMessagesWakeTheLoopAndArePumped) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = probeProcedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"QuietLoopProbe";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, L"QuietLoopProbe", L"probe", WS_POPUP, 0, 0, 10, 10, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  // Messages the creation left behind are not what this case is about.
  MSG drained;
  while (PeekMessageW(&drained, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&drained);

  quor::InstanceManager manager;
  quor::EventBroker* broker = manager.getEventBroker();
  std::atomic<int> reads{0};
  broker->setClock([&] {
    ++reads;
    return at(0, 0, 0);
  });
  postedSeen = 0;
  DWORD_PTR answer = 0;
  LRESULT sent = 0;
  std::thread other([&] {
    fwtest::waitUntil([&] { return reads.load() >= 1; });
    platform::sleepMilliseconds(300);
    PostMessageW(window, WM_APP + 1, 0, 0);
    fwtest::waitUntil([&] { return postedSeen.load() == 1; });
    platform::sleepMilliseconds(300);
    sent = SendMessageTimeoutW(window, WM_APP + 2, 0, 0, SMTO_NORMAL, 20000, &answer);
    broker->stop(nullptr, false);
  });
  EXPECT_TRUE(fwtest::runWithDeadline(*broker, 30s, [&] { manager.run(); }));
  other.join();
  EXPECT_EQ(postedSeen.load(), 1) << "the posted window message was not dispatched";
  EXPECT_NE(sent, 0) << "the sent message was not answered";
  EXPECT_EQ(answer, 42u);
  DestroyWindow(window);
  UnregisterClassW(L"QuietLoopProbe", GetModuleHandleW(nullptr));
}
#endif

}  // namespace
