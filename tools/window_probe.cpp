#include "tools/window_probe.h"

#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace probe {
namespace {

std::wstring windowText(HWND window) {
  wchar_t text[2048] = {};
  const int length = GetWindowTextW(window, text, static_cast<int>(std::size(text)));
  return std::wstring(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

bool isDialogClass(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, static_cast<int>(std::size(name)));
  return std::wstring(name) == L"#32770";
}

struct Search {
  DWORD processId;
  bool dialogsOnly;
  std::vector<HWND> found;
};

BOOL CALLBACK collectTopLevel(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<Search*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId && (!search->dialogsOnly || isDialogClass(window))) {
    search->found.push_back(window);
  }
  return TRUE;
}

Dialog describe(HWND window) {
  Dialog dialog;
  dialog.window = window;
  dialog.caption = windowText(window);
  GetWindowRect(window, &dialog.rect);
  dialog.visible = IsWindowVisible(window) != FALSE;
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    Control control;
    control.id = GetDlgCtrlID(child);
    control.text = windowText(child);
    GetWindowRect(child, &control.rect);
    control.visible = IsWindowVisible(child) != FALSE;
    dialog.controls.push_back(std::move(control));
  }
  return dialog;
}

}  // namespace

std::wstring Dialog::text(int id) const {
  for (const Control& control : controls) {
    if (control.id == id) return control.text;
  }
  return std::wstring();
}

bool Dialog::hasControl(int id) const {
  return std::any_of(controls.begin(), controls.end(),
                     [id](const Control& control) { return control.id == id; });
}

std::vector<Dialog> dialogsOf(DWORD processId) {
  Search search{processId, true, {}};
  EnumWindows(collectTopLevel, reinterpret_cast<LPARAM>(&search));
  std::vector<Dialog> dialogs;
  for (HWND window : search.found) dialogs.push_back(describe(window));
  return dialogs;
}

std::vector<Dialog> visibleDialogsOf(DWORD processId) {
  std::vector<Dialog> dialogs = dialogsOf(processId);
  dialogs.erase(std::remove_if(dialogs.begin(), dialogs.end(),
                               [](const Dialog& dialog) { return !dialog.visible; }),
                dialogs.end());
  return dialogs;
}

int topLevelWindowCount(DWORD processId) {
  Search search{processId, false, {}};
  EnumWindows(collectTopLevel, reinterpret_cast<LPARAM>(&search));
  return static_cast<int>(search.found.size());
}

int windowCountWithChildren(DWORD processId) {
  Search search{processId, false, {}};
  EnumWindows(collectTopLevel, reinterpret_cast<LPARAM>(&search));
  int count = static_cast<int>(search.found.size());
  for (HWND window : search.found) {
    EnumChildWindows(
        window,
        [](HWND, LPARAM context) -> BOOL {
          ++*reinterpret_cast<int*>(context);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
  }
  return count;
}

bool waitUntil(const std::function<bool()>& done, std::uint32_t timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::vector<Dialog> waitForVisibleDialogs(DWORD processId, std::size_t count,
                                          std::uint32_t timeoutMs) {
  std::vector<Dialog> dialogs;
  waitUntil(
      [&] {
        dialogs = visibleDialogsOf(processId);
        return dialogs.size() == count;
      },
      timeoutMs);
  return dialogs;
}

bool pressCloseBox(HWND dialog) {
  return PostMessageW(dialog, WM_CLOSE, 0, 0) != FALSE;
}

bool clickControl(HWND dialog, int commandId) {
  return PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(commandId, 0),
                      reinterpret_cast<LPARAM>(GetDlgItem(dialog, commandId))) != FALSE;
}

namespace {

// The first process the predicate accepts, 0 when none does.
template <class Predicate>
DWORD findProcessWhere(Predicate accept) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  DWORD found = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && found == 0;
       more = Process32NextW(snapshot, &entry)) {
    if (accept(entry)) found = entry.th32ProcessID;
  }
  CloseHandle(snapshot);
  return found;
}

}  // namespace

DWORD findProcess(const wchar_t* exeName) {
  return findProcessWhere(
      [exeName](const PROCESSENTRY32W& entry) { return lstrcmpiW(entry.szExeFile, exeName) == 0; });
}

DWORD findChildProcess(DWORD parentId) {
  return findProcessWhere(
      [parentId](const PROCESSENTRY32W& entry) { return entry.th32ParentProcessID == parentId; });
}

std::string utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size,
                      nullptr, nullptr);
  return result;
}

}  // namespace probe
