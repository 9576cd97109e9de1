// The operator new of the channel tests, with a per-thread switch that makes
// it fail. Kept in a file of its own so that no test inlines it.
#include "channel/tests/failing_allocations.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
thread_local bool failing = false;
std::atomic<std::uint64_t> handedOut{0};

void* allocate(std::size_t size) {
  if (failing) return nullptr;
  handedOut.fetch_add(size, std::memory_order_relaxed);
  return std::malloc(size ? size : 1);
}
}  // namespace

namespace chantest {

void failAllocationsOnThisThread(bool fail) {
  failing = fail;
}

std::uint64_t bytesAllocated() {
  return handedOut.load();
}

}  // namespace chantest

void* operator new(std::size_t size) {
  void* block = allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
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
