// The status dialog in real windows: composed texts, where they come from,
// the results it posts to a real broker, its keys, its placement, its
// pictures and what it leaves behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/resources/resource_ids.h"
#include "dialog/qmx_meadow_status_dialog.h"
#include "dialog/status_dialog.h"
#include "dialog/tests/dialog_test_support.h"
#include "dialog/text_format.h"
#include "i18n/string_mapper.h"
#include "platform/debug_output.h"
#include "platform/test_support/wine.h"

namespace {

using namespace dialog_test;

using Dialog = std::unique_ptr<qmxMeadowStatusDialog>;

Dialog makeDialog(vela::IPropertyHolder& settings) {
  Dialog dialog(new qmxMeadowStatusDialog(&settings, 0));
  EXPECT_TRUE(dialog->create());
  return dialog;
}

// Captures the debugger trace for the length of a test.
class TraceCapture {
 public:
  TraceCapture() : capture_([this](const std::string& line) { text_ += line; }) {}
  const std::string& text() const { return text_; }

 private:
  std::string text_;
  platform::ScopedDebugOutputCapture capture_;
};

// ---- Texts -----------------------------------------------------------------

TEST(DialogTexts, CaptionMessageAndPrinterLabelForEachCombination) {
  // Every case has "idsPrinter" "Kestrel" and "ids1" "Message about %s.";
  // the template's caption is "Colours".
  struct Case {
    const char* what;
    std::vector<std::pair<const wchar_t*, int>> ints;
    const char *printerName, *caption, *message, *label;
  };
  const char* kMessage = "Message about Kestrel.";
  const Case cases[] = {
      // clang-format off
      {"idsTitle formats the printer name", {{L"idsTitle", kCaptionFormat}},
       "Kestrel 100", "Caption for Kestrel 100", kMessage, "Kestrel 100"},
      {"idsDialogCaption wins", {{L"idsTitle", kCaptionFormat}, {L"idsDialogCaption", kDialogCaption}},
       "Kestrel 100", "Dialog caption", kMessage, "Kestrel 100"},
      {"an empty printer name gives the idsPrinter text", {{L"idsTitle", kCaptionFormat}},
       "", "Caption for Kestrel", kMessage, "Kestrel"},
      {"no caption ids", {}, "x", "Colours", kMessage, "x"},
      {"ids2 without ids1", {{L"ids1", 0}, {L"ids2", kThreeArguments}, {L"mediaCode", kMediaName},
       {L"trayCode", kTrayName}}, "x", "Colours", "[|A4 paper|Tray 2]", "x"},
      {"media and tray of -1", {{L"ids1", 0}, {L"ids2", kThreeArguments}, {L"mediaCode", -1},
       {L"trayCode", -1}}, "x", "Colours", "[||]", "x"},
      {"ids1 replaces what ids2 composed", {{L"ids2", kThreeArguments}, {L"mediaCode", kMediaName}},
       "x", "Colours", kMessage, "x"},
      {"an ids1 without text clears the template's placeholder", {{L"ids1", 7201}},
       "x", "Colours", "", "x"},
      {"no message ids at all: likewise", {{L"ids1", 0}}, "x", "Colours", "", "x"},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto settings = settingsFor(kColourTemplate, nullptr);
    settings->setInt(L"idsPrinter", kPrinterSeries);
    settings->setInt(L"ids1", kMessageFormat);
    settings->setString(L"printerName", c.printerName);
    for (const auto& [key, value] : c.ints) settings->setInt(key, value);
    Dialog dialog = makeDialog(*settings);
    HWND window = dialog->getWindow();
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(c.caption, windowText(window));
    EXPECT_EQ(c.message, controlText(window, IDC_MESSAGE));
    EXPECT_EQ(c.label, controlText(window, IDC_PRINTER_LABEL));
  }
}

TEST(DialogTexts, MappersFirstThenTheStringTable) {
  TempDir dialogData;
  dialogData.write("map.xml", defaultLanguageMap("strings.xml", false));
  dialogData.write("strings.xml", stringsFile({{9105, "dialog mapper"}, {9107, ""}}));
  TempDir errorData;
  errorData.write("map.xml", defaultLanguageMap("strings.xml", false));
  errorData.write("strings.xml", stringsFile({{9105, "error mapper"}, {9106, "error mapper"}}));
  StringMapper dialogMapper;
  dialogMapper.load(dialogData.path(), "map.xml");
  StringMapper errorMapper;
  errorMapper.load(errorData.path(), "map.xml");

  auto settings = settingsFor(kColourTemplate, nullptr);
  settings->setPointer(L"dialogStringMapper", &dialogMapper);
  settings->setPointer(L"errorStringMapper", &errorMapper);
  qmxMeadowStatusDialog dialog(settings.get(), 0);
  EXPECT_EQ("dialog mapper", dialog.lookupText(kDialogCaption));  // both mappers know it
  EXPECT_EQ("error mapper", dialog.lookupText(kPrinterSeries));
  EXPECT_EQ("from the string table", dialog.lookupText(kTableOnly));
  EXPECT_EQ("", dialog.lookupText(7201));  // nobody knows it

  // Without mappers the string table answers everything.
  auto tableOnly = settingsFor(kColourTemplate, nullptr);
  qmxMeadowStatusDialog plain(tableOnly.get(), 0);
  EXPECT_EQ("Dialog caption", plain.lookupText(kDialogCaption));
  EXPECT_EQ("Kestrel", plain.lookupText(kPrinterSeries));
}

TEST(DialogTexts, FifthLoadOverwritesTheFirst) {
  const char* first = StatusDialog::loadResourceText(testModule(), kMediaName);
  const std::string firstText = first;
  const char* second = StatusDialog::loadResourceText(testModule(), kTrayName);
  StatusDialog::loadResourceText(testModule(), kDialogCaption);
  StatusDialog::loadResourceText(testModule(), kPrinterSeries);
  EXPECT_EQ("A4 paper", firstText);
  EXPECT_STREQ("A4 paper", first);  // four results are valid at once
  EXPECT_STREQ("Tray 2", second);
  const char* fifth = StatusDialog::loadResourceText(testModule(), kTableOnly);
  EXPECT_EQ(first, fifth);
  EXPECT_STREQ("from the string table", first);
  EXPECT_STREQ("", StatusDialog::loadResourceText(testModule(), 7201));
}

// The hostile texts as the dialog must show them, with the printer text
// "Kestrel" as the one argument.
std::string expectedHostile(int id) {
  switch (id) {
    case kHostileFirst:
      return "Kestrel";
    case kHostileFirst + 1:
      return "%d%n";
    case kHostileFirst + 2:
      return "100%";
    case kHostileFirst + 3: {
      std::string digits;
      while (digits.size() < 2000) digits += "0123456789";
      return digits.substr(0, textformat::kLimit - 1);
    }
    default: {
      // "AB" and 600 times 中, in the process code page, cut within the
      // limit on a character boundary.
      std::wstring wide = L"AB";
      wide.append(600, L'\x4E2D');
      char ansi[4096] = {};
      const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                           ansi, sizeof ansi, nullptr, nullptr);
      const std::string text(ansi, static_cast<std::size_t>(size));
      return text.substr(0, textformat::wholeCharacterPrefix(text, textformat::kLimit - 1));
    }
  }
}

