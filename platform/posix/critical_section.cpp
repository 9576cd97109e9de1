// The native stand-in for a critical section: a recursive mutex, so that the
// owning thread may enter again as it may on Windows.
#include <mutex>
#include <new>

#include "platform/critical_section.h"

namespace platform {
namespace {

static_assert(sizeof(std::recursive_mutex) <= CriticalSection::kStorageSize,
              "std::recursive_mutex does not fit the storage");
static_assert(alignof(std::recursive_mutex) <= 16, "std::recursive_mutex alignment");

std::recursive_mutex* mutexIn(unsigned char* storage) {
  return std::launder(reinterpret_cast<std::recursive_mutex*>(storage));
}

}  // namespace

CriticalSection::CriticalSection() {
  new (storage_) std::recursive_mutex;
}

CriticalSection::~CriticalSection() {
  mutexIn(storage_)->~recursive_mutex();
}

void CriticalSection::enter() {
  mutexIn(storage_)->lock();
}

void CriticalSection::leave() {
  mutexIn(storage_)->unlock();
}

}  // namespace platform
