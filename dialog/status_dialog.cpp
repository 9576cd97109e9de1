#include "dialog/status_dialog.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "dialog/text_format.h"
#include "platform/debug_output.h"

namespace {

constexpr wchar_t kDialogHandle[] = L"DialogHandle";

// The control the plain dialog shows its message in; its button is the
// control of kButtonCommand.
constexpr int kMessageControl = 102;

// Where the extended style is in an extended dialog template, and the
// smallest template there is (the fixed header of the plain format).
constexpr std::size_t kExStyleOffset = 8;
constexpr std::size_t kMinimumTemplateSize = 18;

void trace(const char* format, long long a = 0, long long b = 0) {
  char line[256];
  std::snprintf(line, sizeof line, format, a, b);
  platform::debugOutput(line);
}

void setControlText(HWND dialog, int id, const std::string& text) {
  if (HWND control = GetDlgItem(dialog, id)) SetWindowTextA(control, text.c_str());
}

// The last serial number given. 32 bits last a process for two billion
// dialogs; a print job shows a few.
std::atomic<std::int32_t> lastSerial{0};

}  // namespace

StatusDialog::StatusDialog(vela::IPropertyHolder* settings, unsigned char createNow)
    : StatusDialog(settings, createNow, nullptr) {}

StatusDialog::StatusDialog(vela::IPropertyHolder* settings, unsigned char createNow,
                           const TextSource& source)
    : StatusDialog(settings, createNow, &source) {}

StatusDialog::StatusDialog(vela::IPropertyHolder* settings, unsigned char createNow,
                           const TextSource* source)
    : serial_(++lastSerial) {
  const vela::PropertyHolder none;
  const vela::IPropertyHolder& p =
      settings != nullptr ? *settings : static_cast<const vela::IPropertyHolder&>(none);
  broker_ = static_cast<quor::EventBroker*>(p.getPointer(L"eventBroker", nullptr));
  module_ = static_cast<HINSTANCE>(p.getPointer(L"hinstance", nullptr));
  printerBitmapId_ = p.getInt(L"idbPrinter", 0);
  printerText_ = stringTableText(p.getInt(L"idsPrinter", 0));
  const auto formatText = [&](std::int32_t id) {
    return source != nullptr ? source->formatText(id) : stringTableText(id);
  };

  const std::int32_t ids1 = p.getInt(L"ids1", 0);
  if (ids1 != 0) message_ = compose("ids1", formatText(ids1), {printerText_});
  const std::int32_t ids2 = p.getInt(L"ids2", 0);
  if (ids2 != 0 && !(ids1 != 0 && source != nullptr && source->ids1StandsAlone)) {
    const std::int32_t mediaCode = p.getInt(L"mediaCode", -1);
    const std::int32_t trayCode = p.getInt(L"trayCode", -1);
    const std::string media = mediaCode != -1 ? stringTableText(mediaCode) : std::string();
    const std::string tray = trayCode != -1 ? stringTableText(trayCode) : std::string();
    message_ = compose("ids2", stringTableText(ids2), {message_, media, tray});
  }
  if (const std::int32_t idsTitle = p.getInt(L"idsTitle", 0)) {
    caption_ = compose("idsTitle", formatText(idsTitle),
                       {source != nullptr ? source->captionArgument : printerText_});
  }
  if (const std::int32_t button = p.getInt(L"buttonMessage", 0)) {
    buttonText_ = stringTableText(button);
  }
  dialogId_ = p.getInt(L"dialogID", 0);
  if (createNow == 1) create();
}

std::string StatusDialog::stringTableText(std::int32_t id) const {
  return loadResourceText(module_, id);
}

StatusDialog::~StatusDialog() {
  destroyWindow();
}

