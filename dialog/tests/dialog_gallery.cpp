// Shows each status dialog template the way the program fills it, in the
// language of the locale it runs under, for a screenshot of each, and checks
// that every text the program can show in a template fits its control.
//
//   dialog_gallery OUTDIR
//
// For each template it writes OUTDIR\<template>.rect ("x y width height",
// the dialog's screen rectangle) once the dialog is drawn, and waits (up to
// 60 s) for OUTDIR\<template>.taken before it closes the dialog. It then
// writes OUTDIR\fit.tsv, one line per control and text:
//   template  control  text id (0: the text shown)  fits (1/0)
//   needed width  needed height  width  height  text (UTF-8, "\n" for breaks)
// and, for a text with the inline picture's placeholder, one line for control
// 2148 whose "fits" tells whether the lines up to the placeholder stay one
// line each (its height column is then the height of one line).
// Exit code 0, or 1 when a dialog could not be shown.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/resources/resource_ids.h"
#include "app/status_code_table.h"
#include "dialog/qmx_meadow_status_dialog.h"
#include "framework/instance_manager.h"
#include "framework/properties/property_holder.h"
#include "i18n/string_mapper.h"

namespace {

struct Shown {
  int templateId;
  int textId;        // the status text shown in the screenshot
  int statusImage;   // 309 warning, 314 error
  int printerImage;  // 315: none
  bool caption;      // "idsDialogCaption" 3008
};

// What the program shows in each template (115 only ever shows a status
// text through "more..."); 505, which the program does not use, with a text
// that has the inline picture's placeholder.
const Shown kShown[] = {
    {IDD_STATUS_DETAILED, 7291, IDB_ERROR, IDB_NO_PRINTER_PICTURE, false},
    {IDD_STATUS_NOTIFICATION, 7399, IDB_WARNING, IDB_NO_PRINTER_PICTURE, true},
    {IDD_STATUS_INLINE, 7271, IDB_WARNING, IDB_LOAD_MEDIA, true},
    {IDD_STATUS_INLINE_TALL, 7460, IDB_WARNING, IDB_DUPLEX_STEPS, true},
};

std::string folderOf(const std::string& path) {
  return path.substr(0, path.find_last_of('\\') + 1);
}

std::string programFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return folderOf(path);
}

void pump(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  do {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    Sleep(10);
  } while (GetTickCount() - start < milliseconds);
}

bool exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void writeFile(const std::string& path, const std::string& text) {
  if (FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
  }
}

std::string toUtf8(const std::string& ansi) {
  const int wideSize = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()),
                                           nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wideSize), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(),
                      wideSize);
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize, nullptr, 0, nullptr,
                                       nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize, utf8.data(), size, nullptr, nullptr);
  std::string escaped;
  for (char c : utf8) escaped += c == '\n' ? std::string("\\n") : c == '\t' ? " " : std::string(1, c);
  return escaped;
}

// Whether the text, drawn the way a static text control draws it (with the
// control's font, broken into lines at the control's width), fits the
// control. Appends one line to `report`.
void checkFit(std::string& report, int templateId, HWND control, int textId,
              const std::string& text) {
  RECT client{};
  GetClientRect(control, &client);
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0)));
  RECT needed{0, 0, client.right, 0};
  DrawTextA(dc, text.c_str(), -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  const bool fits = needed.bottom <= client.bottom && needed.right <= client.right;
  char line[128];
  std::snprintf(line, sizeof line, "%d\t%d\t%d\t%d\t%ld\t%ld\t%ld\t%ld\t", templateId,
                GetDlgCtrlID(control), textId, fits ? 1 : 0, needed.right, needed.bottom,
                client.right, client.bottom);
  report += line + toUtf8(text) + "\n";
}

bool isTextStatic(HWND control) {
  char name[32] = {};
  GetClassNameA(control, name, sizeof name);
  if (lstrcmpiA(name, "Static") != 0) return false;
  const LONG_PTR type = GetWindowLongPtrA(control, GWL_STYLE) & SS_TYPEMASK;
  return type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT || type == SS_SIMPLE ||
         type == SS_LEFTNOWORDWRAP;
}

// Whether every line of the text up to the one with the inline picture's
// placeholder stays one line in the control: the picture is placed by
// counting explicit line breaks only, so a line that wraps before it puts
// the picture a line too high. Appends one line to `report` (control 2148)
// for a text with a placeholder.
void checkPlaceholderLines(std::string& report, int templateId, HWND control, int textId,
                           const std::string& text) {
  const std::size_t placeholder = text.find("           ");
  if (placeholder == std::string::npos) return;
  RECT client{};
  GetClientRect(control, &client);
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0)));
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  long widest = 0;
  long tallest = 0;
  std::size_t start = 0;
  while (start <= placeholder) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    RECT needed{0, 0, client.right, 0};
    const std::string line = text.substr(start, end - start);
    DrawTextA(dc, line.empty() ? " " : line.c_str(), -1, &needed,
              DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
    widest = std::max(widest, needed.right);
    tallest = std::max(tallest, needed.bottom);
    start = end + 1;
  }
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  const bool oneLineEach = tallest <= metrics.tmHeight;
  char line[128];
  std::snprintf(line, sizeof line, "%d\t2148\t%d\t%d\t%ld\t%ld\t%ld\t%ld\t", templateId, textId,
                oneLineEach ? 1 : 0, widest, tallest, client.right, metrics.tmHeight);
  report += line + toUtf8(text) + "\n";
}

