#include "i18n/ui_language.h"

#include <windows.h>

namespace {

// Asks for language ids rather than names.
constexpr DWORD kMuiLanguageId = 0x4;
constexpr ULONG kPreferredBufferChars = 2048;

using GetUserPreferredUILanguagesFn = BOOL(WINAPI*)(DWORD, PULONG, PWSTR, PULONG);

class SystemUiLanguageSource final : public UiLanguageSource {
 public:
  uint16_t userDefaultUiLanguage() const override { return GetUserDefaultUILanguage(); }
  uint16_t systemDefaultUiLanguage() const override { return GetSystemDefaultUILanguage(); }
  uint16_t userDefaultLangId() const override { return GetUserDefaultLangID(); }
  uint16_t systemDefaultLangId() const override { return GetSystemDefaultLangID(); }

  // The service is missing from older systems, so it is looked up at run time.
  bool preferredUiLanguages(std::wstring* list) const override {
    HMODULE kernel = LoadLibraryA("KERNEL32.DLL");
    if (!kernel) return false;
    auto query = reinterpret_cast<GetUserPreferredUILanguagesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "GetUserPreferredUILanguages")));
    bool answered = false;
    if (query) {
      std::wstring buffer(kPreferredBufferChars, L'\0');
      ULONG count = 0;
      ULONG size = kPreferredBufferChars;
      if (query(kMuiLanguageId, &count, buffer.data(), &size) && size != 0) {
        buffer.resize(size < kPreferredBufferChars ? size : kPreferredBufferChars);
        *list = std::move(buffer);
        answered = true;
      }
    }
    FreeLibrary(kernel);
    return answered;
  }

  std::string programPath() const override {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string();
    return std::string(path, length);
  }
};

}  // namespace

const UiLanguageSource& UiLanguageSource::system() {
  static const SystemUiLanguageSource source;
  return source;
}
