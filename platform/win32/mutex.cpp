#include <windows.h>

#include "platform/mutex.h"

namespace platform {

MutexHandle createMutex() {
  return CreateMutexW(nullptr, FALSE, nullptr);
}

std::uint32_t waitForMutex(MutexHandle mutex, std::uint32_t milliseconds) {
  if (mutex == nullptr) return WAIT_FAILED;
  return WaitForSingleObject(static_cast<HANDLE>(mutex), milliseconds);
}

bool releaseMutex(MutexHandle mutex) {
  return mutex != nullptr && ReleaseMutex(static_cast<HANDLE>(mutex)) != FALSE;
}

void closeMutex(MutexHandle mutex) {
  if (mutex != nullptr) CloseHandle(static_cast<HANDLE>(mutex));
}

}  // namespace platform