std::string moduleFolderFile(const char* name) {
  return testFolder() + name;
}

TEST(DialogTexts, HostileInstalledTextsAreNeverFormats) {
  // The same five texts from each place a text can be installed.
  std::vector<std::pair<int, std::string>> hostile;
  for (int id = kHostileFirst; id <= kHostileFirst + 4; ++id) {
    char utf8[4096] = {};
    wchar_t wide[2048] = {};
    const int length = LoadStringW(testModule(), static_cast<UINT>(id), wide, 2048);
    WideCharToMultiByte(CP_UTF8, 0, wide, length, utf8, sizeof utf8, nullptr, nullptr);
    hostile.emplace_back(id, utf8);
  }
  TempDir stringsData;
  stringsData.write("map.xml", defaultLanguageMap("strings.xml", false));
  stringsData.write("strings.xml", stringsFile(hostile));
  StringMapper stringsMapper;
  stringsMapper.load(stringsData.path(), "map.xml");
  TempDir moduleData;
  moduleData.copy(moduleFolderFile("dialog_hostile_strings.dll"), "hostile.dll");
  moduleData.write("map.xml", defaultLanguageMap("hostile.dll", true));
  StringMapper moduleMapper;
  moduleMapper.load(moduleData.path(), "map.xml");
  ASSERT_TRUE(moduleMapper.hasResourceModule());

  const std::pair<const char*, StringMapper*> sources[] = {
      {"string table", nullptr}, {"strings file", &stringsMapper}, {"resource module", &moduleMapper}};
  for (const auto& [source, mapper] : sources) {
    for (int id = kHostileFirst; id <= kHostileFirst + 4; ++id) {
      SCOPED_TRACE(std::string(source) + " " + std::to_string(id));
      auto settings = settingsFor(kColourTemplate, nullptr);
      settings->setInt(L"idsPrinter", kPrinterSeries);
      settings->setString(L"printerName", "Kestrel");
      settings->setInt(L"ids1", id);
      settings->setInt(L"idsTitle", id);
      settings->setPointer(L"errorStringMapper", mapper);
      Dialog dialog = makeDialog(*settings);
      const std::string expected = expectedHostile(id);
      EXPECT_EQ(expected, dialog->message());
      EXPECT_EQ(expected, controlText(dialog->getWindow(), IDC_MESSAGE));
      EXPECT_EQ(expected, windowText(dialog->getWindow()));
    }
  }
}

