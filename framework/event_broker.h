// The event broker: carries messages from producers to listeners, starts
// component threads, and runs the main loop.
//
// Threads: post, postExclusive, stop, wakeSignal and the thread control
// receive may be called from any thread: generator threads post, and threads
// report their control messages on whichever thread sends them. Everything
// else (run, dispatch, add, remove, stopComponentThreads, the destructor,
// and so every listener's receive) runs on the loop's thread: the thread
// that runs run(), the main thread, which also makes the components and adds
// them before the loop starts.
// Locks: the listener and component lists are the loop thread's and take no
// lock. The broker's Mutex (a Win32 mutex) guards what other threads change
// through receive, the pending and running threads, and is taken to set the
// stop flag; it is held for that list work and while pending threads are
// started. The message queue sits behind a second, inner lock (a critical
// section) held for a push or a pop only, so posting and delivering never
// wait on the Win32 mutex, which is a kernel round trip per wait (and far
// slower than that under Wine).
// Listeners are never called with either lock held. Since add and remove run
// on the loop's thread, a change of the listeners during a delivery can only
// come from a listener of that delivery: it walks the list as it was when it
// began, skips a listener removed since (perhaps deleted by the one before
// it), and a listener added during it hears the next message. Lock order:
// the broker's mutex, then a thread's lock, then a property holder's; the
// queue lock is innermost and nothing is taken while it is held.
// Waking: a quiet pass of the loop waits, through the manager's pump step,
// on the broker's wake signal (and on Windows on the thread's window
// messages too) until the minute stamp may next change. post sets the signal
// when it queues into an empty queue; stop, a start request and add of a
// component with a thread set it always. So a posted message is looked at
// at once, and an idle loop wakes once a minute for its heartbeat.
#ifndef FRAMEWORK_EVENT_BROKER_H_
#define FRAMEWORK_EVENT_BROKER_H_

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "framework/class_id.h"
#include "framework/listener.h"
#include "framework/message.h"
#include "framework/mutex.h"
#include "framework/properties/property_holder.h"
#include "framework/thread.h"
#include "platform/critical_section.h"
#include "platform/local_time.h"
#include "platform/wake_signal.h"

namespace quor {

// The subcode of the idle heartbeat: a message from the pipe reader's class
// id with code 0 (printer and job events), which no record on the wire has.
inline constexpr std::int32_t kHeartbeatSubcode = 255;

class IInstanceManager;

class EventBroker : public vela::IListener, public vela::Mutex {
 public:
  // Where the loop reads the local time for its idle heartbeat.
  using LocalClock = std::function<platform::LocalTime()>;

  explicit EventBroker(IInstanceManager* manager);
  EventBroker(const EventBroker&) = delete;
  EventBroker& operator=(const EventBroker&) = delete;

  // The thread control: RequestStart puts the sending thread among the
  // pending threads; Starting and Finished are acknowledged; Destroyed takes
  // the thread off the pending and running threads. Messages of any other
  // source are declined.
  bool receive(vela::IMessage* message) override;
  // Stops the loop, asks every component thread to end and joins it
  // (bounded), then deletes the components in list order. A component whose
  // thread would not end in time is left alive (traced), since deleting it
  // would pull the object from under its running thread.
  ~EventBroker() override;

  // Delivers the message now to the listeners as they were when the
  // delivery began, in registration order; an exclusive message stops at the
  // first listener that answers true. A listener removed during the delivery
  // (by an earlier listener) is skipped. On the loop's thread.
  virtual void dispatch(vela::IMessage* message);
  virtual IInstanceManager* getInstanceManager();
  // True.
  virtual bool initialize();
  // Sets the stop flag (the arguments are not consulted); answers true. The
  // loop ends after the pass in which it sees the flag. Idempotent; safe from
  // any thread, also while the broker is being torn down.
  virtual bool stop(const vela::Guid* source, bool flag);
  // The main loop; returns 0 once stopped. On the way out it asks the
  // component threads to end and joins them (see stopComponentThreads), so
  // that none is running when the owner deletes the framework.
  virtual std::int32_t run();
  // Queues a new Message (withProperties) or SimpleMessage. The source
  // address is stored, not copied: it must outlive the message.
  virtual bool post(const vela::Guid* source, std::int32_t code, std::int32_t flags,
                    bool withProperties);
  // Queues the message; the queue holds its own reference.
  virtual bool post(vela::counted_ptr<vela::IMessage> message);
  // post with flags bit 0 set.
  virtual bool postExclusive(const vela::Guid* source, std::int32_t code, std::int32_t flags,
                             bool withProperties);
  // Registers a component by its pointer properties "thread" (started in the
  // next quiet pass) and "listener"; takes ownership and stores
  // "eventBroker". False, without taking ownership, for a null component or
  // one with neither property.
  virtual bool add(vela::IPropertyHolder* component);
  // Unregisters the component (and drops its thread from the pending
  // threads). With the delete flag, a component that was registered is
  // deleted, after its thread has been stopped and joined; without it the
  // caller keeps the component, whose thread no longer reports to the
  // broker. Answers true.
  virtual bool remove(vela::IPropertyHolder* component, bool deleteIt);

