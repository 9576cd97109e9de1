// A recursive lock with Win32 mutex semantics for the portable core.
//
// On Windows a MutexHandle is an unnamed mutex from CreateMutexW; natively it
// designates a recursive timed mutex of our own. Either way the owning thread
// may take it again, and only the owner can release it.
#ifndef PLATFORM_MUTEX_H_
#define PLATFORM_MUTEX_H_

#include <cstdint>

namespace platform {

using MutexHandle = void*;

// Creates an unnamed mutex that no thread owns; null on failure.
MutexHandle createMutex();

// Waits up to `milliseconds` (0xFFFFFFFF: without limit) to own the mutex:
// kWaitObject0 (0) when owned, kWaitTimeout (258) after the time-out,
// kWaitFailed (0xFFFFFFFF) for a null handle.
std::uint32_t waitForMutex(MutexHandle mutex, std::uint32_t milliseconds);

// Gives up one level of ownership. False when the caller does not own it.
bool releaseMutex(MutexHandle mutex);

// Destroys the mutex. Null is ignored.
void closeMutex(MutexHandle mutex);

}  // namespace platform

#endif  // PLATFORM_MUTEX_H_
