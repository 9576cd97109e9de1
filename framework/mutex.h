// The framework's mutex lock: a recursive lock with Win32 mutex semantics.
#ifndef FRAMEWORK_MUTEX_H_
#define FRAMEWORK_MUTEX_H_

#include <cstdint>

#include "platform/mutex.h"
#include "platform/scoped_handle.h"

namespace vela {

// A lock base class. The handle is an unnamed mutex created unowned by the
// constructor (null when creation failed: lock and unlock then do nothing);
// lock waits for it with the time-out (infinite by default). The owning
// thread may lock again and must unlock as often. lock() and unlock() make
// it usable with std::lock_guard.
class Mutex {
 public:
  Mutex() : mutex_(platform::createMutex()) {}
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() {
    if (mutex_) platform::waitForMutex(mutex_.get(), timeout_);
  }
  void unlock() {
    if (mutex_) platform::releaseMutex(mutex_.get());
  }

 protected:
  platform::ScopedMutex mutex_;  // closed with the lock
  std::uint32_t timeout_ = 0xFFFFFFFFu;
};

}  // namespace vela

#endif  // FRAMEWORK_MUTEX_H_
