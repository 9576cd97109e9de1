// The lock base of every property holder (and, through it, of every
// component and of the database).
#ifndef FRAMEWORK_PROPERTIES_SYNCHRONIZED_H_
#define FRAMEWORK_PROPERTIES_SYNCHRONIZED_H_

#include "platform/critical_section.h"

namespace vela {

// Holds one critical section. The lock is recursive: the owning thread may
// lock again, and must unlock as often. lock() and unlock() make the class
// usable with std::lock_guard. The lock may be taken on const objects, since
// readers of a holder serialise against its writers too.
class Synchronized {
 public:
  Synchronized() = default;
  Synchronized(const Synchronized&) = delete;
  Synchronized& operator=(const Synchronized&) = delete;

  void lock() const { section_.enter(); }
  void unlock() const { section_.leave(); }

 private:
  mutable platform::CriticalSection section_;
};

}  // namespace vela

#endif  // FRAMEWORK_PROPERTIES_SYNCHRONIZED_H_
