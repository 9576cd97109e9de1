// A switch of the channel tests' operator new: while it is on for a thread,
// every allocation of that thread fails, as when memory runs out.
#ifndef CHANNEL_TESTS_FAILING_ALLOCATIONS_H_
#define CHANNEL_TESTS_FAILING_ALLOCATIONS_H_

namespace chantest {

void failAllocationsOnThisThread(bool fail);

}  // namespace chantest

#endif  // CHANNEL_TESTS_FAILING_ALLOCATIONS_H_
