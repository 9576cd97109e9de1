// Threads with Win32 handle semantics on top of std::thread.
//
// A handle owns a share of a record that the thread shares too, so either may
// end first. The thread is joined when the handle is closed after it ended,
// and detached when it is closed while the thread still runs.
#include "platform/thread.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace platform {
namespace {

// The signal that interrupts a blocked read; its handler does nothing, and it
// is installed without SA_RESTART so the read fails with EINTR.
const int kCancelSignal = SIGUSR2;

extern "C" void onCancelSignal(int) {}

void installCancelHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_handler = onCancelSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(kCancelSignal, &action, nullptr);
  });
}

std::atomic<std::uint32_t> nextThreadId{1};
thread_local std::uint32_t ownThreadId = 0;

struct ThreadRecord {
  std::mutex lock;
  std::condition_variable ended;
  bool finished = false;
  std::uint32_t exitCode = kStillActive;
  std::thread thread;
};

struct HandleRecord {
  std::shared_ptr<ThreadRecord> record;
};

ThreadRecord* recordOf(ThreadHandle handle) {
  return handle == nullptr ? nullptr : static_cast<HandleRecord*>(handle)->record.get();
}

}  // namespace

ThreadHandle createThread(ThreadEntry entry, void* argument, std::uint32_t* threadId) {
  if (threadId != nullptr) *threadId = 0;
  try {
    auto record = std::make_shared<ThreadRecord>();
    auto handle = std::make_unique<HandleRecord>();
    handle->record = record;
    const std::uint32_t id = nextThreadId.fetch_add(1);
    std::lock_guard<std::mutex> guard(record->lock);
    record->thread = std::thread([record, entry, argument, id] {
      ownThreadId = id;
      const std::uint32_t code = entry(argument);
      {
        std::lock_guard<std::mutex> done(record->lock);
        record->exitCode = code;
        record->finished = true;
      }
      record->ended.notify_all();
    });
    if (threadId != nullptr) *threadId = id;
    return handle.release();
  } catch (const std::exception&) {
    return nullptr;
  }
}

bool getExitCodeThread(ThreadHandle handle, std::uint32_t* exitCode) {
  ThreadRecord* record = recordOf(handle);
  if (record == nullptr) return false;
  std::lock_guard<std::mutex> guard(record->lock);
  *exitCode = record->exitCode;
  return true;
}

std::uint32_t waitForThread(ThreadHandle handle, std::uint32_t milliseconds) {
  ThreadRecord* record = recordOf(handle);
  if (record == nullptr) return kWaitFailed;
  std::unique_lock<std::mutex> guard(record->lock);
  if (milliseconds == kInfinite) {
    record->ended.wait(guard, [record] { return record->finished; });
    return kWaitObject0;
  }
  const bool done = record->ended.wait_for(guard, std::chrono::milliseconds(milliseconds),
                                           [record] { return record->finished; });
  return done ? kWaitObject0 : kWaitTimeout;
}

void closeThreadHandle(ThreadHandle handle) {
  if (handle == nullptr) return;
  std::unique_ptr<HandleRecord> owned(static_cast<HandleRecord*>(handle));
  ThreadRecord& record = *owned->record;
  std::thread thread;
  bool finished = false;
  {
    std::lock_guard<std::mutex> guard(record.lock);
    thread = std::move(record.thread);
    finished = record.finished;
  }
  if (!thread.joinable()) return;
  if (finished) {
    thread.join();  // only the last few instructions of the thread remain
  } else {
    thread.detach();
  }
}

bool cancelSynchronousIo(ThreadHandle handle) {
  ThreadRecord* record = recordOf(handle);
  if (record == nullptr) return false;
  installCancelHandler();
  std::lock_guard<std::mutex> guard(record->lock);
  // Until `finished` is set under this lock the thread has not returned, so
  // its native handle is still valid.
  if (record->finished || !record->thread.joinable()) return false;
  return pthread_kill(record->thread.native_handle(), kCancelSignal) == 0;
}

std::uint32_t currentThreadId() {
  if (ownThreadId == 0) ownThreadId = nextThreadId.fetch_add(1);
  return ownThreadId;
}

void sleepMilliseconds(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace platform
