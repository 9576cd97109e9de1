// The window message pump of the calling thread.
//
// On Windows these are PeekMessageA (taking the message), IsWindow, IsDialogMessageA,
// TranslateMessage, DispatchMessageA and, while nothing is waiting,
// MsgWaitForMultipleObjectsEx. The native build has no windows: nothing is a
// window and a pump step only waits.
#ifndef PLATFORM_WINDOW_MESSAGES_H_
#define PLATFORM_WINDOW_MESSAGES_H_

#include <cstdint>
#include <vector>

#include "platform/wake_signal.h"

namespace platform {

using WindowHandle = void*;

// True when the handle names an existing window.
bool isWindow(WindowHandle window);

// One step of the pump. When a window message is waiting it takes that one
// message: a quit message is dropped without further effect; a message that
// one of `dialogs` (still a window) handles as a dialog message is done; any
// other is translated and dispatched. Otherwise it waits, without taking
// anything, until a window message arrives, `wake` is set (null: only window
// messages count) or `timeoutMs` has passed, and returns; the caller's next
// step then finds what woke it.
void pumpWindowMessage(const std::vector<WindowHandle>& dialogs, WakeSignal* wake,
                       std::uint32_t timeoutMs);

}  // namespace platform

#endif  // PLATFORM_WINDOW_MESSAGES_H_