// The status texts the program can show in the template; for 505, which it
// does not use, the texts with the inline picture's placeholder.
std::set<int> textsFor(int templateId) {
  if (templateId == 505) return {7460, 7462};
  std::set<int> ids;
  for (const StatusCodeEntry& row : kStatusCodeTable) {
    const bool shown =
        templateId == IDD_STATUS_NOTIFICATION ? row.dialogKind == kStatusShowNotification
        : templateId == IDD_STATUS_DETAILED   ? row.dialogKind >= kStatusShowNotification &&
                                                  row.dialogKind <= kStatusShowInlinePicture
                                            : row.dialogKind == kStatusShowInlinePicture;
    if (shown) ids.insert(static_cast<int>(row.textId));
  }
  return ids;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: dialog_gallery OUTDIR\n");
    return 2;
  }
  const std::string out = std::string(argv[1]) + "\\";
  std::unique_ptr<quor::IInstanceManager> manager(new quor::InstanceManager());
  StringMapper dialogMapper;
  dialogMapper.load(programFolder(), "qmx_Kestrel_DialogLangMap.xml");
  StringMapper errorMapper;
  errorMapper.load(programFolder(), "qmx_Kestrel_ErrorLangMap.xml");
  std::printf("code page %u, language %s\n", GetACP(),
              dialogMapper.currentLanguage().abbr.c_str());

  std::string report;
  int status = 0;
  for (const Shown& shown : kShown) {
    vela::PropertyHolder settings;
    settings.setPointer(L"hinstance", GetModuleHandleA(nullptr));
    settings.setPointer(L"eventBroker", manager->getEventBroker());
    settings.setInt(L"idsPrinter", IDS_PRINTER_SERIES);
    settings.setInt(L"idbPrinter", shown.printerImage);
    settings.setString(L"printerName", "Kestrel 100");
    settings.setPointer(L"dialogStringMapper", &dialogMapper);
    settings.setPointer(L"errorStringMapper", &errorMapper);
    settings.setInt(L"idbStatusImage", shown.statusImage);
    if (shown.caption) settings.setInt(L"idsDialogCaption", IDS_PRINTER_ALERT);
    settings.setInt(L"ids1", shown.textId);
    settings.setInt(L"dialogID", shown.templateId);
    auto dialog = std::make_unique<qmxMeadowStatusDialog>(&settings, 0);
    if (!dialog->create()) {
      std::fprintf(stderr, "template %d: no dialog\n", shown.templateId);
      status = 1;
      continue;
    }
    HWND window = dialog->getWindow();
    pump(300);
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
    pump(300);

    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
      if (!isTextStatic(child)) continue;
      char text[4096] = {};
      GetWindowTextA(child, text, sizeof text);
      if (text[0] != '\0') checkFit(report, shown.templateId, child, 0, text);
    }
    if (HWND message = GetDlgItem(window, IDC_MESSAGE)) {
      for (int id : textsFor(shown.templateId)) {
        const std::string text = dialog->lookupText(id);
        checkFit(report, shown.templateId, message, id, text);
        checkPlaceholderLines(report, shown.templateId, message, id, text);
      }
    }

    RECT frame{};
    GetWindowRect(window, &frame);
    char rect[96];
    std::snprintf(rect, sizeof rect, "%ld %ld %ld %ld\n", frame.left, frame.top,
                  frame.right - frame.left, frame.bottom - frame.top);
    const std::string taken = out + std::to_string(shown.templateId) + ".taken";
    // Written aside and renamed, so a reader never sees half a line.
    const std::string rectPath = out + std::to_string(shown.templateId) + ".rect";
    writeFile(rectPath + ".new", rect);
    MoveFileExA((rectPath + ".new").c_str(), rectPath.c_str(), MOVEFILE_REPLACE_EXISTING);
    const DWORD start = GetTickCount();
    while (!exists(taken) && GetTickCount() - start < 60000) pump(50);
    if (!exists(taken)) std::fprintf(stderr, "template %d: no screenshot taken\n", shown.templateId);
    dialog->close(1);
    dialog.reset();
  }
  writeFile(out + "fit.tsv", report);
  return status;
}
