#include "platform/test_support/wine.h"

#include <windows.h>

namespace testsupport {

bool onWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace testsupport
