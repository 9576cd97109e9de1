// Shared helpers of the channel tests: a manager whose broker counts its
// stops, a listener component that records what it was given, and a loop
// runner with a deadline.
#ifndef CHANNEL_TESTS_CHANNEL_TEST_SUPPORT_H_
#define CHANNEL_TESTS_CHANNEL_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "framework/event_broker.h"
#include "framework/instance_manager.h"
#include "framework/properties/property.h"
#include "framework/properties/property_holder.h"
#include "platform/thread.h"

namespace chantest {

using namespace std::chrono_literals;

// A broker that counts the calls of stop.
class CountingBroker : public quor::EventBroker {
 public:
  using quor::EventBroker::EventBroker;
  bool stop(const vela::Guid* source, bool flag) override {
    stops.fetch_add(1);
    return quor::EventBroker::stop(source, flag);
  }
  std::atomic<int> stops{0};
};

// A manager without database or window pump, whose broker is a
// CountingBroker. Its idle pump step is a short sleep.
class TestManager : public quor::AbstractInstanceManager {
 public:
  TestManager() : broker(this) { broker_ = &broker; }
  ~TestManager() override { broker.stopComponentThreads(); }
  void pumpMessage() override { platform::sleepMilliseconds(1); }

  CountingBroker broker;
};

// What a listener saw of one message; the entries the channel sets.
struct Seen {
  const vela::Guid* source = nullptr;
  std::int32_t code = 0;
  std::int32_t flags = 0;
  // The channel's entries that were present, with their property kinds.
  std::map<std::string, std::int32_t> kinds;
  std::int32_t subcode = -1, jobID = -1, severity = -1, status = -1, oemSize = -1;
  std::string portName, printerName, docName;
  std::wstring widePortName, widePrinterName, wideDocName;
  std::vector<std::uint8_t> oem;
  bool oemPointerSet = false;
};

// Records every message it is given; the broker owns the component, the
// record is shared with the test.
struct Recording {
  std::mutex lock;
  std::vector<Seen> seen;
  std::function<void(const Seen&)> onMessage;

  std::vector<Seen> snapshot() {
    std::lock_guard<std::mutex> guard(lock);
    return seen;
  }
};

class RecordingListener : public quor::AbstractListener {
 public:
  explicit RecordingListener(std::shared_ptr<Recording> recording)
      : recording_(std::move(recording)) {
    setPointer("listener", static_cast<vela::IListener*>(this));
  }
  const vela::Guid* getClassId() const override { return &vela::nullGuid(); }

  bool receive(vela::IMessage* message) override {
    if (*message->getSource() == vela::ThreadControlId) return false;
    Seen s;
    s.source = message->getSource();
    s.code = message->getCode();
    s.flags = message->getFlags();
    const vela::IPropertyHolder* p = message->getProperties();
    for (const char* key : {"subcode", "portName", "printerName", "jobID", "docName", "severity",
                            "status", "oemMessages", "oembufferSize"}) {
      const vela::IProperty* property = p->getProperty(key);
      if (property != nullptr && property->getType() != vela::Null) {
        s.kinds[key] = property->getType();
      }
    }
    s.subcode = p->getInt("subcode", -1);
    s.jobID = p->getInt("jobID", -1);
    s.severity = p->getInt("severity", -1);
    s.status = p->getInt("status", -1);
    s.oemSize = p->getInt("oembufferSize", -1);
    s.portName = p->getString("portName", "");
    s.printerName = p->getString("printerName", "");
    s.docName = p->getString("docName", "");
    s.widePortName = p->getWString("portName", L"");
    s.widePrinterName = p->getWString("printerName", L"");
    s.wideDocName = p->getWString("docName", L"");
    const auto* block = static_cast<const std::uint8_t*>(p->getPointer("oemMessages", nullptr));
    s.oemPointerSet = block != nullptr;
    if (block != nullptr && s.oemSize > 0) s.oem.assign(block, block + s.oemSize);
    std::function<void(const Seen&)> callback;
    {
      std::lock_guard<std::mutex> guard(recording_->lock);
      recording_->seen.push_back(s);
      callback = recording_->onMessage;
    }
    if (callback) callback(s);
    return false;
  }

 private:
  std::shared_ptr<Recording> recording_;
};

// Adds a recording listener to the broker and returns its record.
inline std::shared_ptr<Recording> addRecorder(quor::EventBroker& broker) {
  auto recording = std::make_shared<Recording>();
  EXPECT_TRUE(broker.add(new RecordingListener(recording)));
  return recording;
}

// Parameters as the instance manager builds them: "threadControl" first,
// then the texts of key=value tokens.
inline std::unique_ptr<vela::PropertyHolder> parameters(
    quor::EventBroker& broker, const std::vector<std::pair<const char*, std::wstring>>& texts) {
  auto holder = std::make_unique<vela::PropertyHolder>();
  holder->setPointer("threadControl", static_cast<vela::IListener*>(&broker));
  for (const auto& [key, value] : texts) holder->setWString(key, value.c_str());
  return holder;
}

// Runs the broker's loop on this thread; stops it after the deadline.
// Answers true when the loop ended on its own.
inline bool runLoop(quor::EventBroker& broker, std::chrono::milliseconds deadline = 20s) {
  std::mutex lock;
  std::condition_variable done;
  bool finished = false;
  std::atomic<bool> timedOut{false};
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> guard(lock);
    if (!done.wait_for(guard, deadline, [&] { return finished; })) {
      timedOut = true;
      broker.stop(nullptr, false);
    }
  });
  broker.run();
  {
    std::lock_guard<std::mutex> guard(lock);
    finished = true;
  }
  done.notify_all();
  watchdog.join();
  return !timedOut;
}

// Polls until the condition holds or the deadline passes.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds deadline = 20s) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    platform::sleepMilliseconds(1);
  }
  return true;
}

}  // namespace chantest

#endif  // CHANNEL_TESTS_CHANNEL_TEST_SUPPORT_H_
