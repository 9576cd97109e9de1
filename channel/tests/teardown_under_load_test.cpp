// The program's core torn down at the end of a job while the port monitor
// still floods the status stream: the instance manager with the channel's
// component classes, the status reader and the request writer created by
// name from a command line as WinMain creates them, and a listener that, as
// the application's does, answers each status with a request and stops the
// broker at the end of the job. Then everything is deleted, and again, a
// thousand times (natively, with the sanitizers watching).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/wiring.h"
#include "channel/status_record.h"
#include "channel/tests/channel_test_support.h"
#include "framework/tests/test_support.h"
#include "framework/class_id.h"
#include "platform/debug_output.h"
#include "platform/tests/test_pipes.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using platform::testing::ConnectedStream;
using namespace std::chrono_literals;

#ifdef _WIN32
constexpr int kRounds = 200;  // every thread, pipe and mutex is a server call under Wine
#else
constexpr int kRounds = 1000;
#endif

// The manager WinMain makes, with a short idle step instead of the 100 ms
// wait for window messages.
class FastManager : public quor::InstanceManager {
 public:
  FastManager() : InstanceManager(quor::programComponentMakers()) {}
  void pumpMessage() override { platform::sleepMilliseconds(1); }
};

struct JobSeen {
  std::atomic<int> statuses{0};
  std::atomic<int> endsOfJob{0};
};

// What the application listener does with the channel's messages, without
// the dialogs: a request for every status, the broker stopped (reader and
// writer, as shutDown does) at the end of the job.
class EndOfJobListener : public quor::AbstractListener {
 public:
  EndOfJobListener(quor::EventBroker* broker, std::shared_ptr<JobSeen> seen)
      : broker_(broker), seen_(std::move(seen)) {
    setPointer("listener", static_cast<vela::IListener*>(this));
  }
  const vela::Guid* getClassId() const override { return &vela::nullGuid(); }
  bool receive(vela::IMessage* message) override {
    if (*message->getSource() != quor::kTarnEventGeneratorClassId) return false;
    const std::int32_t subcode = message->getProperties()->getInt("subcode", -1);
    if (message->getCode() == 2) {
      ++seen_->statuses;
      broker_->post(&quor::kTarnListenerClassId, 1, 0, true);
    } else if (message->getCode() == 0 && subcode == 4) {
      ++seen_->endsOfJob;
      broker_->stop(&quor::kTarnEventGeneratorClassId, false);
      broker_->stop(&quor::kTarnListenerClassId, false);
    }
    return false;
  }

 private:
  quor::EventBroker* broker_;
  std::shared_ptr<JobSeen> seen_;
};

// How the port monitor goes on after the end of the job.
enum class After {
  kFloods,        // status records without end
  kCloses,        // closes the stream at once
  kEndlessRecord  // a record of 4 GiB, fed without pause
};

TEST(TeardownUnderLoad, TheEndOfTheJobAmidAFloodEndsTheLoopAndEverythingIsDeletedInTime) {
  std::atomic<long> stuck{0};
  platform::ScopedDebugOutputCapture capture([&](const std::string& text) {
    if (text.find("did not end") != std::string::npos) ++stuck;
  });
  Bytes chunk;
  for (int i = 0; i < 64; ++i) {
    const Bytes record = tarn::encodeStatus(i % 2 ? 40020 : 40021);
    chunk.insert(chunk.end(), record.begin(), record.end());
  }
  const Bytes endOfJob = tarn::encodeJobEnd(7);
  const Bytes endlessHeader = tarn::encodeHeader(1, 0, 0xFFFFFFFFu);
  const Bytes zeros(4096, 0);

  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    const auto after = static_cast<After>(round % 3);
    const int before = round % 50;  // status records ahead of the end of the job
    ConnectedStream status;
    ConnectedStream requests;
    platform::testing::connectStream(&status, "flood-status", true);
    platform::testing::connectStream(&requests, "flood-requests", false);
    ASSERT_TRUE(status.ok() && requests.ok());

    auto* manager = new FastManager;
    auto seen = std::make_shared<JobSeen>();
    ASSERT_TRUE(manager->addComponent(new EndOfJobListener(manager->getEventBroker(), seen)));
    const std::string commandLine = "input=" + std::to_string(status.client) +
                                    " output=" + std::to_string(requests.client);
    ASSERT_TRUE(manager->createComponent("TarnEventGenerator", commandLine.c_str()));
    ASSERT_TRUE(manager->createComponent("TarnListener", commandLine.c_str()));

    std::atomic<bool> feeding{true};
    std::atomic<bool> fed{false};
    std::thread writer([&] {
      bool ok = platform::writeAll(status.server, chunk.data(), 20 * before) &&
                platform::writeAll(status.server, endOfJob.data(), endOfJob.size());
      if (after == After::kCloses) {
        status.closeServer();
      } else if (after == After::kEndlessRecord) {
        ok = ok && platform::writeAll(status.server, endlessHeader.data(), endlessHeader.size());
      }
      while (ok && after != After::kCloses && feeding.load()) {
        ok = after == After::kFloods ? platform::writeAll(status.server, chunk.data(), chunk.size())
                                     : platform::writeAll(status.server, zeros.data(), zeros.size());
      }
      fed = true;
    });
    std::atomic<bool> draining{true};
    std::thread drain([&] {
      std::uint8_t sink[4096];
      std::size_t got = 0;
      while (draining.load()) {
        if (platform::testing::bytesWaiting(requests.server) > 0) {
          if (!platform::readSome(requests.server, sink, sizeof sink, &got)) break;
        } else {
          platform::sleepMilliseconds(1);
        }
      }
    });

    const bool ended =
        fwtest::runWithDeadline(*manager->getEventBroker(), 20s, [&] { manager->run(); });
    delete manager;  // the reader may be in the middle of a record: it is stopped and joined
    // Releases a writer blocked on a full pipe: nobody reads it any more.
    feeding = false;
    std::uint8_t sink[4096];
    while (!fed.load()) {
      std::size_t got = 0;
      if (platform::testing::bytesWaiting(status.client) > 0) {
        platform::readSome(status.client, sink, sizeof sink, &got);
      } else {
        platform::sleepMilliseconds(1);
      }
    }
    writer.join();
    draining = false;
    drain.join();
    ASSERT_TRUE(ended) << "the loop did not end at the end of the job";
    // A stream that ends right after the end of the job may stop the loop
    // before the end of the job is delivered; otherwise it is what stops it.
    EXPECT_EQ(seen->endsOfJob.load(), after == After::kCloses ? seen->endsOfJob.load() : 1);
    EXPECT_GE(seen->statuses.load(), seen->endsOfJob.load() == 1 ? before : 0);
  }
  EXPECT_EQ(stuck.load(), 0) << "every thread ended in time";
}

}  // namespace
