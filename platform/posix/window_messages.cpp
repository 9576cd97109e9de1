// The native build has no windows: the pump step is the idle sleep alone.
#include "platform/window_messages.h"
#include "platform/thread.h"

namespace platform {

bool isWindow(WindowHandle) {
  return false;
}

void pumpWindowMessage(const std::vector<WindowHandle>&) {
  sleepMilliseconds(100);
}

}  // namespace platform
