// Deadlines for tests that wait on a thread, a pipe or a message loop: a test
// that would hang fails instead.
#ifndef PLATFORM_TEST_SUPPORT_DEADLINE_H_
#define PLATFORM_TEST_SUPPORT_DEADLINE_H_

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace testsupport {

// Runs `onExpiry` on a thread of its own when it has not been disarmed within
// the deadline: the action that ends what the test is stuck in (stopping a
// broker's loop, closing a pipe). Disarmed by disarm() or the destructor,
// which wait for the action when it is running.
class Watchdog {
 public:
  Watchdog(std::chrono::milliseconds deadline, std::function<void()> onExpiry);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // Stops the watch; answers whether the deadline had passed (the action ran).
  bool disarm();
  // The deadline passed and the action ran.
  bool fired() const;

 private:
  mutable std::mutex lock_;
  std::condition_variable disarmed_;
  bool stopped_ = false;
  bool fired_ = false;
  std::thread thread_;
};

// Polls `condition` every millisecond until it holds (true) or the deadline
// passes (false).
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds deadline = std::chrono::seconds(20));

}  // namespace testsupport

#endif  // PLATFORM_TEST_SUPPORT_DEADLINE_H_
