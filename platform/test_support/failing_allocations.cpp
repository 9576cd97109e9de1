// The operator new of the tests that make allocations fail. Kept in a file of
// its own so that no test inlines it.
#include "platform/test_support/failing_allocations.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

thread_local bool failing = false;
std::atomic<std::size_t> largest{0};
std::atomic<std::size_t> refused{0};
std::atomic<std::uint64_t> handedOut{0};

void* allocate(std::size_t size) noexcept {
  const std::size_t limit = largest.load(std::memory_order_relaxed);
  if (failing || (limit != 0 && size > limit)) {
    refused.fetch_add(1, std::memory_order_relaxed);
    return nullptr;
  }
  handedOut.fetch_add(size, std::memory_order_relaxed);
  return std::malloc(size != 0 ? size : 1);
}

}  // namespace

namespace testsupport {

void failAllocationsOnThisThread(bool fail) {
  failing = fail;
}

void setLargestAllocation(std::size_t bytes) {
  largest.store(bytes, std::memory_order_relaxed);
}

std::size_t refusedAllocations() {
  return refused.load(std::memory_order_relaxed);
}

std::uint64_t bytesAllocated() {
  return handedOut.load(std::memory_order_relaxed);
}

}  // namespace testsupport

void* operator new(std::size_t size) {
  if (void* block = allocate(size)) return block;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size);
}
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}
