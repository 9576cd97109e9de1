// A Win32-like mutex: recursive, with timed waits, released only by its
// owner. Built on a plain mutex and a condition variable rather than on a
// timed pthread mutex, whose timed lock the thread sanitizer cannot follow.
#include "platform/mutex.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "platform/thread.h"

namespace platform {
namespace {

struct NativeMutex {
  std::mutex lock;  // guards owner and depth
  std::condition_variable released;
  std::thread::id owner;
  int depth = 0;
};

}  // namespace

MutexHandle createMutex() {
  return new (std::nothrow) NativeMutex;
}

std::uint32_t waitForMutex(MutexHandle handle, std::uint32_t milliseconds) {
  auto* mutex = static_cast<NativeMutex*>(handle);
  if (mutex == nullptr) return kWaitFailed;
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock<std::mutex> guard(mutex->lock);
  if (mutex->depth > 0 && mutex->owner == self) {
    ++mutex->depth;
    return kWaitObject0;
  }
  const auto free = [mutex] { return mutex->depth == 0; };
  if (milliseconds == kInfinite) {
    mutex->released.wait(guard, free);
  } else if (!mutex->released.wait_for(guard, std::chrono::milliseconds(milliseconds), free)) {
    return kWaitTimeout;
  }
  mutex->owner = self;
  mutex->depth = 1;
  return kWaitObject0;
}

bool releaseMutex(MutexHandle handle) {
  auto* mutex = static_cast<NativeMutex*>(handle);
  if (mutex == nullptr) return false;
  {
    std::lock_guard<std::mutex> guard(mutex->lock);
    if (mutex->depth == 0 || mutex->owner != std::this_thread::get_id()) return false;
    if (--mutex->depth > 0) return true;
    mutex->owner = std::thread::id();
  }
  mutex->released.notify_one();
  return true;
}

void closeMutex(MutexHandle handle) {
  delete static_cast<NativeMutex*>(handle);
}

}  // namespace platform
