#include "channel/status_backlog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "channel/tests/channel_test_support.h"

namespace {

using quor::StatusBacklog;

std::shared_ptr<StatusBacklog> smallBacklog() {
  StatusBacklog::Limits limits;
  limits.pauseBytes = 1000;
  limits.resumeBytes = 500;
  limits.oemBytes = 300;
  limits.steadyBytes = 300;
  limits.steadyResumeBytes = 150;
  limits.steadyWaitMs = 10;
  return std::make_shared<StatusBacklog>(limits);
}

// Charges add up while their messages live and come back exactly once, on
// whichever thread the message dies; a moved charge is held once.
TEST(StatusBacklog, ChargesAddUpAndComeBackOnceWhenTheirMessagesGo) {
  auto backlog = smallBacklog();
  std::vector<StatusBacklog::Charge> held;
  for (int i = 0; i < 9; ++i) held.push_back(StatusBacklog::charge(backlog, 100));
  EXPECT_EQ(backlog->bytes(), 900u);
  EXPECT_EQ(backlog->messages(), 9u);
  EXPECT_FALSE(backlog->full());
  held.push_back(StatusBacklog::charge(backlog, 100));
  EXPECT_TRUE(backlog->full());

  StatusBacklog::Charge moved = std::move(held.back());
  held.pop_back();
  EXPECT_EQ(backlog->bytes(), 1000u);
  EXPECT_EQ(moved.bytes(), 100u);
  moved = StatusBacklog::charge(backlog, 50);  // the old one is returned
  EXPECT_EQ(backlog->bytes(), 950u);
  std::thread elsewhere([taken = std::move(held)]() mutable { taken.clear(); });
  elsewhere.join();
  EXPECT_EQ(backlog->bytes(), 50u);
  EXPECT_EQ(backlog->messages(), 1u);
  { StatusBacklog::Charge gone = std::move(moved); }
  EXPECT_EQ(backlog->bytes(), 0u);
  EXPECT_EQ(backlog->messages(), 0u);
}

// OEM blocks have a cap of their own inside the bound: a block that would
// pass it is refused and nothing is counted for it.
TEST(StatusBacklog, OemBlocksStayWithinTheirCap) {
  auto backlog = smallBacklog();
  StatusBacklog::Charge first = StatusBacklog::charge(backlog, 10);
  StatusBacklog::Charge second = StatusBacklog::charge(backlog, 10);
  EXPECT_TRUE(backlog->chargeOem(&first, 200));
  EXPECT_FALSE(backlog->chargeOem(&second, 101));
  EXPECT_FALSE(backlog->chargeOem(&second, ~std::uint64_t{0}));  // no wrap-around
  EXPECT_TRUE(backlog->chargeOem(&second, 100));
  EXPECT_EQ(backlog->oemBytes(), 300u);
  EXPECT_EQ(backlog->bytes(), 320u);
  EXPECT_EQ(first.bytes(), 210u);
  first = StatusBacklog::Charge();
  EXPECT_EQ(backlog->oemBytes(), 100u);
  EXPECT_EQ(backlog->bytes(), 110u);
}

// A full backlog holds the reader until delivery has brought it down to the
// resume mark, not merely below the bound; one that is not full never holds
// it.
TEST(StatusBacklog, AFullBacklogHoldsTheReaderUntilItIsDownToTheResumeMark) {
  auto backlog = smallBacklog();
  EXPECT_TRUE(backlog->waitForRoom([] { return false; }));
  std::vector<StatusBacklog::Charge> held;
  for (int i = 0; i < 10; ++i) held.push_back(StatusBacklog::charge(backlog, 100));
  std::atomic<bool> returned{false};
  std::atomic<std::uint64_t> bytesAtReturn{0};
  std::thread reader([&] {
    EXPECT_TRUE(backlog->waitForRoom([] { return false; }));
    bytesAtReturn = backlog->bytes();
    returned = true;
  });
  // Delivered one at a time, as the main loop does.
  while (backlog->bytes() > 500) {
    held.pop_back();
  }
  ASSERT_TRUE(chantest::waitUntil([&] { return returned.load(); }))
      << "the reader stayed held at " << backlog->bytes() << " bytes";
  reader.join();
  EXPECT_LE(bytesAtReturn.load(), 500u);
}

// A reader that runs ahead of a main thread that delivers waits for it early,
// so that the queue stays small, and goes on once delivery has brought the
// backlog down to the steady resume mark.
TEST(StatusBacklog, AReaderAheadOfADeliveringMainThreadWaitsForItEarly) {
  StatusBacklog::Limits limits;
  limits.pauseBytes = 1000;
  limits.resumeBytes = 500;
  limits.steadyBytes = 300;
  limits.steadyResumeBytes = 150;
  limits.steadyWaitMs = 60000;  // longer than the test: only delivery ends the wait
  auto backlog = std::make_shared<StatusBacklog>(limits);
  std::vector<StatusBacklog::Charge> held;
  for (int i = 0; i < 2; ++i) held.push_back(StatusBacklog::charge(backlog, 100));
  EXPECT_TRUE(backlog->waitForRoom([] { return false; }));  // below the mark: at once
  held.push_back(StatusBacklog::charge(backlog, 100));
  std::atomic<bool> returned{false};
  std::atomic<std::uint64_t> bytesAtReturn{0};
  std::thread reader([&] {
    EXPECT_TRUE(backlog->waitForRoom([] { return false; }));
    bytesAtReturn = backlog->bytes();
    returned = true;
  });
  while (backlog->bytes() > 150) held.pop_back();
  ASSERT_TRUE(chantest::waitUntil([&] { return returned.load(); }))
      << "the reader stayed held at " << backlog->bytes() << " bytes";
  reader.join();
  EXPECT_LE(bytesAtReturn.load(), 150u);
}

// A main thread that delivers nothing (held in a message box) holds the
// reader only for one steady wait; the reader then reads on up to the bound
// without waiting at the steady mark again (each later step comes well within
// the steady wait), and is held at the bound.
TEST(StatusBacklog, AMainThreadThatDeliversNothingHoldsTheReaderOnlyOnceBeforeTheBound) {
  StatusBacklog::Limits limits;
  limits.pauseBytes = 1000;
  limits.resumeBytes = 500;
  limits.steadyBytes = 300;
  limits.steadyResumeBytes = 150;
  limits.steadyWaitMs = 3000;
  auto backlog = std::make_shared<StatusBacklog>(limits);
  std::vector<StatusBacklog::Charge> held;
  for (int i = 0; i < 3; ++i) held.push_back(StatusBacklog::charge(backlog, 100));
  std::atomic<int> allowed{1};
  std::atomic<int> passed{0};
  std::thread reader([&] {
    for (int i = 0; i < 7; ++i) {
      if (!chantest::waitUntil([&] { return allowed.load() > i; })) return;
      if (!backlog->waitForRoom([] { return false; })) return;
      ++passed;
    }
  });
  ASSERT_TRUE(chantest::waitUntil([&] { return passed.load() == 1; }))
      << "the steady wait did not end by itself";
  // 400 ... 900 bytes.
  for (int i = 1; i < 7; ++i) {
    held.push_back(StatusBacklog::charge(backlog, 100));
    allowed = i + 1;
    ASSERT_TRUE(chantest::waitUntil([&] { return passed.load() == i + 1; },
                                    std::chrono::milliseconds(1500)))
        << "the reader waited at " << backlog->bytes() << " bytes again";
  }
  reader.join();
  held.push_back(StatusBacklog::charge(backlog, 100));
  EXPECT_TRUE(backlog->full());
}

// A stop request wakes a held reader, which then answers false.
TEST(StatusBacklog, AStopRequestReleasesAHeldReader) {
  auto backlog = smallBacklog();
  StatusBacklog::Charge all = StatusBacklog::charge(backlog, 1000);
  std::atomic<bool> stop{false};
  std::atomic<int> answer{-1};
  std::thread reader([&] { answer = backlog->waitForRoom([&] { return stop.load(); }) ? 1 : 0; });
  stop = true;
  backlog->wake();
  ASSERT_TRUE(chantest::waitUntil([&] { return answer.load() != -1; }));
  reader.join();
  EXPECT_EQ(answer.load(), 0);
  EXPECT_EQ(backlog->bytes(), 1000u);
}

}  // namespace
