// The native build has no windows: a pump step is the wait alone.
#include "platform/window_messages.h"

#include "platform/thread.h"

namespace platform {

bool isWindow(WindowHandle) {
  return false;
}

void pumpWindowMessage(const std::vector<WindowHandle>&, WakeSignal* wake,
                       std::uint32_t timeoutMs) {
  if (wake != nullptr) {
    wake->wait(timeoutMs);
  } else {
    sleepMilliseconds(timeoutMs);
  }
}

}  // namespace platform
