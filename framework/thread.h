// Component threads and their control messages.
//
// An AbstractThread owns one operating-system thread running its run(), and a
// list of listeners (in this system the event broker) that hear its control
// messages: RequestStart (please start me), Starting (start() was called),
// Finished (run() has returned, sent from the ending thread as its last act)
// and, from the destructor of a component with a thread, Destroyed (so that
// no broker keeps the object on a list).
//
// Stopping. Before an object whose thread may still run is destroyed, its
// thread must be asked to end and joined; otherwise the thread goes on using
// a freed object. stopAndJoin() does that:
//   1. requestStop() (virtual; the base sets the stop flag, which
//      stopRequested() reads and which wakes waitForStop()),
//   2. platform::cancelSynchronousIo on the thread, repeated every few
//      milliseconds, which releases a synchronous read the thread is blocked
//      in (on Windows the ReadFile fails with ERROR_OPERATION_ABORTED,
//      natively read(2) fails with EINTR; see platform/byte_stream.h),
//   3. a bounded wait for the thread to end.
// A run() loop therefore either blocks only in synchronous reads that end it
// when they fail, or tests stopRequested() between steps, or sleeps with
// waitForStop() instead of a plain sleep. Override requestStop() (calling the
// base) to wake anything else run() may wait on.
// The event broker calls stopAndJoin() on every component thread before it
// deletes the components, and remove() with the delete flag does the same
// for the one component. A concrete thread class whose run() uses its own
// members should also call stopAndJoin() first thing in its destructor, so
// that deleting it on any other path is safe too; the base destructors call
// it as a last resort.
//
// Threads: start() and stopAndJoin() are called by the owner's thread (the
// broker's loop); notify() and the control messages by whichever thread sends
// them; requestStop(), stopRequested() and waitForStop() from any thread.
// Locks: the object's Mutex guards the listener list and the creation of the
// thread. Listeners are called without it.
#ifndef FRAMEWORK_THREAD_H_
#define FRAMEWORK_THREAD_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "framework/listener.h"
#include "framework/message.h"
#include "framework/mutex.h"
#include "framework/properties/guid.h"
#include "platform/scoped_handle.h"
#include "platform/thread.h"

namespace vela {

// Source of every thread control message:
// {7B2FE4B8-9AA6-4FB4-8E63-1EB421A99FAA}.
inline constexpr Guid ThreadControlId = {
    0x7B2FE4B8, 0x9AA6, 0x4FB4, {0x8E, 0x63, 0x1E, 0xB4, 0x21, 0xA9, 0x9F, 0xAA}};

// Codes of the thread control messages.
enum ThreadControlCode : std::int32_t {
  RequestStart = 1,
  Starting = 2,
  Finished = 3,
  // Sent by a component's destructor (AbstractEventGenerator): the thread
  // object is going, and a listener that still holds it (a broker that was
  // asked to start it) must forget it.
  Destroyed = 4,
};

// Exit code of a thread that is still running.
inline constexpr std::uint32_t kStillActive = platform::kStillActive;

class IThread {
 public:
  // Creates the thread on the first call; every call sends Starting.
  virtual void start() = 0;
  // True once the thread has ended (its exit code is no longer 259).
  virtual bool isFinished() = 0;
  // Waits up to the given time for the thread to end; the wait's result
  // (0: ended, 258: time-out, 0xFFFFFFFF: no thread).
  virtual std::uint32_t wait(std::uint32_t milliseconds) = 0;
  // Four operations without a use in the framework: the first does nothing,
  // the others answer true.
  virtual void reserved4() = 0;
  virtual bool reserved5() = 0;
  virtual bool reserved6() = 0;
  virtual bool reserved7() = 0;
  // Address of the thread handle (which reads null until started). The
  // handle stays the thread object's: read it there, never store through it.
  virtual const platform::ThreadHandle* getHandleAddress() = 0;
  // A null listener is ignored; duplicates are allowed.
  virtual void addListener(IListener* listener) = 0;
  // Removes the first occurrence; a null or unknown listener changes nothing.
  virtual void removeListener(IListener* listener) = 0;
  // 0 until started.
  virtual std::uint32_t getThreadId() = 0;
  virtual ~IThread() = default;
};

class AbstractThread : public IThread, public Mutex {
 public:
  // A thread control message: source ThreadControlId, the code, flags 0 and
  // the pointer property "thread" (the sender's IThread face).
  class ThreadMessage : public Message {
   public:
    ThreadMessage(std::int32_t code, IThread* thread);
  };

  // A non-null listener becomes the first of the listeners.
  explicit AbstractThread(IListener* listener = nullptr);
  AbstractThread(const AbstractThread&) = delete;
  AbstractThread& operator=(const AbstractThread&) = delete;

  void start() override;
  bool isFinished() override;
  std::uint32_t wait(std::uint32_t milliseconds) override;
  void reserved4() override {}
  bool reserved5() override { return true; }
  bool reserved6() override { return true; }
  bool reserved7() override { return true; }
  const platform::ThreadHandle* getHandleAddress() override { return handle_.address(); }
  void addListener(IListener* listener) override;
  void removeListener(IListener* listener) override;
  std::uint32_t getThreadId() override;
  // Closes the handle. If the thread still runs it is stopped and joined
  // first (bounded), but by then the derived parts are gone: see above.
  ~AbstractThread() override;

  // The thread's work; its result becomes the exit code. An exception that
  // escapes it ends the thread like a return (exit code kExitAfterException,
  // traced to the debugger output), and Finished is still sent.
  virtual std::uint32_t run() = 0;
  // Delivers the message to a copy of the listener list, in order, without
  // the lock; the answers are ignored.
  virtual void notify(IMessage* message);
  // Sends RequestStart.
  virtual void requestStart();
  // Sends Finished.
  virtual void announceFinished();

  // The stop hook. Sets the stop flag and wakes waitForStop(); called by
  // stopAndJoin() before it releases blocked reads and joins. Overrides must
  // call the base. Safe from any thread, any number of times.
  virtual void requestStop();
  // Whether a stop was requested.
  bool stopRequested() const { return stopRequested_.load(std::memory_order_acquire); }
  // Sleeps up to the given time or until a stop is requested; true when a
  // stop was requested. Use it instead of a plain sleep in run().
  bool waitForStop(std::uint32_t milliseconds);

  // Asks the thread to end and waits up to timeoutMs for it (see above).
  // True when there is no thread or it has ended; false after the time-out
  // (traced) and when called on the thread itself, which cannot join itself.
  bool stopAndJoin(std::uint32_t timeoutMs = kDefaultJoinTimeoutMs);

  static constexpr std::uint32_t kDefaultJoinTimeoutMs = 5000;
  static constexpr std::uint32_t kExitAfterException = 0xFFFFFFFEu;

 protected:
  // Sends a control message with the code to the listeners.
  void sendControl(std::int32_t code);

  std::uint32_t threadId_ = 0;
  platform::ScopedThread handle_;  // set once, by the first start that creates the thread
  std::vector<IListener*> listeners_;

 private:
  static std::uint32_t threadEntry(void* self);

  std::atomic<bool> stopRequested_{false};
  std::mutex stopLock_;
  std::condition_variable stopSignal_;
};

}  // namespace vela

#endif  // FRAMEWORK_THREAD_H_