// The zh_CN run of the hostile texts (see the CTest entry) really cuts: the
// 511th two-byte character would end one byte past the limit.
TEST(CodePage936, GbkTextCutAtTheLimitKeepsWholeCharacters) {
  if (GetACP() != 936) GTEST_SKIP() << "needs code page 936 (LANG=zh_CN.UTF-8)";
  std::string expected = "AB";
  for (int i = 0; i < 510; ++i) expected += "\xD6\xD0";  // 中
  EXPECT_EQ(expected, expectedHostile(kHostileFirst + 4));
  EXPECT_EQ(expected, StatusDialog::loadResourceText(testModule(), kHostileFirst + 4));
}

// ---- Results ---------------------------------------------------------------

TEST(DialogResults, EveryCommandAndCloseOfTheApplicationDialog) {
  Harness harness;
  auto settings = settingsFor(IDD_STATUS_DETAILED, harness.broker());
  Dialog dialog = makeDialog(*settings);
  HWND window = dialog->getWindow();
  for (int id :
       {IDOK, kButtonCommand, kSecondButtonCommand, IDC_MORE_LINK, 7, IDC_STATUS_FRAME, 0xFFFF}) {
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
  }
  // The close box posts 1 and the window stays; a second press posts again.
  SendMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindowVisible(window));
  SendMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindowVisible(window));

  const auto results = harness.results();
  std::vector<std::int32_t> codes;
  for (const auto& result : results) {
    codes.push_back(result.code);
    EXPECT_EQ(static_cast<StatusDialog*>(dialog.get()), result.dialog);
  }
  EXPECT_EQ(
      (std::vector<std::int32_t>{IDOK, kResultButton, kResultSecondButton, kResultMore, 7,
                                 IDC_STATUS_FRAME, 0xFFFF, kResultDismissed, kResultDismissed}),
      codes);
}

TEST(DialogResults, PlainDialogTextsCommandsAndClose) {
  Harness harness;
  auto settings = settingsFor(kBaseTemplate, harness.broker());
  settings->setInt(L"idsPrinter", kPrinterSeries);
  settings->setInt(L"ids1", kMessageFormat);
  settings->setInt(L"ids2", kThreeArguments);
  settings->setInt(L"mediaCode", kMediaName);
  settings->setInt(L"trayCode", kTrayName);
  settings->setInt(L"idsTitle", kCaptionFormat);
  settings->setInt(L"buttonMessage", kDialogCaption);
  StatusDialog dialog(settings.get(), 1);  // created by its constructor
  HWND window = dialog.getWindow();
  ASSERT_NE(nullptr, window);
  EXPECT_EQ("Caption for Kestrel", windowText(window));
  EXPECT_EQ("[Message about Kestrel.|A4 paper|Tray 2]", controlText(window, 102));
  EXPECT_EQ("Dialog caption", controlText(window, 100));
  for (int id : {IDCANCEL, kButtonCommand, kSecondButtonCommand, IDC_MORE_LINK, IDC_HELP_LINK, 9}) {
    SendMessageA(window, WM_COMMAND, id, 0);
  }
  // WM_CLOSE closes the plain dialog (hidden, detached), then posts 5.
  SendMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindowVisible(window));
  SendMessageA(window, WM_COMMAND, kButtonCommand, 0);  // no longer reaches the object
  EXPECT_EQ((std::vector<std::int32_t>{kResultDismissed, kResultButton, kResultSecondButton,
                                       IDC_MORE_LINK, IDC_HELP_LINK, 9, kResultBaseClosed}),
            harness.resultCodes());
}

