// Latency from a status record leaving the port monitor to a listener having
// it: a writer thread writes one record at a time into the status pipe, after
// a pause of its own (so the monitor's loop is idle, waiting, each time); the
// status reader reads it on its thread and posts it; the loop of a real
// instance manager delivers it to a listener, which notes the time. On
// Windows the loop waits in the window message pump of the main thread, as
// the program's does. A plain program, so that it runs under Wine as it runs
// natively:
//
//   latency_bench [RECORDS]        (default 1000)
//
// Prints p50, p99 and the largest latency, and "BENCH <name> <value>" lines
// for tools/bench.sh.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "channel/status_record.h"
#include "channel/tarn_event_generator.h"
#include "framework/event_broker.h"
#include "framework/instance_manager.h"
#include "platform/byte_stream.h"
#include "platform/debug_output.h"
#include "platform/tests/test_pipes.h"
#include "platform/thread.h"
#include "platform/wake_signal.h"

namespace {

using Clock = std::chrono::steady_clock;

// Notes when each status record arrives and lets the writer go on.
class TimingListener : public quor::AbstractListener {
 public:
  explicit TimingListener(std::size_t records) : arrived(records) {
    setPointer(L"listener", static_cast<void*>(static_cast<vela::IListener*>(this)));
  }
  const vela::Guid* getClassId() const override { return &vela::nullGuid(); }
  bool receive(vela::IMessage* message) override {
    const auto now = Clock::now();
    if (*message->getSource() != quor::kTarnEventGeneratorClassId || message->getCode() != 2) {
      return false;
    }
    const std::int32_t index = message->getProperties()->getInt(L"status", 0) - 1;
    if (index >= 0 && static_cast<std::size_t>(index) < arrived.size()) {
      arrived[static_cast<std::size_t>(index)] = now;
      delivered.store(index + 1, std::memory_order_release);
      next.set();
    }
    return false;
  }
  std::vector<Clock::time_point> arrived;
  std::atomic<std::int32_t> delivered{0};
  platform::WakeSignal next;
};

double percentile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  const std::size_t at = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1));
  return values[at];
}

}  // namespace

int main(int argc, char** argv) {
  const long records = argc > 1 ? std::atol(argv[1]) : 1000;
  if (records <= 0) return 2;
  platform::ScopedDebugOutputCapture quiet([](const std::string&) {});
  platform::testing::ConnectedStream pipe;
  platform::testing::connectStream(&pipe, "bench-latency", true);
  if (!pipe.ok()) {
    std::fprintf(stderr, "cannot create the pipe\n");
    return 1;
  }
  quor::InstanceManager manager;
  quor::EventBroker* broker = manager.getEventBroker();
  auto* listener = new TimingListener(static_cast<std::size_t>(records));
  broker->add(listener);
  vela::PropertyHolder parameters;
  parameters.setPointer(L"threadControl", static_cast<vela::IListener*>(broker));
  parameters.setWString(L"input", std::to_wstring(pipe.client).c_str());
  broker->add(new quor::TarnEventGenerator(&parameters, &manager));

  std::vector<Clock::time_point> written(static_cast<std::size_t>(records));
  bool complete = true;
  std::thread writer([&] {
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> pause(1, 4);
    for (long i = 0; i < records && complete; ++i) {
      platform::sleepMilliseconds(static_cast<std::uint32_t>(pause(random)));
      const auto record = tarn::encodeStatus(static_cast<std::uint32_t>(i + 1));
      written[static_cast<std::size_t>(i)] = Clock::now();
      if (!platform::writeAll(pipe.server, record.data(), record.size())) complete = false;
      // The next record only once this one has arrived, so that each is
      // timed alone.
      const auto deadline = Clock::now() + std::chrono::seconds(10);
      while (listener->delivered.load(std::memory_order_acquire) < i + 1) {
        if (Clock::now() >= deadline) {
          complete = false;
          break;
        }
        listener->next.wait(100);
      }
    }
    broker->stop(nullptr, false);
  });
  manager.run();
  writer.join();
  if (!complete) {
    std::fprintf(stderr, "only %d of %ld records arrived\n", listener->delivered.load(), records);
    return 1;
  }
  std::vector<double> latencies;
  for (long i = 0; i < records; ++i) {
    const auto index = static_cast<std::size_t>(i);
    latencies.push_back(
        std::chrono::duration<double, std::milli>(listener->arrived[index] - written[index])
            .count());
  }
  const double p50 = percentile(latencies, 0.50);
  const double p99 = percentile(latencies, 0.99);
  const double most = *std::max_element(latencies.begin(), latencies.end());
  std::printf("records: %ld, one at a time after a pause of 1 to 4 ms\n", records);
  std::printf("record -> listener: p50 %.3f ms, p99 %.3f ms, max %.3f ms\n", p50, p99, most);
  std::printf("BENCH latency_p50_ms %.4f\n", p50);
  std::printf("BENCH latency_p99_ms %.4f\n", p99);
  std::printf("BENCH latency_max_ms %.4f\n", most);
  return 0;
}
