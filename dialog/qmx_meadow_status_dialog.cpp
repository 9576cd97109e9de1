#include "dialog/qmx_meadow_status_dialog.h"

#include <cstdlib>
#include <string_view>
#include <utility>

#include "app/resources/resource_ids.h"
#include "dialog/link_control.h"
#include "platform/debug_output.h"

namespace {

// Where the inline picture goes: a run of exactly this many spaces.
constexpr std::string_view kPicturePlaceholder = "           ";
static_assert(kPicturePlaceholder.size() == 11, "the placeholder is 11 spaces");

bool escapeKeyDown() {
  // The pump's dialog handling turns Esc (and Ctrl+Break) into command 2
  // while the key message it took from the queue is the current input: the
  // thread's key state then shows the key down. A command 2 sent or posted
  // by anything else finds it up.
  return GetKeyState(VK_ESCAPE) < 0 || GetKeyState(VK_CANCEL) < 0;
}

const vela::IPropertyHolder& settingsOrNone(const vela::IPropertyHolder* settings) {
  static const vela::PropertyHolder none;
  return settings != nullptr ? *settings : none;
}

DialogTextLookup textLookupFrom(const vela::IPropertyHolder& p) {
  return DialogTextLookup(
      static_cast<HINSTANCE>(p.getPointer(L"hinstance", nullptr)),
      static_cast<const StringMapper*>(p.getPointer(L"dialogStringMapper", nullptr)),
      static_cast<const StringMapper*>(p.getPointer(L"errorStringMapper", nullptr)));
}

// "printerName", or the text of "idsPrinter" when that is empty.
std::string printerLabelFrom(const vela::IPropertyHolder& p, const DialogTextLookup& texts) {
  std::string label = p.getString(L"printerName", "");
  if (label.empty()) label = texts(p.getInt(L"idsPrinter", 0));
  return label;
}

}  // namespace

std::string DialogTextLookup::operator()(std::int32_t id) const {
  std::string text;
  if (dialogMapper_ != nullptr) text = dialogMapper_->getText(id);
  if (text.empty() && errorMapper_ != nullptr) text = errorMapper_->getText(id);
  if (text.empty()) text = StatusDialog::loadResourceText(module_, id);
  return text;
}

qmxMeadowStatusDialog::qmxMeadowStatusDialog(vela::IPropertyHolder* settings,
                                             unsigned char createNow)
    : qmxMeadowStatusDialog(
          settings, createNow, textLookupFrom(settingsOrNone(settings)),
          printerLabelFrom(settingsOrNone(settings), textLookupFrom(settingsOrNone(settings)))) {}

qmxMeadowStatusDialog::qmxMeadowStatusDialog(vela::IPropertyHolder* settings,
                                             unsigned char createNow, const DialogTextLookup& texts,
                                             std::string printerLabel)
    : StatusDialog(settings, createNow, TextSource{texts, printerLabel, true}),
      texts_(texts),
      printerLabel_(std::move(printerLabel)) {
  const vela::IPropertyHolder& p = settingsOrNone(settings);
  statusImageId_ = p.getInt(L"idbStatusImage", 0);
  printerPictureId_ = p.getInt(L"idbPrinter", 0);
  closeAtEndOfJob_ = p.getInt(L"closeAtEndOfJob", 0);
  messageId_ = p.getInt(L"messageID", 0);
  if (const std::int32_t id = p.getInt(L"idsDialogCaption", 0)) dialogCaption_ = texts_(id);
}

qmxMeadowStatusDialog::~qmxMeadowStatusDialog() {
  // The controls draw with the link fonts and the brushes until the window
  // is gone; those members are destroyed after this body.
  destroyWindow();
}

std::string qmxMeadowStatusDialog::lookupText(std::int32_t id) const {
  return texts_(id);
}

std::int32_t qmxMeadowStatusDialog::colorKeyOf(HWND control) const {
  if (window_ == nullptr || control == nullptr) return 0;
  for (HWND owner : {window_, GetParent(window_)}) {
    if (owner == nullptr) continue;
    if (control == GetDlgItem(owner, IDC_BANNER)) return IDC_BANNER;
    if (control == GetDlgItem(owner, IDC_PRINTER_LABEL)) return IDC_PRINTER_LABEL;
  }
  return 0;
}

COLORREF qmxMeadowStatusDialog::textColorFor(std::int32_t id) {
  return id == IDC_PRINTER_LABEL || id == IDC_BANNER ? kWhite : kBlack;
}

COLORREF qmxMeadowStatusDialog::backColorFor(std::int32_t id) {
  return id == IDC_PRINTER_LABEL || id == IDC_BANNER ? kBlue : kWhite;
}

HBRUSH qmxMeadowStatusDialog::brushFor(std::int32_t id) const {
  return backColorFor(id) == kBlue ? blueBrush_.get() : whiteBrush_.get();
}

