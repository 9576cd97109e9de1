// Links and colours in real dialogs: the replaced window procedures and the
// window properties that carry them, the cursor, the colours handed to the
// platform and the pixels that come out, and the procedures put back when
// the windows go.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "app/resources/resource_ids.h"
#include "dialog/link_control.h"
#include "dialog/qmx_meadow_status_dialog.h"
#include "dialog/tests/dialog_test_support.h"

namespace {

using namespace dialog_test;

using Dialog = std::unique_ptr<qmxMeadowStatusDialog>;

Dialog makeDialog(int templateId) {
  auto settings = settingsFor(templateId, nullptr);
  Dialog dialog(new qmxMeadowStatusDialog(settings.get(), 0));
  EXPECT_TRUE(dialog->create());
  return dialog;
}

LONG_PTR procOf(HWND window) {
  return GetWindowLongPtrA(window, GWLP_WNDPROC);
}

LONG_PTR savedProcOf(HWND window) {
  return reinterpret_cast<LONG_PTR>(GetPropA(window, kOriginalProcProperty));
}

LOGFONTA fontOf(HWND control) {
  LOGFONTA font{};
  GetObjectA(reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0)), sizeof font,
             &font);
  return font;
}

TEST(Links, DetailedAlertHasThreeLinksAndOneReplacedDialogProcedure) {
  Dialog dialog = makeDialog(IDD_STATUS_DETAILED);
  HWND window = dialog->getWindow();
  const LOGFONTA messageFont = fontOf(GetDlgItem(window, IDC_MESSAGE));
  const std::map<int, int> texts = {
      {IDC_HELP_LINK, IDS_HELP}, {IDC_TOOLBOX_LINK, IDS_TOOLBOX}, {IDC_MANUAL_LINK, IDS_MANUAL}};
  for (const auto& [id, textId] : texts) {
    SCOPED_TRACE(id);
    HWND link = GetDlgItem(window, id);
    EXPECT_EQ(dialog->lookupText(textId), windowText(link));
    EXPECT_FALSE(windowText(link).empty());
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(&LinkWndProc), procOf(link));
    EXPECT_EQ(GetClassLongPtrA(link, GCLP_WNDPROC), savedProcOf(link));
    EXPECT_EQ(reinterpret_cast<HANDLE>(1), GetPropA(link, kBlueTextProperty));
    EXPECT_NE(0, GetWindowLongPtrA(link, GWL_STYLE) & SS_NOTIFY);
    const LOGFONTA font = fontOf(link);
    EXPECT_EQ(1, font.lfUnderline);
    EXPECT_EQ(messageFont.lfWeight, font.lfWeight);  // normal weight
    EXPECT_STREQ(messageFont.lfFaceName, font.lfFaceName);
  }
  // Three links, one replacement: the saved procedure is the dialog's own.
  EXPECT_EQ(reinterpret_cast<LONG_PTR>(&LinkParentWndProc), procOf(window));
  EXPECT_EQ(GetClassLongPtrA(window, GCLP_WNDPROC), savedProcOf(window));
  EXPECT_NE(reinterpret_cast<LONG_PTR>(&LinkParentWndProc), savedProcOf(window));
  // Neither the message nor the frames are links.
  for (int id : {IDC_MESSAGE, IDC_STATUS_FRAME, IDC_ACTION_FRAME}) {
    EXPECT_EQ(nullptr, GetPropA(GetDlgItem(window, id), kBlueTextProperty)) << id;
  }
}

TEST(Links, SemiBoldFontAndOneReplacementOnAnyTemplate) {
  Dialog dialog = makeDialog(kColourTemplate);
  HWND window = dialog->getWindow();
  HWND more = GetDlgItem(window, IDC_MORE_LINK);
  const LOGFONTA before = fontOf(more);
  ScopedFont semiBold = setLinkFont(more, true, true);
  ASSERT_TRUE(semiBold);
  EXPECT_EQ(semiBold.get(), reinterpret_cast<HFONT>(SendMessageA(more, WM_GETFONT, 0, 0)));
  EXPECT_EQ(600, fontOf(more).lfWeight);
  EXPECT_EQ(1, fontOf(more).lfUnderline);
  EXPECT_EQ(before.lfHeight, fontOf(more).lfHeight);
  EXPECT_FALSE(setLinkFont(nullptr, false, true));

  const LONG_PTR dialogProc = procOf(window);
  subclassLink(more);
  subclassLink(GetDlgItem(window, IDC_HELP_LINK));
  subclassLink(more);  // twice the same link changes nothing
  EXPECT_EQ(GetClassLongPtrA(more, GCLP_WNDPROC), savedProcOf(more));
  EXPECT_EQ(dialogProc, savedProcOf(window));
  subclassLink(nullptr);
  dialog.reset();  // the control goes before the font it draws with
}

