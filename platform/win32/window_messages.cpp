#include <windows.h>

#include "platform/window_messages.h"

namespace platform {

bool isWindow(WindowHandle window) {
  return IsWindow(static_cast<HWND>(window)) != FALSE;
}

void pumpWindowMessage(const std::vector<WindowHandle>& dialogs) {
  MSG message{};
  if (!PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) {
    Sleep(100);
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
