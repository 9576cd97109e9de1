// Helpers shared by the property tests.
#ifndef FRAMEWORK_PROPERTIES_TESTS_TEST_SUPPORT_H_
#define FRAMEWORK_PROPERTIES_TESTS_TEST_SUPPORT_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/properties/property.h"

namespace vela_test {

// An integer property that counts its destructions, to check who deletes
// what and how often.
class CountingProperty : public vela::Property {
 public:
  CountingProperty(std::int32_t value, std::atomic<int>* deletions)
      : vela::Property(vela::Int, makeValue(value)), deletions_(deletions) {}
  ~CountingProperty() override { deletions_->fetch_add(1); }

 private:
  static Value makeValue(std::int32_t number) {
    Value value;
    value.u64 = 0;
    value.i = number;
    return value;
  }
  std::atomic<int>* deletions_;
};

// Runs each task on its own thread and joins them all. A task that has not
// finished within the deadline ends the test run with a message instead of
// letting it hang.
inline void runConcurrently(const std::vector<std::function<void()>>& tasks,
                            std::chrono::seconds deadline = std::chrono::seconds(60)) {
  std::mutex lock;
  std::condition_variable finished;
  std::size_t done = 0;
  std::vector<std::thread> threads;
  for (const auto& task : tasks) {
    threads.emplace_back([&, task] {
      task();
      std::lock_guard<std::mutex> guard(lock);
      ++done;
      finished.notify_all();
    });
  }
  {
    std::unique_lock<std::mutex> guard(lock);
    if (!finished.wait_for(guard, deadline, [&] { return done == tasks.size(); })) {
      std::fprintf(stderr, "concurrent tasks missed their deadline\n");
      std::fflush(stderr);
      std::abort();
    }
  }
  for (auto& thread : threads) thread.join();
}

}  // namespace vela_test

#endif  // FRAMEWORK_PROPERTIES_TESTS_TEST_SUPPORT_H_
