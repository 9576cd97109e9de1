// The long runs of reliability.h in the sizes the test command affords; the
// benchmark tool e2e_bench runs them whole.
#include <gtest/gtest.h>

#include "e2e/tests/reliability.h"

namespace {

TEST(Reliability, AJobCutAtEveryRecordBoundaryAndAroundItEndsCleanly) {
  const std::vector<std::size_t> offsets = e2e::sampleCutOffsets();
  ASSERT_GE(offsets.size(), 20u);
  EXPECT_EQ(offsets.front(), 0u);
  EXPECT_EQ(offsets.back(), e2e::recordBoundaries().back());
  const e2e::CutTally tally = e2e::cutJobAt(offsets);
  EXPECT_EQ(tally.cuts, static_cast<int>(offsets.size()));
  EXPECT_EQ(tally.cleanExits, tally.cuts);
}

TEST(Reliability, ShortSoakShowsExactlyWhatTheListenerDecidesAndEndsWithTheJob) {
  e2e::SoakOptions options;
  options.changes = 300;
  options.batchSize = 25;
  const e2e::SoakReport report = e2e::soak(options);
  EXPECT_EQ(report.changes, 300);
  EXPECT_EQ(report.batches, 12);
}

TEST(Reliability, EndOfJobAmidAFloodOfDialogsEndsCleanlyEveryTime) {
  const e2e::TeardownTally tally = e2e::teardownUnderLoad(20);
  EXPECT_EQ(tally.cleanExits, tally.runs);
}

}  // namespace
