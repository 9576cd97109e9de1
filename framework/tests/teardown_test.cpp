// Tearing the framework down while component threads are still busy: a pipe
// reader blocked in a read that fails at that very moment (the port monitor
// closes the pipe right after the job) and a ticker that keeps posting. Each
// must be stopped and joined before anything it reaches is deleted.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "framework/instance_manager.h"
#include "framework/tests/test_support.h"
#include "platform/byte_stream.h"
#include "platform/debug_output.h"
#include "platform/test_support/pipe_pair.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

using fwtest::FastManager;
using fwtest::FunctionGenerator;
using namespace std::chrono_literals;

// What a pipe reader does: read records until a read fails, then stop the
// broker. The reads use the generator's own buffer, so a thread that outlived
// its object would write into freed memory. Like the real components it
// reaches the broker through the manager, unless told to use the broker it
// was given (for threads that run while the manager itself is deleted).
class PipeReader : public quor::AbstractEventGenerator {
 public:
  PipeReader(vela::IPropertyHolder* parameters, quor::IInstanceManager* manager,
             platform::StreamHandle input, bool viaManager)
      : AbstractEventGenerator(parameters, manager),
        input_(input),
        broker_(manager->getEventBroker()),
        viaManager_(viaManager) {
    requestStart();
  }
  ~PipeReader() override { stopAndJoin(); }
  std::uint32_t run() override {
    reading = true;
    while (platform::readExactly(input_, buffer_, sizeof buffer_)) {
      broker()->post(getClassId(), buffer_[0], 0, true);
    }
    broker()->stop(getClassId(), false);
    return 0;
  }
  const vela::Guid* getClassId() const override { return &quor::kTarnEventGeneratorClassId; }
  std::atomic<bool> reading{false};

 private:
  quor::EventBroker* broker() { return viaManager_ ? manager_->getEventBroker() : broker_; }
  platform::StreamHandle input_;
  quor::EventBroker* broker_;
  bool viaManager_;
  char buffer_[16] = {};
};

// What a timer does: wait, then post, until asked to stop.
class Ticker : public quor::AbstractEventGenerator {
 public:
  Ticker(vela::IPropertyHolder* parameters, quor::IInstanceManager* manager, bool viaManager)
      : AbstractEventGenerator(parameters, manager),
        broker_(manager->getEventBroker()),
        viaManager_(viaManager) {
    requestStart();
  }
  ~Ticker() override { stopAndJoin(); }
  std::uint32_t run() override {
    while (!waitForStop(0)) {
      (viaManager_ ? manager_->getEventBroker() : broker_)->post(getClassId(), 123, 0, false);
      ++ticks;
      std::this_thread::yield();
    }
    return 0;
  }
  const vela::Guid* getClassId() const override { return &quor::kTimerEventGeneratorClassId; }
  std::atomic<long> ticks{0};

 private:
  quor::EventBroker* broker_;
  bool viaManager_;
};

#if defined(__SANITIZE_THREAD__)
constexpr int kTeardowns = 300;  // each round costs much more under TSan
#elif defined(_WIN32)
constexpr int kTeardowns = 200;  // every thread and mutex is a server call under Wine
#else
constexpr int kTeardowns = 1000;
#endif

// The ways a job ends, taken in turn.
enum class Ending {
  kListenerStopsThenPipeCloses,  // end of job, then the port monitor closes the pipe
  kPipeClosesDuringStop,         // both at once, from another thread
  kPipeClosesFirst,              // the reader's failed read stops the broker
  kDeletedWhileThreadsRun,       // threads running, no loop: the destructor must join
};

