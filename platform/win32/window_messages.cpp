#include <windows.h>

#include "platform/window_messages.h"

namespace platform {

bool isWindow(WindowHandle window) {
  return IsWindow(static_cast<HWND>(window)) != FALSE;
}

void pumpWindowMessage(const std::vector<WindowHandle>& dialogs, WakeSignal* wake,
                       std::uint32_t timeoutMs) {
  MSG message{};
  if (!PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) {
    HANDLE event = wake != nullptr ? static_cast<HANDLE>(wake->eventHandle()) : nullptr;
    if (wake != nullptr && event == nullptr) {
      // No event to wait on: wait for the signal's own fallback instead.
      wake->wait(timeoutMs);
      return;
    }
    // MWMO_INPUTAVAILABLE: a message that is already in the queue ends the
    // wait at once, also one that an earlier peek (here, or in a window
    // procedure's own loop) has seen without removing; without the flag only
    // messages that arrive from now on would.
    MsgWaitForMultipleObjectsEx(event != nullptr ? 1 : 0, event != nullptr ? &event : nullptr,
                                timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    return;
  }
  // 0 is the quit message: taken out of the queue and otherwise ignored.
  // -1 (an error) leaves nothing to dispatch either.
  const BOOL got = GetMessageA(&message, nullptr, 0, 0);
  if (got == 0 || got == -1) return;
  for (WindowHandle dialog : dialogs) {
    const HWND window = static_cast<HWND>(dialog);
    if (IsWindow(window) && IsDialogMessageA(window, &message)) return;
  }
  TranslateMessage(&message);
  DispatchMessageA(&message);
}

}  // namespace platform
