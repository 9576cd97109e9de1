// The native build's "ANSI" code page is UTF-8.
#include "platform/text.h"

namespace platform {

std::string wideToAnsi(std::wstring_view wide) {
  return wideToUtf8(wide);
}

std::wstring ansiToWide(std::string_view ansi) {
  return utf8ToWide(ansi);
}

}  // namespace platform