TEST(TeardownTest, ManyTeardownsWhileThreadsWakeMidTeardown) {
  std::atomic<long> stuck{0};
  platform::ScopedDebugOutputCapture capture([&](const std::string& text) {
    // The debug listener traces every tick; only reports of threads that did
    // not end count here.
    if (text.find("did not end") != std::string::npos) ++stuck;
  });
  for (int round = 0; round < kTeardowns; ++round) {
    SCOPED_TRACE(round);
    const auto ending = static_cast<Ending>(round % 4);
    const bool viaManager = ending != Ending::kDeletedWhileThreadsRun;
    testsupport::PipePair pipe;
    ASSERT_TRUE(platform::isUsableStream(pipe.readEnd()));
    auto* manager = new FastManager;
    quor::EventBroker* broker = manager->getEventBroker();
    vela::PropertyHolder parameters;
    fwtest::setThreadControl(parameters, broker);
    auto* reader = new PipeReader(&parameters, manager, pipe.readEnd(), viaManager);
    auto* ticker = new Ticker(&parameters, manager, viaManager);
    ASSERT_TRUE(manager->addComponent(reader));
    ASSERT_TRUE(manager->addComponent(ticker));
    ASSERT_TRUE(manager->createComponent("DebugListener", nullptr));
    const auto working = [&] { return reader->reading.load() && ticker->ticks.load() > 0; };

    std::thread closer;
    const auto closeSoon = [&] {
      closer = std::thread([&pipe, round] {
        if (round % 3 == 1) std::this_thread::yield();
        if (round % 3 == 2) platform::sleepMilliseconds(1);
        pipe.closeWriteEnd();
      });
    };
    if (ending == Ending::kDeletedWhileThreadsRun) {
      reader->start();
      ticker->start();
      ASSERT_TRUE(fwtest::waitUntil(working));
      closeSoon();
    } else {
      manager->onPump = [&] {
        if (!working() || closer.joinable()) return;
        switch (ending) {
          case Ending::kListenerStopsThenPipeCloses:
            broker->stop(nullptr, false);
            break;
          case Ending::kPipeClosesDuringStop:
            closeSoon();
            broker->stop(nullptr, false);
            break;
          default:
            closeSoon();
            break;
        }
      };
      ASSERT_TRUE(fwtest::runWithDeadline(*broker, 20s, [&] { manager->run(); }));
      EXPECT_TRUE(reader->isFinished()) << "component threads end with the loop";
      EXPECT_TRUE(ticker->isFinished());
      if (!closer.joinable()) closeSoon();
    }
    delete manager;
    closer.join();
  }
  EXPECT_EQ(stuck.load(), 0) << "every thread ended in time";
}

TEST(TeardownTest, ComponentWhoseThreadWillNotEndIsLeftAliveNotFreedUnderIt) {
  std::string trace;
  std::mutex traceLock;
  platform::ScopedDebugOutputCapture capture([&](const std::string& text) {
    std::lock_guard<std::mutex> guard(traceLock);
    trace += text;
  });
  std::atomic<bool> release{false};
  std::atomic<bool> running{false};
  FunctionGenerator* stubborn = nullptr;
  {
    FastManager manager;
    manager.getEventBroker()->setJoinTimeout(50);
    vela::PropertyHolder parameters;
    fwtest::setThreadControl(parameters, manager.getEventBroker());
    stubborn = new FunctionGenerator(&parameters, &manager, [&](FunctionGenerator&) {
      running = true;
      fwtest::waitUntil([&] { return release.load(); });  // deaf to stop requests
      return 0u;
    });
    ASSERT_TRUE(manager.addComponent(stubborn));
    manager.onPump = [&] {
      if (running.load()) manager.getEventBroker()->stop(nullptr, false);
    };
    ASSERT_TRUE(fwtest::runWithDeadline(*manager.getEventBroker(), 20s, [&] { manager.run(); }));
  }
  {
    std::lock_guard<std::mutex> guard(traceLock);
    EXPECT_NE(trace.find("left alive"), std::string::npos) << trace;
    // Joined once: the loop gave it up, and neither the manager's nor the
    // broker's destructor waited for it again.
    std::size_t joins = 0;
    for (std::size_t at = trace.find("did not end within"); at != std::string::npos;
         at = trace.find("did not end within", at + 1)) {
      ++joins;
    }
    EXPECT_EQ(joins, 1u) << trace;
  }
  // The component survived its broker (which took itself off the thread's
  // listeners); once its thread ends it can go.
  release = true;
  delete stubborn;
}

}  // namespace
