// Long runs of the real monitor under the simulator, each in two sizes: a
// sample that the test command runs (reliability_test.cpp) and the whole run
// that the benchmark tool e2e_bench runs (bench_main.cpp). Each prints its
// figures on standard output and reports failures through GoogleTest.
#ifndef E2E_TESTS_RELIABILITY_H_
#define E2E_TESTS_RELIABILITY_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "e2e/tests/monitor_run.h"

namespace e2e {

// A print job as a port monitor sends it: printer, job start, three alerts
// (two templates, one replacing another), ready, end of job; 258 bytes.
const std::string& realisticJob();

// Where each record of the realistic job starts, and its length at the end.
std::vector<std::size_t> recordBoundaries();

// Every offset from 0 to the job's length.
std::vector<std::size_t> everyCutOffset();
// 0, the length, every record boundary with its neighbours, and the middle
// of each record's header.
std::vector<std::size_t> sampleCutOffsets();

struct CutTally {
  int cuts = 0;
  int cleanExits = 0;
};

// For each offset N: plays the realistic job's first N bytes, waits until
// the monitor has read them, and cuts the stream. A clean exit is an end
// within the deadline with exit code 0. Prints "K cuts, K clean exits".
CutTally cutJobAt(const std::vector<std::size_t>& offsets);

struct SoakOptions {
  int changes = 300;     // status records in all, markers included
  int batchSize = 50;    // status records between two user turns
  unsigned seed = 14;
};

struct SoakReport {
  int changes = 0;  // status records seen handled: their batch checked on screen
  int batches = 0;
  int closedByUser = 0;
  int moreRequests = 0;
  int snoozeChanges = 0;
  std::size_t dialogsAtStart = 0;
  std::size_t dialogsAtEnd = 0;
  ProcessFigures start;
  ProcessFigures end;
};

// One job of `changes` status records in batches; after each batch the test,
// as the user, closes a dialog, asks for "more...", or snoozes or unsnoozes
// the low-ink alerts, and checks that exactly the dialogs of a model of the
// listener are on screen (and no window more). The job ends with the end of
// job: the program must end with exit code 0 once the user has closed what
// stays. Writes HKCU\Software\KRT\SM. Prints the figures at start and end.
SoakReport soak(const SoakOptions& options);

struct TeardownTally {
  int runs = 0;
  int cleanExits = 0;
};

// Runs in which the end of the job arrives amid a flood of records that
// each show a dialog, at a different place each time, with more records
// after it: every run must end within the deadline with exit code 0. Prints
// "K teardowns, K clean exits".
TeardownTally teardownUnderLoad(int runs, unsigned seed = 14);

}  // namespace e2e

#endif  // E2E_TESTS_RELIABILITY_H_