INT_PTR qmxMeadowStatusDialog::dialogProc(HWND window, UINT message, WPARAM wParam,
                                          LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      if (StatusDialog::dialogProc(window, message, wParam, lParam) == 0) return 0;
      initialize(window);
      return 1;
    case WM_COMMAND:
      return handleCommand(window, wParam, lParam);
    case WM_CLOSE:
      postResult(kResultDismissed);
      return 1;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (wParam == IDC_STATUS_ICON) drawBitmap(item, statusImageId_);
      if (wParam == IDC_PRINTER_PICTURE) drawBitmap(item, printerPictureId_);
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      EndPaint(window, &paint);
      return 1;
    }
    case WM_NOTIFY:
      return 1;
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
      const std::int32_t key = colorKeyOf(reinterpret_cast<HWND>(lParam));
      if (HDC dc = reinterpret_cast<HDC>(wParam)) {
        SetBkColor(dc, backColorFor(key));
        SetTextColor(dc, textColorFor(key));
      }
      return reinterpret_cast<INT_PTR>(brushFor(key));
    }
    default:
      return StatusDialog::dialogProc(window, message, wParam, lParam);
  }
}

INT_PTR qmxMeadowStatusDialog::handleCommand(HWND window, WPARAM wParam, LPARAM lParam) {
  switch (LOWORD(wParam)) {
    case IDCANCEL:
      if (escapeKeyDown()) {
        postResult(kResultDismissed);
        return 1;
      }
      platform::debugOutput("[qmxMeadowStatusDialog] command 2: the program ends\n");
      EndDialog(window, 1);
      std::exit(0);
    case IDC_MORE_LINK:
      postResult(kResultMore);
      return 1;
    case IDC_HELP_LINK:
      MessageBoxA(nullptr, "This will link to help...", "IDC_HELP_STATIC", MB_OK);
      return 1;
    case IDC_TOOLBOX_LINK:
      MessageBoxA(nullptr, "This will link to Toolbox...", "IDC_TOOLBOX_STATIC", MB_OK);
      return 1;
    case IDC_MANUAL_LINK:
      MessageBoxA(nullptr, "This will link to the User Manual...", "IDC_USERMANUAL_STATIC", MB_OK);
      return 1;
    default:
      return StatusDialog::dialogProc(window, WM_COMMAND, wParam, lParam);
  }
}

void qmxMeadowStatusDialog::initialize(HWND window) {
  whiteBrush_.reset(CreateSolidBrush(kWhite));
  blackBrush_.reset(CreateSolidBrush(kBlack));
  blueBrush_.reset(CreateSolidBrush(kBlue));
  if (!dialogCaption_.empty()) SetWindowTextA(window, dialogCaption_.c_str());
  // Set even when empty: the template's own text of the control is a
  // placeholder no user should read.
  if (HWND control = GetDlgItem(window, IDC_MESSAGE)) SetWindowTextA(control, message_.c_str());
  if (HWND control = GetDlgItem(window, IDC_PRINTER_LABEL)) {
    SetWindowTextA(control, printerLabel_.c_str());
  }
  adoptInlinePicture(window);
  switch (dialogId_) {
    case IDD_STATUS_DETAILED:
      makeStandardLinks(window);
      break;
    case IDD_STATUS_NOTIFICATION:
      placeInLowerRightCorner(window);
      makeLink(window, IDC_MORE_LINK, lookupText(IDS_MORE), true);
      makeStandardLinks(window);
      break;
    case IDD_STATUS_INLINE:
    case IDD_STATUS_INLINE_TALL:
      placeInlinePicture(window);
      break;
    default:
      break;
  }
}

void qmxMeadowStatusDialog::makeLink(HWND window, int controlId, const std::string& text,
                                     bool semiBold) {
  HWND control = GetDlgItem(window, controlId);
  if (control == nullptr) return;
  SetWindowTextA(control, text.c_str());
  if (ScopedFont font = setLinkFont(control, semiBold, true)) linkFonts_.push_back(std::move(font));
  subclassLink(control);
}

void qmxMeadowStatusDialog::makeStandardLinks(HWND window) {
  makeLink(window, IDC_HELP_LINK, lookupText(IDS_HELP), false);
  makeLink(window, IDC_TOOLBOX_LINK, lookupText(IDS_TOOLBOX), false);
  makeLink(window, IDC_MANUAL_LINK, lookupText(IDS_MANUAL), false);
}

void qmxMeadowStatusDialog::placeInLowerRightCorner(HWND window) {
  RECT work{};
  RECT frame{};
  if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0) || !GetWindowRect(window, &frame)) {
    platform::debugOutput("[qmxMeadowStatusDialog] no work area: the notification stays put\n");
    return;
  }
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  SetWindowPos(window, nullptr, work.right - width, work.bottom - height, 0, 0, SWP_NOSIZE);
}

