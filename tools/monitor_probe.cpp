// monitor_probe: watches the running status monitor's dialogs and acts on
// them as a user would; the demo drives the monitor with it.
//
//   monitor_probe [--timeout MS] wait none|TEMPLATE   until no dialog / one of the template shows
//   monitor_probe [--timeout MS] click TEMPLATE ID    a click on control ID of that dialog
//   monitor_probe [--timeout MS] close TEMPLATE       the close box of that dialog
//   monitor_probe signal NAME                         sets the named event a job script waits on
//   monitor_probe list                                prints every visible dialog
//
// TEMPLATE is the dialog's template id, recognised by its controls: 115 (the
// detailed alert, with links), 504 (the alert with a printer picture in its
// message) or 501 (the small notification). Prints what it found, one line a
// dialog; exits 0 on success and 1 when the time ran out or nothing matched.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/resources/resource_ids.h"
#include "tools/window_probe.h"

namespace {

const wchar_t kMonitorExe[] = L"qmxMeadowMonitor.exe";

int templateOf(const probe::Dialog& dialog) {
  if (dialog.hasControl(IDC_HELP_LINK)) return IDD_STATUS_DETAILED;
  if (dialog.hasControl(IDC_INLINE_PICTURE)) return IDD_STATUS_INLINE;
  if (dialog.hasControl(IDC_MESSAGE)) return IDD_STATUS_NOTIFICATION;
  return 0;
}

void print(const probe::Dialog& dialog) {
  std::wstring message = dialog.text(IDC_MESSAGE);
  for (wchar_t& c : message) {
    if (c == L'\n' || c == L'\r') c = L' ';
  }
  std::printf("%d \"%s\" \"%s\"\n", templateOf(dialog), probe::utf8(dialog.caption).c_str(),
              probe::utf8(message).c_str());
  std::fflush(stdout);
}

std::vector<probe::Dialog> visibleDialogs() {
  const DWORD monitor = probe::findProcess(kMonitorExe);
  return monitor != 0 ? probe::visibleDialogsOf(monitor) : std::vector<probe::Dialog>();
}

// Waits for a visible dialog of the template; false when the time ran out.
bool findDialog(int templateId, DWORD timeoutMs, probe::Dialog* found) {
  return probe::waitUntil(
      [&] {
        for (const probe::Dialog& dialog : visibleDialogs()) {
          if (templateOf(dialog) == templateId) {
            *found = dialog;
            return true;
          }
        }
        return false;
      },
      timeoutMs);
}

int usage() {
  std::fputs(
      "usage: monitor_probe [--timeout MS] wait none|TEMPLATE | click TEMPLATE ID |\n"
      "                     close TEMPLATE | signal NAME | list\n",
      stderr);
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  DWORD timeout = 30000;
  int i = 1;
  if (i + 1 < argc && std::wstring(argv[i]) == L"--timeout") {
    timeout = static_cast<DWORD>(_wtoi(argv[i + 1]));
    i += 2;
  }
  if (i >= argc) return usage();
  const std::wstring command = argv[i++];
  const int rest = argc - i;

  if (command == L"list" && rest == 0) {
    for (const probe::Dialog& dialog : visibleDialogs()) print(dialog);
    return 0;
  }
  if (command == L"signal" && rest == 1) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, argv[i]);
    if (event == nullptr) return 1;
    SetEvent(event);
    // The waiting script has its own handle by now or opens the event set;
    // keep it alive a moment for a script that is about to open it.
    Sleep(200);
    CloseHandle(event);
    return 0;
  }
  if (command == L"wait" && rest == 1) {
    if (std::wstring(argv[i]) == L"none") {
      return probe::waitUntil([] { return visibleDialogs().empty(); }, timeout) ? 0 : 1;
    }
    probe::Dialog dialog;
    if (!findDialog(_wtoi(argv[i]), timeout, &dialog)) return 1;
    print(dialog);
    return 0;
  }
  if ((command == L"click" && rest == 2) || (command == L"close" && rest == 1)) {
    probe::Dialog dialog;
    if (!findDialog(_wtoi(argv[i]), timeout, &dialog)) return 1;
    print(dialog);
    const bool sent = command == L"click" ? probe::clickControl(dialog.window, _wtoi(argv[i + 1]))
                                          : probe::pressCloseBox(dialog.window);
    return sent ? 0 : 1;
  }
  return usage();
}