TEST(DialogResults, MissingTemplateShowsAndPostsNothing) {
  Harness harness;
  const std::size_t windowsBefore = processWindows().size();
  TraceCapture trace;
  for (int id : {9999, 0, -1, 70000}) {
    SCOPED_TRACE(id);
    auto settings = settingsFor(id, harness.broker());
    qmxMeadowStatusDialog dialog(settings.get(), 0);
    EXPECT_FALSE(dialog.create());
    EXPECT_EQ(nullptr, dialog.getWindow());
    EXPECT_EQ(windowsBefore, processWindows().size());
  }
  EXPECT_NE(std::string::npos, trace.text().find("no dialog template 9999"));
  EXPECT_TRUE(harness.results().empty());
}

TEST(DialogResults, WithoutABrokerResultsAreDroppedAndTraced) {
  auto settings = settingsFor(IDD_STATUS_DETAILED, nullptr);
  Dialog dialog = makeDialog(*settings);
  TraceCapture trace;
  SendMessageA(dialog->getWindow(), WM_CLOSE, 0, 0);
  SendMessageA(dialog->getWindow(), WM_COMMAND, IDC_MORE_LINK, 0);
  EXPECT_NE(std::string::npos, trace.text().find("no event broker: result 1 dropped"));
  EXPECT_NE(std::string::npos, trace.text().find("result 102 dropped"));
  EXPECT_TRUE(IsWindowVisible(dialog->getWindow()));
}

// ---- Keys ------------------------------------------------------------------

// Presses and releases a key as the keyboard would.
void pressKey(WORD key) {
  INPUT input[2] = {};
  input[0].type = input[1].type = INPUT_KEYBOARD;
  input[0].ki.wVk = input[1].ki.wVk = key;
  input[1].ki.dwFlags = KEYEVENTF_KEYUP;
  ASSERT_EQ(2u, SendInput(2, input, sizeof(INPUT)));
}

TEST(DialogKeys, EscAndEnterDismissOnlyTheAlertThatHasThem) {
  Harness harness;
  auto first = settingsFor(IDD_STATUS_NOTIFICATION, harness.broker());
  Dialog notification = makeDialog(*first);
  auto second = settingsFor(IDD_STATUS_DETAILED, harness.broker());
  Dialog alert = makeDialog(*second);
  const auto& registered = static_cast<quor::InstanceManager*>(harness.manager())->dialogHandles();
  EXPECT_EQ((std::vector<void*>{notification->getWindow(), alert->getWindow()}), registered);

  flush(harness.manager());
  ASSERT_EQ(alert->getWindow(), GetForegroundWindow()) << "the newest alert has the keyboard";
  pressKey(VK_ESCAPE);
  flush(harness.manager());
  pressKey(VK_RETURN);
  flush(harness.manager());
  // Tab has nowhere to go in these dialogs and posts nothing.
  pressKey(VK_TAB);
  flush(harness.manager());
  EXPECT_TRUE(IsWindowVisible(alert->getWindow()));
  EXPECT_TRUE(IsWindowVisible(notification->getWindow()));

  const auto results = harness.results();
  ASSERT_EQ(2u, results.size());
  for (const auto& result : results) {
    EXPECT_EQ(1, result.code);
    EXPECT_EQ(static_cast<StatusDialog*>(alert.get()), result.dialog);
  }
  // Deleting a dialog takes its window out of the pump's dialog handling.
  alert.reset();
  EXPECT_EQ((std::vector<void*>{notification->getWindow()}), registered);
}

// ---- Placement -------------------------------------------------------------