TEST(Links, HandCursorOverLinksOnly) {
  Dialog dialog = makeDialog(IDD_STATUS_DETAILED);
  HWND window = dialog->getWindow();
  HCURSOR hand = LoadCursorA(nullptr, MAKEINTRESOURCEA(32649));
  ASSERT_NE(nullptr, hand);
  HWND link = GetDlgItem(window, IDC_TOOLBOX_LINK);
  SetCursor(nullptr);
  EXPECT_EQ(1, SendMessageA(link, WM_SETCURSOR, reinterpret_cast<WPARAM>(link),
                            MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
  EXPECT_EQ(hand, GetCursor());
  for (HWND other : {GetDlgItem(window, IDC_MESSAGE), window}) {
    SetCursor(nullptr);
    SendMessageA(other, WM_SETCURSOR, reinterpret_cast<WPARAM>(other),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_NE(hand, GetCursor());
  }
}

struct Colours {
  COLORREF text;
  COLORREF back;
  HBRUSH brush;
};

Colours coloursFor(HWND dialog, UINT message, HWND control) {
  HDC dc = CreateCompatibleDC(nullptr);
  SetTextColor(dc, RGB(1, 2, 3));
  SetBkColor(dc, RGB(4, 5, 6));
  const auto brush = reinterpret_cast<HBRUSH>(
      SendMessageA(dialog, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control)));
  Colours colours{GetTextColor(dc), GetBkColor(dc), brush};
  DeleteDC(dc);
  return colours;
}

COLORREF brushColour(HBRUSH brush) {
  LOGBRUSH description{};
  GetObjectA(brush, sizeof description, &description);
  return description.lbColor;
}

TEST(Colours, LinksBluePlainTextsBlackBannersWhiteOnBlue) {
  Dialog detailed = makeDialog(IDD_STATUS_DETAILED);
  HWND window = detailed->getWindow();
  struct Case {
    const char* what;
    UINT message;
    HWND control;
    COLORREF text, back;
  };
  Dialog colour = makeDialog(kColourTemplate);
  HWND banners = colour->getWindow();
  const Case cases[] = {
      {"link", WM_CTLCOLORSTATIC, GetDlgItem(window, IDC_HELP_LINK), kBlue, kWhite},
      {"plain static beside links", WM_CTLCOLORSTATIC, GetDlgItem(window, IDC_MESSAGE), kBlack,
       kWhite},
      {"frame", WM_CTLCOLORSTATIC, GetDlgItem(window, IDC_STATUS_FRAME), kBlack, kWhite},
      {"dialog background", WM_CTLCOLORDLG, window, kBlack, kWhite},
      {"button", WM_CTLCOLORBTN, GetDlgItem(window, IDC_ACTION_FRAME), kBlack, kWhite},
      {"printer label 2147", WM_CTLCOLORSTATIC, GetDlgItem(banners, IDC_PRINTER_LABEL), kWhite,
       kBlue},
      {"banner 2167", WM_CTLCOLORSTATIC, GetDlgItem(banners, IDC_BANNER), kWhite, kBlue},
      {"a window of no dialog", WM_CTLCOLORSTATIC, GetDesktopWindow(), kBlack, kWhite},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HWND dialog = GetParent(c.control) == banners || c.control == banners ? banners : window;
    const Colours colours = coloursFor(dialog, c.message, c.control);
    EXPECT_EQ(c.text, colours.text);
    EXPECT_EQ(c.back, colours.back);
    EXPECT_EQ(c.back, brushColour(colours.brush));
  }
  EXPECT_EQ(IDC_PRINTER_LABEL, colour->colorKeyOf(GetDlgItem(banners, IDC_PRINTER_LABEL)));
  EXPECT_EQ(IDC_BANNER, colour->colorKeyOf(GetDlgItem(banners, IDC_BANNER)));
  EXPECT_EQ(0, colour->colorKeyOf(nullptr));  // no control never matches a missing one
  EXPECT_EQ(0, detailed->colorKeyOf(GetDlgItem(window, IDC_MESSAGE)));
  EXPECT_EQ(colour->brushFor(0), colour->brushFor(IDC_MESSAGE));
  EXPECT_NE(colour->brushFor(0), colour->brushFor(IDC_PRINTER_LABEL));

  // A dialog not yet initialised has no window to compare with.
  auto settings = settingsFor(kColourTemplate, nullptr);
  qmxMeadowStatusDialog uncreated(settings.get(), 0);
  EXPECT_EQ(0, uncreated.colorKeyOf(GetDlgItem(banners, IDC_PRINTER_LABEL)));
}

// The pixels of one colour in a control, as it is on screen.
int pixelsOf(HWND control, COLORREF colour) {
  RECT client{};
  GetClientRect(control, &client);
  HDC dc = GetDC(control);
  int count = 0;
  for (int y = 0; y < client.bottom; ++y) {
    for (int x = 0; x < client.right; ++x) count += GetPixel(dc, x, y) == colour;
  }
  ReleaseDC(control, dc);
  return count;
}

TEST(Colours, DrawnOnScreen) {
  Dialog detailed = makeDialog(IDD_STATUS_DETAILED);
  Dialog colour = makeDialog(kColourTemplate);
  flush(nullptr);
  const auto pixels = [](HWND dialog, int id, COLORREF colour) {
    return pixelsOf(GetDlgItem(dialog, id), colour);
  };
  EXPECT_GT(pixels(detailed->getWindow(), IDC_HELP_LINK, kBlue), 10);  // link text
  EXPECT_EQ(0, pixels(detailed->getWindow(), IDC_HELP_LINK, kBlack));
  EXPECT_GT(pixels(detailed->getWindow(), IDC_MESSAGE, kBlack), 10);  // plain text
  EXPECT_EQ(0, pixels(detailed->getWindow(), IDC_MESSAGE, kBlue));
  EXPECT_GT(pixels(colour->getWindow(), IDC_PRINTER_LABEL, kBlue), 100);  // banner background
  EXPECT_GT(pixels(colour->getWindow(), IDC_PRINTER_LABEL, kWhite), 10);  // and text
}

// What a window's procedure and "_Original_Proc_" were once it had handled
// WM_DESTROY.
struct AfterDestroy {
  LONG_PTR proc;
  LONG_PTR saved;
};
std::map<HWND, AfterDestroy>* g_afterDestroy = nullptr;

LRESULT CALLBACK recordAfterDestroy(int code, WPARAM wParam, LPARAM lParam) {
  const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
  if (code == HC_ACTION && call->message == WM_DESTROY && g_afterDestroy != nullptr) {
    (*g_afterDestroy)[call->hwnd] = {procOf(call->hwnd), savedProcOf(call->hwnd)};
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(Links, ProceduresPutBackWhenTheWindowsGo) {
  Dialog dialog = makeDialog(IDD_STATUS_DETAILED);
  HWND window = dialog->getWindow();
  std::map<HWND, LONG_PTR> original = {{window, savedProcOf(window)}};
  for (int id : {IDC_HELP_LINK, IDC_TOOLBOX_LINK, IDC_MANUAL_LINK}) {
    HWND link = GetDlgItem(window, id);
    original[link] = savedProcOf(link);
  }
  std::map<HWND, AfterDestroy> after;
  g_afterDestroy = &after;
  HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROCRET, recordAfterDestroy, nullptr,
                                 GetCurrentThreadId());
  ASSERT_NE(nullptr, hook);
  dialog->close(1);
  dialog.reset();  // destroys the window
  UnhookWindowsHookEx(hook);
  g_afterDestroy = nullptr;
  EXPECT_FALSE(IsWindow(window));
  for (const auto& [hwnd, proc] : original) {
    SCOPED_TRACE(hwnd == window ? "dialog" : "link");
    ASSERT_EQ(1u, after.count(hwnd));
    EXPECT_NE(0, proc);
    EXPECT_EQ(proc, after[hwnd].proc);
    EXPECT_EQ(0, after[hwnd].saved);
  }
}

}  // namespace
