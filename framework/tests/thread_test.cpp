#include "framework/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "framework/tests/test_support.h"
#include "platform/byte_stream.h"
#include "platform/debug_output.h"
#include "platform/test_support/pipe_pair.h"
#include "platform/tests/blocked_thread.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

using fwtest::waitUntil;

// Records the control messages it hears, with the state of the thread at
// that moment.
class ControlRecorder : public vela::IListener {
 public:
  bool receive(vela::IMessage* message) override {
    std::lock_guard<std::mutex> guard(lock);
    codes.push_back(message->getCode());
    sources.push_back(message->getSource());
    threads.push_back(
        static_cast<vela::IThread*>(message->getProperties()->getPointer(L"thread", nullptr)));
    return false;
  }
  int count(std::int32_t code) {
    std::lock_guard<std::mutex> guard(lock);
    int n = 0;
    for (auto c : codes) n += c == code;
    return n;
  }
  std::mutex lock;
  std::vector<std::int32_t> codes;
  std::vector<const vela::Guid*> sources;
  std::vector<vela::IThread*> threads;
};

// A thread whose run waits for a release and returns a given code.
class GatedThread : public vela::AbstractThread {
 public:
  explicit GatedThread(vela::IListener* listener, std::uint32_t result = 5)
      : AbstractThread(listener), result_(result) {}
  ~GatedThread() override { stopAndJoin(); }
  std::uint32_t run() override {
    ++runs;
    waitUntil([this] { return release.load() || stopRequested(); });
    return result_;
  }
  std::atomic<int> runs{0};
  std::atomic<bool> release{false};

 private:
  std::uint32_t result_;
};

TEST(ThreadLifeCycleTest, StartTwiceSendsTwoStartingButCreatesOneThread) {
  ControlRecorder recorder;
  GatedThread thread(&recorder);
  EXPECT_EQ(thread.getThreadId(), 0u);
  EXPECT_EQ(*thread.getHandleAddress(), nullptr);
  EXPECT_FALSE(thread.isFinished()) << "never started";
  EXPECT_EQ(thread.wait(0), platform::kWaitFailed);

  thread.start();
  const platform::ThreadHandle first = *thread.getHandleAddress();
  const std::uint32_t id = thread.getThreadId();
  thread.start();
  EXPECT_EQ(recorder.count(vela::Starting), 2);
  EXPECT_EQ(*thread.getHandleAddress(), first);
  EXPECT_EQ(thread.getThreadId(), id);
  EXPECT_NE(id, 0u);

  thread.release = true;
  ASSERT_EQ(thread.wait(20000), platform::kWaitObject0);
  EXPECT_EQ(thread.runs.load(), 1);
}

TEST(ThreadLifeCycleTest, ExitCodeIsTheResultOfRunAndFinishedComesFirst) {
  ControlRecorder recorder;
  ControlRecorder second;
  GatedThread thread(&recorder, 5);
  thread.addListener(&second);
  thread.start();
  EXPECT_FALSE(thread.isFinished());
  thread.release = true;
  ASSERT_EQ(thread.wait(20000), platform::kWaitObject0);
  EXPECT_TRUE(thread.isFinished());
  std::uint32_t code = 0;
  ASSERT_TRUE(platform::getExitCodeThread(*thread.getHandleAddress(), &code));
  EXPECT_EQ(code, 5u);
  // Finished was sent by the thread itself before it ended, to every listener.
  for (ControlRecorder* r : {&recorder, &second}) {
    ASSERT_EQ(r->codes.size(), 2u);
    EXPECT_EQ(r->codes[0], vela::Starting);
    EXPECT_EQ(r->codes[1], vela::Finished);
    EXPECT_EQ(*r->sources[1], vela::ThreadControlId);
    EXPECT_EQ(r->threads[1], static_cast<vela::IThread*>(&thread));
  }
}

TEST(ThreadLifeCycleTest, RequestStartOnlyAsksAndStartsNothing) {
  ControlRecorder recorder;
  GatedThread thread(&recorder);
  thread.requestStart();
  ASSERT_EQ(recorder.codes, std::vector<std::int32_t>{vela::RequestStart});
  EXPECT_EQ(*thread.getHandleAddress(), nullptr);
}

class ThrowingThread : public vela::AbstractThread {
 public:
  using AbstractThread::AbstractThread;
  ~ThrowingThread() override { stopAndJoin(); }
  std::uint32_t run() override { throw std::runtime_error("[ThrowingThread] broken"); }
};

TEST(ThreadLifeCycleTest, ExceptionFromRunStillEndsWithFinishedAndIsTraced) {
  std::string trace;
  std::mutex traceLock;
  platform::ScopedDebugOutputCapture capture([&](const std::string& text) {
    std::lock_guard<std::mutex> guard(traceLock);
    trace += text;
  });
  ControlRecorder recorder;
  ThrowingThread thread(&recorder);
  thread.start();
  ASSERT_EQ(thread.wait(20000), platform::kWaitObject0);
  EXPECT_EQ(recorder.count(vela::Finished), 1);
  std::uint32_t code = 0;
  ASSERT_TRUE(platform::getExitCodeThread(*thread.getHandleAddress(), &code));
  EXPECT_EQ(code, vela::AbstractThread::kExitAfterException);
  std::lock_guard<std::mutex> guard(traceLock);
  EXPECT_NE(trace.find("[ThrowingThread] broken"), std::string::npos) << trace;
}

