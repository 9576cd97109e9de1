#include "framework/event_broker.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>

#include "framework/instance_manager.h"
#include "platform/debug_output.h"
#include "platform/thread.h"

namespace quor {
namespace {

using Lock = std::lock_guard<vela::Mutex>;

// The inner lock of the queue and the listener snapshot.
class QueueLock {
 public:
  explicit QueueLock(platform::CriticalSection& section) : section_(section) { section_.enter(); }
  ~QueueLock() { section_.leave(); }
  QueueLock(const QueueLock&) = delete;
  QueueLock& operator=(const QueueLock&) = delete;

 private:
  platform::CriticalSection& section_;
};

vela::IThread* threadOf(vela::IPropertyHolder* component) {
  return static_cast<vela::IThread*>(component->getPointer(L"thread", nullptr));
}

vela::IListener* listenerOf(vela::IPropertyHolder* component) {
  return static_cast<vela::IListener*>(component->getPointer(L"listener", nullptr));
}

template <class T>
void eraseFirst(std::vector<T*>& list, T* item) {
  auto found = std::find(list.begin(), list.end(), item);
  if (found != list.end()) list.erase(found);
}

}  // namespace

EventBroker::EventBroker(IInstanceManager* manager)
    : manager_(manager), snapshot_(std::make_shared<const ListenerList>()) {}

void EventBroker::publishListeners(bool afterRemoval) {
  snapshot_ = std::make_shared<const ListenerList>(listeners_);
  if (afterRemoval) ++removals_;
}

EventBroker::~EventBroker() {
  stopped_.store(true, std::memory_order_release);
  // Every component thread ends before any component goes: a thread that
  // wakes now may still post or stop, and finds the broker and its manager
  // alive.
  stopComponentThreads(joinTimeoutMs_);
  // No delivery may reach a listener that is about to be deleted, not even
  // one a component's destructor starts.
  listeners_.clear();
  publishListeners(true);
  std::vector<vela::IPropertyHolder*> components;
  components.swap(components_);
  {
    // A component's destructor may call back into the broker (stop, post,
    // the thread's Destroyed) on this thread: the lock is recursive.
    Lock guard(*this);
    for (vela::IPropertyHolder* component : components) {
      if (std::find(abandoned_.begin(), abandoned_.end(), component) != abandoned_.end()) {
        continue;
      }
      delete component;
    }
    // Threads that outlive the broker (asked for a start, never added) must
    // not report to it any more.
    for (vela::IThread* thread : pending_) thread->removeListener(this);
    for (vela::IThread* thread : running_) thread->removeListener(this);
    running_.clear();
    pending_.clear();
  }
  std::deque<vela::counted_ptr<vela::IMessage>> queued;
  {
    QueueLock guard(queueLock_);
    queued.swap(queue_);
  }
}

bool EventBroker::stopComponentThreads(std::uint32_t timeoutMs) {
  std::vector<std::pair<vela::IPropertyHolder*, vela::AbstractThread*>> threads;
  for (vela::IPropertyHolder* component : components_) {
    // A thread given up once is not waited for again: the loop, the
    // manager's destructor and this broker's destructor each come here.
    if (std::find(abandoned_.begin(), abandoned_.end(), component) != abandoned_.end()) {
      continue;
    }
    if (auto* thread = dynamic_cast<vela::AbstractThread*>(threadOf(component))) {
      threads.emplace_back(component, thread);
    }
  }
  {
    Lock guard(*this);
    // A pending thread of no component (asked for a start, never added) is
    // forgotten here, and must not report to this broker afterwards.
    for (vela::IThread* thread : pending_) {
      const bool registered =
          std::any_of(threads.begin(), threads.end(),
                      [thread](const auto& entry) { return entry.second == thread; });
      if (!registered) thread->removeListener(this);
    }
    pending_.clear();
  }
  // All threads are asked first, so they wind down together; then each is
  // released from its reads and joined within what is left of the bound.
  for (auto& entry : threads) entry.second->requestStop();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool allEnded = true;
  for (auto& entry : threads) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const auto bound = static_cast<std::uint32_t>(std::max<std::int64_t>(left.count(), 0));
    if (entry.second->stopAndJoin(bound)) continue;
    allEnded = false;
    // Its last message must not reach a broker that is about to go.
    entry.second->removeListener(this);
    if (std::find(abandoned_.begin(), abandoned_.end(), entry.first) == abandoned_.end()) {
      abandoned_.push_back(entry.first);
      platform::debugOutput(
          "[quor::EventBroker] a component thread did not end; the component is left alive\n");
    }
  }
  return allEnded;
}

