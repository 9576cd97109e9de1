// e2e_bench: the whole reliability runs of the real program under Wine, for
// `make bench`. Each prints its figures; the exit code is 0 when every run
// of it passed.
//
//   e2e_bench cuts               the realistic job cut at every byte offset
//   e2e_bench soak [CHANGES]     one job of CHANGES status changes (10000)
//   e2e_bench teardown [RUNS]    the end of job amid a flood, RUNS times (200)
//   e2e_bench all                the three, in this order
//
// Run it with tools/reliability-bench.sh, which sets Wine up around it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "e2e/tests/reliability.h"

namespace {

int soakChanges = 10000;
int teardownRuns = 200;

TEST(Bench, CutAtEveryOffset) {
  const e2e::CutTally tally = e2e::cutJobAt(e2e::everyCutOffset());
  EXPECT_EQ(tally.cleanExits, tally.cuts);
}

TEST(Bench, Soak) {
  e2e::SoakOptions options;
  options.changes = soakChanges;
  options.batchSize = 100;
  const e2e::SoakReport report = e2e::soak(options);
  EXPECT_EQ(report.changes, soakChanges);
}

TEST(Bench, Teardown) {
  const e2e::TeardownTally tally = e2e::teardownUnderLoad(teardownRuns);
  EXPECT_EQ(tally.cleanExits, tally.runs);
}

int usage() {
  std::fputs("usage: e2e_bench cuts | soak [CHANGES] | teardown [RUNS] | all\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) return usage();
  const std::string what = argv[1];
  const int count = argc > 2 ? std::atoi(argv[2]) : 0;
  if (what == "cuts") {
    ::testing::GTEST_FLAG(filter) = "Bench.CutAtEveryOffset";
  } else if (what == "soak") {
    if (count > 0) soakChanges = count;
    ::testing::GTEST_FLAG(filter) = "Bench.Soak";
  } else if (what == "teardown") {
    if (count > 0) teardownRuns = count;
    ::testing::GTEST_FLAG(filter) = "Bench.Teardown";
  } else if (what == "all") {
    ::testing::GTEST_FLAG(filter) = "Bench.*";
  } else {
    return usage();
  }
  return RUN_ALL_TESTS();
}
