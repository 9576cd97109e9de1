#include <windows.h>

#include <new>

#include "platform/thread.h"

namespace platform {
namespace {

struct StartRecord {
  ThreadEntry entry;
  void* argument;
};

DWORD WINAPI threadMain(LPVOID parameter) {
  const StartRecord start = *static_cast<StartRecord*>(parameter);
  delete static_cast<StartRecord*>(parameter);
  return start.entry(start.argument);
}

}  // namespace

ThreadHandle createThread(ThreadEntry entry, void* argument, std::uint32_t* threadId) {
  if (threadId != nullptr) *threadId = 0;
  auto* start = new (std::nothrow) StartRecord{entry, argument};
  if (start == nullptr) return nullptr;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, threadMain, start, 0, &id);
  if (thread == nullptr) {
    delete start;
    return nullptr;
  }
  if (threadId != nullptr) *threadId = id;
  return thread;
}

bool getExitCodeThread(ThreadHandle thread, std::uint32_t* exitCode) {
  if (thread == nullptr) return false;
  DWORD code = 0;
  if (!GetExitCodeThread(static_cast<HANDLE>(thread), &code)) return false;
  *exitCode = code;
  return true;
}

std::uint32_t waitForThread(ThreadHandle thread, std::uint32_t milliseconds) {
  if (thread == nullptr) return WAIT_FAILED;
  return WaitForSingleObject(static_cast<HANDLE>(thread), milliseconds);
}

void closeThreadHandle(ThreadHandle thread) {
  if (thread != nullptr) CloseHandle(static_cast<HANDLE>(thread));
}

bool cancelSynchronousIo(ThreadHandle thread) {
  return thread != nullptr && CancelSynchronousIo(static_cast<HANDLE>(thread)) != FALSE;
}

std::uint32_t currentThreadId() {
  return GetCurrentThreadId();
}

void sleepMilliseconds(std::uint32_t milliseconds) {
  Sleep(milliseconds);
}

}  // namespace platform
