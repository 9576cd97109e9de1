// A Win32-like mutex: recursive, with timed waits, released only by its owner.
#include "platform/mutex.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <new>
#include <thread>

#include "platform/thread.h"

namespace platform {
namespace {

struct NativeMutex {
  std::recursive_timed_mutex lock;
  // Written only by the owner while it holds `lock`; read by any thread to
  // decide whether a release is allowed.
  std::atomic<std::thread::id> owner{};
  int depth = 0;
};

}  // namespace

MutexHandle createMutex() {
  return new (std::nothrow) NativeMutex;
}

std::uint32_t waitForMutex(MutexHandle handle, std::uint32_t milliseconds) {
  auto* mutex = static_cast<NativeMutex*>(handle);
  if (mutex == nullptr) return kWaitFailed;
  if (milliseconds == kInfinite) {
    mutex->lock.lock();
  } else if (!mutex->lock.try_lock_for(std::chrono::milliseconds(milliseconds))) {
    return kWaitTimeout;
  }
  if (mutex->depth++ == 0) mutex->owner.store(std::this_thread::get_id());
  return kWaitObject0;
}

bool releaseMutex(MutexHandle handle) {
  auto* mutex = static_cast<NativeMutex*>(handle);
  if (mutex == nullptr || mutex->owner.load() != std::this_thread::get_id()) return false;
  if (--mutex->depth == 0) mutex->owner.store(std::thread::id());
  mutex->lock.unlock();
  return true;
}

void closeMutex(MutexHandle handle) {
  delete static_cast<NativeMutex*>(handle);
}

}  // namespace platform