TEST(DialogPlacement, NotificationFlushWithTheWorkAreaOthersAt100) {
  RECT work{};
  ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
  for (int id :
       {IDD_STATUS_NOTIFICATION, IDD_STATUS_DETAILED, IDD_STATUS_INLINE, IDD_STATUS_INLINE_TALL}) {
    SCOPED_TRACE(id);
    auto settings = settingsFor(id, nullptr);
    Dialog dialog = makeDialog(*settings);
    RECT frame{};
    GetWindowRect(dialog->getWindow(), &frame);
    if (id == IDD_STATUS_NOTIFICATION) {
      EXPECT_EQ(work.right, frame.right);
      EXPECT_EQ(work.bottom, frame.bottom);
    } else {
      EXPECT_EQ(100, frame.left);
      EXPECT_EQ(100, frame.top);
    }
    EXPECT_TRUE(IsWindowVisible(dialog->getWindow()));
    EXPECT_EQ(0, GetWindowLongPtrA(dialog->getWindow(), GWL_EXSTYLE) & WS_EX_TOPMOST);
  }
}

TEST(DialogPlacement, InlinePictureOverThePlaceholder) {
  struct Case {
    int textId;
    const char* prefix;  // text left of the placeholder on its line
    int lineIndex;       // line of the placeholder
  };
  const Case cases[] = {
      {kPlaceholderFirstLine, "Press the", 0},
      {kPlaceholderThirdLine, "Press the", 2},
      {kNoPlaceholder, "", 0},
  };
  for (int templateId : {IDD_STATUS_INLINE, IDD_STATUS_INLINE_TALL}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(templateId) + " text " + std::to_string(c.textId));
      auto settings = settingsFor(templateId, nullptr);
      settings->setInt(L"ids1", c.textId);
      Dialog dialog = makeDialog(*settings);
      HWND window = dialog->getWindow();
      HWND message = GetDlgItem(window, IDC_MESSAGE);
      HWND picture = GetDlgItem(window, IDC_INLINE_PICTURE);

      // Measured here with the font the message control shows.
      HDC dc = GetDC(message);
      HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(message, WM_GETFONT, 0, 0)));
      TEXTMETRICA metrics{};
      GetTextMetricsA(dc, &metrics);
      SIZE prefix{};
      GetTextExtentPoint32A(dc, c.prefix, lstrlenA(c.prefix), &prefix);
      SIZE spaces{};
      GetTextExtentPoint32A(dc, "           ", 11, &spaces);
      SelectObject(dc, old);
      ReleaseDC(message, dc);

      RECT pictureClient{};
      GetClientRect(picture, &pictureClient);
      EXPECT_EQ(20, pictureClient.right);  // the bitmap's own size
      EXPECT_EQ(20, pictureClient.bottom);
      const RECT messageRect = controlRect(window, IDC_MESSAGE);
      const RECT pictureRect = controlRect(window, IDC_INLINE_PICTURE);
      EXPECT_EQ(messageRect.left + prefix.cx + (spaces.cx - 20) / 2, pictureRect.left);
      EXPECT_EQ(messageRect.top + metrics.tmHeight * c.lineIndex + (spaces.cy - 20) / 2,
                pictureRect.top);
      // Without a placeholder the picture would cover the text: it is hidden.
      EXPECT_EQ(c.textId != kNoPlaceholder, IsWindowVisible(picture) != FALSE);
    }
  }
}

// ---- Pictures --------------------------------------------------------------

TEST(DialogPictures, IconAndPrinterPictureDrawnAtTheirOwnSize) {
  Harness harness;
  auto settings = settingsFor(IDD_STATUS_INLINE, harness.broker());
  settings->setInt(L"idbPrinter", IDB_LOAD_MEDIA);
  settings->setInt(L"idbStatusImage", IDB_ERROR);
  Dialog dialog = makeDialog(*settings);
  HWND window = dialog->getWindow();
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  flush(harness.manager());

  for (const auto& [control, id] :
       {std::pair<int, int>{IDC_PRINTER_PICTURE, IDB_LOAD_MEDIA}, {IDC_STATUS_ICON, IDB_ERROR}}) {
    SCOPED_TRACE(id);
    // The test's own copy of the bitmap.
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageA(testModule(), MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, 0));
    BITMAP size{};
    ASSERT_NE(0, GetObjectA(bitmap, sizeof size, &size));
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(memory, bitmap);
    HWND item = GetDlgItem(window, control);
    RECT client{};
    GetClientRect(item, &client);
    ASSERT_GT(client.right, size.bmWidth);  // room to see a stretched picture
    HDC dc = GetDC(item);
    for (int y = 0; y < size.bmHeight; y += 7) {
      for (int x = 0; x < size.bmWidth; x += 11) {
        ASSERT_EQ(GetPixel(memory, x, y), GetPixel(dc, x, y)) << x << "," << y;
      }
    }
    // Not stretched to the control: right of the picture is the white background.
    EXPECT_EQ(RGB(255, 255, 255), GetPixel(dc, size.bmWidth + 1, 5));
    ReleaseDC(item, dc);
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(bitmap);
  }
}

