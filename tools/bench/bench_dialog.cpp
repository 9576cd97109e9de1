// The floor under the monitor's alert times: a bare dialog (a text and a
// button on a white background) in a process of its own, made and shown when
// the bench sets an event, as the monitor makes and shows an alert when a
// record arrives. The bench times both the same way, from outside, until the
// dialog's pixels are on the screen.
//
//   bench_dialog NAME
//
// Events (created by the bench, opened here): NAME-ready is set once the
// process waits; NAME-show makes and shows the dialog; NAME-hide destroys
// it; NAME-quit ends the process.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A dialog template in memory: the header, then each item, each aligned to
// four bytes.
class TemplateBuilder {
 public:
  void word(WORD value) { words_.push_back(value); }
  void dword(DWORD value) {
    word(LOWORD(value));
    word(HIWORD(value));
  }
  void text(const wchar_t* value) {
    for (; *value != L'\0'; ++value) word(static_cast<WORD>(*value));
    word(0);
  }
  void align() {
    if (words_.size() % 2 != 0) word(0);
  }
  void item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD classAtom,
            const wchar_t* title) {
    align();
    dword(style | WS_CHILD | WS_VISIBLE);
    dword(0);
    word(static_cast<WORD>(x));
    word(static_cast<WORD>(y));
    word(static_cast<WORD>(cx));
    word(static_cast<WORD>(cy));
    word(id);
    word(0xFFFF);
    word(classAtom);
    text(title);
    word(0);  // no creation data
  }
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  std::vector<WORD> words_;
};

TemplateBuilder makeTemplate() {
  TemplateBuilder builder;
  builder.dword(DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU);
  builder.dword(0);
  builder.word(2);  // items
  builder.word(10);
  builder.word(10);
  builder.word(220);
  builder.word(90);
  builder.word(0);  // no menu
  builder.word(0);  // the dialog class
  builder.text(L"Printer Alert");
  builder.word(8);
  builder.text(L"MS Shell Dlg");
  builder.item(SS_LEFT, 10, 10, 200, 40, 2037, 0x0082, L"Rear Access Door Open");
  builder.item(BS_DEFPUSHBUTTON | WS_TABSTOP, 160, 65, 50, 14, IDOK, 0x0080, L"OK");
  return builder;
}

INT_PTR CALLBACK dialogProc(HWND, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
    default:
      return FALSE;
  }
}

HANDLE openEvent(const std::string& name) {
  return OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name.c_str());
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  const std::string name = commandLine != nullptr ? commandLine : "";
  HANDLE ready = openEvent(name + "-ready");
  HANDLE events[] = {openEvent(name + "-show"), openEvent(name + "-hide"),
                     openEvent(name + "-quit")};
  if (ready == nullptr || events[0] == nullptr || events[1] == nullptr || events[2] == nullptr) {
    return 2;
  }
  const TemplateBuilder dialogTemplate = makeTemplate();
  HWND dialog = nullptr;
  SetEvent(ready);
  for (;;) {
    const DWORD woke = MsgWaitForMultipleObjectsEx(3, events, INFINITE, QS_ALLINPUT,
                                                   MWMO_INPUTAVAILABLE);
    if (woke == WAIT_OBJECT_0) {
      if (dialog == nullptr) {
        dialog = CreateDialogIndirectParamW(instance, dialogTemplate.get(), nullptr, dialogProc, 0);
        if (dialog != nullptr) ShowWindow(dialog, SW_SHOW);
      }
    } else if (woke == WAIT_OBJECT_0 + 1) {
      if (dialog != nullptr) DestroyWindow(dialog);
      dialog = nullptr;
    } else if (woke == WAIT_OBJECT_0 + 2) {
      break;
    }
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (dialog == nullptr || !IsDialogMessageW(dialog, &message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    }
  }
  if (dialog != nullptr) DestroyWindow(dialog);
  return 0;
}
