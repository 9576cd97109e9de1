// Throughput of the status channel: records per second from a pipe through
// the status stream reader and the event broker to a listener that reads what
// the application listener reads, and, for comparison, the same bytes read
// from the same kind of pipe as the reader reads them, 64 KiB at a time, and
// split into records without the framework: no message, no queue, no
// listener. The pipeline's figure is given as a share of that one, like with
// like: both make the same reads.
//
// The loop runs with the framework's own wait (no window pump), so it sleeps
// whenever the reader has not queued anything. A plain program, so that it
// runs under Wine as it runs natively:
//
//   channel_bench [RECORDS] [--pipeline]   (default 300000; --pipeline: that
//                                           part alone, for a profiler)
//
// Besides the text for people it prints "BENCH <name> <value>" lines for
// tools/bench.sh.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
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

namespace {

using Clock = std::chrono::steady_clock;

// A manager without windows: its pump step is the broker's wait.
class BenchManager : public quor::AbstractInstanceManager {
 public:
  BenchManager() : broker(this) { broker_ = &broker; }
  ~BenchManager() override { broker.stopComponentThreads(); }
  quor::EventBroker broker;
};

class CountingListener : public quor::AbstractListener {
 public:
  CountingListener(long target, quor::EventBroker* broker) : target_(target), broker_(broker) {
    setPointer(L"listener", static_cast<void*>(static_cast<vela::IListener*>(this)));
  }
  const vela::Guid* getClassId() const override { return &vela::nullGuid(); }
  bool receive(vela::IMessage* message) override {
    if (*message->getSource() != quor::kTarnEventGeneratorClassId) return false;
    // Reads what the application listener reads of a status record.
    const vela::IPropertyHolder* properties = message->getProperties();
    if (message->getCode() == 2 && properties->getInt(L"subcode", 0) == 3 &&
        properties->getInt(L"status", 0) != 0 && ++count == target_) {
      broker_->stop(nullptr, false);
    }
    return false;
  }
  long count = 0;

 private:
  long target_;
  quor::EventBroker* broker_;
};

std::vector<std::uint8_t> makeStream(long records) {
  std::vector<std::uint8_t> bytes;
  const auto one = tarn::encodeStatus(41000);
  bytes.reserve(one.size() * static_cast<std::size_t>(records));
  for (long i = 0; i < records; ++i) bytes.insert(bytes.end(), one.begin(), one.end());
  return bytes;
}

platform::testing::ConnectedStream openPipe(const char* purpose) {
  platform::testing::ConnectedStream pipe;
  platform::testing::connectStream(&pipe, purpose, true);
  if (!pipe.ok()) {
    std::fprintf(stderr, "cannot create the pipe\n");
    std::exit(1);
  }
  return pipe;
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

void fail(const char* what, long got, long records) {
  std::fprintf(stderr, "%s: %ld of %ld records\n", what, got, records);
  std::exit(1);
}

double pipelineSeconds(const std::vector<std::uint8_t>& bytes, long records) {
  auto pipe = openPipe("bench-pipeline");
  auto manager = std::make_unique<BenchManager>();
  auto* listener = new CountingListener(records, &manager->broker);
  manager->broker.add(listener);
  vela::PropertyHolder parameters;
  parameters.setPointer(L"threadControl", static_cast<vela::IListener*>(&manager->broker));
  parameters.setWString(L"input", std::to_wstring(pipe.client).c_str());
  manager->broker.add(new quor::TarnEventGenerator(&parameters, manager.get()));
  const auto start = Clock::now();
  std::thread writer = startWriter(pipe.server, bytes);
  manager->broker.run();
  const auto end = Clock::now();
  writer.join();
  if (listener->count != records) fail("pipeline delivered", listener->count, records);
  pipe.closeServer();
  manager.reset();
  return std::chrono::duration<double>(end - start).count();
}

double rawReadAheadSeconds(const std::vector<std::uint8_t>& bytes, long records) {
  auto pipe = openPipe("bench-ahead");
  const auto start = Clock::now();
  std::thread writer = startWriter(pipe.server, bytes);
  std::vector<std::uint8_t> buffer(quor::TarnEventGenerator::kReadAheadSize);
  std::size_t begin = 0, end = 0;
  long read = 0;
  // Splits the bytes into records; a record cut by the end of a read waits
  // at the front of the buffer for the rest.
  while (read < records) {
    tarn::RecordHeader decoded;
    if (end - begin >= tarn::kHeaderSize &&
        tarn::decodeHeader(buffer.data() + begin, end - begin, &decoded) ==
            tarn::HeaderResult::kOk &&
        end - begin >= tarn::kHeaderSize + decoded.length) {
      begin += tarn::kHeaderSize + decoded.length;
      ++read;
      continue;
    }
    std::memmove(buffer.data(), buffer.data() + begin, end - begin);
    end -= begin;
    begin = 0;
    std::size_t got = 0;
    if (!platform::readSome(pipe.client, buffer.data() + end, buffer.size() - end, &got)) break;
    end += got;
  }
  const auto finished = Clock::now();
  writer.join();
  if (read != records) fail("read-ahead got", read, records);
  return std::chrono::duration<double>(finished - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  long records = 300000;
  bool pipelineOnly = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--pipeline") == 0) {
      pipelineOnly = true;
    } else {
      records = std::atol(argv[i]);
    }
  }
  if (records <= 0) return 2;
  // The reader's traces (each ended stream says why) are not figures.
  platform::ScopedDebugOutputCapture quiet([](const std::string&) {});
  const auto bytes = makeStream(records);
  if (pipelineOnly) {
    std::printf("pipe -> reader -> broker -> listener: %12.0f records/s\n",
                records / pipelineSeconds(bytes, records));
    return 0;
  }
  // One warm-up round of each, then the best of three measured ones: the
  // machine is shared, and the best round is the one least disturbed.
  const long warmRecords = records / 10 + 1;
  const auto warm = makeStream(warmRecords);
  pipelineSeconds(warm, warmRecords);
  rawReadAheadSeconds(warm, warmRecords);
  double pipeline = 1e9, ahead = 1e9;
  for (int round = 0; round < 3; ++round) {
    pipeline = std::min(pipeline, pipelineSeconds(bytes, records));
    ahead = std::min(ahead, rawReadAheadSeconds(bytes, records));
  }
  std::printf("records: %ld of %zu bytes each (best of 3 rounds)\n", records,
              bytes.size() / static_cast<std::size_t>(records));
  std::printf("pipe -> reader -> broker -> listener: %12.0f records/s\n", records / pipeline);
  std::printf("64 KiB reads split into records:      %12.0f records/s\n", records / ahead);
  std::printf("pipeline / the same reads split:      %12.3f\n", ahead / pipeline);
  std::printf("BENCH throughput_records_per_s %.0f\n", records / pipeline);
  std::printf("BENCH raw_read_ahead_records_per_s %.0f\n", records / ahead);
  std::printf("BENCH throughput_ratio_to_read_ahead %.3f\n", ahead / pipeline);
  return 0;
}