  // The minute stamp of a local time: ((year * 372 + month * 31 + day) * 24
  // + hour) * 60 + minute, every month counted as 31 days.
  static std::int32_t minuteStamp(const platform::LocalTime& time);
  // Replaces the local clock (tests); call before run. Null restores it.
  void setClock(LocalClock clock);
  bool isStopped() const { return stopped_.load(std::memory_order_acquire); }
  // Number of queued messages.
  std::size_t queuedCount();
  // Asks the thread of every registered component to end and joins it, all
  // within timeoutMs together. Pending threads are dropped first so nothing
  // starts afterwards. A thread that does not end in time is given up (its
  // component is left alive, traced) and not waited for by later calls.
  // Answers whether every thread ended. Called by the destructor; safe to
  // call earlier and more than once, from the loop's thread.
  bool stopComponentThreads(std::uint32_t timeoutMs);
  // The same within the bound set by setJoinTimeout.
  bool stopComponentThreads() { return stopComponentThreads(joinTimeoutMs_); }
  // The bound of stopComponentThreads() and remove (default 5 s).
  void setJoinTimeout(std::uint32_t timeoutMs) { joinTimeoutMs_ = timeoutMs; }

  // What the wait of a quiet pass waits on; set by post, stop, start
  // requests and add. Any thread may set it.
  platform::WakeSignal& wakeSignal() { return wake_; }
  // How long the wait of the current quiet pass may last: until the local
  // clock's next minute, when the heartbeat may be due (at most a minute).
  // Outside run, kIdleWaitOutsideRunMs. Read on the loop's thread.
  std::uint32_t idleTimeoutMs() const { return idleTimeoutMs_; }
  // The milliseconds from `time` until its next minute begins, a little
  // over rather than under: between 2 and 60001.
  static std::uint32_t millisecondsToNextMinute(const platform::LocalTime& time);

  // The bound of a pump step taken outside the loop.
  static constexpr std::uint32_t kIdleWaitOutsideRunMs = 100;

 private:
  using ListenerList = std::vector<vela::IListener*>;

  // Reads the clock (and keeps the time for the next quiet pass's wait).
  std::int32_t currentMinuteStamp();
  // The pause of a quiet pass: one step of the manager's pump, which waits
  // when no window message waits, or, without a manager, the wait alone.
  void waitWhileIdle();
  // Replaces the list deliveries walk with a copy of listeners_; counts a
  // removal, so that a delivery in progress looks the listeners up again.
  void publishListeners(bool afterRemoval);
  void dispatchHeartbeat(std::int32_t idleCount);

  IInstanceManager* manager_;                       // not owned
  // The loop thread's, without a lock: the listeners (not owned, in
  // registration order), the list deliveries walk (replaced, never changed,
  // when the listeners change, so a delivery keeps the one it began with),
  // the number of removals so far, and the components (owned).
  std::vector<vela::IListener*> listeners_;
  std::shared_ptr<const ListenerList> snapshot_;
  std::uint64_t removals_ = 0;
  std::vector<vela::IPropertyHolder*> components_;
  // Guarded by the mutex: the threads to start in the next quiet pass and
  // those started (not owned; receive changes both from any thread).
  std::vector<vela::IThread*> running_;
  std::vector<vela::IThread*> pending_;
  platform::CriticalSection queueLock_;
  std::deque<vela::counted_ptr<vela::IMessage>> queue_;  // guarded by queueLock_
  std::atomic<bool> stopped_{false};
  // The loop thread's: components left alive because their thread would
  // not end. Such a thread is joined once and then given up: the component
  // is never deleted, and the broker takes itself off the thread's
  // listeners, but nothing stops the thread from still reaching the
  // manager, the broker or the database through its component after they
  // have been deleted. That remains unsafe and is only traced; it can happen
  // only with a thread whose run() ignores stop requests, at the end of the
  // process.
  std::vector<vela::IPropertyHolder*> abandoned_;
  LocalClock clock_;  // used on the loop's thread only
  platform::WakeSignal wake_;
  // The loop's thread only: the time it read last, and the bound of the
  // wait of the quiet pass in progress.
  platform::LocalTime lastRead_;
  std::uint32_t idleTimeoutMs_ = kIdleWaitOutsideRunMs;
  std::uint32_t joinTimeoutMs_ = vela::AbstractThread::kDefaultJoinTimeoutMs;
};

// Base of listener components. receive answers false.
class AbstractListener : public vela::PropertyHolder, public vela::IListener {
 public:
  AbstractListener() = default;
  bool receive(vela::IMessage* message) override;
  // The class id of the concrete component class.
  virtual const vela::Guid* getClassId() const = 0;
};

// Base of components with a thread of their own. The constructor adds the
// parameters' "threadControl" listener (the broker) to the thread's
// listeners and stores "thread" in the component, so that the broker's add
// finds it. A generator posts through its manager's getEventBroker().
// Note: PropertyHolder and AbstractThread both have lock()/unlock(); qualify
// which one you mean.
class AbstractEventGenerator : public vela::PropertyHolder, public vela::AbstractThread {
 public:
  AbstractEventGenerator(vela::IPropertyHolder* parameters, IInstanceManager* manager);
  // Stops and joins the thread (bounded) if it still runs, then sends
  // Destroyed to the thread's listeners: a broker forgets the thread.
  ~AbstractEventGenerator() override;
  virtual const vela::Guid* getClassId() const = 0;

 protected:
  IInstanceManager* manager_;  // not owned
};

}  // namespace quor

#endif  // FRAMEWORK_EVENT_BROKER_H_
