// Operating-system threads for the portable core.
//
// On Windows a ThreadHandle is the HANDLE that CreateThread returns and every
// function here is the Win32 service of the same meaning. In the native build
// it designates a record of our own around a standard thread, with the same
// observable behaviour: an exit code that reads kStillActive while the thread
// runs, waits with a time-out, and a handle that may be closed while the
// thread still runs (the thread then goes on alone).
#ifndef PLATFORM_THREAD_H_
#define PLATFORM_THREAD_H_

#include <cstdint>

namespace platform {

using ThreadHandle = void*;

// The function a new thread runs; its result becomes the thread's exit code.
using ThreadEntry = std::uint32_t (*)(void* argument);

// Exit code of a thread that has not ended yet.
inline constexpr std::uint32_t kStillActive = 259;

// Results of waitForThread, and the infinite time-out.
inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitTimeout = 258;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

// Starts a thread running entry(argument) at once, with the default stack size.
// Returns its handle and writes its id, or returns null (id 0) when the thread
// cannot be created.
ThreadHandle createThread(ThreadEntry entry, void* argument, std::uint32_t* threadId);

// Writes the thread's exit code (kStillActive while it runs). False for a null
// handle.
bool getExitCodeThread(ThreadHandle thread, std::uint32_t* exitCode);

// Waits up to `milliseconds` for the thread to end: kWaitObject0 when it has
// ended, kWaitTimeout when it still runs, kWaitFailed for a null handle.
std::uint32_t waitForThread(ThreadHandle thread, std::uint32_t milliseconds);

// Releases the handle. The thread itself is neither stopped nor waited for.
void closeThreadHandle(ThreadHandle thread);

// Releases the thread from a synchronous read it is blocked in: on Windows
// CancelSynchronousIo (the read fails with ERROR_OPERATION_ABORTED); natively
// a signal with a handler installed without SA_RESTART, so that a blocked
// read(2) returns -1 with errno EINTR. True when a blocked call was (or may
// have been) interrupted. A thread that is not blocked yet is not affected, so
// callers that want a thread to leave its reads repeat this until it has
// ended.
bool cancelSynchronousIo(ThreadHandle thread);

// Id of the calling thread, comparable with the ids createThread writes.
std::uint32_t currentThreadId();

// Suspends the calling thread for the given time.
void sleepMilliseconds(std::uint32_t milliseconds);

}  // namespace platform

#endif  // PLATFORM_THREAD_H_