bool EventBroker::receive(vela::IMessage* message) {
  if (message == nullptr || message->getSource() == nullptr ||
      *message->getSource() != vela::ThreadControlId) {
    return false;
  }
  auto* thread =
      static_cast<vela::IThread*>(message->getProperties()->getPointer(L"thread", nullptr));
  if (thread == nullptr) return false;
  switch (message->getCode()) {
    case vela::RequestStart: {
      {
        Lock guard(*this);
        pending_.push_back(thread);
      }
      wake_.set();
      return true;
    }
    case vela::Starting:
      return true;
    case vela::Finished: {
      Lock guard(*this);
      return true;
    }
    case vela::Destroyed: {
      Lock guard(*this);
      pending_.erase(std::remove(pending_.begin(), pending_.end(), thread), pending_.end());
      running_.erase(std::remove(running_.begin(), running_.end(), thread), running_.end());
      return true;
    }
    default:
      return false;
  }
}

void EventBroker::dispatch(vela::IMessage* message) {
  // Held for the whole delivery: a listener that adds or removes replaces
  // snapshot_, never the list walked here.
  const std::shared_ptr<const ListenerList> listeners = snapshot_;
  const std::uint64_t removals = removals_;
  const bool exclusive = message->isExclusive();
  for (vela::IListener* listener : *listeners) {
    // A listener removed while this delivery runs (perhaps deleted by the
    // one before it) is not called any more.
    if (removals_ != removals &&
        std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) {
      continue;
    }
    if (listener->receive(message) && exclusive) break;
  }
}

IInstanceManager* EventBroker::getInstanceManager() {
  return manager_;
}

bool EventBroker::initialize() {
  return true;
}

bool EventBroker::stop(const vela::Guid*, bool) {
  {
    Lock guard(*this);
    stopped_.store(true, std::memory_order_release);
  }
  wake_.set();
  return true;
}

std::int32_t EventBroker::minuteStamp(const platform::LocalTime& time) {
  // Unsigned arithmetic: any year wraps instead of overflowing.
  const std::uint32_t days = static_cast<std::uint32_t>(time.year) * 372u +
                             static_cast<std::uint32_t>(time.month) * 31u +
                             static_cast<std::uint32_t>(time.day);
  const std::uint32_t minutes = (days * 24u + static_cast<std::uint32_t>(time.hour)) * 60u +
                                static_cast<std::uint32_t>(time.minute);
  return static_cast<std::int32_t>(minutes);
}

void EventBroker::setClock(LocalClock clock) {
  clock_ = std::move(clock);
}

std::int32_t EventBroker::currentMinuteStamp() {
  lastRead_ = clock_ ? clock_() : platform::localTime();
  return minuteStamp(lastRead_);
}

std::uint32_t EventBroker::millisecondsToNextMinute(const platform::LocalTime& time) {
  // Out-of-range fields (a leap second, a clock of the tests) are clamped;
  // the 1 ms over the minute keeps a timer that fires a little early from
  // waking twice for one minute.
  const int second = time.second < 0 ? 0 : (time.second > 59 ? 59 : time.second);
  const int millisecond =
      time.milliseconds < 0 ? 0 : (time.milliseconds > 999 ? 999 : time.milliseconds);
  return static_cast<std::uint32_t>((60 - second) * 1000 - millisecond) + 1;
}

std::size_t EventBroker::queuedCount() {
  QueueLock guard(queueLock_);
  return queue_.size();
}

void EventBroker::dispatchHeartbeat(std::int32_t idleCount) {
  vela::Message heartbeat(&kTarnEventGeneratorClassId, 0, 0);
  heartbeat.getProperties()->setInt(L"subcode", kHeartbeatSubcode);
  heartbeat.getProperties()->setInt(L"status", idleCount);
  dispatch(&heartbeat);
}

std::int32_t EventBroker::run() {
  std::int32_t lastActivity = currentMinuteStamp();
  std::int32_t idleCount = 0;
  bool delivered = false;
  while (!stopped_.load(std::memory_order_acquire)) {
    vela::counted_ptr<vela::IMessage> message;
    {
      QueueLock guard(queueLock_);
      if (!queue_.empty()) {
        message = std::move(queue_.front());
        queue_.pop_front();
      }
    }
    if (message) {
      dispatch(message.get());
      delivered = true;
      continue;
    }
    // The last-activity stamp is the time after the last message delivered.
    // Only a quiet pass reads it, so it is taken once the queue has run dry,
    // first thing in that pass, rather than after every message of a burst.
    if (delivered) {
      lastActivity = currentMinuteStamp();
      idleCount = 0;
      delivered = false;
    }
    {
      Lock guard(*this);
      for (vela::IThread* thread : pending_) {
        thread->start();
        running_.push_back(thread);
      }
      pending_.clear();
    }
    // Every pass reads the clock, so lastRead_ is at most one pass old.
    idleTimeoutMs_ = millisecondsToNextMinute(lastRead_);
    waitWhileIdle();
    const std::int32_t now = currentMinuteStamp();
    // Compared in 64 bits so that a stamp near the 32-bit limit cannot wrap.
    if (static_cast<std::int64_t>(now) > static_cast<std::int64_t>(lastActivity) + 1) {
      lastActivity = now;
      dispatchHeartbeat(++idleCount);
    }
  }
  // Nothing posted from now on would be delivered. Ending the component
  // threads here, before the owner starts tearing the framework down, means
  // no thread is left to call into the manager or the broker while their
  // destructors run.
  idleTimeoutMs_ = kIdleWaitOutsideRunMs;
  stopComponentThreads();
  return 0;
}

