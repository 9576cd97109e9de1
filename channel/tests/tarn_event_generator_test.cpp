#include "channel/tarn_event_generator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "channel/status_record.h"
#include "channel/tests/channel_test_support.h"
#include "framework/class_id.h"
#include "platform/debug_output.h"
#include "platform/test_support/failing_allocations.h"
#include "platform/tests/test_pipes.h"

namespace {

using chantest::Seen;
using chantest::TestManager;
using platform::testing::ConnectedStream;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

std::wstring number(platform::StreamHandle handle) {
  return std::to_wstring(handle);
}

void write(platform::StreamHandle stream, const Bytes& bytes, std::size_t from = 0,
           std::size_t to = SIZE_MAX) {
  if (to > bytes.size()) to = bytes.size();
  ASSERT_TRUE(platform::writeAll(stream, bytes.data() + from, to - from));
}

// A generator reading the client end of a fresh status stream, added to the
// manager's broker together with a recording listener.
struct ReaderSetup {
  std::unique_ptr<TestManager> manager = std::make_unique<TestManager>();
  ConnectedStream pipe;
  std::shared_ptr<chantest::Recording> recording;
  quor::TarnEventGenerator* generator = nullptr;

  explicit ReaderSetup(const char* purpose) {
    platform::testing::connectStream(&pipe, purpose, true);
    recording = chantest::addRecorder(manager->broker);
    auto params = chantest::parameters(manager->broker, {{"input", number(pipe.client)}});
    generator = new quor::TarnEventGenerator(params.get(), manager.get());
    manager->broker.add(generator);
  }
  int stops() const { return manager->broker.stops.load(); }
  // The trace of the test so far.
  std::string trace() {
    std::lock_guard<std::mutex> guard(traceLock);
    return traceText;
  }
  std::mutex traceLock;
  std::string traceText;
  platform::ScopedDebugOutputCapture capture{[this](const std::string& text) {
    std::lock_guard<std::mutex> guard(traceLock);
    traceText += text;
  }};
  // Messages posted so far: delivered ones and those still queued when the
  // loop stopped.
  std::size_t posted() { return recording->snapshot().size() + manager->broker.queuedCount(); }
};

TEST(TarnEventGeneratorTest, TurnsEveryRecordIntoOneMessageWithTheEntriesOfItsClass) {
  ReaderSetup setup("classes");
  ASSERT_TRUE(setup.pipe.ok());
  const Bytes oemBlock = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  const std::vector<Bytes> records = {
      tarn::encodeJobStart(7, "a"),
      tarn::encodePortNamesWide(L"USB001", L"Kestrel \u00FC"),
      tarn::encodeOemBlock(oemBlock.data(), oemBlock.size()),
      tarn::encodeStatus(41000, 1),
      tarn::encodeStatus(41000),
      tarn::encodeSeverityStatus(2, 0xFFFFFFFFu),
      tarn::encodeRecord(0, 0, {}),
      tarn::encodeOemBlock("\xAA\xBB\xCC", 3),
      tarn::encodeRecord(7, 9, {1, 2, 3, 4}),
  };
  // The first delivery waits until every other record is queued, so the
  // first OEM message is delivered after the second OEM record was read.
  setup.recording->onMessage = [&](const Seen& seen) {
    if (seen.code == 0 && seen.subcode == 2) {
      chantest::waitUntil([&] { return setup.manager->broker.queuedCount() == records.size() - 1; },
                          10s);
    }
  };
  std::thread writer([&] {
    // The first header arrives as 5 and then 11 bytes.
    write(setup.pipe.server, records[0], 0, 5);
    std::this_thread::sleep_for(30ms);
    write(setup.pipe.server, records[0], 5, 16);
    std::this_thread::sleep_for(30ms);
    write(setup.pipe.server, records[0], 16);
    for (std::size_t i = 1; i < records.size(); ++i) write(setup.pipe.server, records[i]);
    chantest::waitUntil([&] { return setup.recording->snapshot().size() == records.size(); });
    setup.pipe.closeServer();
  });
  EXPECT_TRUE(chantest::runLoop(setup.manager->broker));
  writer.join();

  const std::vector<Seen> seen = setup.recording->snapshot();
  ASSERT_EQ(seen.size(), records.size());
  for (const Seen& s : seen) {
    EXPECT_EQ(s.source, &quor::kTarnEventGeneratorClassId);
    EXPECT_EQ(s.flags, 0);
  }
  using Kinds = std::map<std::string, std::int32_t>;
  EXPECT_EQ(seen[0].code, 0);
  EXPECT_EQ(seen[0].kinds,
            (Kinds{{"subcode", vela::Int}, {"jobID", vela::Int}, {"docName", vela::String}}));
  EXPECT_EQ(seen[0].jobID, 7);
  EXPECT_EQ(seen[0].docName, "a");

  EXPECT_EQ(
      seen[1].kinds,
      (Kinds{{"subcode", vela::Int}, {"portName", vela::WString}, {"printerName", vela::WString}}));
  EXPECT_EQ(seen[1].widePortName, L"USB001");
  EXPECT_EQ(seen[1].widePrinterName, L"Kestrel \u00FC");

  EXPECT_EQ(seen[2].code, 1);
  EXPECT_EQ(seen[2].kinds, (Kinds{{"subcode", vela::Int},
                                  {"oemMessages", vela::Pointer},
                                  {"oembufferSize", vela::Int}}));
  EXPECT_EQ(seen[2].oemSize, 10);
  EXPECT_EQ(seen[2].oem, oemBlock) << "an OEM block must survive the next OEM record";

  EXPECT_EQ(seen[3].code, 2);
  EXPECT_EQ(seen[3].kinds, (Kinds{{"subcode", vela::Int}}));
  EXPECT_EQ(seen[3].subcode, 1);
  EXPECT_EQ(seen[4].status, 41000);
  EXPECT_EQ(seen[4].subcode, 3);

  EXPECT_EQ(seen[5].severity, 2);
  EXPECT_EQ(seen[5].status, -1);  // u32 bits kept in a signed entry

  EXPECT_EQ(
      seen[6].kinds,
      (Kinds{{"subcode", vela::Int}, {"portName", vela::String}, {"printerName", vela::String}}));
  EXPECT_EQ(seen[6].portName, "");

  EXPECT_EQ(seen[7].oem, (Bytes{0xAA, 0xBB, 0xCC}));
  EXPECT_EQ(seen[8].code, 7);
  EXPECT_EQ(seen[8].kinds, (Kinds{{"subcode", vela::Int}}));

  EXPECT_EQ(setup.stops(), 1);
}

// One read may bring several records and part of the next: the whole ones
// are posted at once, the part waits for the rest of its bytes.
TEST(TarnEventGeneratorTest, RecordsReadTogetherArePostedOnlyOnceWhollyArrived) {
  ReaderSetup setup("together");
  ASSERT_TRUE(setup.pipe.ok());
  Bytes first = tarn::encodeStatus(41001);
  const Bytes second = tarn::encodeJobStart(3, "report");
  const Bytes third = tarn::encodePortNames("LPT1:", "Kestrel");
  first.insert(first.end(), second.begin(), second.end());
  const std::size_t cut = 20;  // inside the third record's payload
  first.insert(first.end(), third.begin(), third.begin() + cut);
  write(setup.pipe.server, first);
  setup.generator->start();
  ASSERT_TRUE(chantest::waitUntil([&] { return setup.posted() == 2; }));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(setup.posted(), 2u) << "a record was posted before all of it had come";
  write(setup.pipe.server, third, cut);
  ASSERT_TRUE(chantest::waitUntil([&] { return setup.posted() == 3; }));
  setup.recording->onMessage = [&](const Seen&) {
    if (setup.recording->snapshot().size() == 3) setup.pipe.closeServer();
  };
  EXPECT_TRUE(chantest::runLoop(setup.manager->broker));
  const std::vector<Seen> seen = setup.recording->snapshot();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].status, 41001);
  EXPECT_EQ(seen[1].docName, "report");
  EXPECT_EQ(seen[2].printerName, "Kestrel");
}

