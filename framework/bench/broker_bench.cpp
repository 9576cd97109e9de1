// Throughput of the event broker: messages posted from 1, 2 and 8 threads and
// delivered by the loop to one counting listener. Prints figures only.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "framework/event_broker.h"
#include "framework/instance_manager.h"

namespace {

constexpr int kMessagesPerRun = 200000;

// The idle pump step only yields, so the figures show the broker alone.
class BenchManager : public quor::InstanceManager {
 public:
  void pumpMessage() override { std::this_thread::yield(); }
};

class CountingListener : public quor::AbstractListener {
 public:
  CountingListener(quor::EventBroker* broker, long target) : broker_(broker), target_(target) {
    setPointer(L"listener", static_cast<void*>(static_cast<vela::IListener*>(this)));
  }
  bool receive(vela::IMessage*) override {
    if (++count_ == target_) broker_->stop(nullptr, false);
    return false;
  }
  const vela::Guid* getClassId() const override { return &quor::kDebugListenerClassId; }

 private:
  quor::EventBroker* broker_;
  long target_;
  long count_ = 0;
};

class Producer : public quor::AbstractEventGenerator {
 public:
  Producer(vela::IPropertyHolder* parameters, quor::IInstanceManager* manager, int count)
      : AbstractEventGenerator(parameters, manager), count_(count) {}
  ~Producer() override { stopAndJoin(); }
  std::uint32_t run() override {
    quor::EventBroker* broker = manager_->getEventBroker();
    for (int i = 0; i < count_; ++i) broker->post(getClassId(), i, 0, false);
    return 0;
  }
  const vela::Guid* getClassId() const override { return &quor::kTimerEventGeneratorClassId; }

 private:
  int count_;
};

void BM_PostAndDeliver(benchmark::State& state) {
  const int producers = static_cast<int>(state.range(0));
  const int perProducer = kMessagesPerRun / producers;
  for (auto _ : state) {
    BenchManager manager;
    quor::EventBroker* broker = manager.getEventBroker();
    broker->add(new CountingListener(broker, static_cast<long>(perProducer) * producers));
    vela::PropertyHolder parameters;
    parameters.setPointer(L"threadControl",
                          static_cast<void*>(static_cast<vela::IListener*>(broker)));
    for (int p = 0; p < producers; ++p)
      broker->add(new Producer(&parameters, &manager, perProducer));
    manager.run();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(perProducer) * producers);
  state.SetLabel("messages posted and delivered");
}

BENCHMARK(BM_PostAndDeliver)->Arg(1)->Arg(2)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
