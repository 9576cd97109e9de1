// A switch of the channel tests' operator new: while it is on for a thread,
// every allocation of that thread fails, as when memory runs out. The
// operator new also counts the bytes it hands out.
#ifndef CHANNEL_TESTS_FAILING_ALLOCATIONS_H_
#define CHANNEL_TESTS_FAILING_ALLOCATIONS_H_

#include <cstdint>

namespace chantest {

void failAllocationsOnThisThread(bool fail);

// The bytes operator new has handed out so far, on every thread.
std::uint64_t bytesAllocated();

}  // namespace chantest

#endif  // CHANNEL_TESTS_FAILING_ALLOCATIONS_H_
