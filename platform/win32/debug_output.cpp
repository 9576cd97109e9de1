#include <windows.h>

namespace platform::detail {

void writeDebuggerText(const char* text) {
  OutputDebugStringA(text);
}

}  // namespace platform::detail
