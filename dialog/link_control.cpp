#include "dialog/link_control.h"

#include "platform/debug_output.h"

namespace {

WNDPROC savedProc(HWND window) {
  return reinterpret_cast<WNDPROC>(GetPropA(window, kOriginalProcProperty));
}

// Puts the saved procedure back and forgets it; the message then goes on to
// that procedure, as every other message does.
LRESULT restoreAndForward(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                          WNDPROC saved) {
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(saved));
  RemovePropA(window, kOriginalProcProperty);
  return CallWindowProcA(saved, window, message, wParam, lParam);
}

// Nothing saved (the property was removed by someone else): the window is
// handled by default rather than not at all.
LRESULT lostProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool dialog) {
  platform::debugOutput("[LinkWndProc] a window lost its saved window procedure\n");
  return dialog ? DefDlgProcA(window, message, wParam, lParam)
                : DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

ScopedFont setLinkFont(HWND control, bool semiBold, bool underline) {
  if (control == nullptr) return ScopedFont();
  HGDIOBJ current = reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0));
  // A control without a font of its own draws with the system font.
  if (current == nullptr) current = GetStockObject(SYSTEM_FONT);
  LOGFONTA description{};
  if (GetObjectA(current, sizeof description, &description) == 0) return ScopedFont();
  if (underline) description.lfUnderline = 1;
  if (semiBold) description.lfWeight = 600;
  ScopedFont font(CreateFontIndirectA(&description));
  if (!font) {
    platform::debugOutput("[setLinkFont] CreateFontIndirectA failed: the link keeps its font\n");
    return font;
  }
  SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), 0);
  InvalidateRect(control, nullptr, FALSE);
  return font;
}

void subclassLink(HWND control) {
  if (control == nullptr) return;
  if (GetWindowLongPtrA(control, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&LinkWndProc)) return;
  SetWindowLongPtrA(control, GWL_STYLE, GetWindowLongPtrA(control, GWL_STYLE) | SS_NOTIFY);
  SetPropA(control, kOriginalProcProperty,
           reinterpret_cast<HANDLE>(GetWindowLongPtrA(control, GWLP_WNDPROC)));
  SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LinkWndProc));
  SetPropA(control, kBlueTextProperty, reinterpret_cast<HANDLE>(1));

  HWND parent = GetParent(control);
  if (parent == nullptr) return;
  const LONG_PTR parentProc = GetWindowLongPtrA(parent, GWLP_WNDPROC);
  if (parentProc == reinterpret_cast<LONG_PTR>(&LinkParentWndProc)) return;
  SetPropA(parent, kOriginalProcProperty, reinterpret_cast<HANDLE>(parentProc));
  SetWindowLongPtrA(parent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LinkParentWndProc));
}

LRESULT CALLBACK LinkWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  const WNDPROC saved = savedProc(window);
  switch (message) {
    case WM_SETCURSOR: {
      HCURSOR cursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32649));  // IDC_HAND
      if (cursor == nullptr) cursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
      SetCursor(cursor);
      return 1;
    }
    case WM_DESTROY:
      if (saved == nullptr) return lostProcedure(window, message, wParam, lParam, false);
      return restoreAndForward(window, message, wParam, lParam, saved);
    default:
      if (saved == nullptr) return lostProcedure(window, message, wParam, lParam, false);
      return CallWindowProcA(saved, window, message, wParam, lParam);
  }
}

LRESULT CALLBACK LinkParentWndProc(HWND window, UINT message, WPARAM wParam,
                                   LPARAM lParam) noexcept {
  const WNDPROC saved = savedProc(window);
  if (saved == nullptr) return lostProcedure(window, message, wParam, lParam, true);
  switch (message) {
    case WM_CTLCOLORSTATIC: {
      const LRESULT brush = CallWindowProcA(saved, window, message, wParam, lParam);
      HWND control = reinterpret_cast<HWND>(lParam);
      if (control != nullptr && GetPropA(control, kBlueTextProperty) != nullptr) {
        SetTextColor(reinterpret_cast<HDC>(wParam), kBlue);
      }
      return brush;
    }
    case WM_DESTROY:
      return restoreAndForward(window, message, wParam, lParam, saved);
    default:
      return CallWindowProcA(saved, window, message, wParam, lParam);
  }
}