// ---- Lifetime --------------------------------------------------------------

TEST(DialogLifetime, CloseHidesAndDeleteDestroysTheWindow) {
  Harness harness;
  auto settings = settingsFor(IDD_STATUS_DETAILED, harness.broker());
  const std::size_t windowsBefore = processWindows().size();
  Dialog dialog = makeDialog(*settings);
  HWND window = dialog->getWindow();
  // (The system may add windows of its own while the thread has windows.)
  const std::vector<HWND> shown = processWindows();
  EXPECT_NE(shown.end(), std::find(shown.begin(), shown.end(), window));
  dialog->close(1);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(0, GetWindowLongPtrA(window, GWLP_USERDATA));
  SendMessageA(window, WM_CLOSE, 0, 0);  // detached: nothing posted
  dialog.reset();
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(windowsBefore, processWindows().size());
  EXPECT_TRUE(harness.results().empty());
}

TEST(DialogLifetime, WindowDestroyedByOthersIsForgotten) {
  Harness harness;
  auto settings = settingsFor(IDD_STATUS_DETAILED, harness.broker());
  Dialog dialog = makeDialog(*settings);
  DestroyWindow(dialog->getWindow());
  EXPECT_EQ(nullptr, dialog->getWindow());
  EXPECT_TRUE(static_cast<quor::InstanceManager*>(harness.manager())->dialogHandles().empty());
  dialog->close(1);  // nothing left to close
}

TEST(DialogLifetime, TwoHundredDialogsLeaveNoWindowAndNoGdiObject) {
  Harness harness;
  const int templates[] = {IDD_STATUS_DETAILED, IDD_STATUS_NOTIFICATION, IDD_STATUS_INLINE,
                           IDD_STATUS_INLINE_TALL};
  const auto showAndClose = [&](int index) {
    auto settings = settingsFor(templates[index % 4], harness.broker());
    settings->setInt(L"idbPrinter", IDB_LOAD_MEDIA);
    settings->setInt(L"idbStatusImage", index % 2 ? IDB_WARNING : IDB_ERROR);
    Dialog dialog = makeDialog(*settings);
    RedrawWindow(dialog->getWindow(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    SendMessageA(dialog->getWindow(), WM_CLOSE, 0, 0);
    dialog->close(1);
  };
  // The first dialogs fill the system's caches (fonts, DCs, classes).
  for (int i = 0; i < 8; ++i) showAndClose(i);
  flush(harness.manager(), 500);
  const unsigned gdiBefore = gdiObjectCount();
  const std::size_t windowsBefore = processWindows().size();
  const bool gdiCounted = gdiBefore > 0 || testsupport::onWine();
  if (gdiCounted) {
    ASSERT_GT(gdiBefore, 0u);
  }

  for (int i = 0; i < 200; ++i) {
    showAndClose(i);
    if (i % 20 == 0) flush(harness.manager(), 200);
  }
  flush(harness.manager(), 500);
  if (gdiCounted) {
    EXPECT_EQ(gdiBefore, gdiObjectCount());
  }
  EXPECT_EQ(windowsBefore, processWindows().size());
  EXPECT_TRUE(static_cast<quor::InstanceManager*>(harness.manager())->dialogHandles().empty());
  EXPECT_EQ(208u, harness.results().size());
  if (!gdiCounted) GTEST_SKIP() << "this system counts no GDI objects: only windows were checked";
}

}  // namespace
