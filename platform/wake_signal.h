// A wake-up for one waiting thread: the main loop waits on it when it has
// nothing to do, and whoever gives it something to do sets it.
//
// On Windows it is an auto-reset event (CreateEventW), so that a wait can also
// watch the thread's window messages (MsgWaitForMultipleObjectsEx, see
// platform/window_messages.h); natively a condition variable with a flag.
// Either way a setting is kept until a wait takes it: a set that comes
// before the wait is not lost, and several sets before one wait wake it once.
//
// Threads: set may be called from any thread; wait from one thread at a
// time. The object lives inside its storage (no allocation), so constructing
// one cannot fail; on Windows an event that could not be created is traced
// and its waits fall back to short sleeps.
#ifndef PLATFORM_WAKE_SIGNAL_H_
#define PLATFORM_WAKE_SIGNAL_H_

#include <cstddef>
#include <cstdint>

namespace platform {

class WakeSignal {
 public:
  WakeSignal();
  ~WakeSignal();

  WakeSignal(const WakeSignal&) = delete;
  WakeSignal& operator=(const WakeSignal&) = delete;

  // Wakes the waiting thread, or the next wait when nobody waits yet.
  void set();
  // Waits until the signal is set or `timeoutMs` has passed, and clears it.
  // True when it was set.
  bool wait(std::uint32_t timeoutMs);

  // The Win32 event handle (null when it could not be created, and in the
  // native build), for waits that watch window messages too.
  void* eventHandle() const;

  static constexpr std::size_t kStorageSize = 128;

 private:
  alignas(16) unsigned char storage_[kStorageSize];
};

}  // namespace platform

#endif  // PLATFORM_WAKE_SIGNAL_H_
