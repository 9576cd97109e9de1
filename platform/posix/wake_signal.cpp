// The native wake signal: a flag under a mutex, and a condition variable the
// waiter sleeps on.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

#include "platform/wake_signal.h"

namespace platform {
namespace {

struct State {
  std::mutex lock;
  std::condition_variable changed;
  bool set = false;  // guarded by lock
};

static_assert(sizeof(State) <= WakeSignal::kStorageSize, "the state does not fit the storage");
static_assert(alignof(State) <= 16, "the state's alignment");

State* stateIn(unsigned char* storage) {
  return std::launder(reinterpret_cast<State*>(storage));
}

}  // namespace

WakeSignal::WakeSignal() {
  new (storage_) State;
}

WakeSignal::~WakeSignal() {
  stateIn(storage_)->~State();
}

void WakeSignal::set() {
  State* state = stateIn(storage_);
  {
    std::lock_guard<std::mutex> guard(state->lock);
    state->set = true;
  }
  state->changed.notify_one();
}

bool WakeSignal::wait(std::uint32_t timeoutMs) {
  State* state = stateIn(storage_);
  std::unique_lock<std::mutex> guard(state->lock);
  const bool woken = state->changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                             [state] { return state->set; });
  state->set = false;
  return woken;
}

void* WakeSignal::eventHandle() const {
  return nullptr;
}

}  // namespace platform