void qmxMeadowStatusDialog::adoptInlinePicture(HWND window) {
  // The static control loaded the bitmap named in the template itself.
  // Windows deletes such a bitmap with the control; Wine 8 never does, so
  // there every dialog would leave one behind. Either way one bitmap per
  // dialog would be at the mercy of the platform.
  // The control gets a copy the dialog owns instead, and the bitmap it loaded,
  // which STM_SETIMAGE hands back, is deleted here.
  HWND picture = GetDlgItem(window, IDC_INLINE_PICTURE);
  if (picture == nullptr) return;
  HANDLE loaded = reinterpret_cast<HANDLE>(SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
  if (loaded == nullptr) return;
  ScopedBitmap copy(static_cast<HBITMAP>(CopyImage(loaded, IMAGE_BITMAP, 0, 0, 0)));
  if (!copy) {
    platform::debugOutput("[qmxMeadowStatusDialog] the inline picture could not be copied\n");
    return;
  }
  const LRESULT old = SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP,
                                   reinterpret_cast<LPARAM>(copy.get()));
  if (old != 0) DeleteObject(reinterpret_cast<HGDIOBJ>(old));
  inlinePicture_ = std::move(copy);
}

void qmxMeadowStatusDialog::placeInlinePicture(HWND window) {
  HWND picture = GetDlgItem(window, IDC_INLINE_PICTURE);
  // The templates have no control 1046; the message control, which shows the
  // measured text, is the reference instead.
  HWND reference = GetDlgItem(window, IDC_INLINE_PICTURE_REFERENCE);
  if (reference == nullptr) reference = GetDlgItem(window, IDC_MESSAGE);
  HWND messageControl = GetDlgItem(window, IDC_MESSAGE);
  if (picture == nullptr || reference == nullptr) return;

  const std::string_view text = message_;
  const std::size_t placeholder = text.find(kPicturePlaceholder);
  std::size_t lineStart = 0;
  int lines = 0;
  if (placeholder != std::string_view::npos) {
    for (std::size_t i = 0; i < placeholder; ++i) {
      if (text[i] == '\n') {
        ++lines;
        lineStart = i + 1;
      }
    }
  }
  const std::string_view prefix = placeholder == std::string_view::npos
                                      ? std::string_view()
                                      : text.substr(lineStart, placeholder - lineStart);

  ScopedWindowDc dc(window);
  HGDIOBJ font = messageControl != nullptr
                     ? reinterpret_cast<HGDIOBJ>(SendMessageA(messageControl, WM_GETFONT, 0, 0))
                     : nullptr;
  ScopedSelectObject selected(dc.get(), font);
  SIZE prefixSize{};
  SIZE spaces{};
  GetTextExtentPoint32A(dc.get(), prefix.data(), static_cast<int>(prefix.size()), &prefixSize);
  GetTextExtentPoint32A(dc.get(), kPicturePlaceholder.data(),
                        static_cast<int>(kPicturePlaceholder.size()), &spaces);
  // Every line of the control is as tall as the line of the placeholder.
  const int lineHeight = prefix.empty() ? spaces.cy : prefixSize.cy;

  RECT referenceFrame{};
  GetWindowRect(reference, &referenceFrame);
  POINT origin{referenceFrame.left, referenceFrame.top};
  ScreenToClient(window, &origin);
  RECT pictureSize{};
  GetClientRect(picture, &pictureSize);

  const int x = origin.x + prefixSize.cx + (spaces.cx - pictureSize.right) / 2;
  const int y = origin.y + lineHeight * lines + (spaces.cy - pictureSize.bottom) / 2;
  SetWindowPos(picture, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  // A message without the placeholder has no room for the picture: where it
  // would go, it would cover the first letters of the text.
  if (placeholder == std::string_view::npos) ShowWindow(picture, SW_HIDE);
}

void qmxMeadowStatusDialog::drawBitmap(const DRAWITEMSTRUCT* item, std::int32_t bitmapId) const {
  if (module_ == nullptr || item == nullptr || item->hDC == nullptr) return;
  if (bitmapId <= 0 || bitmapId > 0xFFFF) return;
  ScopedBitmap bitmap(static_cast<HBITMAP>(LoadImageA(module_, MAKEINTRESOURCEA(bitmapId),
                                                      IMAGE_BITMAP, 0, 0, LR_LOADTRANSPARENT)));
  if (!bitmap) return;
  BITMAP size{};
  if (GetObjectA(bitmap.get(), sizeof size, &size) == 0) return;
  ScopedMemoryDc memory(item->hDC);
  if (memory.get() == nullptr) return;
  ScopedSelectObject selected(memory.get(), bitmap.get());
  SetBkMode(memory.get(), TRANSPARENT);
  StretchBlt(item->hDC, item->rcItem.left, item->rcItem.top, size.bmWidth, size.bmHeight,
             memory.get(), 0, 0, size.bmWidth, size.bmHeight, SRCCOPY);
}
