// A recursive lock with the semantics of a Win32 critical section.
//
// On Windows it is a CRITICAL_SECTION; the native build stands in with a
// std::recursive_mutex. The owning thread may enter it again; every enter
// needs a matching leave on the same thread. The lock lives inside the object
// (no allocation), so constructing one cannot fail.
#ifndef PLATFORM_CRITICAL_SECTION_H_
#define PLATFORM_CRITICAL_SECTION_H_

#include <cstddef>

namespace platform {

class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();

  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  // Blocks until the calling thread owns the lock.
  void enter();
  // Releases one level of ownership held by the calling thread.
  void leave();

  // Storage for the operating system's lock object; each implementation
  // checks at compile time that its object fits.
  static constexpr std::size_t kStorageSize = 64;

 private:
  alignas(16) unsigned char storage_[kStorageSize];
};

}  // namespace platform

#endif  // PLATFORM_CRITICAL_SECTION_H_
