// Shared helpers of the framework tests: a watchdog that ends a loop that
// would otherwise hang, a manager whose idle pump step is short, recording
// listeners and small generators.
#ifndef FRAMEWORK_TESTS_TEST_SUPPORT_H_
#define FRAMEWORK_TESTS_TEST_SUPPORT_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "framework/event_broker.h"
#include "framework/instance_manager.h"
#include "platform/test_support/deadline.h"
#include "platform/thread.h"

namespace fwtest {

// Runs `body` (which blocks in a loop) and stops the broker if it has not
// returned within the deadline. Answers true when the body ended on its own.
inline bool runWithDeadline(quor::EventBroker& broker, std::chrono::milliseconds deadline,
                            const std::function<void()>& body) {
  testsupport::Watchdog watchdog(deadline, [&broker] { broker.stop(nullptr, false); });
  body();
  return !watchdog.disarm();
}

using testsupport::waitUntil;

// An instance manager whose idle pump step is a hook (by default a 1 ms
// sleep) instead of the 100 ms wait for window messages.
class FastManager : public quor::InstanceManager {
 public:
  void pumpMessage() override {
    ++pumps;
    if (onPump) {
      onPump();
    } else {
      platform::sleepMilliseconds(1);
    }
  }
  std::function<void()> onPump;
  std::atomic<int> pumps{0};
};

// What a listener saw of one message.
struct Seen {
  std::string listener;
  const vela::Guid* source;
  std::int32_t code;
  std::int32_t subcode;
  std::int32_t status;
};

// A listener component that records every message and answers as told; an
// optional action runs inside receive.
class RecordingListener : public quor::AbstractListener {
 public:
  RecordingListener(std::string name, std::vector<Seen>* log, bool consume = false)
      : name_(std::move(name)), log_(log), consume_(consume) {
    setPointer(L"listener", static_cast<void*>(static_cast<vela::IListener*>(this)));
  }
  ~RecordingListener() override {
    if (onDestroy) onDestroy();
  }
  bool receive(vela::IMessage* message) override {
    const vela::IMessage& m = *message;
    if (log_ != nullptr)
      log_->push_back({name_, m.getSource(), m.getCode(), m.getProperties()->getInt(L"subcode", -1),
                       m.getProperties()->getInt(L"status", -1)});
    if (onReceive) onReceive(message);
    return consume_;
  }
  const vela::Guid* getClassId() const override { return &quor::kDebugListenerClassId; }

  std::function<void(vela::IMessage*)> onReceive;
  std::function<void()> onDestroy;

 private:
  std::string name_;
  std::vector<Seen>* log_;
  bool consume_;
};

// A generator whose run is a function of the test.
class FunctionGenerator : public quor::AbstractEventGenerator {
 public:
  FunctionGenerator(vela::IPropertyHolder* parameters, quor::IInstanceManager* manager,
                    std::function<std::uint32_t(FunctionGenerator&)> body)
      : AbstractEventGenerator(parameters, manager), body_(std::move(body)) {}
  ~FunctionGenerator() override { stopAndJoin(); }
  std::uint32_t run() override { return body_(*this); }
  const vela::Guid* getClassId() const override { return &quor::kTimerEventGeneratorClassId; }
  quor::IInstanceManager* manager() { return manager_; }

 private:
  std::function<std::uint32_t(FunctionGenerator&)> body_;
};

// The parameters the instance manager gives a component: "threadControl" is
// the broker.
inline void setThreadControl(vela::PropertyHolder& parameters, quor::EventBroker* broker) {
  parameters.setPointer(L"threadControl",
                        static_cast<void*>(static_cast<vela::IListener*>(broker)));
}

}  // namespace fwtest

#endif  // FRAMEWORK_TESTS_TEST_SUPPORT_H_
