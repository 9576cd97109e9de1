#include <windows.h>

#include "platform/window_messages.h"

namespace platform {

bool isWindow(WindowHandle window) {
  return IsWindow(static_cast<HWND>(window)) != FALSE;
}

void pumpWindowMessage(const std::vector<WindowHandle>& dialogs, WakeSignal* wake,
                       std::uint32_t timeoutMs) {
  MSG message{};
  // The message is taken in the same call that finds it: a peek that only
  // looks, followed by a blocking GetMessage, would block when the message
  // it saw is gone by then (a window procedure's own loop took it).
  if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    HANDLE event = wake != nullptr ? static_cast<HANDLE>(wake->eventHandle()) : nullptr;
    if (wake != nullptr && event == nullptr) {
      // No event to wait on: wait for the signal's own fallback instead.
      wake->wait(timeoutMs);
      return;
    }
    // MWMO_INPUTAVAILABLE: a message that is already in the queue ends the
    // wait at once, also one that a window procedure's own loop has seen
    // without removing; without the flag only messages that arrive from now
    // on would.
    MsgWaitForMultipleObjectsEx(event != nullptr ? 1 : 0, event != nullptr ? &event : nullptr,
                                timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    return;
  }
  // The quit message is taken out of the queue and otherwise ignored.
  if (message.message == WM_QUIT) return;
  for (WindowHandle dialog : dialogs) {
    const HWND window = static_cast<HWND>(dialog);
    if (IsWindow(window) && IsDialogMessageA(window, &message)) return;
  }
  TranslateMessage(&message);
  DispatchMessageA(&message);
}

}  // namespace platform
