#include "platform/debug_output.h"

#include <mutex>

namespace platform {
namespace detail {
// Writes to the system's debugger output (win32/ and posix/ define it).
void writeDebuggerText(const char* text);
}  // namespace detail

namespace {

std::mutex& captureLock() {
  static std::mutex lock;
  return lock;
}

std::function<void(const std::string&)>& captureSink() {
  static std::function<void(const std::string&)> sink;
  return sink;
}

}  // namespace

void debugOutput(const char* text) {
  if (text == nullptr) return;
  {
    std::lock_guard<std::mutex> guard(captureLock());
    if (captureSink()) {
      captureSink()(text);
      return;
    }
  }
  detail::writeDebuggerText(text);
}

ScopedDebugOutputCapture::ScopedDebugOutputCapture(std::function<void(const std::string&)> sink) {
  std::lock_guard<std::mutex> guard(captureLock());
  captureSink() = std::move(sink);
}

ScopedDebugOutputCapture::~ScopedDebugOutputCapture() {
  std::lock_guard<std::mutex> guard(captureLock());
  captureSink() = nullptr;
}

}  // namespace platform
