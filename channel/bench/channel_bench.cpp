// Throughput of the status channel: records per second from a pipe through
// the status stream reader and the event broker to a counting listener, and,
// for comparison, raw reads of the same bytes from the same kind of pipe
// (one header and one payload read per record, as the reader reads them).
// Prints both rates and their ratio. A plain program, so that it runs under
// Wine as it runs natively:
//
//   channel_bench [RECORDS]        (default 200000)
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "channel/status_record.h"
#include "channel/tarn_event_generator.h"
#include "framework/event_broker.h"
#include "framework/instance_manager.h"
#include "platform/byte_stream.h"
#include "platform/tests/test_pipes.h"
#include "platform/thread.h"

namespace {

using Clock = std::chrono::steady_clock;

class BenchManager : public quor::AbstractInstanceManager {
 public:
  BenchManager() : broker(this) { broker_ = &broker; }
  ~BenchManager() override { broker.stopComponentThreads(); }
  // A quiet pass only yields: the loop should wait on the pipe, not on us.
  void pumpMessage() override { platform::sleepMilliseconds(0); }
  quor::EventBroker broker;
};

class CountingListener : public quor::AbstractListener {
 public:
  CountingListener(std::atomic<long>* count, long target, quor::EventBroker* broker)
      : count_(count), target_(target), broker_(broker) {
    setPointer("listener", static_cast<vela::IListener*>(this));
  }
  const vela::Guid* getClassId() const override { return &vela::nullGuid(); }
  bool receive(vela::IMessage* message) override {
    if (*message->getSource() != quor::kTarnEventGeneratorClassId) return false;
    // Reads what a status listener reads.
    if (message->getProperties()->getInt("status", 0) != 0 && count_->fetch_add(1) + 1 == target_) {
      broker_->stop(nullptr, false);
    }
    return false;
  }

 private:
  std::atomic<long>* count_;
  long target_;
  quor::EventBroker* broker_;
};

std::vector<std::uint8_t> makeStream(long records) {
  std::vector<std::uint8_t> bytes;
  const auto one = tarn::encodeStatus(41000);
  bytes.reserve(one.size() * records);
  for (long i = 0; i < records; ++i) bytes.insert(bytes.end(), one.begin(), one.end());
  return bytes;
}

// Writes the bytes in 64 KiB pieces; the stream stays open.
std::thread startWriter(platform::StreamHandle server, const std::vector<std::uint8_t>& bytes) {
  return std::thread([server, &bytes] {
    for (std::size_t done = 0; done < bytes.size();) {
      const std::size_t piece = std::min<std::size_t>(65536, bytes.size() - done);
      if (!platform::writeAll(server, bytes.data() + done, piece)) return;
      done += piece;
    }
  });
}

double pipelineSeconds(const std::vector<std::uint8_t>& bytes, long records) {
  platform::testing::ConnectedStream pipe;
  platform::testing::connectStream(&pipe, "bench-pipeline", true);
  if (!pipe.ok()) {
    std::fprintf(stderr, "cannot create the pipe\n");
    std::exit(1);
  }
  std::atomic<long> count{0};
  auto manager = std::make_unique<BenchManager>();
  manager->broker.add(new CountingListener(&count, records, &manager->broker));
  vela::PropertyHolder parameters;
  parameters.setPointer("threadControl", static_cast<vela::IListener*>(&manager->broker));
  parameters.setWString("input", std::to_wstring(pipe.client).c_str());
  manager->broker.add(new quor::TarnEventGenerator(&parameters, manager.get()));
  const auto start = Clock::now();
  std::thread writer = startWriter(pipe.server, bytes);
  manager->broker.run();
  const auto end = Clock::now();
  writer.join();
  if (count.load() != records) {
    std::fprintf(stderr, "pipeline delivered %ld of %ld records\n", count.load(), records);
    std::exit(1);
  }
  pipe.closeServer();
  manager.reset();
  return std::chrono::duration<double>(end - start).count();
}

double rawSeconds(const std::vector<std::uint8_t>& bytes, long records) {
  platform::testing::ConnectedStream pipe;
  platform::testing::connectStream(&pipe, "bench-raw", true);
  const auto start = Clock::now();
  std::thread writer = startWriter(pipe.server, bytes);
  std::uint8_t header[tarn::kHeaderSize];
  std::uint8_t payload[64];
  long read = 0;
  for (; read < records; ++read) {
    if (!platform::readExactly(pipe.client, header, sizeof header)) break;
    tarn::RecordHeader decoded;
    tarn::decodeHeader(header, sizeof header, &decoded);
    if (decoded.length > sizeof payload ||
        !platform::readExactly(pipe.client, payload, decoded.length)) {
      break;
    }
  }
  const auto end = Clock::now();
  writer.join();
  if (read != records) {
    std::fprintf(stderr, "raw reads got %ld of %ld records\n", read, records);
    std::exit(1);
  }
  return std::chrono::duration<double>(end - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const long records = argc > 1 ? std::atol(argv[1]) : 200000;
  if (records <= 0) return 2;
  const auto bytes = makeStream(records);
  // One warm-up round of each, then the measured ones.
  const long warmRecords = records / 10 + 1;
  const auto warm = makeStream(warmRecords);
  pipelineSeconds(warm, warmRecords);
  rawSeconds(warm, warmRecords);
  const double pipeline = pipelineSeconds(bytes, records);
  const double raw = rawSeconds(bytes, records);
  std::printf("records: %ld of %zu bytes each\n", records, bytes.size() / records);
  std::printf("pipe -> reader -> broker -> listener: %12.0f records/s\n", records / pipeline);
  std::printf("raw reads of the same pipe:            %12.0f records/s\n", records / raw);
  std::printf("ratio (pipeline / raw):                %12.3f\n", raw / pipeline);
  return 0;
}