void EventBroker::waitWhileIdle() {
  if (manager_ != nullptr) {
    manager_->pumpMessage();
  } else {
    wake_.wait(idleTimeoutMs_);
  }
}

bool EventBroker::post(const vela::Guid* source, std::int32_t code, std::int32_t flags,
                       bool withProperties) {
  vela::counted_ptr<vela::IMessage> message(
      withProperties ? static_cast<vela::IMessage*>(new vela::Message(source, code, flags))
                     : new vela::SimpleMessage(source, code, flags));
  return post(std::move(message));
}

bool EventBroker::post(vela::counted_ptr<vela::IMessage> message) {
  bool wasEmpty;
  {
    QueueLock guard(queueLock_);
    wasEmpty = queue_.empty();
    queue_.push_back(std::move(message));
  }
  // The loop waits only after it found the queue empty, and the first
  // message queued after that finds it empty too: setting the signal for
  // that one is enough, and a burst costs one wake-up rather than one each.
  if (wasEmpty) wake_.set();
  return true;
}

bool EventBroker::postExclusive(const vela::Guid* source, std::int32_t code, std::int32_t flags,
                                bool withProperties) {
  return post(source, code, flags | 1, withProperties);
}

bool EventBroker::add(vela::IPropertyHolder* component) {
  if (component == nullptr) return false;
  vela::IThread* thread = threadOf(component);
  vela::IListener* listener = listenerOf(component);
  if (thread == nullptr && listener == nullptr) return false;
  if (thread != nullptr) {
    Lock guard(*this);
    pending_.push_back(thread);
  }
  if (listener != nullptr) {
    listeners_.push_back(listener);
    publishListeners(false);
  }
  components_.push_back(component);
  component->setPointer(L"eventBroker", static_cast<void*>(this));
  // The thread starts in the next quiet pass: a waiting loop must get to it.
  if (thread != nullptr) wake_.set();
  return true;
}

bool EventBroker::remove(vela::IPropertyHolder* component, bool deleteIt) {
  if (component == nullptr) return true;
  vela::IThread* thread = threadOf(component);
  vela::IListener* listener = listenerOf(component);
  if (thread != nullptr) {
    Lock guard(*this);
    eraseFirst(running_, thread);
    // A thread the broker no longer knows must not be started later.
    pending_.erase(std::remove(pending_.begin(), pending_.end(), thread), pending_.end());
  }
  if (listener != nullptr) {
    eraseFirst(listeners_, listener);
    publishListeners(true);
  }
  bool found = false;
  auto at = std::find(components_.begin(), components_.end(), component);
  if (at != components_.end()) {
    components_.erase(at);
    found = true;
  }
  // A component the caller keeps no longer reports to this broker, which
  // may be gone before it.
  if (found && !deleteIt && thread != nullptr) thread->removeListener(this);
  if (deleteIt && found) {
    auto* own = dynamic_cast<vela::AbstractThread*>(thread);
    if (own != nullptr && !own->stopAndJoin(joinTimeoutMs_)) {
      own->removeListener(this);
      abandoned_.push_back(component);
      platform::debugOutput(
          "[quor::EventBroker::remove] the component's thread did not end; it is left alive\n");
      return true;
    }
    delete component;
  }
  return true;
}

bool AbstractListener::receive(vela::IMessage*) {
  return false;
}

AbstractEventGenerator::AbstractEventGenerator(vela::IPropertyHolder* parameters,
                                               IInstanceManager* manager)
    : vela::AbstractThread(nullptr), manager_(manager) {
  if (parameters != nullptr) {
    auto* control =
        static_cast<vela::IListener*>(parameters->getPointer(L"threadControl", nullptr));
    if (control != nullptr) addListener(control);
  }
  setPointer(L"thread", static_cast<void*>(static_cast<vela::IThread*>(this)));
}

AbstractEventGenerator::~AbstractEventGenerator() {
  if (handle_ && !isFinished()) stopAndJoin();
  // The constructor of a generator asks its broker for a start: one that is
  // deleted before the broker started it (never added, say) would otherwise
  // be started, freed, in the next quiet pass.
  try {
    sendControl(vela::Destroyed);
  } catch (...) {
    platform::debugOutput("[quor::AbstractEventGenerator] Destroyed could not be sent\n");
  }
}

}  // namespace quor
