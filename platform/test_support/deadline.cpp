#include "platform/test_support/deadline.h"

#include <utility>

#include "platform/thread.h"

namespace testsupport {

Watchdog::Watchdog(std::chrono::milliseconds deadline, std::function<void()> onExpiry) {
  thread_ = std::thread([this, deadline, action = std::move(onExpiry)] {
    std::unique_lock<std::mutex> guard(lock_);
    if (disarmed_.wait_for(guard, deadline, [this] { return stopped_; })) return;
    fired_ = true;
    guard.unlock();
    if (action) action();
  });
}

Watchdog::~Watchdog() {
  disarm();
}

bool Watchdog::disarm() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopped_ = true;
  }
  disarmed_.notify_all();
  if (thread_.joinable()) thread_.join();
  return fired();
}

bool Watchdog::fired() const {
  std::lock_guard<std::mutex> guard(lock_);
  return fired_;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    platform::sleepMilliseconds(1);
  }
  return true;
}

}  // namespace testsupport
