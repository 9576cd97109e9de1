#include "channel/payload_buffer.h"

#include <new>

#include "platform/debug_output.h"

namespace tarn {

std::size_t PayloadBuffer::reserve(std::uint64_t length) {
  const std::size_t kept = keptSize(length);
  if (kept > block_.size()) {
    // The old block goes first: holding both at once would double the
    // reader's memory at the bound.
    std::vector<std::uint8_t>().swap(block_);
    try {
      block_.resize(kept);
    } catch (const std::bad_alloc&) {
      platform::debugOutput("[TarnEventGenerator] payload buffer allocation failed\n");
      size_ = 0;
      return 0;
    }
  }
  size_ = kept;
  return kept;
}

}  // namespace tarn
