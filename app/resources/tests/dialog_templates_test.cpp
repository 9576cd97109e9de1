// The status dialog templates: decoded field by field from the stored
// resource, then created as real (hidden) dialogs to see what the platform
// makes of them.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/resources/tests/resource_reader.h"

namespace {

using resources_test::DialogItem;
using resources_test::DialogTemplate;

constexpr LANGID kEnglishUs = 0x0409;
constexpr DWORD kDialogStyle = 0x80C802C8;
constexpr WORD kButton = 0x0080;
constexpr WORD kStatic = 0x0082;

HMODULE self() {
  return GetModuleHandleW(nullptr);
}

struct ExpectedItem {
  DWORD id;
  WORD windowClass;
  const wchar_t* text;  // null: the ordinal in textOrdinal
  WORD textOrdinal;
  short x, y, cx, cy;
  DWORD style;
};

struct ExpectedTemplate {
  WORD id;
  short cx, cy;
  const wchar_t* caption;
  WORD weight;
  std::vector<ExpectedItem> items;
};

std::vector<ExpectedItem> inlineItems(short messageHeight, short pictureY, short inlineY) {
  return {
      {2035, kStatic, L"", 0, 15, 15, 40, 36, 0x5000000D},
      {1039, kButton, L"", 0, 7, 0, 356, 217, 0x50000007},
      {2037, kStatic, L"Static", 0, 57, 19, 299, messageHeight, 0x50020000},
      {1045, kStatic, L"", 0, 13, pictureY, 350, 100, 0x5000000D},
      {2148, kStatic, nullptr, 116, 100, inlineY, 27, 22, 0x5000000E},
  };
}

const std::vector<ExpectedTemplate>& expectedTemplates() {
  static const std::vector<ExpectedTemplate> templates = {
      {115,
       370,
       230,
       L"Alert",
       0,
       {
           {2035, kStatic, L"", 0, 15, 15, 40, 37, 0x5000000D},
           {1039, kButton, L"Status", 0, 8, 4, 352, 157, 0x50000007},
           {1040, kButton, L"Action", 0, 8, 164, 352, 59, 0x50000007},
           {2037, kStatic, L"Static", 0, 59, 18, 292, 34, 0x50020000},
           {1045, kStatic, L"", 0, 11, 58, 348, 100, 0x5000000D},
           {1041, kStatic, L"Help", 0, 24, 180, 296, 8, 0x50020000},
           {1042, kStatic, L"Settings and Details Status (Toolbox Utility)", 0, 24, 192, 296, 8,
            0x50020000},
           {1043, kStatic, L"User Manual", 0, 24, 204, 296, 8, 0x50020000},
       }},
      {501,
       196,
       47,
       L"<printername>",
       0,
       {
           {2035, kStatic, L"", 0, 10, 10, 30, 28, 0x5000000D},
           {2037, kStatic, L"", 0, 56, 13, 131, 25, 0x50020000},
       }},
      {504, 370, 225, L"Alert", 400, inlineItems(91, 112, 87)},
      {505, 370, 225, L"Alert", 400, inlineItems(124, 146, 105)},
  };
  return templates;
}

TEST(DialogTemplates, StoredOnceInEnglishUnitedStates) {
  for (const auto& expected : expectedTemplates()) {
    SCOPED_TRACE(expected.id);
    EXPECT_EQ(resources_test::resourceLanguages(self(), RT_DIALOG, expected.id),
              std::vector<LANGID>{kEnglishUs});
  }
}

TEST(DialogTemplates, HeaderFieldsAsListed) {
  for (const auto& expected : expectedTemplates()) {
    SCOPED_TRACE(expected.id);
    const auto raw = resources_test::rawResource(self(), RT_DIALOG, expected.id, kEnglishUs);
    ASSERT_TRUE(raw);
    const auto t = resources_test::decodeDialogTemplate(*raw);
    ASSERT_TRUE(t) << "not an extended template with a font";
    EXPECT_EQ(t->helpId, 0u);
    EXPECT_EQ(t->exStyle, 0u);
    EXPECT_EQ(t->style, kDialogStyle);
    EXPECT_EQ(t->x, 0);
    EXPECT_EQ(t->y, 0);
    EXPECT_EQ(t->cx, expected.cx);
    EXPECT_EQ(t->cy, expected.cy);
    EXPECT_TRUE(!t->menu.isOrdinal && t->menu.name.empty()) << "has a menu";
    EXPECT_TRUE(!t->windowClass.isOrdinal && t->windowClass.name.empty()) << "has a class";
    EXPECT_EQ(t->title, expected.caption);
    EXPECT_EQ(t->pointSize, 8);
    EXPECT_EQ(t->weight, expected.weight);
    EXPECT_EQ(t->italic, 0);
    EXPECT_EQ(t->charset, 0);
    EXPECT_EQ(t->typeface, L"MS Shell Dlg");
  }
}

TEST(DialogTemplates, ControlsInOrderWithOrdinalClasses) {
  for (const auto& expected : expectedTemplates()) {
    SCOPED_TRACE(expected.id);
    const auto raw = resources_test::rawResource(self(), RT_DIALOG, expected.id, kEnglishUs);
    ASSERT_TRUE(raw);
    const auto t = resources_test::decodeDialogTemplate(*raw);
    ASSERT_TRUE(t);
    ASSERT_EQ(t->items.size(), expected.items.size());
    for (size_t i = 0; i < expected.items.size(); ++i) {
      const ExpectedItem& want = expected.items[i];
      const DialogItem& got = t->items[i];
      SCOPED_TRACE(want.id);
      EXPECT_EQ(got.id, want.id);
      EXPECT_EQ(got.helpId, 0u);
      EXPECT_EQ(got.exStyle, 0u);
      EXPECT_EQ(got.style, want.style);
      EXPECT_EQ(got.x, want.x);
      EXPECT_EQ(got.y, want.y);
      EXPECT_EQ(got.cx, want.cx);
      EXPECT_EQ(got.cy, want.cy);
      EXPECT_TRUE(got.windowClass.isOrdinal) << "class stored by name";
      EXPECT_EQ(got.windowClass.ordinal, want.windowClass);
      if (want.text) {
        EXPECT_FALSE(got.text.isOrdinal);
        EXPECT_EQ(got.text.name, want.text);
      } else {
        EXPECT_TRUE(got.text.isOrdinal);
        EXPECT_EQ(got.text.ordinal, want.textOrdinal);
      }
      EXPECT_EQ(got.extraCount, 0);
    }
  }
}

TEST(DialogTemplates, DecoderRejectsTruncatedTemplates) {
  const auto raw = resources_test::rawResource(self(), RT_DIALOG, 115, kEnglishUs);
  ASSERT_TRUE(raw);
  for (size_t cut : {size_t{0}, size_t{3}, size_t{26}, raw->size() / 2, raw->size() - 1}) {
    SCOPED_TRACE(cut);
    EXPECT_FALSE(resources_test::decodeDialogTemplate(
        std::vector<uint8_t>(raw->begin(), raw->begin() + cut)));
  }
}

// A hidden dialog created from a template, destroyed with the test.
class LiveDialog {
 public:
  explicit LiveDialog(WORD id)
      : window_(CreateDialogParamW(self(), MAKEINTRESOURCEW(id), nullptr, &LiveDialog::proc, 0)) {}
  ~LiveDialog() {
    if (window_) DestroyWindow(window_);
  }
  LiveDialog(const LiveDialog&) = delete;
  LiveDialog& operator=(const LiveDialog&) = delete;

