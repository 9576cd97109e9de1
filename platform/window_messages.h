// The window message pump of the calling thread.
//
// On Windows these are PeekMessageA, GetMessageA, IsWindow,
// IsDialogMessageA, TranslateMessage and DispatchMessageA. The native build has
// no windows: nothing is a window and a pump step only sleeps.
#ifndef PLATFORM_WINDOW_MESSAGES_H_
#define PLATFORM_WINDOW_MESSAGES_H_

#include <vector>

namespace platform {

using WindowHandle = void*;

// True when the handle names an existing window.
bool isWindow(WindowHandle window);

// One step of the pump: when no message is waiting, sleeps 100 ms and
// returns. Otherwise takes one message; a quit message is dropped without
// further effect; a message that one of `dialogs` (still a window) handles as
// a dialog message is done; any other is translated and dispatched.
void pumpWindowMessage(const std::vector<WindowHandle>& dialogs);

}  // namespace platform

#endif  // PLATFORM_WINDOW_MESSAGES_H_
