// Switches of the operator new that a test program gets by linking
// monitor_failing_allocations: allocations fail as when memory runs out, or
// when a single block is larger than the program may ever ask for.
#ifndef PLATFORM_TEST_SUPPORT_FAILING_ALLOCATIONS_H_
#define PLATFORM_TEST_SUPPORT_FAILING_ALLOCATIONS_H_

#include <cstddef>
#include <cstdint>

namespace testsupport {

// While on for the calling thread, every allocation of that thread fails.
void failAllocationsOnThisThread(bool fail);
// From now on, on every thread, an allocation larger than `bytes` fails; 0
// lifts the limit.
void setLargestAllocation(std::size_t bytes);
// How many allocations the switches above have refused so far: a test checks
// that the failure it meant to cause happened.
std::size_t refusedAllocations();
// The bytes operator new has handed out so far, on every thread.
std::uint64_t bytesAllocated();

}  // namespace testsupport

#endif  // PLATFORM_TEST_SUPPORT_FAILING_ALLOCATIONS_H_