  HWND get() const { return window_; }

 private:
  static INT_PTR CALLBACK proc(HWND, UINT message, WPARAM, LPARAM) noexcept {
    return message == WM_INITDIALOG ? TRUE : FALSE;
  }
  HWND window_;
};

std::string windowText(HWND window) {
  char buffer[256] = {};
  GetWindowTextA(window, buffer, sizeof buffer);
  return buffer;
}

TEST(DialogTemplates, CreateHiddenDialogsWithTheirCaptions) {
  const std::pair<WORD, const char*> captions[] = {
      {115, "Alert"}, {501, "<printername>"}, {504, "Alert"}, {505, "Alert"}};
  for (const auto& [id, caption] : captions) {
    SCOPED_TRACE(id);
    LiveDialog dialog(id);
    ASSERT_TRUE(dialog.get()) << "error " << GetLastError();
    EXPECT_FALSE(IsWindowVisible(dialog.get()));
    EXPECT_EQ(windowText(dialog.get()), caption);
  }
}

// Weight 0 and weight 400 both give the face's normal weight.
TEST(DialogTemplates, FontWeightIsNormal) {
  for (WORD id : {115, 501, 504, 505}) {
    SCOPED_TRACE(id);
    LiveDialog dialog(id);
    ASSERT_TRUE(dialog.get());
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(dialog.get(), WM_GETFONT, 0, 0));
    ASSERT_TRUE(font);
    HDC dc = GetDC(dialog.get());
    HGDIOBJ previous = SelectObject(dc, font);
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, previous);
    ReleaseDC(dialog.get(), dc);
    EXPECT_EQ(metrics.tmWeight, FW_NORMAL);
    EXPECT_FALSE(metrics.tmItalic);
  }
}

// The inline picture shows the check mark bitmap at the bitmap's own size,
// not at the control's template size.
TEST(DialogTemplates, InlinePictureTakesTheBitmapSize) {
  for (WORD id : {504, 505}) {
    SCOPED_TRACE(id);
    LiveDialog dialog(id);
    ASSERT_TRUE(dialog.get());
    HWND picture = GetDlgItem(dialog.get(), 2148);
    ASSERT_TRUE(picture);
    EXPECT_TRUE(SendMessageW(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
    RECT r = {};
    GetWindowRect(picture, &r);
    EXPECT_EQ(r.right - r.left, 20);
    EXPECT_EQ(r.bottom - r.top, 20);
  }
}

}  // namespace