std::string StatusDialog::compose(const char* what, const std::string& text,
                                  const std::vector<std::string_view>& arguments) {
  bool cut = false;
  std::string result = textformat::format(text, arguments, textformat::ansiCharLength, &cut);
  if (cut) {
    char line[128];
    std::snprintf(line, sizeof line, "[StatusDialog] the %s text was cut to %zu bytes\n", what,
                  result.size());
    platform::debugOutput(line);
  }
  return result;
}

const char* StatusDialog::loadResourceText(HINSTANCE module, std::int32_t id) {
  static char buffers[4][kTextBufferSize];
  static unsigned counter = 0;
  counter = (counter + 1) % 4;
  char* buffer = buffers[counter];
  const int length = LoadStringA(module, static_cast<UINT>(id), buffer, kTextBufferSize);
  if (length <= 0) {
    buffer[0] = '\0';
    return buffer;
  }
  // The conversion to the ANSI code page may stop in the middle of a
  // double-byte character when the text does not fit the buffer.
  const std::size_t size = std::min<std::size_t>(static_cast<std::size_t>(length),
                                                 kTextBufferSize - 1);
  buffer[textformat::wholeCharacterPrefix(std::string_view(buffer, size), size)] = '\0';
  return buffer;
}

bool StatusDialog::create() {
  if (window_ != nullptr) return true;
  if (dialogId_ <= 0 || dialogId_ > 0xFFFF) {
    trace("[StatusDialog::create] %lld is no dialog template id\n", dialogId_);
    return false;
  }
  // Resource type 5 is RT_DIALOG, spelled out for the narrow call.
  HRSRC resource = FindResourceA(module_, MAKEINTRESOURCEA(dialogId_), MAKEINTRESOURCEA(5));
  HGLOBAL loaded = resource != nullptr ? LoadResource(module_, resource) : nullptr;
  const void* stored = loaded != nullptr ? LockResource(loaded) : nullptr;
  const DWORD size = resource != nullptr ? SizeofResource(module_, resource) : 0;
  if (stored == nullptr || size < kMinimumTemplateSize) {
    trace("[StatusDialog::create] no dialog template %lld in the module\n", dialogId_);
    return false;
  }
  // A writable, DWORD-aligned copy, so the layout direction can be set in it;
  // freed when create returns.
  std::vector<DWORD> copy((size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
  auto* bytes = reinterpret_cast<unsigned char*>(copy.data());
  std::memcpy(bytes, stored, size);
  WORD signature = 0;
  std::memcpy(&signature, bytes + 2, sizeof signature);
  if (rightToLeft_ != 0 && signature == 0xFFFF) {
    DWORD exStyle;
    std::memcpy(&exStyle, bytes + kExStyleOffset, sizeof exStyle);
    exStyle |= WS_EX_LAYOUTRTL;
    std::memcpy(bytes + kExStyleOffset, &exStyle, sizeof exStyle);
  }

  HWND window = CreateDialogIndirectParamA(module_, reinterpret_cast<LPCDLGTEMPLATEA>(copy.data()),
                                           nullptr, StatusDialogProc,
                                           reinterpret_cast<LPARAM>(this));
  if (window == nullptr) {
    window_ = nullptr;
    trace("[StatusDialog::create] template %lld: no window (error %lld)\n", dialogId_,
          static_cast<long long>(GetLastError()));
    return false;
  }
  window_ = window;
  registerKeyboardHandling();
  ShowWindow(window, SW_SHOW);
  if (!SetForegroundWindow(window)) {
    // Another process keeps the foreground: raise the window without
    // activating it.
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  }
  return true;
}

void StatusDialog::close(std::int32_t code) {
  if (window_ == nullptr) return;
  SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
  EndDialog(window_, code);
}

void StatusDialog::destroyWindow() {
  unregisterKeyboardHandling();
  HWND window = std::exchange(window_, nullptr);
  if (window == nullptr || !IsWindow(window)) return;
  // Detached first: the window's last messages (WM_DESTROY restores the link
  // procedures) must not reach an object that is being destroyed.
  SetWindowLongPtrA(window, GWLP_USERDATA, 0);
  DestroyWindow(window);
}

void StatusDialog::forgetWindow() {
  unregisterKeyboardHandling();
  window_ = nullptr;
}

void StatusDialog::registerKeyboardHandling() {
  if (broker_ == nullptr || window_ == nullptr || keyboardManager_ != nullptr) return;
  quor::IInstanceManager* manager = broker_->getInstanceManager();
  if (manager == nullptr) return;
  if (manager->addHandle(kDialogHandle, window_) == 0) {
    keyboardManager_ = manager;
  } else {
    platform::debugOutput("[StatusDialog] the manager refused the dialog handle: no dialog keys\n");
  }
}

void StatusDialog::unregisterKeyboardHandling() {
  quor::IInstanceManager* manager = std::exchange(keyboardManager_, nullptr);
  if (manager != nullptr) manager->removeHandle(kDialogHandle, window_);
}

void StatusDialog::postResult(std::int32_t code) {
  if (broker_ == nullptr) {
    trace("[StatusDialog::postResult] no event broker: result %lld dropped\n", code);
    return;
  }
  vela::counted_ptr<vela::IMessage> result(new vela::Message(&kDialogResultClassId, code, 0));
  result->getProperties()->setInt(L"dialogSerial", serial_);
  result->getProperties()->setPointer(L"statusdialog", this);
  broker_->post(std::move(result));
}

StatusDialog* StatusDialog::fromResult(const vela::IMessage* message) {
  if (message == nullptr || message->getSource() == nullptr ||
      *message->getSource() != kDialogResultClassId) {
    return nullptr;
  }
  return static_cast<StatusDialog*>(message->getProperties()->getPointer(L"statusdialog", nullptr));
}

std::int32_t StatusDialog::serialOfResult(const vela::IMessage* message) {
  if (message == nullptr || message->getSource() == nullptr ||
      *message->getSource() != kDialogResultClassId) {
    return 0;
  }
  return message->getProperties()->getInt(L"dialogSerial", 0);
}

INT_PTR StatusDialog::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      RECT frame{};
      GetWindowRect(window, &frame);
      SetWindowPos(window, nullptr, x_, y_, frame.right - frame.left, frame.bottom - frame.top, 0);
      if (!caption_.empty()) SetWindowTextA(window, caption_.c_str());
      if (!message_.empty()) setControlText(window, kMessageControl, message_);
      if (!buttonText_.empty()) setControlText(window, kButtonCommand, buttonText_);
      return 1;
    }
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      postResult(id == IDCANCEL               ? kResultDismissed
                 : id == kButtonCommand       ? kResultButton
                 : id == kSecondButtonCommand ? kResultSecondButton
                                              : id);
      return 1;
    }
    case WM_CLOSE:
      close(kResultDismissed);
      postResult(kResultBaseClosed);
      return 1;
    default:
      return 0;
  }
}

INT_PTR CALLBACK StatusDialogProc(HWND window, UINT message, WPARAM wParam,
                                  LPARAM lParam) noexcept {
  try {
    if (message == WM_INITDIALOG) {
      SetWindowLongPtrA(window, GWLP_USERDATA, lParam);
      if (auto* dialog = reinterpret_cast<StatusDialog*>(lParam)) dialog->window_ = window;
    }
    auto* dialog = reinterpret_cast<StatusDialog*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (dialog == nullptr) return 0;
    const INT_PTR result = dialog->dialogProc(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
      // Destroyed by someone else while bound: the object must not keep the
      // handle of a window that is gone.
      SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      dialog->forgetWindow();
    }
    return result;
  } catch (...) {
    char line[96];
    std::snprintf(line, sizeof line, "[StatusDialogProc] message 0x%04x failed with an exception\n",
                  message);
    platform::debugOutput(line);
    return 0;
  }
}
