// What the application dialog does to its process: command 2 ends it with
// exit code 0, and the three links show a message box each and post
// nothing. Each runs in dialog_test_child.exe, watched from here.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/resources/resource_ids.h"
#include "dialog/tests/dialog_test_support.h"
#include "platform/test_support/process.h"
#include "platform/text.h"

namespace {

using namespace dialog_test;

// The child program, ended (and waited for) when the test is done with it.
class Child {
 public:
  explicit Child(int templateId) {
    const std::string command =
        "\"" + testFolder() + "dialog_test_child.exe\" " + std::to_string(templateId);
    process_ = testsupport::startProcess(platform::utf8ToWide(command), std::wstring(), &id_);
  }
  ~Child() {
    if (process_ == nullptr) return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_, 99);
      WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
  }
  bool started() const { return process_ != nullptr; }

  // The first visible top-level window of the child with that caption (any
  // caption when null), waiting up to 10 s.
  HWND waitForWindow(const char* caption) const {
    struct Search {
      DWORD process;
      const char* caption;
      HWND found;
    } search{id_, caption, nullptr};
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(20)) {
      EnumWindows(
          [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process != s->process || !IsWindowVisible(window)) return TRUE;
            if (s->caption != nullptr && windowText(window) != s->caption) return TRUE;
            s->found = window;
            return FALSE;
          },
          reinterpret_cast<LPARAM>(&search));
      if (search.found != nullptr) return search.found;
    }
    return nullptr;
  }
  // The exit code, or 259 (still active) when it did not end within 10 s.
  DWORD waitForExit() const {
    WaitForSingleObject(process_, 10000);
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
  }

 private:
  HANDLE process_ = nullptr;
  DWORD id_ = 0;
};

// The text of a message box: its static control 0xFFFF. GetWindowText reads
// the window manager's copy and never waits for the child.
std::string boxText(HWND box) {
  return windowText(GetDlgItem(box, 0xFFFF));
}

TEST(ChildProcess, CommandTwoEndsTheProgramWithExitCodeZero) {
  Child child(IDD_STATUS_DETAILED);
  ASSERT_TRUE(child.started());
  HWND dialog = child.waitForWindow(nullptr);
  ASSERT_NE(nullptr, dialog);
  PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(0u, child.waitForExit());
}

TEST(ChildProcess, LinksShowMessageBoxesAndPostNothing) {
  Child child(IDD_STATUS_DETAILED);
  ASSERT_TRUE(child.started());
  HWND dialog = child.waitForWindow(nullptr);
  ASSERT_NE(nullptr, dialog);
  struct Link {
    int id;
    const char* caption;
    const char* text;
  };
  const Link links[] = {
      {IDC_HELP_LINK, "IDC_HELP_STATIC", "This will link to help..."},
      {IDC_TOOLBOX_LINK, "IDC_TOOLBOX_STATIC", "This will link to Toolbox..."},
      {IDC_MANUAL_LINK, "IDC_USERMANUAL_STATIC", "This will link to the User Manual..."},
  };
  for (const Link& link : links) {
    SCOPED_TRACE(link.caption);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(link.id, STN_CLICKED), 0);
    HWND box = child.waitForWindow(link.caption);
    ASSERT_NE(nullptr, box);
    EXPECT_NE(box, dialog);
    EXPECT_EQ(link.text, boxText(box));
    EXPECT_EQ(nullptr, GetWindow(box, GW_OWNER));  // no owner window
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    const DWORD start = GetTickCount();
    while (IsWindow(box) && GetTickCount() - start < 10000) Sleep(20);
    EXPECT_FALSE(IsWindow(box));
  }
  PostMessageA(dialog, WM_APP, 0, 0);
  EXPECT_EQ(100u, child.waitForExit()) << "100 + the number of results posted";
}

}  // namespace
