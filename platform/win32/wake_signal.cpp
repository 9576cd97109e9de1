#include <windows.h>

#include <new>

#include "platform/debug_output.h"
#include "platform/wake_signal.h"

namespace platform {
namespace {

HANDLE* eventIn(unsigned char* storage) {
  return std::launder(reinterpret_cast<HANDLE*>(storage));
}

// Without an event a waiter polls at this pace rather than spinning.
constexpr DWORD kFallbackPollMs = 10;

}  // namespace

WakeSignal::WakeSignal() {
  // Auto-reset: the wait that sees the setting takes it.
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (event == nullptr) {
    debugOutput("[platform::WakeSignal] CreateEventW failed: waits poll instead\n");
  }
  new (storage_) HANDLE(event);
}

WakeSignal::~WakeSignal() {
  if (*eventIn(storage_) != nullptr) CloseHandle(*eventIn(storage_));
}

void WakeSignal::set() {
  if (*eventIn(storage_) != nullptr) SetEvent(*eventIn(storage_));
}

bool WakeSignal::wait(std::uint32_t timeoutMs) {
  HANDLE event = *eventIn(storage_);
  if (event == nullptr) {
    Sleep(timeoutMs < kFallbackPollMs ? timeoutMs : kFallbackPollMs);
    return false;
  }
  return WaitForSingleObject(event, timeoutMs) == WAIT_OBJECT_0;
}

void* WakeSignal::eventHandle() const {
  return *std::launder(reinterpret_cast<HANDLE const*>(storage_));
}

}  // namespace platform
