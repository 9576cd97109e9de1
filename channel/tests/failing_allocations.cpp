// The operator new of the channel tests, with a per-thread switch that makes
// it fail. Kept in a file of its own so that no test inlines it.
#include "channel/tests/failing_allocations.h"

#include <cstdlib>
#include <new>

namespace {
thread_local bool failing = false;
}  // namespace

namespace chantest {

void failAllocationsOnThisThread(bool fail) {
  failing = fail;
}

}  // namespace chantest

void* operator new(std::size_t size) {
  void* block = failing ? nullptr : std::malloc(size ? size : 1);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return failing ? nullptr : std::malloc(size ? size : 1);
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