// A main thread that does not deliver (busy, or not running yet) makes the
// reader pause once its messages hold their most memory, instead of queueing
// without end; that is tens of thousands of status records, far more than a
// job sends. The charges cover what the queued messages really allocate.
// Once delivery resumes, every record arrives, in order.
TEST(TarnEventGeneratorTest, AFloodOfRecordsPausesTheReaderWhenItsBacklogHoldsItsMostMemory) {
  ReaderSetup setup("flood");
  ASSERT_TRUE(setup.pipe.ok());
  // A status message is charged well under 1 KiB: this is more than twice
  // the bound.
  const std::size_t total = 2 * quor::StatusBacklog::kPauseBytes / 512;
  Bytes stream;
  for (std::size_t i = 0; i < total; ++i) {
    const Bytes record = tarn::encodeStatus(static_cast<std::uint32_t>(i + 1));
    stream.insert(stream.end(), record.begin(), record.end());
  }
  std::atomic<bool> written{false};
  std::thread writer([&] {
    write(setup.pipe.server, stream);
    written = true;
    chantest::waitUntil([&] { return setup.recording->snapshot().size() == total; }, 60s);
    setup.pipe.closeServer();
  });
  const quor::StatusBacklog& backlog = setup.generator->backlog();
  const std::uint64_t allocatedBefore = testsupport::bytesAllocated();
  setup.generator->start();
  // Polled without allocating, so that what was allocated meanwhile is the
  // reader's.
  ASSERT_TRUE(chantest::waitUntil([&] { return backlog.full(); }, 60s))
      << "the backlog never filled; " << setup.manager->broker.queuedCount() << " queued";
  const std::uint64_t allocated = testsupport::bytesAllocated() - allocatedBefore;
  ASSERT_TRUE(chantest::waitUntil(
      [&] { return setup.trace().find("reading pauses") != std::string::npos; }, 60s))
      << "the reader never paused; " << setup.manager->broker.queuedCount() << " queued";
  const std::size_t queued = setup.manager->broker.queuedCount();
  EXPECT_TRUE(backlog.full());
  EXPECT_GT(queued, 10000u) << backlog.bytes() << " bytes in " << backlog.messages() << " messages";
  EXPECT_LT(queued, total);
  EXPECT_EQ(backlog.messages(), queued);
  EXPECT_LE(allocated, backlog.bytes())
      << "the charges are below what " << queued << " messages allocated";
  EXPECT_LT(backlog.bytes(), quor::StatusBacklog::kPauseBytes + 4096);
  EXPECT_FALSE(written.load()) << "the writer was not held";
  EXPECT_TRUE(chantest::runLoop(setup.manager->broker, 60s));
  writer.join();
  const std::vector<Seen> seen = setup.recording->snapshot();
  ASSERT_EQ(seen.size(), total);
  std::size_t outOfOrder = 0;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    if (seen[i].status != static_cast<std::int32_t>(i + 1)) ++outOfOrder;
  }
  EXPECT_EQ(outOfOrder, 0u);
  EXPECT_EQ(backlog.bytes(), 0u);
  EXPECT_EQ(setup.stops(), 1);
}