TEST(ThreadListenersTest, RemovalTakesOneOccurrenceAndIgnoresStrangersAndNull) {
  ControlRecorder a, b;
  GatedThread thread(nullptr);
  thread.addListener(nullptr);
  thread.addListener(&a);
  thread.addListener(&a);
  thread.removeListener(&b);
  thread.removeListener(nullptr);
  thread.requestStart();
  EXPECT_EQ(a.count(vela::RequestStart), 2) << "listed twice, told twice";
  thread.removeListener(&a);
  thread.requestStart();
  EXPECT_EQ(a.count(vela::RequestStart), 3) << "one occurrence left after one removal";
  EXPECT_EQ(b.codes.size(), 0u);
}

// A listener that removes itself from the thread while being told: the list
// it is called from is a copy, so the delivery goes on to the others.
TEST(ThreadListenersTest, ListenerMayRemoveItselfDuringNotify) {
  GatedThread thread(nullptr);
  ControlRecorder after;
  struct SelfRemover : vela::IListener {
    vela::AbstractThread* thread = nullptr;
    int calls = 0;
    bool receive(vela::IMessage*) override {
      ++calls;
      thread->removeListener(this);
      return true;
    }
  } remover;
  remover.thread = &thread;
  thread.addListener(&remover);
  thread.addListener(&after);
  thread.requestStart();
  thread.requestStart();
  EXPECT_EQ(remover.calls, 1);
  EXPECT_EQ(after.count(vela::RequestStart), 2);
}

// --- asking a thread to end --------------------------------------------

class SleepyThread : public vela::AbstractThread {
 public:
  ~SleepyThread() override { stopAndJoin(); }
  std::uint32_t run() override {
    // An hour-long interval: only a stop request ends the wait early.
    woken = waitForStop(3600u * 1000u);
    return 0;
  }
  std::atomic<bool> woken{false};
};

TEST(ThreadStopTest, StopRequestWakesAThreadSleepingBetweenTicks) {
  SleepyThread thread;
  EXPECT_TRUE(thread.stopAndJoin(10)) << "a thread never started is trivially joined";
  SleepyThread started;
  started.start();
  const auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(started.stopAndJoin(20000));
  EXPECT_TRUE(started.woken.load());
  EXPECT_TRUE(started.isFinished());
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(15));
  EXPECT_TRUE(started.stopAndJoin(0)) << "joining again is harmless";
}

// Blocks in a synchronous read of a pipe nobody writes to.
class ReaderThread : public vela::AbstractThread {
 public:
  explicit ReaderThread(platform::StreamHandle input) : input_(input) {}
  ~ReaderThread() override { stopAndJoin(); }
  std::uint32_t run() override {
    char buffer[16];
    name = platform::testing::nameCallingThread();
    entered = true;
    readFailed = !platform::readExactly(input_, buffer, sizeof buffer);
    return 0;
  }
  std::string name;  // set before `entered`
  std::atomic<bool> entered{false};
  std::atomic<bool> readFailed{false};

 private:
  platform::StreamHandle input_;
};

TEST(ThreadStopTest, StopAndJoinReleasesAThreadBlockedInARead) {
  testsupport::PipePair pipe;
  ASSERT_TRUE(platform::isUsableStream(pipe.readEnd()));
  ReaderThread thread(pipe.readEnd());
  thread.start();
  ASSERT_TRUE(waitUntil([&] { return thread.entered.load(); }));
  ASSERT_TRUE(platform::testing::waitUntilBlocked(thread.name)) << "the read never blocked";
  ASSERT_TRUE(thread.stopAndJoin(20000)) << "the blocked read was not released";
  EXPECT_TRUE(thread.readFailed.load());
}

TEST(ThreadStopTest, ThreadThatIgnoresTheRequestIsGivenUpAfterTheBoundAndTraced) {
  std::string trace;
  std::mutex traceLock;
  platform::ScopedDebugOutputCapture capture([&](const std::string& text) {
    std::lock_guard<std::mutex> guard(traceLock);
    trace += text;
  });
  struct Deaf : vela::AbstractThread {
    std::atomic<bool> release{false};
    ~Deaf() override { stopAndJoin(); }
    std::uint32_t run() override {
      waitUntil([this] { return release.load(); });
      return 0;
    }
  } deaf;
  deaf.start();
  EXPECT_FALSE(deaf.stopAndJoin(30));
  EXPECT_TRUE(deaf.stopRequested());
  {
    std::lock_guard<std::mutex> guard(traceLock);
    EXPECT_NE(trace.find("did not end"), std::string::npos) << trace;
  }
  deaf.release = true;
  EXPECT_TRUE(deaf.stopAndJoin(20000));
}

TEST(ThreadStopTest, ThreadCannotJoinItself) {
  struct SelfJoiner : vela::AbstractThread {
    std::atomic<int> answer{-1};
    ~SelfJoiner() override { stopAndJoin(); }
    std::uint32_t run() override {
      answer = stopAndJoin(1000) ? 1 : 0;
      return 0;
    }
  } thread;
  thread.start();
  ASSERT_EQ(thread.wait(20000), platform::kWaitObject0) << "joining itself would hang";
  EXPECT_EQ(thread.answer.load(), 0);
  EXPECT_TRUE(thread.stopRequested());
}

TEST(MutexTest, LockIsRecursiveAndExcludesOtherThreads) {
  vela::Mutex mutex;
  mutex.lock();
  mutex.lock();
  std::atomic<bool> entered{false};
  std::thread other([&] {
    std::lock_guard<vela::Mutex> guard(mutex);
    entered = true;
  });
  platform::sleepMilliseconds(30);
  EXPECT_FALSE(entered.load());
  mutex.unlock();
  platform::sleepMilliseconds(10);
  EXPECT_FALSE(entered.load()) << "still held once";
  mutex.unlock();
  other.join();
  EXPECT_TRUE(entered.load());
}

}  // namespace
