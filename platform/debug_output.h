// Debugger output: the trace channel of the monitor.
//
// On Windows the text goes to OutputDebugStringA; natively to standard error.
// Nothing else is ever written there, so a failure that ends something
// silently can still be traced.
#ifndef PLATFORM_DEBUG_OUTPUT_H_
#define PLATFORM_DEBUG_OUTPUT_H_

#include <functional>
#include <string>

namespace platform {

// Writes the text as it is (callers end their lines with a line feed).
// Safe from any thread.
void debugOutput(const char* text);

// Routes debugOutput into a function for as long as the object lives, instead
// of the debugger (for tests that read the trace). Not nestable; install it
// while no other thread writes traces you do not want to see.
class ScopedDebugOutputCapture {
 public:
  explicit ScopedDebugOutputCapture(std::function<void(const std::string&)> sink);
  ~ScopedDebugOutputCapture();
  ScopedDebugOutputCapture(const ScopedDebugOutputCapture&) = delete;
  ScopedDebugOutputCapture& operator=(const ScopedDebugOutputCapture&) = delete;
};

}  // namespace platform

#endif  // PLATFORM_DEBUG_OUTPUT_H_