TEST(TarnEventGeneratorTest, ARecordLongerThanOneMebibyteIsConsumedWholeAndTheNextOneRead) {
  ReaderSetup setup("long");
  ASSERT_TRUE(setup.pipe.ok());
  Bytes long_record = tarn::encodeHeader(1, 0, 1048577);
  for (std::uint32_t i = 0; i < 1048577; ++i)
    long_record.push_back(static_cast<std::uint8_t>(i * 7));
  std::thread writer([&] {
    write(setup.pipe.server, long_record);
    write(setup.pipe.server, tarn::encodeJobEnd(9));
    chantest::waitUntil([&] { return setup.recording->snapshot().size() == 2; });
    setup.pipe.closeServer();
  });
  EXPECT_TRUE(chantest::runLoop(setup.manager->broker));
  writer.join();
  const std::vector<Seen> seen = setup.recording->snapshot();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].oemSize, 1048576);
  EXPECT_TRUE(std::equal(seen[0].oem.begin(), seen[0].oem.end(), long_record.begin() + 16));
  EXPECT_EQ(seen[1].code, 0);
  EXPECT_EQ(seen[1].subcode, 4);
  EXPECT_EQ(seen[1].jobID, 9);
  EXPECT_EQ(setup.stops(), 1);
}

TEST(TarnEventGeneratorTest, EveryWayTheStreamEndsStopsTheBrokerOnceAndPostsNothingMore) {
  const Bytes good = tarn::encodeJobEnd(1);
  Bytes bad_magic = tarn::encodeJobEnd(2);
  bad_magic[3] = 'X';
  const struct {
    const char* name;
    Bytes bytes;
    bool closeAfter;
    std::size_t posted;
  } cases[] = {
      // The stream stays open: only the magic ends the reading, and the good
      // record behind the bad header is never looked at.
      {"wrong magic",
       [&] {
         Bytes b = good;
         b.insert(b.end(), bad_magic.begin(), bad_magic.end());
         b.insert(b.end(), good.begin(), good.end());
         return b;
       }(),
       false, 1},
      {"writer closes after whole records",
       [&] {
         Bytes b = good;
         b.insert(b.end(), good.begin(), good.end());
         return b;
       }(),
       true, 2},
      {"writer closes inside a header", Bytes(good.begin(), good.begin() + 5), true, 0},
      {"writer closes inside a payload", Bytes(good.begin(), good.begin() + 18), true, 0},
      {"writer closes at once", Bytes{}, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ReaderSetup setup("endings");
    ASSERT_TRUE(setup.pipe.ok());
    if (!c.bytes.empty()) write(setup.pipe.server, c.bytes);
    if (c.closeAfter) setup.pipe.closeServer();
    EXPECT_TRUE(chantest::runLoop(setup.manager->broker));
    EXPECT_TRUE(chantest::waitUntil([&] { return setup.generator->isFinished(); }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(setup.posted(), c.posted);
    EXPECT_EQ(setup.stops(), 1);
    // The trace says what ended the reading.
    EXPECT_NE(setup.trace().find(c.closeAfter ? "ReadFile() failed" : "without the magic TARN"),
              std::string::npos)
        << setup.trace();
  }
}

TEST(TarnEventGeneratorTest, WithoutAUsableStreamTheThreadStillRunsAndOnlyStopsTheBroker) {
  const struct {
    const char* name;
    std::vector<std::pair<const char*, std::wstring>> texts;
    platform::StreamHandle handle;
  } cases[] = {
      {"neither input nor pipe", {}, platform::kNoStream},
      {"empty pipe", {{"pipe", L""}}, platform::kNoStream},
      {"pipe that does not exist",
       {{"pipe", platform::testing::uniquePipeBase("absent")}},
       platform::kInvalidStream},
      {"input -1", {{"input", L"-1"}}, platform::kInvalidStream},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestManager manager;
    auto recording = chantest::addRecorder(manager.broker);
    auto params = chantest::parameters(manager.broker, c.texts);
    auto* generator = new quor::TarnEventGenerator(params.get(), &manager);
    EXPECT_EQ(generator->handle(), c.handle);
    EXPECT_FALSE(generator->openedHere());
    ASSERT_TRUE(manager.broker.add(generator));
    EXPECT_TRUE(chantest::runLoop(manager.broker));
    EXPECT_TRUE(chantest::waitUntil([&] { return generator->isFinished(); }));
    EXPECT_EQ(recording->snapshot().size() + manager.broker.queuedCount(), 0u);
    EXPECT_EQ(manager.broker.stops.load(), 1);
  }
}

TEST(TarnEventGeneratorTest, InputWinsOverPipeAndIsNotClosedWhilePipeIsOpenedAndOwned) {
  TestManager manager;
  ConnectedStream given;
  platform::testing::connectStream(&given, "given", true);
  ASSERT_TRUE(given.ok());
  const std::wstring base = platform::testing::uniquePipeBase("named");
  const platform::StreamHandle served = platform::testing::serveStream(base + L".status", true);
  ASSERT_TRUE(platform::isUsableStream(served));
  {
    SCOPED_TRACE("input and pipe");
    auto params =
        chantest::parameters(manager.broker, {{"input", number(given.client)}, {"pipe", base}});
    auto generator = std::make_unique<quor::TarnEventGenerator>(params.get(), &manager);
    EXPECT_EQ(generator->handle(), given.client);
    EXPECT_FALSE(generator->openedHere());
  }
  // The given handle still works after the generator has gone.
  ASSERT_TRUE(platform::writeAll(given.server, "TARN", 4));
  char bytes[4];
  EXPECT_TRUE(platform::readExactly(given.client, bytes, 4));
  {
    SCOPED_TRACE("pipe alone");
    auto params = chantest::parameters(manager.broker, {{"pipe", base}});
    auto generator = std::make_unique<quor::TarnEventGenerator>(params.get(), &manager);
    EXPECT_TRUE(generator->openedHere());
    ASSERT_TRUE(platform::isUsableStream(generator->handle()));
    EXPECT_TRUE(platform::testing::acceptClient(served));
    ASSERT_TRUE(platform::writeAll(served, "TARN", 4));
    EXPECT_TRUE(generator->statusRead(reinterpret_cast<std::uint8_t*>(bytes), 4));
  }
  platform::closeStream(served);
  platform::testing::unserveStream(base + L".status");
}

// Teardown of a reader that is blocked in a read, that is flooded with
// records (its reads never block, so cancelling them does not reach it) and
// that skips a 4 GiB record fed without pause: each ends at the stop request,
// well inside the join bound, and posts nothing into the broker being freed.
TEST(TarnEventGeneratorTest, TeardownEndsTheReaderWellInsideTheJoinBoundWhateverItIsDoing) {
  enum class Feed { kNothing, kRecords, kEndlessRecord };
  const struct {
    const char* name;
    Feed feed;
  } cases[] = {
      {"blocked in a read", Feed::kNothing},
      {"flooded with records", Feed::kRecords},
      {"skipping an endless record", Feed::kEndlessRecord},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ReaderSetup setup("teardown");
    ASSERT_TRUE(setup.pipe.ok());
    std::atomic<bool> feeding{c.feed != Feed::kNothing};
    std::atomic<bool> fed{c.feed == Feed::kNothing};
    std::thread writer;
    if (c.feed != Feed::kNothing) {
      writer = std::thread([&] {
        Bytes chunk;
        if (c.feed == Feed::kRecords) {
          for (int i = 0; i < 64; ++i) {
            const Bytes record = tarn::encodeStatus(41000);
            chunk.insert(chunk.end(), record.begin(), record.end());
          }
        } else {
          write(setup.pipe.server, tarn::encodeHeader(1, 0, 0xFFFFFFFFu));
          chunk.assign(4096, 0);
        }
        while (feeding.load() &&
               platform::writeAll(setup.pipe.server, chunk.data(), chunk.size())) {
        }
        fed = true;
      });
    }
    setup.generator->start();
    if (c.feed == Feed::kRecords) {
      ASSERT_TRUE(chantest::waitUntil([&] { return setup.manager->broker.queuedCount() > 0; }));
    } else {
      std::this_thread::sleep_for(100ms);  // into the read or the skip
    }
    EXPECT_FALSE(setup.generator->isFinished());
    const auto begun = std::chrono::steady_clock::now();
    auto teardown = std::async(std::launch::async, [&] { setup.manager.reset(); });
    const bool ended = teardown.wait_for(20s) == std::future_status::ready;
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - begun);
    // Releases a writer blocked on a full pipe: nothing reads it any more.
    feeding = false;
    std::uint8_t sink[4096];
    while (!fed.load()) {
      std::size_t got = 0;
      if (platform::testing::bytesWaiting(setup.pipe.client) > 0) {
        platform::readSome(setup.pipe.client, sink, sizeof sink, &got);
      } else {
        std::this_thread::sleep_for(1ms);
      }
    }
    if (writer.joinable()) writer.join();
    ASSERT_TRUE(ended);
    EXPECT_LT(took.count(), vela::AbstractThread::kDefaultJoinTimeoutMs / 2);
    EXPECT_EQ(setup.trace().find("did not end"), std::string::npos) << setup.trace();
    EXPECT_NE(setup.trace().find("reading ended: stop requested"), std::string::npos)
        << setup.trace();
  }
}

// While the main thread is busy, OEM records pile up in the queue; their
// blocks together stay within the cap. A record beyond it arrives without
// its block, and once the queue has drained blocks are kept again.
TEST(TarnEventGeneratorTest, QueuedOemBlocksStayWithinTheirCapAndEveryRecordArrives) {
  ReaderSetup setup("oem-cap");
  ASSERT_TRUE(setup.pipe.ok());
  const Bytes block(tarn::kMaxKeptPayload, 0x5A);
  const Bytes record = tarn::encodeOemBlock(block.data(), block.size());
  const std::size_t kept = quor::TarnEventGenerator::kMaxQueuedOemBytes / block.size();
  const std::size_t queued = kept + 2;
  std::thread writer([&] {
    for (std::size_t i = 0; i < queued; ++i) write(setup.pipe.server, record);
    chantest::waitUntil([&] { return setup.recording->snapshot().size() == queued; });
    write(setup.pipe.server, record);
    chantest::waitUntil([&] { return setup.recording->snapshot().size() == queued + 1; });
    setup.pipe.closeServer();
  });
  setup.generator->start();
  // The loop runs only once every record is queued.
  EXPECT_TRUE(chantest::waitUntil([&] { return setup.manager->broker.queuedCount() == queued; }));
  EXPECT_TRUE(chantest::runLoop(setup.manager->broker));
  writer.join();
  const std::vector<Seen> seen = setup.recording->snapshot();
  ASSERT_EQ(seen.size(), queued + 1);
  for (std::size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(seen[i].code, 1);
    const bool hasBlock = i < kept || i == queued;
    EXPECT_EQ(seen[i].oemPointerSet, hasBlock);
    EXPECT_EQ(seen[i].oemSize, hasBlock ? static_cast<std::int32_t>(block.size()) : 0);
    if (hasBlock) {
      EXPECT_EQ(seen[i].oem, block);
    }
  }
  EXPECT_NE(setup.trace().find("OEM block of 1048576 bytes dropped"), std::string::npos);
}

// A reader whose read ends with memory exhausted: the stop must not depend
// on allocating anything, or the program would never end.
class OutOfMemoryReader : public quor::TarnEventGenerator {
 public:
  using TarnEventGenerator::TarnEventGenerator;
  std::uint8_t* statusRead(std::uint8_t*, std::uint64_t) override {
    const std::runtime_error error("no memory left");
    testsupport::failAllocationsOnThisThread(true);
    throw error;
  }
};

TEST(TarnEventGeneratorTest, AReadingEndedWithoutMemoryStillStopsTheBroker) {
  TestManager manager;
  auto params = chantest::parameters(manager.broker, {{"input", L"-1"}});
  OutOfMemoryReader reader(params.get(), &manager);
  EXPECT_NO_THROW(reader.run());
  testsupport::failAllocationsOnThisThread(false);
  EXPECT_EQ(manager.broker.stops.load(), 1);
}

TEST(TarnEventGeneratorTest, ReserveBufferNeverGivesMoreThanOneMebibyte) {
  TestManager manager;
  auto params = chantest::parameters(manager.broker, {});
  quor::TarnEventGenerator generator(params.get(), &manager);
  std::uint8_t* buffer = nullptr;
  EXPECT_EQ(generator.reserveBuffer(buffer, 0, 0), 0u);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(generator.reserveBuffer(buffer, 0, 0xFFFFFFFFull), 1048576u);
  ASSERT_NE(buffer, nullptr);
  buffer[1048575] = 1;  // the whole block is there (checked by the sanitizer)
  std::uint8_t* const same = buffer;
  EXPECT_EQ(generator.reserveBuffer(buffer, 1048576, 20), 20u);
  EXPECT_EQ(buffer, same);
  delete[] buffer;
}

}  // namespace
