// Natively the debugger output is standard error.
#include <cstdio>

namespace platform::detail {

void writeDebuggerText(const char* text) {
  std::fputs(text, stderr);
  std::fflush(stderr);
}

}  // namespace platform::detail
