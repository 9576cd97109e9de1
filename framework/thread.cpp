#include "framework/thread.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <mutex>

#include "platform/debug_output.h"

namespace vela {
namespace {

// How often a thread that is being joined is released from its reads again:
// a release that comes before the read has begun has no effect.
constexpr std::uint32_t kCancelIntervalMs = 10;

}  // namespace

AbstractThread::ThreadMessage::ThreadMessage(std::int32_t code, IThread* thread)
    : Message(&ThreadControlId, code, 0) {
  getProperties()->setPointer(L"thread", static_cast<void*>(thread));
}

AbstractThread::AbstractThread(IListener* listener) {
  if (listener != nullptr) listeners_.push_back(listener);
}

AbstractThread::~AbstractThread() {
  // Last resort only: the derived parts are gone already, so an owner must
  // have stopped the thread before deleting it (see the header).
  if (handle_ && !isFinished()) stopAndJoin();
}

void AbstractThread::start() {
  sendControl(Starting);
  std::lock_guard<Mutex> guard(*this);
  if (!handle_) {
    std::uint32_t id = 0;
    handle_.reset(platform::createThread(&AbstractThread::threadEntry, this, &id));
    threadId_ = handle_ ? id : 0;
  }
}

std::uint32_t AbstractThread::threadEntry(void* self) {
  auto* thread = static_cast<AbstractThread*>(self);
  std::uint32_t result = kExitAfterException;
  try {
    result = thread->run();
  } catch (const std::exception& error) {
    char line[512];
    std::snprintf(line, sizeof line, "[vela::AbstractThread] run ended by an exception: %s\n",
                  error.what());
    platform::debugOutput(line);
  } catch (...) {
    platform::debugOutput("[vela::AbstractThread] run ended by an unknown exception\n");
  }
  try {
    thread->announceFinished();
  } catch (...) {
    platform::debugOutput("[vela::AbstractThread] a listener failed on Finished\n");
  }
  return result;
}

bool AbstractThread::isFinished() {
  platform::ThreadHandle handle;
  {
    std::lock_guard<Mutex> guard(*this);
    handle = handle_.get();
  }
  std::uint32_t code = kStillActive;
  if (handle == nullptr || !platform::getExitCodeThread(handle, &code)) return false;
  return code != kStillActive;
}

std::uint32_t AbstractThread::wait(std::uint32_t milliseconds) {
  platform::ThreadHandle handle;
  {
    std::lock_guard<Mutex> guard(*this);
    handle = handle_.get();
  }
  return platform::waitForThread(handle, milliseconds);
}

void AbstractThread::addListener(IListener* listener) {
  if (listener == nullptr) return;
  std::lock_guard<Mutex> guard(*this);
  listeners_.push_back(listener);
}

void AbstractThread::removeListener(IListener* listener) {
  if (listener == nullptr) return;
  std::lock_guard<Mutex> guard(*this);
  auto found = std::find(listeners_.begin(), listeners_.end(), listener);
  if (found != listeners_.end()) listeners_.erase(found);
}

std::uint32_t AbstractThread::getThreadId() {
  std::lock_guard<Mutex> guard(*this);
  return threadId_;
}

void AbstractThread::notify(IMessage* message) {
  std::vector<IListener*> listeners;
  {
    std::lock_guard<Mutex> guard(*this);
    listeners = listeners_;
  }
  for (IListener* listener : listeners) listener->receive(message);
}

void AbstractThread::requestStart() {
  sendControl(RequestStart);
}

void AbstractThread::announceFinished() {
  sendControl(Finished);
}

void AbstractThread::sendControl(std::int32_t code) {
  ThreadMessage message(code, this);
  notify(&message);
}

void AbstractThread::requestStop() {
  {
    std::lock_guard<std::mutex> guard(stopLock_);
    stopRequested_.store(true, std::memory_order_release);
  }
  stopSignal_.notify_all();
}

bool AbstractThread::waitForStop(std::uint32_t milliseconds) {
  std::unique_lock<std::mutex> guard(stopLock_);
  return stopSignal_.wait_for(guard, std::chrono::milliseconds(milliseconds),
                              [this] { return stopRequested(); });
}

bool AbstractThread::stopAndJoin(std::uint32_t timeoutMs) {
  platform::ThreadHandle handle;
  std::uint32_t id;
  {
    std::lock_guard<Mutex> guard(*this);
    handle = handle_.get();
    id = threadId_;
  }
  requestStop();
  if (handle == nullptr) return true;
  if (id == platform::currentThreadId()) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    platform::cancelSynchronousIo(handle);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const auto step =
        std::min<std::int64_t>(std::max<std::int64_t>(left.count(), 0), kCancelIntervalMs);
    if (platform::waitForThread(handle, static_cast<std::uint32_t>(step)) ==
        platform::kWaitObject0) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
  }
  char line[128];
  std::snprintf(line, sizeof line,
                "[vela::AbstractThread::stopAndJoin] thread %u did not end within %u ms\n",
                static_cast<unsigned>(id), static_cast<unsigned>(timeoutMs));
  platform::debugOutput(line);
  return false;
}

}  // namespace vela
