#include "channel/payload_buffer.h"

#include <new>

#include "platform/debug_output.h"

namespace tarn {

std::size_t PayloadBuffer::reserve(std::uint64_t length) {
  const std::size_t kept = keptSize(length);
  if (kept > capacity_) {
    // The old block goes first: holding both at once would double the
    // reader's memory at the bound.
    block_.reset();
    capacity_ = 0;
    block_.reset(new (std::nothrow) std::uint8_t[kept]);
    if (!block_) {
      platform::debugOutput("[TarnEventGenerator] payload buffer allocation failed\n");
      size_ = 0;
      return 0;
    }
    capacity_ = kept;
  }
  size_ = kept;
  return kept;
}

}  // namespace tarn
