// Looks at the status monitor from another Windows process, as a user meets
// it: its dialogs (top-level windows of class "#32770"), their captions,
// control texts and rectangles, and acts on them with the messages a user's
// click would produce. Shared by the end-to-end tests and the demo's probe.
//
// Texts are read with GetWindowTextW, which answers from the window
// manager's copy of a window's text and so never waits on the monitor's
// message loop.
#ifndef TOOLS_WINDOW_PROBE_H_
#define TOOLS_WINDOW_PROBE_H_

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace probe {

struct Control {
  int id = 0;
  std::wstring text;
  RECT rect{};  // screen coordinates
  bool visible = false;
};

struct Dialog {
  HWND window = nullptr;
  std::wstring caption;
  RECT rect{};  // screen coordinates
  bool visible = false;
  std::vector<Control> controls;  // direct children, in z order

  // The text of the control with this id; empty when there is none.
  std::wstring text(int id) const;
  bool hasControl(int id) const;
};

// The dialogs of the process, visible or hidden, in z order (topmost first).
std::vector<Dialog> dialogsOf(DWORD processId);
// Only the visible ones.
std::vector<Dialog> visibleDialogsOf(DWORD processId);
// Every top-level window of the process, visible or not, dialog or not.
int topLevelWindowCount(DWORD processId);
// Those and every window below them (controls, children of controls): the
// user objects of the process that the window manager can tell about.
int windowCountWithChildren(DWORD processId);

// Polls every few milliseconds until `done` answers true or the time is up;
// answers the last result.
bool waitUntil(const std::function<bool()>& done, std::uint32_t timeoutMs);

// Waits until the process shows exactly `count` visible dialogs; answers them
// (possibly fewer or more when the time ran out).
std::vector<Dialog> waitForVisibleDialogs(DWORD processId, std::size_t count,
                                          std::uint32_t timeoutMs);

// The user's acts. Each posts, so that a busy or stopped monitor cannot hold
// the caller.
bool pressCloseBox(HWND dialog);                // WM_CLOSE
bool clickControl(HWND dialog, int commandId);  // WM_COMMAND with the id

// The first process whose executable file name is `exeName` (compared without
// case), 0 when none runs.
DWORD findProcess(const wchar_t* exeName);
// The first process started by the process `parentId`, 0 when none runs.
DWORD findChildProcess(DWORD parentId);

// Narrow UTF-8 form of a wide text, for test messages and logs.
std::string utf8(const std::wstring& text);

}  // namespace probe

#endif  // TOOLS_WINDOW_PROBE_H_
